#include "filters/hdsimulation/BicubicScaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#if HALVARD_SCALER_X86
#include "filters/hdsimulation/x86/ScalerX86.h"
#endif

namespace halvard::hdsimulation {

namespace {

inline std::uint8_t ClampByte(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

double CubicKernel::operator()(double x) const {
  const double ax = std::fabs(x);
  const double ax2 = ax * ax;
  const double ax3 = ax2 * ax;
  if (ax < 1.0) {
    return ((12.0 - 9.0 * b - 6.0 * c) * ax3 + (-18.0 + 12.0 * b + 6.0 * c) * ax2 + (6.0 - 2.0 * b)) / 6.0;
  }
  if (ax < 2.0) {
    return ((-b - 6.0 * c) * ax3 + (6.0 * b + 30.0 * c) * ax2 + (-12.0 * b - 48.0 * c) * ax + (8.0 * b + 24.0 * c)) /
           6.0;
  }
  return 0.0;
}

FilterTable BuildFilterTable(int sourceSize, int destSize, const CubicKernel& kernel) {
  FilterTable table;
  if (sourceSize < 1 || destSize < 1) {
    return table;
  }
  const double support = CubicKernel::Support();
  const double g = std::min(static_cast<double>(destSize) / sourceSize, 1.0);
  int taps = static_cast<int>(std::ceil(support / g * 2.0));
  taps = std::clamp(taps, 1, sourceSize);
  table.sourceSize = sourceSize;
  table.destSize = destSize;
  table.taps = taps;
  table.first.resize(static_cast<std::size_t>(destSize));
  table.weights.resize(static_cast<std::size_t>(destSize) * static_cast<std::size_t>(taps));

  const double step = static_cast<double>(sourceSize) / destSize;
  double centre = static_cast<double>(sourceSize - destSize) / (2.0 * destSize);
  std::vector<double> raw(static_cast<std::size_t>(taps));
  for (int i = 0; i < destSize; ++i, centre += step) {
    int last = static_cast<int>(std::floor(centre + support / g));
    last = std::min(last, sourceSize - 1);
    int first = std::max(last - taps + 1, 0);
    table.first[static_cast<std::size_t>(i)] = first;

    double sum = 0.0;
    for (int j = 0; j < taps; ++j) {
      raw[static_cast<std::size_t>(j)] = kernel(g * (first + j - centre));
      sum += raw[static_cast<std::size_t>(j)];
    }
    std::int32_t* weights = table.weights.data() + static_cast<std::size_t>(i) * taps;
    if (sum == 0.0) {
      // Only a degenerate kernel gets here: give everything to the nearest sample.
      const int nearest = std::clamp(static_cast<int>(std::lround(centre)) - first, 0, taps - 1);
      std::fill(weights, weights + taps, 0);
      weights[nearest] = 16384;
      continue;
    }
    double running = 0.0;
    long long previous = 0;
    for (int j = 0; j < taps; ++j) {
      running += raw[static_cast<std::size_t>(j)] / sum;
      const long long rounded = static_cast<long long>(std::floor(running * 16384.0 + 0.5));
      weights[j] = static_cast<std::int32_t>(rounded - previous);
      previous = rounded;
    }
  }

  const bool fits = std::all_of(table.weights.begin(), table.weights.end(), [](std::int32_t w) {
    return w >= std::numeric_limits<std::int16_t>::min() && w <= std::numeric_limits<std::int16_t>::max();
  });
  if (fits) {
    table.packed.assign(table.weights.begin(), table.weights.end());
  }
  return table;
}

namespace detail {

void HorizontalRowReference(const std::uint8_t* src, std::uint8_t* dst, const FilterTable& luma,
                            const FilterTable& chroma, int fromPixel) {
  const int destWidth = luma.destSize;
  for (int i = fromPixel; i < destWidth; ++i) {
    const std::int32_t* w = luma.weights.data() + static_cast<std::size_t>(i) * luma.taps;
    const std::uint8_t* s = src + 2 * luma.first[static_cast<std::size_t>(i)];
    int sum = 0;
    for (int j = 0; j < luma.taps; ++j) {
      sum += w[j] * s[2 * j];
    }
    dst[2 * i] = ClampByte((sum + 8192) >> 14);
  }
  const int pairs = chroma.taps > 0 ? chroma.destSize : 0;
  if (pairs == 0) {
    for (int i = fromPixel; i < destWidth; ++i) {
      dst[2 * i + 1] = 128;  // no source chroma to resample: neutral
    }
    return;
  }
  for (int p = fromPixel / 2; p < pairs; ++p) {
    const std::int32_t* w = chroma.weights.data() + static_cast<std::size_t>(p) * chroma.taps;
    const std::uint8_t* s = src + 4 * chroma.first[static_cast<std::size_t>(p)];
    int u = 0;
    int v = 0;
    for (int j = 0; j < chroma.taps; ++j) {
      u += w[j] * s[4 * j + 1];
      v += w[j] * s[4 * j + 3];
    }
    dst[4 * p + 1] = ClampByte((u + 8192) >> 14);
    dst[4 * p + 3] = ClampByte((v + 8192) >> 14);
  }
  if (destWidth % 2 != 0 && destWidth - 1 >= fromPixel) {
    // The last pixel of an odd row has no pair of its own; it shares the last pair's U.
    dst[2 * (destWidth - 1) + 1] = dst[4 * (pairs - 1) + 1];
  }
}

void VerticalRowReference(const std::uint8_t* base, std::ptrdiff_t srcStride, const std::int32_t* weights, int taps,
                          std::uint8_t* dst, int fromByte, int rowBytes) {
  for (int x = fromByte; x < rowBytes; ++x) {
    int sum = 0;
    for (int j = 0; j < taps; ++j) {
      sum += weights[j] * base[j * srcStride + x];
    }
    dst[x] = ClampByte(sum >> 14);
  }
}

}  // namespace detail

namespace {

void HorizontalPassC(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                     int rows, const FilterTable& luma, const FilterTable& chroma, std::int16_t* /*scratch*/) {
  for (int r = 0; r < rows; ++r) {
    detail::HorizontalRowReference(src + r * srcStride, dst + r * dstStride, luma, chroma, 0);
  }
}

void VerticalPassC(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                   int rowBytes, const FilterTable& table) {
  for (int r = 0; r < table.destSize; ++r) {
    detail::VerticalRowReference(src + table.first[static_cast<std::size_t>(r)] * srcStride, srcStride,
                                 table.weights.data() + static_cast<std::size_t>(r) * table.taps, table.taps,
                                 dst + r * dstStride, 0, rowBytes);
  }
}

std::vector<ScalerKernels> BuildKernelTable() {
  std::vector<ScalerKernels> table;
  table.push_back({"c", SimdLevel::None, HorizontalPassC, VerticalPassC});
#if HALVARD_SCALER_X86
  x86::AddScalerKernels(table);
#endif
  return table;
}

}  // namespace

SimdLevel DetectSimdLevel() { return ScalerKernelTable().back().level; }

const std::vector<ScalerKernels>& ScalerKernelTable() {
  static const std::vector<ScalerKernels> table = BuildKernelTable();
  return table;
}

const ScalerKernels& ScalerKernelsFor(SimdLevel level) {
  const auto& table = ScalerKernelTable();
  const ScalerKernels* chosen = &table.front();
  for (const ScalerKernels& entry : table) {
    if (static_cast<int>(entry.level) <= static_cast<int>(level)) {
      chosen = &entry;
    }
  }
  return *chosen;
}

void HorizontalPass(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                    int rows, const FilterTable& luma, const FilterTable& chroma, std::int16_t* scratch,
                    SimdLevel level) {
  ScalerKernelsFor(level).horizontal(src, srcStride, dst, dstStride, rows, luma, chroma, scratch);
}

void VerticalPass(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                  int rowBytes, const FilterTable& table, SimdLevel level) {
  ScalerKernelsFor(level).vertical(src, srcStride, dst, dstStride, rowBytes, table);
}

bool CBicubicScaler::Prepare(int srcWidth, int srcHeight, int dstWidth, int dstHeight) {
  if (srcWidth == m_srcWidth && srcHeight == m_srcHeight && dstWidth == m_dstWidth && dstHeight == m_dstHeight &&
      m_kernel.b == m_builtB && m_kernel.c == m_builtC) {
    return true;
  }
  m_srcWidth = m_srcHeight = m_dstWidth = m_dstHeight = -1;
  m_lumaTable = {};
  m_chromaTable = {};
  m_verticalTable = {};
  m_intermediate.clear();
  m_intermediate.shrink_to_fit();
  m_scratch.clear();
  m_scratch.shrink_to_fit();
  try {
    if (srcWidth != dstWidth) {
      m_lumaTable = BuildFilterTable(srcWidth, dstWidth, m_kernel);
      if (srcWidth / 2 >= 1 && dstWidth / 2 >= 1) {
        m_chromaTable = BuildFilterTable(srcWidth / 2, dstWidth / 2, m_kernel);
      }
      m_scratch.resize(static_cast<std::size_t>(srcWidth) * 2 + 32);
    }
    if (srcHeight != dstHeight) {
      m_verticalTable = BuildFilterTable(srcHeight, dstHeight, m_kernel);
      if (srcWidth != dstWidth) {
        m_intermediate.resize(static_cast<std::size_t>(dstWidth) * 2 * static_cast<std::size_t>(srcHeight));
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  m_srcWidth = srcWidth;
  m_srcHeight = srcHeight;
  m_dstWidth = dstWidth;
  m_dstHeight = dstHeight;
  m_builtB = m_kernel.b;
  m_builtC = m_kernel.c;
  ++m_buildCount;
  return true;
}

bool CBicubicScaler::Scale(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst, int dstWidth,
                           int dstHeight) {
  if (src == nullptr || dst == nullptr || srcWidth < 1 || srcHeight < 1 || dstWidth < 1 || dstHeight < 1) {
    return false;
  }
  const std::ptrdiff_t srcStride = static_cast<std::ptrdiff_t>(srcWidth) * 2;
  const std::ptrdiff_t dstStride = static_cast<std::ptrdiff_t>(dstWidth) * 2;
  if (srcWidth == dstWidth && srcHeight == dstHeight) {
    std::memcpy(dst, src, static_cast<std::size_t>(srcStride) * static_cast<std::size_t>(srcHeight));
    return true;
  }
  if (!Prepare(srcWidth, srcHeight, dstWidth, dstHeight)) {
    return false;
  }
  if (srcHeight == dstHeight) {
    m_kernels->horizontal(src, srcStride, dst, dstStride, srcHeight, m_lumaTable, m_chromaTable, m_scratch.data());
    return true;
  }
  const std::uint8_t* verticalSource = src;
  std::ptrdiff_t verticalStride = srcStride;
  if (srcWidth != dstWidth) {
    m_kernels->horizontal(src, srcStride, m_intermediate.data(), dstStride, srcHeight, m_lumaTable, m_chromaTable,
                          m_scratch.data());
    verticalSource = m_intermediate.data();
    verticalStride = dstStride;
  }
  m_kernels->vertical(verticalSource, verticalStride, dst, dstStride, static_cast<int>(dstStride), m_verticalTable);
  return true;
}

}  // namespace halvard::hdsimulation
