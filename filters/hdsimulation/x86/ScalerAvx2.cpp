// The AVX2 vertical pass of the scaler: the SSE2 pass on 32 bytes at a time, the same
// sums, shifts and saturating packs. Compiled for AVX2 by its attribute only, so that
// nothing else in the library uses instructions the processor may lack.

#include <immintrin.h>

#include "filters/hdsimulation/x86/ScalerX86.h"

namespace halvard::hdsimulation::x86 {

__attribute__((target("avx2"))) void VerticalPassAvx2(const std::uint8_t* src, std::ptrdiff_t srcStride,
                                                      std::uint8_t* dst, std::ptrdiff_t dstStride, int rowBytes,
                                                      const FilterTable& table) {
  const int taps = table.taps;
  // Weights that do not fit 16 bits, or more taps than row pointers: portable rows.
  const int vectorBytes = table.packed.empty() || taps > kMaxVectorTaps ? 0 : rowBytes;
  const __m256i zero = _mm256_setzero_si256();
  const std::uint8_t* rows[kMaxVectorTaps];
  for (int r = 0; r < table.destSize; ++r) {
    const std::int16_t* w = vectorBytes > 0 ? table.packed.data() + static_cast<std::size_t>(r) * taps : nullptr;
    std::uint8_t* d = dst + r * dstStride;
    const std::uint8_t* base = src + table.first[static_cast<std::size_t>(r)] * srcStride;
    int x = 0;
    for (int j = 0; j < taps && vectorBytes > 0; ++j) {
      rows[j] = base + j * srcStride;
    }
    for (; x + 32 <= vectorBytes; x += 32) {
      __m256i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
      for (int j = 0; j < taps; j += 2) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[j] + x));
        const __m256i b =
            j + 1 < taps ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[j + 1] + x)) : zero;
        const __m256i wab = _mm256_set1_epi32(WeightPair(w[j], j + 1 < taps ? w[j + 1] : 0));
        const __m256i lo = _mm256_unpacklo_epi8(a, b);
        const __m256i hi = _mm256_unpackhi_epi8(a, b);
        acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), wab));
        acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), wab));
        acc2 = _mm256_add_epi32(acc2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), wab));
        acc3 = _mm256_add_epi32(acc3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), wab));
      }
      // The packs work within 128-bit lanes exactly as the unpacks did, so the bytes
      // come back in their original order.
      const __m256i p01 = _mm256_packs_epi32(_mm256_srai_epi32(acc0, 14), _mm256_srai_epi32(acc1, 14));
      const __m256i p23 = _mm256_packs_epi32(_mm256_srai_epi32(acc2, 14), _mm256_srai_epi32(acc3, 14));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm256_packus_epi16(p01, p23));
    }
    detail::VerticalRowReference(base, srcStride, table.weights.data() + static_cast<std::size_t>(r) * taps, taps, d,
                                 x, rowBytes);
  }
}

}  // namespace halvard::hdsimulation::x86
