#include "server/ptz/PtzTourRunner.h"

#include <optional>

#include "server/ptz/PtzController.h"
#include "server/ptz/PtzTour.h"
#include "server/settings/Settings.h"

namespace halvard::ptz {

int RunTourTick(std::span<const PtzCamera> cameras, const MinuteClock& clock, const ControllerLookup& lookup) {
  int sent = 0;
  for (const PtzCamera& camera : cameras) {
    if (settings::kInputPtz.Read(camera.group, camera.input) == 0) {
      continue;
    }
    const int active = ReadActiveTour(camera.group, camera.input);
    if (active < 0) {
      continue;
    }
    const CPtzTour tour = CPtzTour::Load(camera.group, camera.input, active);
    const auto anchor = static_cast<LONG>(ReadTourAnchor(camera.group, camera.input, active));
    const std::int64_t nowSeconds = std::int64_t{clock ? clock() : LocalMinuteOfDay()} * 60;
    const std::optional<int> step = CurrentStep(tour, anchor, nowSeconds);
    if (!step) {
      continue;
    }
    CPtzController* controller = lookup ? lookup(camera.group, camera.input) : nullptr;
    if (controller == nullptr) {
      continue;
    }
    // A preset outside 1..127 (a step whose preset value was lost) is not sent.
    if (controller->gotoPreset(tour.Preset(*step))) {
      ++sent;
    }
  }
  return sent;
}

}  // namespace halvard::ptz
