#include "server/ui/output/MotionEventSource.h"

#include "server/motion/EventLog.h"

namespace halvard::ui {

std::time_t CMotionEventSource::FirstEventDate(std::string_view group, std::string_view input) {
  return motion::FirstEventDate(group, input);
}

int CMotionEventSource::CountEvents(std::string_view group, std::string_view input) {
  return motion::CountEvents(group, input);
}

int CMotionEventSource::ReadEventCells(std::string_view group, std::string_view input, std::time_t start,
                                       int resolutionMinutes, int maxCount, int* cells, int* offsets) {
  return motion::ReadEventCells(group, input, start, resolutionMinutes, maxCount, cells, offsets);
}

}  // namespace halvard::ui
