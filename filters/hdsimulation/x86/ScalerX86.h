#pragma once
// The scaler's x86 passes (built only for x86 processors). Internal to the kernels
// library: callers reach them through ScalerKernelTable().

#include <vector>

#include "filters/hdsimulation/BicubicScaler.h"

namespace halvard::hdsimulation::x86 {

/// Appends the entries this processor runs (SSE2, then AVX2), checked once by the caller.
void AddScalerKernels(std::vector<ScalerKernels>& table);

void HorizontalPassSse2(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                        int rows, const FilterTable& luma, const FilterTable& chroma, std::int16_t* scratch);
void HorizontalPassAvx2(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                        int rows, const FilterTable& luma, const FilterTable& chroma, std::int16_t* scratch);
void VerticalPassSse2(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                      int rowBytes, const FilterTable& table);
void VerticalPassAvx2(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                      int rowBytes, const FilterTable& table);

/// Splits a YUY2 row of `width` pixels into 16-bit Y, U and V planes (SSE2; the planes
/// hold at least width + 8 and width / 2 + 8 values).
void Deinterleave(const std::uint8_t* src, int width, std::int16_t* y, std::int16_t* u, std::int16_t* v);

/// Whether the vector horizontal passes take these tables: four taps (an enlargement or
/// a mild reduction), 16-bit weights and one chroma pair per two luma pixels. Other
/// tables go through the portable rows.
inline bool FourTapTables(const FilterTable& luma, const FilterTable& chroma) {
  return luma.taps == 4 && chroma.taps == 4 && !luma.packed.empty() && !chroma.packed.empty() &&
         chroma.destSize == luma.destSize / 2;
}

/// Largest number of taps the vector vertical passes keep row pointers for; longer
/// kernels take the portable rows.
inline constexpr int kMaxVectorTaps = 64;

/// Two int16 weights in one int32 lane, `a` in the low half (the pmaddwd operand order).
inline std::int32_t WeightPair(std::int16_t a, std::int16_t b) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(b)) << 16) |
                                   static_cast<std::uint16_t>(a));
}

}  // namespace halvard::hdsimulation::x86
