#pragma once
/// The capture card's picture settings: when the card library is initialised, the day
/// and night picture values pushed to the card at group start, the live sliders of the
/// Data Capture dialog, the channel switched off with its window, the device's own
/// property pages, and the channel-count rule of a multiplexing card.
///
/// Threads: the user-interface thread.

#include <string_view>

#include "platform/base/WinTypes.h"
#include "server/engine/CameraRoster.h"

namespace halvard::engine {

/// Day is 07:00:00 up to, not including, 20:00:00 local time.
[[nodiscard]] bool IsDayTime(int hour);

/// Initialises the card library for the group's resolution when it needs it. False when
/// the library is already initialised and the group's resolution does not use it (the
/// caller shows message 176). A group of no card (card index -1: a network camera) is
/// always true and leaves the library alone. `libraryInitialised` is the roster's flag.
[[nodiscard]] bool PrepareCardLibrary(const CameraGroup& group, bool* libraryInitialised);

/// For each input: channel enable ("Input Enabled"), the day or night brightness,
/// contrast, saturation and hue by the wall clock now, automatic gain on. Nothing for a
/// negative card index.
void ApplyPictureSettings(const CameraGroup& group);

/// One of the eight picture controls of the Data Capture dialog.
enum class PictureControl { Brightness, Contrast, Saturation, Hue };
/// Sends a slider position (0 ... 10000) to the card at once (nothing for a group of no
/// card).
void PreviewPictureControl(const CameraGroup& group, int input, PictureControl control, int value);

/// The operator closed a camera window of a running group: the channel is switched off;
/// true when the group must stop (a multiplexing card with no channel left, or any
/// other device).
[[nodiscard]] bool CameraWindowClosedMustStop(const CameraGroup& group, int input);

/// The resolution rule of a multiplexing ("BT878") card on confirming the Data Capture
/// dialog: 4 inputs below 480 lines, 1 at 640 x 480. True when the stored "Card Input
/// Amount" changed (the caller shows message 324).
[[nodiscard]] bool ApplyResolutionInputCount(std::string_view group, DWORD resolutionIndex);

}  // namespace halvard::engine
