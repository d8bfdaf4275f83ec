// SSE2 passes of the scaler. They compute exactly what the portable passes compute: the
// same 32-bit sums of 16-bit products (pmaddwd), the same rounding and shifts, and
// clamping through the saturating packs. What the vectors leave of a row goes through the
// portable row loops.

#include <emmintrin.h>

#include "filters/hdsimulation/x86/ScalerX86.h"

namespace halvard::hdsimulation::x86 {

namespace {

// [a0+a1, a2+a3, b0+b1, b2+b3] of two pmaddwd results of two destinations each.
inline __m128i AddPairs(__m128i a, __m128i b) {
  const __m128 fa = _mm_castsi128_ps(a);
  const __m128 fb = _mm_castsi128_ps(b);
  const __m128i evens = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m128i odds = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm_add_epi32(evens, odds);
}

inline __m128i LoadTaps(const std::int16_t* plane, int first0, int first1) {
  return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + first0)),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + first1)));
}

}  // namespace

void Deinterleave(const std::uint8_t* src, int width, std::int16_t* y, std::int16_t* u, std::int16_t* v) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  const __m128i lowWords = _mm_set1_epi32(0x0000FFFF);
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + x), _mm_and_si128(b, lowBytes));
    const __m128i c = _mm_srli_epi16(b, 8);  // u0 v0 u1 v1 u2 v2 u3 v3
    const __m128i uu = _mm_and_si128(c, lowWords);
    const __m128i vv = _mm_srli_epi32(c, 16);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(u + x / 2), _mm_packs_epi32(uu, uu));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(v + x / 2), _mm_packs_epi32(vv, vv));
  }
  const int firstPair = x / 2;
  for (; x < width; ++x) {
    y[x] = src[2 * x];
  }
  for (int p = firstPair; p < width / 2; ++p) {
    u[p] = src[4 * p + 1];
    v[p] = src[4 * p + 3];
  }
}

void HorizontalPassSse2(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst,
                        std::ptrdiff_t dstStride, int rows, const FilterTable& luma, const FilterTable& chroma,
                        std::int16_t* scratch) {
  // Only the four-tap tables of an enlargement (or a mild reduction) are vectorised.
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
  const __m128i rounding = _mm_set1_epi32(8192);

  for (int r = 0; r < rows; ++r) {
    const std::uint8_t* s = src + r * srcStride;
    std::uint8_t* d = dst + r * dstStride;
    if (!vectorised) {
      detail::HorizontalRowReference(s, d, luma, chroma, 0);
      continue;
    }
    Deinterleave(s, srcWidth, y, u, v);
    int i = 0;
    for (; i + 4 <= destWidth; i += 4) {
      const __m128i m01 = _mm_madd_epi16(LoadTaps(y, lumaFirst[i], lumaFirst[i + 1]),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(lumaWeights + 4 * i)));
      const __m128i m23 = _mm_madd_epi16(LoadTaps(y, lumaFirst[i + 2], lumaFirst[i + 3]),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(lumaWeights + 4 * i + 8)));
      const int p = i / 2;
      const __m128i cw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chromaWeights + 4 * p));
      const __m128i mu = _mm_madd_epi16(LoadTaps(u, chromaFirst[p], chromaFirst[p + 1]), cw);
      const __m128i mv = _mm_madd_epi16(LoadTaps(v, chromaFirst[p], chromaFirst[p + 1]), cw);
      const __m128i ySum = _mm_srai_epi32(_mm_add_epi32(AddPairs(m01, m23), rounding), 14);
      __m128i uvSum = AddPairs(mu, mv);                                     // u0 u1 v0 v1
      uvSum = _mm_shuffle_epi32(uvSum, _MM_SHUFFLE(3, 1, 2, 0));            // u0 v0 u1 v1
      uvSum = _mm_srai_epi32(_mm_add_epi32(uvSum, rounding), 14);
      const __m128i words = _mm_packs_epi32(ySum, uvSum);                   // y0 y1 y2 y3 u0 v0 u1 v1
      const __m128i ordered = _mm_unpacklo_epi16(words, _mm_srli_si128(words, 8));  // y0 u0 y1 v0 ...
      _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 2 * i), _mm_packus_epi16(ordered, ordered));
    }
    detail::HorizontalRowReference(s, d, luma, chroma, i);
  }
}

void VerticalPassSse2(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                      int rowBytes, const FilterTable& table) {
  const int taps = table.taps;
  // Weights that do not fit 16 bits, or more taps than row pointers: portable rows.
  const int vectorBytes = table.packed.empty() || taps > kMaxVectorTaps ? 0 : rowBytes;
  const __m128i zero = _mm_setzero_si128();
  const std::uint8_t* rows[kMaxVectorTaps];
  for (int r = 0; r < table.destSize; ++r) {
    const std::int16_t* w = vectorBytes > 0 ? table.packed.data() + static_cast<std::size_t>(r) * taps : nullptr;
    std::uint8_t* d = dst + r * dstStride;
    const std::uint8_t* base = src + table.first[static_cast<std::size_t>(r)] * srcStride;
    int x = 0;
    for (int j = 0; j < taps && vectorBytes > 0; ++j) {
      rows[j] = base + j * srcStride;
    }
    for (; x + 16 <= vectorBytes; x += 16) {
      __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
      int j = 0;
      for (; j < taps; j += 2) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j] + x));
        const __m128i b = j + 1 < taps ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j + 1] + x)) : zero;
        const __m128i wab = _mm_set1_epi32(WeightPair(w[j], j + 1 < taps ? w[j + 1] : 0));
        const __m128i lo = _mm_unpacklo_epi8(a, b);
        const __m128i hi = _mm_unpackhi_epi8(a, b);
        acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), wab));
        acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), wab));
        acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), wab));
        acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), wab));
      }
      const __m128i p01 = _mm_packs_epi32(_mm_srai_epi32(acc0, 14), _mm_srai_epi32(acc1, 14));
      const __m128i p23 = _mm_packs_epi32(_mm_srai_epi32(acc2, 14), _mm_srai_epi32(acc3, 14));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_packus_epi16(p01, p23));
    }
    detail::VerticalRowReference(base, srcStride, table.weights.data() + static_cast<std::size_t>(r) * taps, taps, d,
                                 x, rowBytes);
  }
}

}  // namespace halvard::hdsimulation::x86
