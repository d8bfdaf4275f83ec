#pragma once
/// Image detail enhancement: pixel kernels and the frame operation built from them.
///
/// Level 1 squeezes the large-scale contrast of the luma on the coarse band of a
/// two-level reversible 9/7-M integer wavelet transform; level 2 and above add a damped
/// histogram equalisation. Only luma changes: YUY2 chroma bytes are carried through, RGB24
/// pictures go through a 4:2:0 YCbCr round trip. All arithmetic is integer and exact;
/// every kernel is a pure function of its buffers.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace halvard::splitter {

enum class ColourFormat : int { Yuy2 = 0, Rgb24 = 1 };

// ---- colour conversion ------------------------------------------------------------

/// RGB24 (bytes B, G, R; `stride` bytes per stored row) to full-range BT.601 YCbCr with
/// 15-bit weights. luma: width x height bytes in stored row order. cb, cr: (width / 2) x
/// (height / 2) bytes; the first row of each stored row pair gives the chroma, the mean
/// of two horizontal neighbours. width and height must be even.
void RgbToYcc420(const std::uint8_t* rgb, std::ptrdiff_t stride, int width, int height, std::uint8_t* luma,
                 std::uint8_t* cb, std::uint8_t* cr);

/// Lookup tables of the back conversion, colour contributions in units of 1/128.
struct YccToRgbTables {
  std::array<std::int16_t, 256> cbToBlue{};
  std::array<std::int16_t, 256> cbToGreen{};
  std::array<std::int16_t, 256> crToGreen{};
  std::array<std::int16_t, 256> crToRed{};
};
[[nodiscard]] const YccToRgbTables& BackConversionTables();

/// The inverse of RgbToYcc420: each 2 x 2 block of pixels takes its block's Cb and Cr;
/// channel = Y + ((cbTerm + crTerm + 64) >> 7), clamped to 0..255.
void YccToRgb420(const std::uint8_t* luma, const std::uint8_t* cb, const std::uint8_t* cr, int width, int height,
                 std::uint8_t* rgb, std::ptrdiff_t stride);

// ---- wavelet transform ------------------------------------------------------------

/// Forward 9/7-M lifting of one line of even length n >= 4 with whole-sample symmetric
/// extension: low-pass outputs to out[0 .. n/2), high-pass to out[n/2 .. n).
void LiftForwardLine(const std::uint8_t* in, std::int16_t* out, int n);
void LiftForwardLine(const std::int16_t* in, std::int16_t* out, int n);
/// Inverse of LiftForwardLine (`in` and `out` must not overlap).
void LiftInverseLine(const std::int16_t* in, std::int16_t* out, int n);

/// Vertical lifting of a width x height block (height even, >= 4), whole rows at a time:
/// forward puts the low-pass rows in the top half of `out`, the high-pass rows below.
void LiftForwardColumns(const std::int16_t* in, std::ptrdiff_t inStride, std::int16_t* out, std::ptrdiff_t outStride,
                        int width, int height);
void LiftInverseColumns(const std::int16_t* in, std::ptrdiff_t inStride, std::int16_t* out, std::ptrdiff_t outStride,
                        int width, int height);

/// Contrast compression of the coarse band: v -> 127 + m(v - 127), where m is the
/// identity on -48..48 and has slope 2/3 outside (divisions truncate toward zero).
[[nodiscard]] int CompressCoarse(int value);
void CompressCoarseBand(std::int16_t* band, std::ptrdiff_t stride, int width, int height);

/// Whether the transform handles a picture: both sides divisible by 4 and the level-2
/// lines at least 8 samples long.
[[nodiscard]] bool TransformSupports(int width, int height);

// ---- histogram equalisation ---------------------------------------------------------

/// The tone curve T: doubles the darkest tones, then rises with a slope of about 0.9.
[[nodiscard]] const std::array<std::uint8_t, 256>& ToneCurve();

/// Damped histogram equalisation of `count` luma bytes in place (black pixels are left
/// out of the distribution; each value becomes one fifth equalised, four fifths itself).
void EqualiseHistogram(std::uint8_t* luma, std::size_t count);

// ---- the frame operation ------------------------------------------------------------

/// Working buffers of one picture size; allocation may fail (Valid() is then false).
class CEnhancementBuffers {
 public:
  CEnhancementBuffers() = default;
  /// Allocates for width x height; leaves the object invalid when the size is not
  /// supported by the transform or the memory cannot be had.
  CEnhancementBuffers(int width, int height);

  [[nodiscard]] bool Valid() const { return m_valid; }
  [[nodiscard]] int Width() const { return m_width; }
  [[nodiscard]] int Height() const { return m_height; }

 private:
  friend void EnhanceFrame(std::uint8_t*, std::ptrdiff_t, int, int, ColourFormat, int, CEnhancementBuffers&);
  int m_width = 0;
  int m_height = 0;
  bool m_valid = false;
  std::unique_ptr<std::uint8_t[]> m_luma;
  std::unique_ptr<std::uint8_t[]> m_cb;
  std::unique_ptr<std::uint8_t[]> m_cr;
  std::unique_ptr<std::int16_t[]> m_planeA;
  std::unique_ptr<std::int16_t[]> m_planeB;
};

/// Enhances one frame in place (level 1: coarse-band compression; 2 or more: also the
/// histogram equalisation; 0 or less: nothing). Skipped, leaving the frame untouched, when
/// the buffers are invalid or were made for another size.
void EnhanceFrame(std::uint8_t* frame, std::ptrdiff_t stride, int width, int height, ColourFormat format, int level,
                  CEnhancementBuffers& buffers);

}  // namespace halvard::splitter
