#pragma once
/// The picture layout a filter's pin agreed on when it connected. Each filter fills one
/// record per pin in SetMediaType and clears it when the pin disconnects; its streaming
/// code reads only the record, never the media type. Changed only while the filter is
/// stopped (connections are), read on the streaming thread.

#include <cstddef>
#include <cstdlib>

#include "platform/media/MediaType.h"

namespace halvard::filters {

struct VideoFormat {
  int width = 0;
  int height = 0;
  std::ptrdiff_t stride = 0;  ///< bytes from one stored row to the next
  int bytesPerPixel = 0;
  bool bottomUp = false;  ///< the first stored row is the bottom display row

  [[nodiscard]] bool Valid() const { return width > 0 && height > 0 && bytesPerPixel > 0; }
  /// Bytes of one whole picture (0 when invalid).
  [[nodiscard]] long long FrameBytes() const { return Valid() ? static_cast<long long>(stride) * height : 0; }
};

/// The layout of a YUY2 or RGB24 type with a bitmap header and its matching bit count:
/// YUY2 rows of width x 2 bytes, top-down; RGB24 rows padded to four bytes, bottom-up
/// unless the height is negative. Any other type gives an invalid (empty) record.
[[nodiscard]] inline VideoFormat VideoFormatOf(const AM_MEDIA_TYPE& mt) {
  const BITMAPINFOHEADER* header = GetBitmapInfoHeader(mt);
  if (header == nullptr || header->biWidth < 1 || header->biHeight == 0) {
    return {};
  }
  VideoFormat format;
  format.width = header->biWidth;
  format.height = std::abs(header->biHeight);
  if (mt.subtype == MEDIASUBTYPE_YUY2 && header->biBitCount == 16) {
    format.bytesPerPixel = 2;
    format.stride = static_cast<std::ptrdiff_t>(format.width) * 2;
  } else if (mt.subtype == MEDIASUBTYPE_RGB24 && header->biBitCount == 24) {
    format.bytesPerPixel = 3;
    format.stride = (static_cast<std::ptrdiff_t>(format.width) * 3 + 3) & ~static_cast<std::ptrdiff_t>(3);
    format.bottomUp = header->biHeight > 0;
  } else {
    return {};
  }
  return format;
}

}  // namespace halvard::filters
