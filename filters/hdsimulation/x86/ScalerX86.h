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
void VerticalPassSse2(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                      int rowBytes, const FilterTable& table);
void VerticalPassAvx2(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                      int rowBytes, const FilterTable& table);

/// Largest number of taps the vector vertical passes keep row pointers for; longer
/// kernels take the portable rows.
inline constexpr int kMaxVectorTaps = 64;

/// Two int16 weights in one int32 lane, `a` in the low half (the pmaddwd operand order).
inline std::int32_t WeightPair(std::int16_t a, std::int16_t b) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(b)) << 16) |
                                   static_cast<std::uint16_t>(a));
}

}  // namespace halvard::hdsimulation::x86
