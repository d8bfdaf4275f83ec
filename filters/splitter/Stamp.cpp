#include "filters/splitter/Stamp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace halvard::splitter {

namespace {

constexpr const char* kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// The frame row that shows display row `row`.
inline std::uint8_t* FrameRow(std::uint8_t* frame, std::ptrdiff_t stride, int height, int row, RowOrder order) {
  const int memoryRow = order == RowOrder::TopDown ? row : height - 1 - row;
  return frame + memoryRow * stride;
}

inline bool IsWhite(const MonoBitmap& stamp, int x, int y) {
  return (stamp.bits[static_cast<std::ptrdiff_t>(y) * stamp.widthBytes + x / 8] >> (7 - x % 8)) & 1;
}

// The part of the bitmap that lies inside the picture, and inside its own rows.
inline void ClippedSize(const MonoBitmap& stamp, int width, int height, int* w, int* h) {
  *w = std::clamp(std::min(stamp.width, stamp.widthBytes * 8), 0, std::max(width, 0));
  *h = std::clamp(stamp.height, 0, std::max(height, 0));
}

}  // namespace

StampTime LocalStampTime() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto sinceSecond = now - std::chrono::system_clock::from_time_t(seconds);
  std::tm local{};
  localtime_r(&seconds, &local);
  StampTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.dayOfWeek = local.tm_wday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.milliseconds =
      static_cast<int>(std::clamp<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceSecond).count(), 0, 999));
  return t;
}

std::string FormatStampText(const StampTime& time) {
  char text[256];
  const char* weekday = (time.dayOfWeek >= 0 && time.dayOfWeek < 7) ? kWeekdays[time.dayOfWeek] : "???";
  const int written = std::snprintf(text, sizeof text, "%02d:%02d:%02d.%02d %s %02d/%02d/%02d", time.hour, time.minute,
                                    time.second, time.milliseconds / 10, weekday, time.month, time.day, time.year % 100);
  if (written < 0) {
    return {};
  }
  return std::string(text, std::min<std::size_t>(static_cast<std::size_t>(written), sizeof text - 1));
}

void BlitStampYuy2(std::uint8_t* frame, std::ptrdiff_t stride, int width, int height, const MonoBitmap& stamp,
                   RowOrder order) {
  int w = 0;
  int h = 0;
  ClippedSize(stamp, width, height, &w, &h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = FrameRow(frame, stride, height, y, order);
    for (int x = 0; x < w; ++x) {
      row[2 * x] = IsWhite(stamp, x, y) ? 255 : 0;
      row[2 * x + 1] = 128;
    }
  }
}

void BlitStampRgb24(std::uint8_t* frame, std::ptrdiff_t stride, int width, int height, const MonoBitmap& stamp,
                    RowOrder order) {
  int w = 0;
  int h = 0;
  ClippedSize(stamp, width, height, &w, &h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = FrameRow(frame, stride, height, y, order);
    for (int x = 0; x < w; ++x) {
      const std::uint8_t value = IsWhite(stamp, x, y) ? 255 : 0;
      row[3 * x] = value;
      row[3 * x + 1] = value;
      row[3 * x + 2] = value;
    }
  }
}

}  // namespace halvard::splitter
