#pragma once
/// Bicubic resampling of YUY2 pictures: the kernel, the integer filter tables and the
/// horizontal and vertical passes (portable reference kernels and SIMD versions that give
/// the same bytes), and the scaler that caches its tables per geometry.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace halvard::hdsimulation {

/// The Mitchell-Netravali cubic family with support 2.
struct CubicKernel {
  double b = 0.0;
  double c = 1.0;
  [[nodiscard]] static constexpr double Support() { return 2.0; }
  [[nodiscard]] double operator()(double x) const;
};

/// For every destination sample: the first source sample and `taps` weights in units of
/// 1/16384 that add up to exactly 16384.
struct FilterTable {
  int sourceSize = 0;
  int destSize = 0;
  int taps = 0;
  std::vector<int> first;
  std::vector<std::int32_t> weights;  // destSize x taps
  std::vector<std::int16_t> packed;   // the same weights as int16 when they all fit (for SIMD)
};

/// Builds the table for S source samples scaled to D destination samples, pixel centres
/// aligned; enlarging uses the kernel as it is, shrinking widens it by S / D. When the
/// source is shorter than the kernel's window the window is the whole source. Both sizes
/// must be at least 1.
[[nodiscard]] FilterTable BuildFilterTable(int sourceSize, int destSize, const CubicKernel& kernel);

/// Which instruction set the passes use.
enum class SimdLevel { None, Sse2, Avx2 };
/// The best level the processor offers (found once per process).
[[nodiscard]] SimdLevel DetectSimdLevel();

/// One implementation of the two passes (arguments as HorizontalPass and VerticalPass
/// below). Every entry gives the same bytes as the portable one for every table; a shape
/// its vectors do not cover goes through the portable row loops.
struct ScalerKernels {
  const char* name = "c";
  SimdLevel level = SimdLevel::None;
  void (*horizontal)(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                     int rows, const FilterTable& luma, const FilterTable& chroma, std::int16_t* scratch) = nullptr;
  void (*vertical)(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                   int rowBytes, const FilterTable& table) = nullptr;
};

/// Every entry this processor can run, the portable one first, then by rising level.
/// Built once per process on first use (thread-safe); the entries live as long as it.
[[nodiscard]] const std::vector<ScalerKernels>& ScalerKernelTable();
/// The entry of the highest level at or below `level` that this processor runs.
[[nodiscard]] const ScalerKernels& ScalerKernelsFor(SimdLevel level);

/// Horizontal pass over `rows` YUY2 rows: luma through `luma` (source width -> destination
/// width), U and V through `chroma` (half widths), each sum rounded (+8192, >> 14) and
/// clamped. An odd destination width's last pixel takes the last pair's U. `scratch`
/// holds at least 2 x source width + 32 int16 values (used by the SIMD levels only).
void HorizontalPass(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                    int rows, const FilterTable& luma, const FilterTable& chroma, std::int16_t* scratch, SimdLevel level);

/// Vertical pass: every byte of a row (rowBytes per row) through `table` (source rows ->
/// destination rows), each sum truncated (>> 14) and clamped (negative sums give 0).
void VerticalPass(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                  int rowBytes, const FilterTable& table, SimdLevel level);

/// Scales YUY2 pictures (rows without gaps: width x 2 bytes), top row to top row, caching
/// its tables and intermediate picture until the geometry or the kernel changes. Used by
/// one thread at a time.
class CBicubicScaler {
 public:
  /// With the passes of ScalerKernelsFor(level), chosen here once.
  explicit CBicubicScaler(SimdLevel level = DetectSimdLevel()) : m_kernels(&ScalerKernelsFor(level)) {}
  /// With one entry of ScalerKernelTable() (benchmarks and tests compare them).
  explicit CBicubicScaler(const ScalerKernels& kernels) : m_kernels(&kernels) {}

  void SetKernel(const CubicKernel& kernel) { m_kernel = kernel; }

  /// Scales src (srcWidth x srcHeight) into dst (dstWidth x dstHeight). Returns false,
  /// writing nothing, for sizes below 1 or when the tables cannot be allocated.
  [[nodiscard]] bool Scale(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst, int dstWidth,
                           int dstHeight);

  /// How many times the tables were built (once per geometry).
  [[nodiscard]] int BuildCount() const { return m_buildCount; }

 private:
  bool Prepare(int srcWidth, int srcHeight, int dstWidth, int dstHeight);

  const ScalerKernels* m_kernels;  // an entry of ScalerKernelTable(), never null
  CubicKernel m_kernel;
  int m_srcWidth = -1;
  int m_srcHeight = -1;
  int m_dstWidth = -1;
  int m_dstHeight = -1;
  double m_builtB = -1;
  double m_builtC = -1;
  int m_buildCount = 0;
  FilterTable m_lumaTable;
  FilterTable m_chromaTable;
  FilterTable m_verticalTable;
  std::vector<std::uint8_t> m_intermediate;
  std::vector<std::int16_t> m_scratch;
};

namespace detail {
// The portable rows. Both also finish the rows the vector loops leave: the horizontal one
// from pixel `fromPixel`, the vertical one from byte `fromByte` of one destination row
// whose taps start at `base` (weights: `taps` values of 1/16384).
void HorizontalRowReference(const std::uint8_t* src, std::uint8_t* dst, const FilterTable& luma,
                            const FilterTable& chroma, int fromPixel);
void VerticalRowReference(const std::uint8_t* base, std::ptrdiff_t srcStride, const std::int32_t* weights, int taps,
                          std::uint8_t* dst, int fromByte, int rowBytes);
}  // namespace detail

}  // namespace halvard::hdsimulation
