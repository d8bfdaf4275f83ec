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

/// Renders scene pictures. A frame costs little more than a copy of it: the scene of
/// each camera is drawn once per size, layout and picture controls (background, camera
/// label, controls applied) and kept; a frame then only adds the moving object, the
/// clock and the sensor noise. The noise comes from a fixed table, read at an offset
/// that the frame number, the camera and the row pick, and scaled to the controls'
/// contrast when the scene is drawn. Up to kCachedScenes scenes are kept (the four
/// inputs of a multiplexing card); the least recently used one makes room. Rendering a
/// frame of a kept scene allocates nothing.
///
/// Not thread-safe: one per stream.
class CSceneGenerator {
 public:
  static constexpr std::size_t kCachedScenes = 4;

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
  // One camera's scene at one size, layout and set of controls, ready to be copied.
  struct Scene {
    int camera = -1;
    FrameSize size{0, 0};
    PixelLayout layout = PixelLayout::Yuy2;
    PictureControls controls{};
    std::uint64_t lastUse = 0;
    std::vector<BYTE> background;  // the stored picture (layout, row order, padding) without object, clock, noise
    std::vector<BYTE> noisePlus;   // per byte of a row: what the noise adds ...
    std::vector<BYTE> noiseMinus;  // ... and takes away (never both); noise pixels x bytes per pixel
    BYTE object[3]{};              // YUY2: Y U V; RGB24: B G R, controls applied
    BYTE clockInk[3]{};
    BYTE clockBox[3]{};
  };

  Scene& SceneFor(const SceneRequest& request);
  static void BuildScene(Scene& scene);

  std::vector<Scene> m_scenes;
  std::uint64_t m_uses = 0;
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

/// Pixel kernel: dst[i] = src[i] + plus[i] - minus[i], held within 0 ... 255, for
/// `bytes` bytes (src may be dst). Each position has plus or minus zero, as the scene's
/// noise tables do.
void AddNoiseRow(const BYTE* src, const BYTE* plus, const BYTE* minus, BYTE* dst, std::size_t bytes);

/// BT.601 conversions used by the generator and the V4L2 fallback conversion.
void RgbToYuv(int r, int g, int b, int& y, int& u, int& v);
void YuvToRgb(int y, int u, int v, int& r, int& g, int& b);

/// Converts a packed YUY2 picture (top-down, stride width x 2) into an RGB24 DIB
/// (bottom-up, stride FrameStride(Rgb24, width)).
void Yuy2ToRgb24Dib(const BYTE* src, LONG srcStride, LONG width, LONG height, BYTE* dst, LONG dstStride);

}  // namespace halvard::capture
