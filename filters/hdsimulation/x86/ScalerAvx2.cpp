// The AVX2 passes of the scaler: the SSE2 passes on twice the width (eight destination
// pixels, 32 bytes of a row), the same sums, shifts and saturating packs. Compiled for
// AVX2 by their attributes only, so that nothing else in the library uses instructions
// the processor may lack.

#include <immintrin.h>

#include "filters/hdsimulation/x86/ScalerX86.h"

namespace halvard::hdsimulation::x86 {

namespace {

// Within each 128-bit lane: [a0+a1, a2+a3, b0+b1, b2+b3] of two pmaddwd results.
__attribute__((target("avx2"))) inline __m256i AddPairs(__m256i a, __m256i b) {
  const __m256 fa = _mm256_castsi256_ps(a);
  const __m256 fb = _mm256_castsi256_ps(b);
  const __m256i evens = _mm256_castps_si256(_mm256_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m256i odds = _mm256_castps_si256(_mm256_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm256_add_epi32(evens, odds);
}

// Four taps of each of four destinations: first0 and first1 in the low lane, first2 and
// first3 in the high lane.
__attribute__((target("avx2"))) inline __m256i LoadTaps(const std::int16_t* plane, int first0, int first1, int first2,
                                                        int first3) {
  const __m128i low = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + first0)),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + first1)));
  const __m128i high = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + first2)),
                                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + first3)));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// The weights of destinations (d, d + 1) in the low lane and (d + 4, d + 5) in the high one.
__attribute__((target("avx2"))) inline __m256i LoadWeights(const std::int16_t* weights, int d) {
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 4 * d));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 4 * (d + 4)));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

}  // namespace

__attribute__((target("avx2"))) void HorizontalPassAvx2(const std::uint8_t* src, std::ptrdiff_t srcStride,
                                                        std::uint8_t* dst, std::ptrdiff_t dstStride, int rows,
                                                        const FilterTable& luma, const FilterTable& chroma,
                                                        std::int16_t* scratch) {
  const bool vectorised = FourTapTables(luma, chroma);
  const int srcWidth = luma.sourceSize;
  const int destWidth = luma.destSize;
  std::int16_t* y = scratch;
  std::int16_t* u = scratch + srcWidth + 8;
  std::int16_t* v = u + srcWidth / 2 + 8;
  const std::int16_t* lumaWeights = luma.packed.data();
  const std::int16_t* chromaWeights = chroma.packed.data();
  const int* lumaFirst = luma.first.data();
  const int* chromaFirst = chroma.first.data();
  const __m256i rounding = _mm256_set1_epi32(8192);

  for (int r = 0; r < rows; ++r) {
    const std::uint8_t* s = src + r * srcStride;
    std::uint8_t* d = dst + r * dstStride;
    if (!vectorised) {
      detail::HorizontalRowReference(s, d, luma, chroma, 0);
      continue;
    }
    Deinterleave(s, srcWidth, y, u, v);
    int i = 0;
    // Eight destination pixels: 0..3 in the low lanes, 4..7 in the high ones.
    for (; i + 8 <= destWidth; i += 8) {
      const __m256i m01 = _mm256_madd_epi16(
          LoadTaps(y, lumaFirst[i], lumaFirst[i + 1], lumaFirst[i + 4], lumaFirst[i + 5]), LoadWeights(lumaWeights, i));
      const __m256i m23 = _mm256_madd_epi16(
          LoadTaps(y, lumaFirst[i + 2], lumaFirst[i + 3], lumaFirst[i + 6], lumaFirst[i + 7]),
          LoadWeights(lumaWeights, i + 2));
      const int p = i / 2;
      const __m256i cw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chromaWeights + 4 * p));
      const __m256i mu = _mm256_madd_epi16(
          LoadTaps(u, chromaFirst[p], chromaFirst[p + 1], chromaFirst[p + 2], chromaFirst[p + 3]), cw);
      const __m256i mv = _mm256_madd_epi16(
          LoadTaps(v, chromaFirst[p], chromaFirst[p + 1], chromaFirst[p + 2], chromaFirst[p + 3]), cw);
      const __m256i ySum = _mm256_srai_epi32(_mm256_add_epi32(AddPairs(m01, m23), rounding), 14);
      __m256i uvSum = AddPairs(mu, mv);                             // u0 u1 v0 v1 | u2 u3 v2 v3
      uvSum = _mm256_shuffle_epi32(uvSum, _MM_SHUFFLE(3, 1, 2, 0));  // u0 v0 u1 v1 | u2 v2 u3 v3
      uvSum = _mm256_srai_epi32(_mm256_add_epi32(uvSum, rounding), 14);
      const __m256i words = _mm256_packs_epi32(ySum, uvSum);  // y0..y3 u0 v0 u1 v1 | y4..y7 u2 v2 u3 v3
      const __m256i ordered = _mm256_unpacklo_epi16(words, _mm256_srli_si256(words, 8));
      const __m256i bytes = _mm256_packus_epi16(ordered, ordered);  // 8 bytes per lane, twice
      const __m256i joined = _mm256_permute4x64_epi64(bytes, _MM_SHUFFLE(2, 0, 2, 0));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * i), _mm256_castsi256_si128(joined));
    }
    detail::HorizontalRowReference(s, d, luma, chroma, i);
  }
}

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
