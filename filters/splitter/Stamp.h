#pragma once
/// The date-time stamp: its text and the kernels that copy its monochrome bitmap into a
/// frame, clipped to the picture.

#include <cstddef>
#include <cstdint>
#include <string>

namespace halvard::splitter {

/// Local time broken down as the stamp shows it.
struct StampTime {
  int year = 0;        ///< e.g. 2009
  int month = 0;       ///< 1..12
  int day = 0;         ///< 1..31
  int dayOfWeek = 0;   ///< 0 = Sunday .. 6 = Saturday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

/// The current local time (wall clock, not the sample's time stamp).
[[nodiscard]] StampTime LocalStampTime();

/// "hh:mm:ss.cc Ddd MM/DD/YY" with fixed English weekday abbreviations, e.g.
/// "09:05:03.07 Sun 02/01/09"; at most 255 characters whatever the fields hold.
[[nodiscard]] std::string FormatStampText(const StampTime& time);

/// Row order of a frame in memory.
enum class RowOrder { TopDown, BottomUp };

/// A monochrome bitmap: rows of `widthBytes` bytes, most significant bit leftmost,
/// 1 = white.
struct MonoBitmap {
  const std::uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
  int widthBytes = 0;
};

/// Copies the bitmap to the top-left corner of the displayed YUY2 picture: white bits
/// become luma 255, black bits 0, and the pixel's chroma byte becomes 128. Clipped to
/// width x height; BottomUp writes the first bitmap row into the last stored row.
void BlitStampYuy2(std::uint8_t* frame, std::ptrdiff_t stride, int width, int height, const MonoBitmap& stamp,
                   RowOrder order);

/// The same for RGB24: all three bytes of a pixel take 255 or 0.
void BlitStampRgb24(std::uint8_t* frame, std::ptrdiff_t stride, int width, int height, const MonoBitmap& stamp,
                    RowOrder order);

}  // namespace halvard::splitter
