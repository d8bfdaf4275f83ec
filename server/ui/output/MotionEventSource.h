#pragma once
/// The event source of the server: the cameras' motion event logs.
///
/// Threads: the user-interface thread (reads the settings store and the logs).

#include "server/ui/output/EventMatrix.h"

namespace halvard::ui {

class CMotionEventSource final : public IEventSource {
 public:
  [[nodiscard]] std::time_t FirstEventDate(std::string_view group, std::string_view input) override;
  [[nodiscard]] int CountEvents(std::string_view group, std::string_view input) override;
  [[nodiscard]] int ReadEventCells(std::string_view group, std::string_view input, std::time_t start,
                                   int resolutionMinutes, int maxCount, int* cells, int* offsets) override;
};

}  // namespace halvard::ui
