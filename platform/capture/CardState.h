#pragma once
/// What the card library has told each capture card: the selected video source, the
/// enabled channels and every input's picture controls. The card library writes it;
/// the capture sources read it for every frame (the simulated card renders with it, the
/// V4L2 source programs the device from it). One table per process, as the vendor
/// library's card registers are one per machine.
///
/// Also the motion switch of the simulated card's inputs, which tests and
/// demonstrations use to make a camera's object move or stand still.
///
/// Threads: every function may be called from any thread; one internal lock.

#include <cstdint>
#include <string>

#include "platform/capture/CaptureFormats.h"

namespace halvard::capture {

/// Highest number of cards the table keeps (card numbers 0 ... kMaxCards - 1).
inline constexpr int kMaxCards = 16;

struct CardSnapshot {
  int source = kMultiplexSource;     ///< last PV_SetVideoSource value
  DWORD enabledMask = 0xF;           ///< bit i: input i enabled
  PictureControls inputs[kCardInputs]{};
  std::uint32_t generation = 0;      ///< changes with every change of the card's state
};

enum class PictureControl { Brightness, Contrast, Saturation, Hue };

/// The card's state (defaults for a card never touched or out of range: source 4, all
/// four inputs enabled, neutral controls, automatic gain off).
[[nodiscard]] CardSnapshot GetCardState(int card);
void SetCardSource(int card, int source);
void SetCardInputEnabled(int card, int input, bool enabled);
void SetCardControl(int card, int input, PictureControl control, DWORD value);
void SetCardAgc(int card, bool on);
/// Back to the defaults for every card (tests).
void ResetCardStates();

/// A simulated card that is unplugged: its running capture stream fails with
/// VFW_E_NO_CAPTURE_HARDWARE, as a real device that disappears does (tests of what the
/// server does then). Any thread.
void SetSimulatedCardUnplugged(int card, bool unplugged);
[[nodiscard]] bool SimulatedCardUnplugged(int card);

/// The channel a multiplexing card delivers after `previous` (-1 = none yet).
/// With source 0 ... 3 that input alone, when it is enabled; with source 4 and
/// multiplexing the next enabled input after previous, cyclically; with source 4 and
/// no multiplexing (full-height pictures) the lowest enabled input. -1 when the card
/// delivers nothing (no input enabled).
[[nodiscard]] int NextMuxChannel(int previous, DWORD enabledMask, int source, bool multiplexing);

// ---- motion of the simulated cameras ---------------------------------------------

/// Whether the object of simulated camera (card, input) moves. The set of moving inputs
/// comes, in this order of precedence, from:
///   1. SetSimulatedMotion calls of this process (until the control file changes);
///   2. the control file: $HALVARD_SIMULATED_CONTROL, else "simulated-motion" in the data
///      folder ($HALVARD_DATA, else ${XDG_DATA_HOME:-~/.local/share}/halvard); it is
///      looked at no more than four times a second and re-read whenever its time stamp
///      or size changes;
///   3. $HALVARD_SIMULATED_MOTION at the first call.
/// The file and the variable hold a motion set: "all", "none" (or nothing), or a list of
/// "card:input" items separated by blanks, commas or new lines ("0:2 1:0"). Items that
/// do not parse are ignored.
[[nodiscard]] bool SimulatedMotion(int card, int input);
void SetSimulatedMotion(int card, int input, bool on);
/// Re-reads the control file now (tests), whatever its time stamp says.
void ReloadMotionControl();
/// The control file's path.
[[nodiscard]] std::string MotionControlPath();
/// Parses a motion set; bit (card x 4 + input) of the result is set for a moving input.
[[nodiscard]] std::uint64_t ParseMotionSet(const std::string& text);

}  // namespace halvard::capture
