#pragma once
/// The capture-card library `PVProp`: switches a multiplexing card's video source,
/// enables and disables its channels and sets each channel's picture controls.
///
/// Cards are numbered as the device enumerator names them ("BT878 Capture <c>"): the
/// simulated cards first, then the BT878 cards found through V4L2. The library keeps
/// what it is told in the process's card table (CardState.h); the capture source of
/// the card applies it to every frame (simulated card) or programs the device with it
/// (V4L2: input switching and the device's own brightness, contrast, saturation, hue
/// and gain controls).
///
/// Every call returns TRUE on success and FALSE when the library is not initialised,
/// the card number does not name a card, or the input is outside 0 ... 3. Picture values
/// above 10000 count as 10000. Every call, successful or not, is written to the call log.
///
/// Threads: any thread; the library has one internal lock.

#include <string>
#include <vector>

#include "platform/base/WinTypes.h"

extern "C" {

/// Initialises the library: finds the cards. FALSE when there is none (the library then
/// stays uninitialised). A second call while initialised succeeds and does nothing.
BOOL PV_HWInit();
/// Releases the library. FALSE when it was not initialised.
BOOL PV_HWUnInit();
/// Selects the card's video source: 0 ... 3 one input alone, 4 every enabled input in
/// turn (one frame each). Other values give FALSE.
BOOL PV_SetVideoSource(int card, int source);
/// Switches one channel on (enable != 0) or off.
BOOL PV_EnableVideoSource(int card, int input, int enable);
/// Writes the mask of enabled channels (bit i = input i) into *mask; 0 when none, and
/// 0 on failure. FALSE for a null mask.
BOOL PV_GetEnableChannel(int card, DWORD* mask);
BOOL PV_SetBrightness(int card, int input, int value);
BOOL PV_SetContrast(int card, int input, int value);
BOOL PV_SetSaturation(int card, int input, int value);
BOOL PV_SetHue(int card, int input, int value);
/// Automatic gain control of the whole card.
BOOL PV_SetAGC(int card, int on);

}  // extern "C"

namespace halvard::capture {

/// One call as the log keeps it: the function name, its arguments (the mask argument of
/// PV_GetEnableChannel is the mask returned) and its result.
struct PvCall {
  std::string function;
  std::vector<long long> args;
  BOOL result = FALSE;
  /// "PV_SetBrightness(0, 2, 5000) = 1".
  [[nodiscard]] std::string Text() const;
};

/// The calls of this process so far, oldest first. With $HALVARD_PVPROP_LOG naming a
/// file, every call is also appended to that file as one Text() line, so that tests can
/// read what another process called.
[[nodiscard]] std::vector<PvCall> PvCallLog();
void ClearPvCallLog();
/// Forgets the initialisation (tests).
void ResetPvLibrary();

}  // namespace halvard::capture
