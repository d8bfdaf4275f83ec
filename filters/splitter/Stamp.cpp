#include "filters/splitter/Stamp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace halvard::splitter {

namespace {

constexpr const char* kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// The frame row that shows display row `row`.
inline std::uint8_t* FrameRow(std::uint8_t* frame, std::ptrdiff_t stride, int height, int row, RowOrder order) {
  const int memoryRow = order == RowOrder::TopDown ? row : height - 1 - row;
  return frame + memoryRow * stride;
}

// The part of the bitmap that lies inside the picture, and inside its own rows.
inline void ClippedSize(const MonoBitmap& stamp, int width, int height, int* w, int* h) {
  *w = std::clamp(std::min(stamp.width, stamp.widthBytes * 8), 0, std::max(width, 0));
  *h = std::clamp(stamp.height, 0, std::max(height, 0));
}

// The bytes that eight pixels of one bitmap byte become, per format.
struct ExpandTables {
  std::uint8_t yuy2[256][16];
  std::uint8_t rgb24[256][24];
};

const ExpandTables& Expand() {
  static const ExpandTables tables = [] {
    ExpandTables t{};
    for (int byte = 0; byte < 256; ++byte) {
      for (int bit = 0; bit < 8; ++bit) {
        const std::uint8_t value = ((byte >> (7 - bit)) & 1) ? 255 : 0;
        t.yuy2[byte][2 * bit] = value;
        t.yuy2[byte][2 * bit + 1] = 128;
        for (int c = 0; c < 3; ++c) {
          t.rgb24[byte][3 * bit + c] = value;
        }
      }
    }
    return t;
  }();
  return tables;
}

// Copies one bitmap row: whole bytes through the table, the rest pixel by pixel.
template <int kBytesPerPixel>
void BlitRow(std::uint8_t* out, const std::uint8_t* bits, int w, const std::uint8_t (*table)[8 * kBytesPerPixel]) {
  int x = 0;
  for (; x + 8 <= w; x += 8) {
    std::memcpy(out + x * kBytesPerPixel, table[bits[x / 8]], 8 * kBytesPerPixel);
  }
  for (; x < w; ++x) {
    const std::uint8_t value = ((bits[x / 8] >> (7 - x % 8)) & 1) ? 255 : 0;
    if constexpr (kBytesPerPixel == 2) {
      out[2 * x] = value;
      out[2 * x + 1] = 128;
    } else {
      out[3 * x] = value;
      out[3 * x + 1] = value;
      out[3 * x + 2] = value;
    }
  }
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
    BlitRow<2>(FrameRow(frame, stride, height, y, order), stamp.bits + static_cast<std::ptrdiff_t>(y) * stamp.widthBytes,
               w, Expand().yuy2);
  }
}

void BlitStampRgb24(std::uint8_t* frame, std::ptrdiff_t stride, int width, int height, const MonoBitmap& stamp,
                    RowOrder order) {
  int w = 0;
  int h = 0;
  ClippedSize(stamp, width, height, &w, &h);
  for (int y = 0; y < h; ++y) {
    BlitRow<3>(FrameRow(frame, stride, height, y, order), stamp.bits + static_cast<std::ptrdiff_t>(y) * stamp.widthBytes,
               w, Expand().rgb24);
  }
}

}  // namespace halvard::splitter
