#pragma once
/// Pixel kernels between the uncompressed video formats the pipeline converts:
/// YUY2 (4:2:2, BT.601 studio range), RGB24 and RGB32. Pure functions over picture
/// descriptions; no state.

#include "platform/media/Interfaces.h"

namespace halvard::media {

/// A picture in memory. Rows follow each other every `stride` bytes; `bottomUp` says the
/// first stored row is the bottom row of the picture (RGB with a positive biHeight).
struct PictureRef {
  BYTE* data;
  LONG stride;
  LONG width;
  LONG height;
  GUID subtype;  ///< MEDIASUBTYPE_YUY2, _RGB24 or _RGB32
  bool bottomUp;
};

struct ConstPictureRef {
  const BYTE* data;
  LONG stride;
  LONG width;
  LONG height;
  GUID subtype;
  bool bottomUp;
};

/// Whether the kernels handle the subtype.
[[nodiscard]] bool IsConvertibleSubtype(const GUID& subtype);

/// Converts in to out (same width and height; YUY2 widths are used in pixel pairs, an
/// odd last column of a YUY2 target repeats its neighbour's chroma). Rows are matched by
/// display position, so a bottom-up picture converts to a top-down one upright.
/// Returns false (nothing written) for unsupported subtypes or different sizes.
bool ConvertPicture(const ConstPictureRef& in, const PictureRef& out);

/// Describes the picture of a sample of a connected video type (stride from the DIB
/// rule: rows padded to four bytes). false when the type is not a supported video type
/// or the buffer is smaller than the picture.
bool DescribePicture(const AM_MEDIA_TYPE& mt, const BYTE* data, LONG length, ConstPictureRef* out);

}  // namespace halvard::media
