#include "platform/capture/SceneGenerator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace halvard::capture {

bool IsCaptureSize(FrameSize size) {
  return std::find(std::begin(kCaptureSizes), std::end(kCaptureSizes), size) != std::end(kCaptureSizes);
}

LONG FrameStride(PixelLayout layout, LONG width) {
  const LONG bytes = width * (layout == PixelLayout::Yuy2 ? 2 : 3);
  return (bytes + 3) & ~3;
}

std::size_t FrameBytes(PixelLayout layout, FrameSize size) {
  if (size.width <= 0 || size.height <= 0) {
    return 0;
  }
  return static_cast<std::size_t>(FrameStride(layout, size.width)) * static_cast<std::size_t>(size.height);
}

FrameRate StandardFrameRate(DWORD analogVideoStandard) {
  constexpr DWORD k525Lines = kStandardNtscM | kStandardNtscMJ | kStandardNtsc433 | kStandardPalM | kStandardPal60;
  const DWORD lowest = analogVideoStandard & (~analogVideoStandard + 1);
  if ((lowest & k525Lines) != 0) {
    return {30000, 1001};
  }
  return {25, 1};
}

REFERENCE_TIME StandardFrameDuration(DWORD analogVideoStandard) {
  const FrameRate rate = StandardFrameRate(analogVideoStandard);
  // Rounded to the nearest 100 ns.
  return (10'000'000LL * rate.denominator + rate.numerator / 2) / rate.numerator;
}

namespace {

int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

DWORD ClampControl(DWORD v) { return v > kControlMax ? kControlMax : v; }

// 5 x 7 glyphs, one byte per row, bit 4 is the leftmost column.
struct Glyph {
  char c;
  std::array<BYTE, 7> rows;
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const Glyph* FindGlyph(char c) {
  for (const Glyph& g : kGlyphs) {
    if (g.c == c) {
      return &g;
    }
  }
  return nullptr;
}

// A text rendered into a mask: 1 = ink, 2 = box, 0 = outside.
struct TextMask {
  LONG x0 = 0;
  LONG y0 = 0;
  LONG width = 0;
  LONG height = 0;
  std::vector<BYTE> bits;
  [[nodiscard]] BYTE At(LONG x, LONG y) const {
    x -= x0;
    y -= y0;
    if (x < 0 || y < 0 || x >= width || y >= height) {
      return 0;
    }
    return bits[static_cast<std::size_t>(y * width + x)];
  }
};

TextMask RenderText(const std::string& text, LONG scale) {
  TextMask m;
  const LONG cell = 6 * scale;
  m.width = static_cast<LONG>(text.size()) * cell + 2 * scale;
  m.height = 9 * scale;
  m.bits.assign(static_cast<std::size_t>(m.width * m.height), 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const Glyph* g = FindGlyph(text[i]);
    if (g == nullptr) {
      continue;
    }
    for (LONG row = 0; row < 7; ++row) {
      for (LONG col = 0; col < 5; ++col) {
        if (((g->rows[static_cast<std::size_t>(row)] >> (4 - col)) & 1) == 0) {
          continue;
        }
        for (LONG dy = 0; dy < scale; ++dy) {
          for (LONG dx = 0; dx < scale; ++dx) {
            const LONG x = scale + static_cast<LONG>(i) * cell + col * scale + dx;
            const LONG y = scale + row * scale + dy;
            m.bits[static_cast<std::size_t>(y * m.width + x)] = 1;
          }
        }
      }
    }
  }
  return m;
}

struct SceneLook {
  enum class Shape { Rectangle, Ellipse } shape;
  int objR, objG, objB;
};

// The object of each scene kind: a car, a person, a van, a ball.
constexpr SceneLook kLooks[] = {
    {SceneLook::Shape::Rectangle, 200, 30, 30},
    {SceneLook::Shape::Ellipse, 20, 30, 120},
    {SceneLook::Shape::Rectangle, 230, 210, 40},
    {SceneLook::Shape::Ellipse, 30, 170, 60},
};

int SceneKind(int camera) { return ((camera % 4) + 4) % 4; }

// Background colour of a scene at (x, y) in display orientation.
void BackgroundRgb(int camera, LONG x, LONG y, LONG w, LONG h, int& r, int& g, int& b) {
  const int card = camera / 4;
  switch (SceneKind(camera)) {
    case 0: {  // yard: sky, a house, grass
      if (y < h * 2 / 5) {
        r = 110 + static_cast<int>(60 * y / h);
        g = 160 + static_cast<int>(40 * y / h);
        b = 230;
      } else {
        r = 60;
        g = 130 + static_cast<int>(((x / 8) + (y / 8)) % 2) * 10;
        b = 50;
      }
      if (x > w / 8 && x < w * 3 / 8 && y > h / 4 && y < h / 2) {
        r = 170;
        g = 120;
        b = 90;
      }
      break;
    }
    case 1: {  // corridor: walls with doors, a lighter floor
      const LONG door = (x * 5) / std::max<LONG>(w, 1);
      if (y > h * 3 / 4) {
        r = g = b = 150 + static_cast<int>(60 * (y - h * 3 / 4) / std::max<LONG>(h / 4, 1));
      } else if (door % 2 == 1 && y > h / 4) {
        r = 120;
        g = 90;
        b = 60;
      } else {
        r = 200;
        g = 195;
        b = 180;
      }
      break;
    }
    case 2: {  // parking: asphalt with lane lines
      r = g = b = 70;
      const LONG lane = w / 5;
      if (lane > 0 && x % lane < std::max<LONG>(w / 160, 2) && (y / 16) % 2 == 0) {
        r = g = b = 235;
      }
      break;
    }
    default: {  // office: tiled floor under a beige wall
      if (y > h / 2) {
        const bool dark = ((x / std::max<LONG>(w / 16, 1)) + (y / std::max<LONG>(h / 12, 1))) % 2 == 0;
        r = g = b = dark ? 90 : 160;
      } else {
        r = 215;
        g = 200;
        b = 160;
      }
      break;
    }
  }
  // Cards differ a little in tint so that two cards' cameras are told apart.
  r = Clamp255(r + (card % 3) * 12);
  b = Clamp255(b - (card % 3) * 12);
}

std::uint32_t Hash32(std::uint64_t v) {
  v ^= v >> 33;
  v *= 0xFF51AFD7ED558CCDULL;
  v ^= v >> 33;
  v *= 0xC4CEB9FE1A85EC53ULL;
  v ^= v >> 33;
  return static_cast<std::uint32_t>(v) | 1u;
}

}  // namespace

void RgbToYuv(int r, int g, int b, int& y, int& u, int& v) {
  y = Clamp255(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
  u = Clamp255(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
  v = Clamp255(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

void YuvToRgb(int y, int u, int v, int& r, int& g, int& b) {
  const int c = y - 16;
  const int d = u - 128;
  const int e = v - 128;
  r = Clamp255((298 * c + 409 * e + 128) >> 8);
  g = Clamp255((298 * c - 100 * d - 208 * e + 128) >> 8);
  b = Clamp255((298 * c + 516 * d + 128) >> 8);
}

ControlMatrix MakeControlMatrix(const PictureControls& controls) {
  ControlMatrix m{};
  const int brightness = static_cast<int>(ClampControl(controls.brightness));
  const int contrast = static_cast<int>(ClampControl(controls.contrast));
  const int saturation = static_cast<int>(ClampControl(controls.saturation));
  const int hue = static_cast<int>(ClampControl(controls.hue));
  m.lumaGain = contrast * 4096 / 5000;
  m.lumaOffset = (brightness - 5000) * 128 / 5000;
  if (controls.agc) {
    m.lumaOffset += 8;
  }
  const double angle = (hue - 5000) * 3.14159265358979323846 / 5000.0;
  const double sat = saturation / 5000.0;
  m.m00 = static_cast<int>(std::lround(std::cos(angle) * sat * 4096));
  m.m01 = static_cast<int>(std::lround(-std::sin(angle) * sat * 4096));
  m.m10 = static_cast<int>(std::lround(std::sin(angle) * sat * 4096));
  m.m11 = m.m00;
  return m;
}

void ApplyControls(const ControlMatrix& m, int& y, int& u, int& v) {
  y = Clamp255((((y - 128) * m.lumaGain) >> 12) + 128 + m.lumaOffset);
  const int du = u - 128;
  const int dv = v - 128;
  u = Clamp255(((du * m.m00 + dv * m.m01) >> 12) + 128);
  v = Clamp255(((du * m.m10 + dv * m.m11) >> 12) + 128);
}

void Yuy2ToRgb24Dib(const BYTE* src, LONG srcStride, LONG width, LONG height, BYTE* dst, LONG dstStride) {
  for (LONG row = 0; row < height; ++row) {
    const BYTE* s = src + static_cast<std::ptrdiff_t>(row) * srcStride;
    BYTE* d = dst + static_cast<std::ptrdiff_t>(height - 1 - row) * dstStride;
    for (LONG x = 0; x + 1 < width; x += 2) {
      int r = 0;
      int g = 0;
      int b = 0;
      YuvToRgb(s[0], s[1], s[3], r, g, b);
      d[0] = static_cast<BYTE>(b);
      d[1] = static_cast<BYTE>(g);
      d[2] = static_cast<BYTE>(r);
      YuvToRgb(s[2], s[1], s[3], r, g, b);
      d[3] = static_cast<BYTE>(b);
      d[4] = static_cast<BYTE>(g);
      d[5] = static_cast<BYTE>(r);
      s += 4;
      d += 6;
    }
  }
}

CSceneGenerator::Point CSceneGenerator::ObjectPosition(int camera, FrameSize size, std::uint32_t motionStep) {
  const LONG objW = size.width / 5;
  const LONG objH = size.height / 4;
  const LONG rangeX = std::max<LONG>(size.width - objW, 1);
  const LONG rangeY = std::max<LONG>(size.height - objH - 16, 1);
  // Triangle waves: the object crosses the picture in about 40 steps and turns back.
  const auto tri = [](std::uint64_t pos, LONG range) {
    const std::uint64_t period = 2ULL * static_cast<std::uint64_t>(range);
    const std::uint64_t p = pos % period;
    return static_cast<LONG>(p < static_cast<std::uint64_t>(range) ? p : period - p);
  };
  const std::uint64_t speedX = std::max<LONG>(size.width / 40, 1);
  const std::uint64_t speedY = std::max<LONG>(size.height / 40, 1);
  const std::uint64_t step = motionStep + static_cast<std::uint64_t>(camera) * 7;
  switch (SceneKind(camera)) {
    case 0:  // drives along the lawn
      return {tri(step * speedX, rangeX), size.height * 3 / 5};
    case 1:  // walks across the corridor, a little up and down
      return {tri(step * speedX, rangeX), size.height / 3 + tri(step * speedY / 2, std::max<LONG>(size.height / 6, 1))};
    case 2:  // drives along a lane
      return {size.width / 2, 16 + tri(step * speedY, rangeY)};
    default:  // bounces around
      return {tri(step * speedX, rangeX), 16 + tri(step * speedY * 2 / 3, rangeY)};
  }
}

namespace {

// The sensor noise: luma steps -2 ... +2, uniformly, from a fixed seed. A row reads
// width entries from an offset picked by frame, camera and row.
constexpr std::size_t kNoisePixels = 16384;

const std::array<signed char, kNoisePixels>& NoiseTable() {
  static const std::array<signed char, kNoisePixels> table = [] {
    std::array<signed char, kNoisePixels> t{};
    std::uint32_t x = 0x5EED1234u;
    for (signed char& n : t) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      n = static_cast<signed char>(static_cast<int>(x % 5) - 2);
    }
    return t;
  }();
  return table;
}

std::size_t NoiseOffset(std::uint64_t frameNumber, int camera, LONG row) {
  const std::uint64_t key = (frameNumber << 24) ^ (static_cast<std::uint64_t>(static_cast<std::uint32_t>(camera)) << 12) ^
                            static_cast<std::uint64_t>(row) ^ 0x5EEDULL;
  return Hash32(key) % kNoisePixels;
}

// n x numerator / denominator, rounded half away from zero.
int ScaleRounded(int n, long long numerator, long long denominator) {
  const long long p = static_cast<long long>(n < 0 ? -n : n) * numerator;
  const int magnitude = static_cast<int>((p + denominator / 2) / denominator);
  return n < 0 ? -magnitude : magnitude;
}

int BytesPerPixel(PixelLayout layout) { return layout == PixelLayout::Yuy2 ? 2 : 3; }

void StoreRgb(int y, int u, int v, BYTE* bgr) {
  int r = 0;
  int g = 0;
  int b = 0;
  YuvToRgb(y, u, v, r, g, b);
  bgr[0] = static_cast<BYTE>(b);
  bgr[1] = static_cast<BYTE>(g);
  bgr[2] = static_cast<BYTE>(r);
}

// The clock: "HH:MM:SS" in the 5 x 7 font, one row of margin above and below, so the
// box is 9 rows from row 2 at every size (inside the 16 rows motion detection leaves
// out); wider pictures get wider glyphs.
constexpr LONG kClockTop = 2;
constexpr LONG kClockRows = 9;
constexpr int kClockChars = 8;

struct ClockBox {
  LONG x0;
  LONG xScale;
  LONG width;
};

ClockBox ClockGeometry(FrameSize size) {
  const LONG xs = std::max<LONG>(1, size.width / 320);
  const LONG width = kClockChars * 6 * xs + 2 * xs;
  return {size.width - width - 2 * xs, xs, width};
}

// Where the object covers a row, as a span of whole pixel pairs (so that no pair mixes
// object and background chroma). False when the row misses it.
bool ObjectSpan(const SceneLook& look, CSceneGenerator::Point obj, LONG objW, LONG objH, LONG row, LONG width,
                LONG& x0, LONG& x1) {
  if (row < obj.y || row >= obj.y + objH || objW <= 0 || objH <= 0) {
    return false;
  }
  LONG left = obj.x;
  LONG right = obj.x + objW;  // exclusive
  if (look.shape == SceneLook::Shape::Ellipse) {
    const long long w2 = static_cast<long long>(objW) * objW;
    const long long h2 = static_cast<long long>(objH) * objH;
    const long long dy = 2LL * (row - obj.y) - objH;
    const long long limit = w2 * h2 - dy * dy * w2;  // dx^2 x h2 must not exceed it
    if (limit < 0) {
      return false;
    }
    const auto inside = [&](LONG px) {
      const long long dx = 2LL * (px - obj.x) - objW;
      return dx * dx * h2 <= limit;
    };
    const LONG half = static_cast<LONG>(std::sqrt(static_cast<double>(limit) / static_cast<double>(h2)));
    left = obj.x + (objW - half) / 2;
    while (left > obj.x && inside(left - 1)) {
      --left;
    }
    while (left < obj.x + objW && !inside(left)) {
      ++left;
    }
    right = obj.x + (objW + half) / 2 + 1;
    while (right > left && !inside(right - 1)) {
      --right;
    }
    while (right < obj.x + objW && inside(right)) {
      ++right;
    }
    if (right <= left) {
      return false;
    }
  }
  x0 = std::max<LONG>(left, 0) & ~LONG{1};
  x1 = std::min<LONG>((right + 1) & ~LONG{1}, width);
  return x1 > x0;
}

}  // namespace

void AddNoiseRow(const BYTE* src, const BYTE* plus, const BYTE* minus, BYTE* dst, std::size_t bytes) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= bytes; i += 16) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plus + i));
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(minus + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_subs_epu8(_mm_adds_epu8(s, p), m));
  }
#endif
  for (; i < bytes; ++i) {
    dst[i] = static_cast<BYTE>(Clamp255(static_cast<int>(src[i]) + plus[i] - minus[i]));
  }
}

void CSceneGenerator::BuildScene(Scene& scene) {
  const FrameSize size = scene.size;
  const int camera = scene.camera;
  const PixelLayout layout = scene.layout;
  const LONG stride = FrameStride(layout, size.width);
  const ControlMatrix controls = MakeControlMatrix(scene.controls);

  const LONG scale = std::max<LONG>(1, size.height / 240);
  const std::string labelText = "CAM " + std::to_string(camera / 4) + "-" + std::to_string(camera % 4);
  TextMask label = RenderText(labelText, scale);
  label.x0 = 2 * scale;
  label.y0 = size.height - label.height - 2 * scale;

  // The background with its label, controls applied, as YUY2 rows; an RGB24 scene is
  // the bottom-up conversion of the same rows.
  scene.background.assign(FrameBytes(layout, size), 0);
  std::vector<BYTE> yuy2Row(static_cast<std::size_t>(size.width) * 2);
  for (LONG row = 0; row < size.height; ++row) {
    const bool labelRow = row >= label.y0 && row < label.y0 + label.height;
    for (LONG x = 0; x < size.width; x += 2) {
      int ys[2];
      int us = 0;
      int vs = 0;
      for (int k = 0; k < 2; ++k) {
        int r = 0;
        int g = 0;
        int b = 0;
        BackgroundRgb(camera, x + k, row, size.width, size.height, r, g, b);
        int y = 0;
        int u = 0;
        int v = 0;
        RgbToYuv(r, g, b, y, u, v);
        if (labelRow && label.At(x + k, row) == 1) {
          y = 235;
          u = v = 128;
        }
        ApplyControls(controls, y, u, v);
        ys[k] = y;
        us += u;
        vs += v;
      }
      BYTE* p = yuy2Row.data() + static_cast<std::ptrdiff_t>(x) * 2;
      p[0] = static_cast<BYTE>(ys[0]);
      p[1] = static_cast<BYTE>((us + 1) / 2);
      p[2] = static_cast<BYTE>(ys[1]);
      p[3] = static_cast<BYTE>((vs + 1) / 2);
    }
    if (layout == PixelLayout::Yuy2) {
      std::memcpy(scene.background.data() + static_cast<std::ptrdiff_t>(row) * stride, yuy2Row.data(), yuy2Row.size());
    } else {
      Yuy2ToRgb24Dib(yuy2Row.data(), size.width * 2, size.width, 1,
                     scene.background.data() + static_cast<std::ptrdiff_t>(size.height - 1 - row) * stride, stride);
    }
  }

  // The noise follows the contrast, as noise of the camera's signal would: none when the
  // contrast takes the picture flat. In RGB24 a luma step moves all three colours by
  // 298/256 of it, as the conversion does.
  const int bpp = BytesPerPixel(layout);
  const std::size_t pixels = kNoisePixels + static_cast<std::size_t>(size.width);
  scene.noisePlus.assign(pixels * static_cast<std::size_t>(bpp), 0);
  scene.noiseMinus.assign(pixels * static_cast<std::size_t>(bpp), 0);
  int steps[5];
  for (int n = -2; n <= 2; ++n) {
    steps[n + 2] = layout == PixelLayout::Yuy2 ? ScaleRounded(n, controls.lumaGain, 4096)
                                               : ScaleRounded(n, 298LL * controls.lumaGain, 4096LL * 256);
  }
  const auto& table = NoiseTable();
  for (std::size_t i = 0; i < pixels; ++i) {
    const int step = steps[table[i % kNoisePixels] + 2];
    const BYTE up = static_cast<BYTE>(std::min(std::max(step, 0), 255));
    const BYTE down = static_cast<BYTE>(std::min(std::max(-step, 0), 255));
    const int colours = layout == PixelLayout::Yuy2 ? 1 : 3;  // YUY2: luma bytes only
    for (int c = 0; c < colours; ++c) {
      scene.noisePlus[i * static_cast<std::size_t>(bpp) + static_cast<std::size_t>(c)] = up;
      scene.noiseMinus[i * static_cast<std::size_t>(bpp) + static_cast<std::size_t>(c)] = down;
    }
  }

  // The colours a frame draws, controls applied.
  const SceneLook& look = kLooks[SceneKind(camera)];
  const auto colour = [&](int y, int u, int v, BYTE* out) {
    ApplyControls(controls, y, u, v);
    if (layout == PixelLayout::Yuy2) {
      out[0] = static_cast<BYTE>(y);
      out[1] = static_cast<BYTE>(u);
      out[2] = static_cast<BYTE>(v);
    } else {
      StoreRgb(y, u, v, out);
    }
  };
  int y = 0;
  int u = 0;
  int v = 0;
  RgbToYuv(look.objR, look.objG, look.objB, y, u, v);
  colour(y, u, v, scene.object);
  colour(235, 128, 128, scene.clockInk);
  colour(16, 128, 128, scene.clockBox);
}

CSceneGenerator::Scene& CSceneGenerator::SceneFor(const SceneRequest& request) {
  ++m_uses;
  for (Scene& s : m_scenes) {
    if (s.camera == request.camera && s.size == request.size && s.layout == request.layout &&
        s.controls == request.controls) {
      s.lastUse = m_uses;
      return s;
    }
  }
  Scene* scene = nullptr;
  if (m_scenes.size() < kCachedScenes) {
    scene = &m_scenes.emplace_back();
  } else {
    scene = &*std::min_element(m_scenes.begin(), m_scenes.end(),
                               [](const Scene& a, const Scene& b) { return a.lastUse < b.lastUse; });
  }
  scene->camera = request.camera;
  scene->size = request.size;
  scene->layout = request.layout;
  scene->controls = request.controls;
  scene->lastUse = m_uses;
  BuildScene(*scene);
  return *scene;
}

bool CSceneGenerator::Render(const SceneRequest& request, BYTE* dst, std::size_t dstBytes) {
  const FrameSize size = request.size;
  if (dst == nullptr || size.width <= 0 || size.height <= 0 || size.width % 2 != 0 ||
      dstBytes < FrameBytes(request.layout, size)) {
    return false;
  }
  const Scene& scene = SceneFor(request);
  const PixelLayout layout = request.layout;
  const int bpp = BytesPerPixel(layout);
  const LONG stride = FrameStride(layout, size.width);
  const std::size_t used = static_cast<std::size_t>(size.width) * static_cast<std::size_t>(bpp);

  const SceneLook& look = kLooks[SceneKind(request.camera)];
  const Point obj = ObjectPosition(request.camera, size, request.motionStep);
  const LONG objW = size.width / 5;
  const LONG objH = size.height / 4;

  const ClockBox clock = ClockGeometry(size);
  const std::uint32_t secs = request.clockSeconds % 86400;
  const char digits[kClockChars] = {
      static_cast<char>('0' + secs / 36000), static_cast<char>('0' + (secs / 3600) % 10), ':',
      static_cast<char>('0' + (secs / 600) % 6), static_cast<char>('0' + (secs / 60) % 10), ':',
      static_cast<char>('0' + (secs % 60) / 10), static_cast<char>('0' + secs % 10)};
  const Glyph* glyphs[kClockChars];
  for (int i = 0; i < kClockChars; ++i) {
    glyphs[i] = FindGlyph(digits[i]);
  }

  const auto paint = [&](BYTE* out, LONG x, const BYTE* c) {
    if (layout == PixelLayout::Yuy2) {
      // c is Y U V: the pixel's luma and the chroma byte it carries (U on even, V on odd).
      out[2 * x] = c[0];
      out[2 * x + 1] = c[1 + (x & 1)];
    } else {
      std::memcpy(out + 3 * x, c, 3);
    }
  };

  for (LONG row = 0; row < size.height; ++row) {
    const LONG storedRow = layout == PixelLayout::Rgb24 ? size.height - 1 - row : row;
    const std::size_t rowStart = static_cast<std::size_t>(storedRow) * static_cast<std::size_t>(stride);
    const BYTE* background = scene.background.data() + rowStart;
    BYTE* out = dst + rowStart;
    const std::size_t noise = NoiseOffset(request.frameNumber, request.camera, row) * static_cast<std::size_t>(bpp);
    const BYTE* plus = scene.noisePlus.data() + noise;
    const BYTE* minus = scene.noiseMinus.data() + noise;

    LONG spanX0 = 0;
    LONG spanX1 = 0;
    const bool objectRow = ObjectSpan(look, obj, objW, objH, row, size.width, spanX0, spanX1);
    const bool clockRow = row >= kClockTop && row < kClockTop + kClockRows;
    if (!objectRow && !clockRow) {
      AddNoiseRow(background, plus, minus, out, used);
    } else {
      std::memcpy(out, background, used);
      for (LONG x = spanX0; objectRow && x < spanX1; ++x) {
        paint(out, x, scene.object);
      }
      if (clockRow) {
        const LONG glyphRow = row - kClockTop - 1;
        for (LONG bx = 0; bx < clock.width; ++bx) {
          const LONG x = clock.x0 + bx;
          if (x < 0 || x >= size.width) {
            continue;
          }
          bool ink = false;
          const LONG inner = bx - clock.xScale;
          if (glyphRow >= 0 && glyphRow < 7 && inner >= 0) {
            const LONG cell = inner / (6 * clock.xScale);
            const LONG col = (inner % (6 * clock.xScale)) / clock.xScale;
            const Glyph* g = cell < kClockChars ? glyphs[cell] : nullptr;
            ink = g != nullptr && col < 5 && ((g->rows[static_cast<std::size_t>(glyphRow)] >> (4 - col)) & 1) != 0;
          }
          paint(out, x, ink ? scene.clockInk : scene.clockBox);
        }
      }
      AddNoiseRow(out, plus, minus, out, used);
    }
    // DIB row padding stays zero.
    if (static_cast<std::size_t>(stride) > used) {
      std::memset(out + used, 0, static_cast<std::size_t>(stride) - used);
    }
  }
  dst[0] = request.channelByte;
  return true;
}

}  // namespace halvard::capture
