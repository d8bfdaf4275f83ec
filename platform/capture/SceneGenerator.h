#pragma once
/// Synthetic camera pictures for the simulated capture card. Every camera (card x 4 +
/// input) has a scene of its own: a still background, one object that moves only while
/// motion is on for that input, a running clock in the top-right corner (inside the
/// 16 rows the motion detector leaves out), a camera label at the bottom left and a
/// faint sensor noise. The card's picture controls are applied to the result and the
/// channel number is written into the first byte of the buffer.
///
/// The output depends on nothing but the request: the same request gives the same
/// bytes, which is what lets tests and golden checksums rely on it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/capture/CaptureFormats.h"

namespace halvard::capture {

struct SceneRequest {
  int camera = 0;                   ///< card x 4 + input; picks the scene and its colours
  FrameSize size{320, 240};
  PixelLayout layout = PixelLayout::Yuy2;
  std::uint64_t frameNumber = 0;    ///< seeds the sensor noise
  std::uint32_t motionStep = 0;     ///< where the moving object is on its path
  std::uint32_t clockSeconds = 0;   ///< time of day shown by the clock, seconds since midnight
  PictureControls controls{};
  BYTE channelByte = 0;             ///< written into byte 0 of the buffer
};

/// Renders scene pictures. Keeps the background of the last camera and size so that a
/// stream does not redraw it for every frame. Not thread-safe: one per stream.
class CSceneGenerator {
 public:
  /// Writes one picture of FrameBytes(layout, size) bytes into dst. Returns false (and
  /// writes nothing) when dstBytes is too small or the size is not positive and even.
  [[nodiscard]] bool Render(const SceneRequest& request, BYTE* dst, std::size_t dstBytes);

  /// Where the moving object's top-left corner is (in display orientation) for a step.
  struct Point {
    LONG x;
    LONG y;
  };
  [[nodiscard]] static Point ObjectPosition(int camera, FrameSize size, std::uint32_t motionStep);

 private:
  void BuildBackground(int camera, FrameSize size);

  int m_camera = -1;
  FrameSize m_size{0, 0};
  std::vector<BYTE> m_y;  // full-resolution Y, U, V planes of the background
  std::vector<BYTE> m_u;
  std::vector<BYTE> m_v;
};

/// Pixel kernel: applies picture controls to one YUV sample triple in place.
/// Brightness shifts luma by up to +-128, contrast scales it around 128 by 0 ... 2,
/// saturation scales chroma by 0 ... 2, hue rotates chroma by up to +-180 degrees.
/// Automatic gain (agc) lifts the luma of a dark picture a little, as a card would.
struct ControlMatrix {
  int lumaGain;    // 12-bit fixed point
  int lumaOffset;
  int m00, m01, m10, m11;  // chroma rotation x saturation, 12-bit fixed point
};
[[nodiscard]] ControlMatrix MakeControlMatrix(const PictureControls& controls);
void ApplyControls(const ControlMatrix& m, int& y, int& u, int& v);

/// BT.601 conversions used by the generator and the V4L2 fallback conversion.
void RgbToYuv(int r, int g, int b, int& y, int& u, int& v);
void YuvToRgb(int y, int u, int v, int& r, int& g, int& b);

/// Converts a packed YUY2 picture (top-down, stride width x 2) into an RGB24 DIB
/// (bottom-up, stride FrameStride(Rgb24, width)).
void Yuy2ToRgb24Dib(const BYTE* src, LONG srcStride, LONG width, LONG height, BYTE* dst, LONG dstStride);

}  // namespace halvard::capture
