#include "platform/media/ColourConversion.h"

#include <algorithm>

#include "platform/media/MediaType.h"

namespace halvard::media {
namespace {

inline BYTE Clamp(int v) { return static_cast<BYTE>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// BT.601 studio range, 8.8 fixed point.
inline void YuvToRgb(int y, int u, int v, BYTE* rgb /* B, G, R */) {
  const int c = (y - 16) * 298;
  const int d = u - 128;
  const int e = v - 128;
  rgb[2] = Clamp((c + 409 * e + 128) >> 8);
  rgb[1] = Clamp((c - 100 * d - 208 * e + 128) >> 8);
  rgb[0] = Clamp((c + 516 * d + 128) >> 8);
}

inline int RgbToY(int r, int g, int b) { return ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16; }
inline int RgbToU(int r, int g, int b) { return ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128; }
inline int RgbToV(int r, int g, int b) { return ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128; }

int BytesPerPixel(const GUID& subtype) {
  if (subtype == MEDIASUBTYPE_YUY2) {
    return 2;
  }
  if (subtype == MEDIASUBTYPE_RGB24) {
    return 3;
  }
  if (subtype == MEDIASUBTYPE_RGB32) {
    return 4;
  }
  return 0;
}

template <class P>
auto RowOf(const P& pic, LONG y) {
  const LONG stored = pic.bottomUp ? pic.height - 1 - y : y;
  return pic.data + static_cast<std::ptrdiff_t>(stored) * pic.stride;
}

}  // namespace

bool IsConvertibleSubtype(const GUID& subtype) { return BytesPerPixel(subtype) != 0; }

bool ConvertPicture(const ConstPictureRef& in, const PictureRef& out) {
  const int inBpp = BytesPerPixel(in.subtype);
  const int outBpp = BytesPerPixel(out.subtype);
  if (inBpp == 0 || outBpp == 0 || in.width != out.width || in.height != out.height || in.width <= 0 ||
      in.height <= 0) {
    return false;
  }
  const LONG w = in.width;
  for (LONG y = 0; y < in.height; ++y) {
    const BYTE* src = RowOf(in, y);
    BYTE* dst = RowOf(out, y);
    if (in.subtype == out.subtype) {
      std::copy(src, src + static_cast<std::ptrdiff_t>(w) * inBpp, dst);
      continue;
    }
    if (in.subtype == MEDIASUBTYPE_YUY2) {
      for (LONG x = 0; x < w; ++x) {
        const BYTE* pair = src + (x & ~1L) * 2;
        BYTE bgr[3];
        YuvToRgb(src[x * 2], pair[1], pair[3], bgr);
        BYTE* p = dst + static_cast<std::ptrdiff_t>(x) * outBpp;
        p[0] = bgr[0];
        p[1] = bgr[1];
        p[2] = bgr[2];
        if (outBpp == 4) {
          p[3] = 0;
        }
      }
    } else if (out.subtype == MEDIASUBTYPE_YUY2) {
      for (LONG x = 0; x < w; x += 2) {
        const BYTE* p0 = src + static_cast<std::ptrdiff_t>(x) * inBpp;
        const BYTE* p1 = x + 1 < w ? p0 + inBpp : p0;
        const int r0 = p0[2], g0 = p0[1], b0 = p0[0];
        const int r1 = p1[2], g1 = p1[1], b1 = p1[0];
        BYTE* q = dst + static_cast<std::ptrdiff_t>(x) * 2;
        q[0] = Clamp(RgbToY(r0, g0, b0));
        q[1] = Clamp(RgbToU((r0 + r1) / 2, (g0 + g1) / 2, (b0 + b1) / 2));
        if (x + 1 < w) {
          q[2] = Clamp(RgbToY(r1, g1, b1));
          q[3] = Clamp(RgbToV((r0 + r1) / 2, (g0 + g1) / 2, (b0 + b1) / 2));
        }
      }
    } else {
      for (LONG x = 0; x < w; ++x) {
        const BYTE* p = src + static_cast<std::ptrdiff_t>(x) * inBpp;
        BYTE* q = dst + static_cast<std::ptrdiff_t>(x) * outBpp;
        q[0] = p[0];
        q[1] = p[1];
        q[2] = p[2];
        if (outBpp == 4) {
          q[3] = 0;
        }
      }
    }
  }
  return true;
}

bool DescribePicture(const AM_MEDIA_TYPE& mt, const BYTE* data, LONG length, ConstPictureRef* out) {
  const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(mt);
  if (bmi == nullptr || out == nullptr || data == nullptr || !IsConvertibleSubtype(mt.subtype) || bmi->biWidth <= 0 ||
      bmi->biHeight == 0 || bmi->biBitCount != BitCountOf(mt.subtype)) {
    return false;
  }
  const LONG height = bmi->biHeight < 0 ? -bmi->biHeight : bmi->biHeight;
  const LONG stride = WIDTHBYTES(bmi->biWidth * bmi->biBitCount);
  if (static_cast<LONGLONG>(stride) * height > length) {
    return false;
  }
  const bool rgb = mt.subtype != MEDIASUBTYPE_YUY2;
  *out = ConstPictureRef{data, stride, bmi->biWidth, height, mt.subtype, rgb && bmi->biHeight > 0};
  return true;
}

}  // namespace halvard::media
