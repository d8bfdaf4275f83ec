#pragma once
/// The tour runner: the main frame calls RunTourTick every 15 seconds. For every
/// camera of the process, in roster order, that has "Input PTZ" set and an active
/// tour, it finds the step that applies now and sends Go to preset through the
/// camera's controller. It keeps no state: everything is read from the settings store
/// on every tick, so edits take effect at the next tick.
///
/// Threads: the user-interface thread (the main frame's timer).

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace halvard::ptz {

class CPtzController;

/// Period of the main frame's tour timer (timer identifier 1982).
inline constexpr int kTourTimerPeriodMs = 15000;
inline constexpr int kTourTimerId = 1982;

/// A camera as the settings know it: (group display name, input display name).
struct PtzCamera {
  std::string group;
  std::string input;
};

/// The local minute of the day (hour x 60 + minute). Tests pass a fixed one.
using MinuteClock = std::function<int()>;
/// The controller of the camera's open document, or null when the document is not
/// open or its pan-tilt-zoom control is off. The pointer is used only during the call.
using ControllerLookup = std::function<CPtzController*(std::string_view group, std::string_view input)>;

/// One tick; returns the number of Go to preset commands sent.
int RunTourTick(std::span<const PtzCamera> cameras, const MinuteClock& clock, const ControllerLookup& lookup);

}  // namespace halvard::ptz
