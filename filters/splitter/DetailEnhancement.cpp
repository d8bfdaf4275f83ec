#include "filters/splitter/DetailEnhancement.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace halvard::splitter {

namespace {

inline std::uint8_t Saturate(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

// Whole-sample symmetric extension: x[-i] = x[i], x[n - 1 + i] = x[n - 1 - i].
inline int Reflect(int i, int n) {
  if (i < 0) {
    i = -i;
  }
  if (i >= n) {
    i = 2 * (n - 1) - i;
  }
  return i;
}

inline int Predict(int left2, int left, int right, int right2) { return (9 * (left + right) - (left2 + right2) + 8) >> 4; }
inline int Update(int dPrevious, int d) { return (dPrevious + d + 2) >> 2; }

template <class T>
void ForwardLine(const T* x, std::int16_t* out, int n) {
  const int half = n / 2;
  std::int16_t* s = out;
  std::int16_t* d = out + half;
  // Edges use the symmetric extension; the middle (k = 1 .. half - 3) needs none and
  // is kept free of branches so that it vectorises.
  auto edge = [&](int k) {
    const int e = 2 * k;
    d[k] = static_cast<std::int16_t>(
        x[e + 1] - Predict(x[Reflect(e - 2, n)], x[e], x[Reflect(e + 2, n)], x[Reflect(e + 4, n)]));
  };
  edge(0);
  for (int k = 1; k < half - 2; ++k) {
    const int e = 2 * k;
    d[k] = static_cast<std::int16_t>(x[e + 1] - ((9 * (x[e] + x[e + 2]) - (x[e - 2] + x[e + 4]) + 8) >> 4));
  }
  for (int k = std::max(1, half - 2); k < half; ++k) {
    edge(k);
  }
  s[0] = static_cast<std::int16_t>(x[0] + Update(d[0], d[0]));
  for (int k = 1; k < half; ++k) {
    s[k] = static_cast<std::int16_t>(x[2 * k] + ((d[k - 1] + d[k] + 2) >> 2));
  }
}

}  // namespace

// ---- colour conversion ------------------------------------------------------------

void RgbToYcc420(const std::uint8_t* rgb, std::ptrdiff_t stride, int width, int height, std::uint8_t* luma,
                 std::uint8_t* cb, std::uint8_t* cr) {
  const int chromaWidth = width / 2;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = rgb + y * stride;
    std::uint8_t* lumaRow = luma + static_cast<std::ptrdiff_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      const int b = row[3 * x];
      const int g = row[3 * x + 1];
      const int r = row[3 * x + 2];
      lumaRow[x] = Saturate((9798 * r + 19235 * g + 3736 * b + 16384) >> 15);
    }
    if (y % 2 != 0) {
      continue;  // the second row of a pair contributes luma only
    }
    std::uint8_t* cbRow = cb + static_cast<std::ptrdiff_t>(y / 2) * chromaWidth;
    std::uint8_t* crRow = cr + static_cast<std::ptrdiff_t>(y / 2) * chromaWidth;
    for (int x = 0; x < chromaWidth; ++x) {
      int cbSum = 0;
      int crSum = 0;
      for (int i = 0; i < 2; ++i) {
        const std::uint8_t* p = row + 3 * (2 * x + i);
        const int b = p[0];
        const int g = p[1];
        const int r = p[2];
        cbSum += Saturate((-5529 * r - 10855 * g + 16384 * b + 128 * 32768 + 16384) >> 15);
        crSum += Saturate((16384 * r - 13720 * g - 2664 * b + 128 * 32768 + 16384) >> 15);
      }
      cbRow[x] = static_cast<std::uint8_t>(cbSum >> 1);
      crRow[x] = static_cast<std::uint8_t>(crSum >> 1);
    }
  }
}

const YccToRgbTables& BackConversionTables() {
  static const YccToRgbTables tables = [] {
    YccToRgbTables t;
    for (int c = 0; c < 256; ++c) {
      const double v = c - 128;
      t.cbToBlue[c] = static_cast<std::int16_t>(std::lround(1.772 * v * 128.0));
      t.cbToGreen[c] = static_cast<std::int16_t>(std::lround(-0.34414 * v * 128.0));
      t.crToGreen[c] = static_cast<std::int16_t>(std::lround(-0.71414 * v * 128.0));
      t.crToRed[c] = static_cast<std::int16_t>(std::lround(1.402 * v * 128.0));
    }
    return t;
  }();
  return tables;
}

void YccToRgb420(const std::uint8_t* luma, const std::uint8_t* cb, const std::uint8_t* cr, int width, int height,
                 std::uint8_t* rgb, std::ptrdiff_t stride) {
  const YccToRgbTables& t = BackConversionTables();
  const int chromaWidth = width / 2;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* lumaRow = luma + static_cast<std::ptrdiff_t>(y) * width;
    const std::uint8_t* cbRow = cb + static_cast<std::ptrdiff_t>(y / 2) * chromaWidth;
    const std::uint8_t* crRow = cr + static_cast<std::ptrdiff_t>(y / 2) * chromaWidth;
    std::uint8_t* row = rgb + y * stride;
    for (int x = 0; x < width; ++x) {
      const int l = lumaRow[x];
      const int u = cbRow[x / 2];
      const int v = crRow[x / 2];
      row[3 * x] = Saturate(l + ((t.cbToBlue[u] + 64) >> 7));
      row[3 * x + 1] = Saturate(l + ((t.cbToGreen[u] + t.crToGreen[v] + 64) >> 7));
      row[3 * x + 2] = Saturate(l + ((t.crToRed[v] + 64) >> 7));
    }
  }
}

// ---- wavelet transform ------------------------------------------------------------

void LiftForwardLine(const std::uint8_t* in, std::int16_t* out, int n) { ForwardLine(in, out, n); }
void LiftForwardLine(const std::int16_t* in, std::int16_t* out, int n) { ForwardLine(in, out, n); }

void LiftInverseLine(const std::int16_t* in, std::int16_t* out, int n) {
  const int half = n / 2;
  const std::int16_t* s = in;
  const std::int16_t* d = in + half;
  out[0] = static_cast<std::int16_t>(s[0] - Update(d[0], d[0]));
  for (int k = 1; k < half; ++k) {
    out[2 * k] = static_cast<std::int16_t>(s[k] - ((d[k - 1] + d[k] + 2) >> 2));
  }
  auto edge = [&](int k) {
    const int e = 2 * k;
    out[e + 1] = static_cast<std::int16_t>(
        d[k] + Predict(out[Reflect(e - 2, n)], out[e], out[Reflect(e + 2, n)], out[Reflect(e + 4, n)]));
  };
  edge(0);
  for (int k = 1; k < half - 2; ++k) {
    const int e = 2 * k;
    out[e + 1] = static_cast<std::int16_t>(d[k] + ((9 * (out[e] + out[e + 2]) - (out[e - 2] + out[e + 4]) + 8) >> 4));
  }
  for (int k = std::max(1, half - 2); k < half; ++k) {
    edge(k);
  }
}

void LiftForwardColumns(const std::int16_t* in, std::ptrdiff_t inStride, std::int16_t* out, std::ptrdiff_t outStride,
                        int width, int height) {
  const int half = height / 2;
  auto inRow = [&](int r) { return in + Reflect(r, height) * inStride; };
  for (int k = 0; k < half; ++k) {
    const int e = 2 * k;
    const std::int16_t* a = inRow(e - 2);
    const std::int16_t* b = inRow(e);
    const std::int16_t* c = inRow(e + 2);
    const std::int16_t* f = inRow(e + 4);
    const std::int16_t* odd = inRow(e + 1);
    std::int16_t* d = out + (half + k) * outStride;
    for (int x = 0; x < width; ++x) {
      d[x] = static_cast<std::int16_t>(odd[x] - Predict(a[x], b[x], c[x], f[x]));
    }
  }
  for (int k = 0; k < half; ++k) {
    const std::int16_t* even = in + (2 * k) * inStride;
    const std::int16_t* dPrevious = out + (half + std::max(k - 1, 0)) * outStride;
    const std::int16_t* d = out + (half + k) * outStride;
    std::int16_t* s = out + k * outStride;
    for (int x = 0; x < width; ++x) {
      s[x] = static_cast<std::int16_t>(even[x] + Update(dPrevious[x], d[x]));
    }
  }
}

void LiftInverseColumns(const std::int16_t* in, std::ptrdiff_t inStride, std::int16_t* out, std::ptrdiff_t outStride,
                        int width, int height) {
  const int half = height / 2;
  for (int k = 0; k < half; ++k) {
    const std::int16_t* s = in + k * inStride;
    const std::int16_t* dPrevious = in + (half + std::max(k - 1, 0)) * inStride;
    const std::int16_t* d = in + (half + k) * inStride;
    std::int16_t* even = out + (2 * k) * outStride;
    for (int x = 0; x < width; ++x) {
      even[x] = static_cast<std::int16_t>(s[x] - Update(dPrevious[x], d[x]));
    }
  }
  auto outRow = [&](int r) { return out + Reflect(r, height) * outStride; };
  for (int k = 0; k < half; ++k) {
    const int e = 2 * k;
    const std::int16_t* a = outRow(e - 2);
    const std::int16_t* b = outRow(e);
    const std::int16_t* c = outRow(e + 2);
    const std::int16_t* f = outRow(e + 4);
    const std::int16_t* d = in + (half + k) * inStride;
    std::int16_t* odd = out + (e + 1) * outStride;
    for (int x = 0; x < width; ++x) {
      odd[x] = static_cast<std::int16_t>(d[x] + Predict(a[x], b[x], c[x], f[x]));
    }
  }
}

int CompressCoarse(int value) {
  const int t = value - 127;
  int m = t;
  if (t > 48) {
    m = 48 + (2 * t - 96) / 3;
  } else if (t < -48) {
    m = -48 + (2 * t + 96) / 3;
  }
  return 127 + m;
}

void CompressCoarseBand(std::int16_t* band, std::ptrdiff_t stride, int width, int height) {
  for (int y = 0; y < height; ++y) {
    std::int16_t* row = band + y * stride;
    for (int x = 0; x < width; ++x) {
      row[x] = static_cast<std::int16_t>(CompressCoarse(row[x]));
    }
  }
}

bool TransformSupports(int width, int height) {
  return width > 0 && height > 0 && width % 4 == 0 && height % 4 == 0 && width / 2 >= 8 && height / 2 >= 8;
}

// ---- histogram equalisation ---------------------------------------------------------

const std::array<std::uint8_t, 256>& ToneCurve() {
  static const std::array<std::uint8_t, 256> curve = [] {
    static constexpr int kFlat[] = {34,  44,  53,  63,  73,  82,  92,  102, 111, 121, 130, 140,
                                    150, 159, 169, 179, 188, 198, 207, 217, 227, 236, 246};
    std::array<std::uint8_t, 256> t{};
    for (int i = 0; i <= 23; ++i) {
      t[i] = static_cast<std::uint8_t>(2 * i);
    }
    t[24] = 47;
    for (int i = 25; i < 256; ++i) {
      const bool flat = std::find(std::begin(kFlat), std::end(kFlat), i) != std::end(kFlat);
      t[i] = static_cast<std::uint8_t>(t[i - 1] + (flat ? 0 : 1));
    }
    return t;
  }();
  return curve;
}

void EqualiseHistogram(std::uint8_t* luma, std::size_t count) {
  std::array<std::uint64_t, 256> h{};
  for (std::size_t i = 0; i < count; ++i) {
    ++h[luma[i]];
  }
  const std::uint64_t divisor = count - h[0] + 1;
  const auto& tone = ToneCurve();
  for (int k = 1; k <= 254; ++k) {
    h[k + 1] += h[k];
    h[k] = tone[(h[k] * 256) / divisor];
  }
  h[0] = 0;
  h[255] = 255;
  std::array<std::uint8_t, 256> map{};
  for (int v = 0; v < 256; ++v) {
    map[v] = static_cast<std::uint8_t>((h[v] + 4 * static_cast<std::uint64_t>(v) + 2) / 5);
  }
  for (std::size_t i = 0; i < count; ++i) {
    luma[i] = map[luma[i]];
  }
}

// ---- the frame operation ------------------------------------------------------------

CEnhancementBuffers::CEnhancementBuffers(int width, int height) {
  if (!TransformSupports(width, height)) {
    return;
  }
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  m_luma.reset(new (std::nothrow) std::uint8_t[pixels]);
  m_cb.reset(new (std::nothrow) std::uint8_t[pixels / 4]);
  m_cr.reset(new (std::nothrow) std::uint8_t[pixels / 4]);
  m_planeA.reset(new (std::nothrow) std::int16_t[pixels]);
  m_planeB.reset(new (std::nothrow) std::int16_t[pixels]);
  if (!m_luma || !m_cb || !m_cr || !m_planeA || !m_planeB) {
    m_luma.reset();
    m_cb.reset();
    m_cr.reset();
    m_planeA.reset();
    m_planeB.reset();
    return;
  }
  m_width = width;
  m_height = height;
  m_valid = true;
}

void EnhanceFrame(std::uint8_t* frame, std::ptrdiff_t stride, int width, int height, ColourFormat format, int level,
                  CEnhancementBuffers& buffers) {
  if (level < 1 || !buffers.Valid() || buffers.Width() != width || buffers.Height() != height) {
    return;
  }
  const int w = width;
  const int h = height;
  std::uint8_t* luma = buffers.m_luma.get();
  std::int16_t* a = buffers.m_planeA.get();
  std::int16_t* b = buffers.m_planeB.get();

  if (format == ColourFormat::Yuy2) {
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* row = frame + y * stride;
      std::uint8_t* lumaRow = luma + static_cast<std::ptrdiff_t>(y) * w;
      for (int x = 0; x < w; ++x) {
        lumaRow[x] = row[2 * x];
      }
    }
  } else {
    RgbToYcc420(frame, stride, w, h, luma, buffers.m_cb.get(), buffers.m_cr.get());
  }

  // Forward: level 1 over the whole plane, level 2 over its low-pass quadrant; the
  // coefficients end in plane b, plane a is scratch.
  for (int y = 0; y < h; ++y) {
    LiftForwardLine(luma + static_cast<std::ptrdiff_t>(y) * w, a + static_cast<std::ptrdiff_t>(y) * w, w);
  }
  LiftForwardColumns(a, w, b, w, w, h);
  for (int y = 0; y < h / 2; ++y) {
    LiftForwardLine(b + static_cast<std::ptrdiff_t>(y) * w, a + static_cast<std::ptrdiff_t>(y) * w, w / 2);
  }
  LiftForwardColumns(a, w, b, w, w / 2, h / 2);

  CompressCoarseBand(b, w, w / 4, h / 4);

  // Inverse: level 2 then level 1, columns before rows.
  LiftInverseColumns(b, w, a, w, w / 2, h / 2);
  for (int y = 0; y < h / 2; ++y) {
    LiftInverseLine(a + static_cast<std::ptrdiff_t>(y) * w, b + static_cast<std::ptrdiff_t>(y) * w, w / 2);
  }
  LiftInverseColumns(b, w, a, w, w, h);
  for (int y = 0; y < h; ++y) {
    std::int16_t* line = b + static_cast<std::ptrdiff_t>(y) * w;
    LiftInverseLine(a + static_cast<std::ptrdiff_t>(y) * w, line, w);
    std::uint8_t* lumaRow = luma + static_cast<std::ptrdiff_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      lumaRow[x] = Saturate(line[x]);
    }
  }

  if (level >= 2) {
    EqualiseHistogram(luma, static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  }

  if (format == ColourFormat::Yuy2) {
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = frame + y * stride;
      const std::uint8_t* lumaRow = luma + static_cast<std::ptrdiff_t>(y) * w;
      for (int x = 0; x < w; ++x) {
        row[2 * x] = lumaRow[x];
      }
    }
  } else {
    YccToRgb420(luma, buffers.m_cb.get(), buffers.m_cr.get(), w, h, frame, stride);
  }
}

}  // namespace halvard::splitter
