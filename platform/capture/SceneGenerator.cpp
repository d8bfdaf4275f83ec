#include "platform/capture/SceneGenerator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

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

void CSceneGenerator::BuildBackground(int camera, FrameSize size) {
  const std::size_t n = static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height);
  m_y.resize(n);
  m_u.resize(n);
  m_v.resize(n);
  for (LONG yy = 0; yy < size.height; ++yy) {
    for (LONG xx = 0; xx < size.width; ++xx) {
      int r = 0;
      int g = 0;
      int b = 0;
      BackgroundRgb(camera, xx, yy, size.width, size.height, r, g, b);
      int y = 0;
      int u = 0;
      int v = 0;
      RgbToYuv(r, g, b, y, u, v);
      const std::size_t i = static_cast<std::size_t>(yy) * static_cast<std::size_t>(size.width) + static_cast<std::size_t>(xx);
      m_y[i] = static_cast<BYTE>(y);
      m_u[i] = static_cast<BYTE>(u);
      m_v[i] = static_cast<BYTE>(v);
    }
  }
  m_camera = camera;
  m_size = size;
}

bool CSceneGenerator::Render(const SceneRequest& request, BYTE* dst, std::size_t dstBytes) {
  const FrameSize size = request.size;
  if (dst == nullptr || size.width <= 0 || size.height <= 0 || size.width % 2 != 0 ||
      dstBytes < FrameBytes(request.layout, size)) {
    return false;
  }
  if (request.camera != m_camera || !(size == m_size)) {
    BuildBackground(request.camera, size);
  }

  const LONG scale = std::max<LONG>(1, size.height / 240);
  const std::uint32_t secs = request.clockSeconds % 86400;
  char clock[16];
  std::snprintf(clock, sizeof clock, "%02u:%02u:%02u", secs / 3600, (secs / 60) % 60, secs % 60);
  TextMask clockMask = RenderText(clock, scale);
  clockMask.x0 = size.width - clockMask.width - 2 * scale;
  clockMask.y0 = 2;
  const int camera = request.camera;
  const std::string labelText = "CAM " + std::to_string(camera / 4) + "-" + std::to_string(camera % 4);
  TextMask label = RenderText(labelText, scale);
  label.x0 = 2 * scale;
  label.y0 = size.height - label.height - 2 * scale;

  const SceneLook& look = kLooks[SceneKind(camera)];
  int objY = 0;
  int objU = 0;
  int objV = 0;
  RgbToYuv(look.objR, look.objG, look.objB, objY, objU, objV);
  const Point obj = ObjectPosition(camera, size, request.motionStep);
  const LONG objW = size.width / 5;
  const LONG objH = size.height / 4;

  const ControlMatrix controls = MakeControlMatrix(request.controls);
  std::uint32_t noise = Hash32((request.frameNumber << 8) ^ static_cast<std::uint64_t>(camera) ^ 0x5EEDULL);
  const LONG stride = FrameStride(request.layout, size.width);

  for (LONG row = 0; row < size.height; ++row) {
    const LONG storedRow = request.layout == PixelLayout::Rgb24 ? size.height - 1 - row : row;
    BYTE* out = dst + static_cast<std::ptrdiff_t>(storedRow) * stride;
    const bool objRow = row >= obj.y && row < obj.y + objH;
    const bool clockRow = row >= clockMask.y0 && row < clockMask.y0 + clockMask.height;
    const bool labelRow = row >= label.y0 && row < label.y0 + label.height;
    const std::size_t base = static_cast<std::size_t>(row) * static_cast<std::size_t>(size.width);
    for (LONG x = 0; x < size.width; x += 2) {
      int ys[2];
      int us = 0;
      int vs = 0;
      for (int k = 0; k < 2; ++k) {
        const LONG px = x + k;
        int y = m_y[base + static_cast<std::size_t>(px)];
        int u = m_u[base + static_cast<std::size_t>(px)];
        int v = m_v[base + static_cast<std::size_t>(px)];
        if (objRow && px >= obj.x && px < obj.x + objW) {
          bool inside = true;
          if (look.shape == SceneLook::Shape::Ellipse) {
            const long dx = 2 * (px - obj.x) - objW;
            const long dy = 2 * (row - obj.y) - objH;
            inside = dx * dx * objH * objH + dy * dy * objW * objW <= static_cast<long>(objW) * objW * objH * objH;
          }
          if (inside) {
            y = objY;
            u = objU;
            v = objV;
          }
        }
        if (BYTE c = clockRow ? clockMask.At(px, row) : 0; c != 0) {
          y = c == 1 ? 235 : 16;
          u = v = 128;
        } else if (BYTE l = labelRow ? label.At(px, row) : 0; l == 1) {
          y = 235;
          u = v = 128;
        }
        // Sensor noise: -2 ... +2 on luma.
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        y += static_cast<int>(noise % 5) - 2;
        ApplyControls(controls, y, u, v);
        ys[k] = y;
        us += u;
        vs += v;
      }
      us = (us + 1) / 2;
      vs = (vs + 1) / 2;
      if (request.layout == PixelLayout::Yuy2) {
        BYTE* p = out + static_cast<std::ptrdiff_t>(x) * 2;
        p[0] = static_cast<BYTE>(ys[0]);
        p[1] = static_cast<BYTE>(us);
        p[2] = static_cast<BYTE>(ys[1]);
        p[3] = static_cast<BYTE>(vs);
      } else {
        BYTE* p = out + static_cast<std::ptrdiff_t>(x) * 3;
        for (int k = 0; k < 2; ++k) {
          int r = 0;
          int g = 0;
          int b = 0;
          YuvToRgb(ys[k], us, vs, r, g, b);
          p[3 * k + 0] = static_cast<BYTE>(b);
          p[3 * k + 1] = static_cast<BYTE>(g);
          p[3 * k + 2] = static_cast<BYTE>(r);
        }
      }
    }
    // DIB row padding stays zero.
    const LONG used = size.width * (request.layout == PixelLayout::Yuy2 ? 2 : 3);
    if (stride > used) {
      std::memset(out + used, 0, static_cast<std::size_t>(stride - used));
    }
  }
  dst[0] = request.channelByte;
  return true;
}

}  // namespace halvard::capture
