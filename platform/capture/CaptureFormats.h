#pragma once
/// Picture formats the capture devices deliver: the four capture sizes, the two pixel
/// layouts, the analogue standards with their frame rates, and the picture controls
/// of the card library. Plain data shared by the simulated card, the V4L2 backend and
/// the capture source filter.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/base/WinTypes.h"

namespace halvard::capture {

/// Pixel layout of a capture buffer.
/// Yuy2: packed 4:2:2, Y0 U Y1 V, rows top-down, stride = width x 2.
/// Rgb24: B G R per pixel, rows bottom-up (a DIB), stride = width x 3 rounded up to 4.
enum class PixelLayout { Yuy2, Rgb24 };

struct FrameSize {
  LONG width;
  LONG height;
  friend bool operator==(const FrameSize&, const FrameSize&) = default;
};

/// The sizes a capture card is asked for, in the order of the capture-size setting.
inline constexpr FrameSize kCaptureSizes[] = {{320, 240}, {640, 240}, {640, 288}, {640, 480}};

/// Whether the size is one of kCaptureSizes.
[[nodiscard]] bool IsCaptureSize(FrameSize size);

/// Bytes per row of a buffer (DIB rule: rounded up to a multiple of 4).
[[nodiscard]] LONG FrameStride(PixelLayout layout, LONG width);
/// Bytes of one frame.
[[nodiscard]] std::size_t FrameBytes(PixelLayout layout, FrameSize size);

/// AnalogVideoStandard flags of the capture framework.
inline constexpr DWORD kStandardNtscM = 0x00000001;
inline constexpr DWORD kStandardNtscMJ = 0x00000002;
inline constexpr DWORD kStandardNtsc433 = 0x00000004;
inline constexpr DWORD kStandardPalB = 0x00000010;
inline constexpr DWORD kStandardPalD = 0x00000020;
inline constexpr DWORD kStandardPalG = 0x00000040;
inline constexpr DWORD kStandardPalH = 0x00000080;
inline constexpr DWORD kStandardPalI = 0x00000100;
inline constexpr DWORD kStandardPalM = 0x00000200;
inline constexpr DWORD kStandardPalN = 0x00000400;
inline constexpr DWORD kStandardPal60 = 0x00000800;
inline constexpr DWORD kStandardSecamB = 0x00001000;
inline constexpr DWORD kStandardSecamD = 0x00002000;
inline constexpr DWORD kStandardSecamG = 0x00004000;
inline constexpr DWORD kStandardSecamH = 0x00008000;
inline constexpr DWORD kStandardSecamK = 0x00010000;
inline constexpr DWORD kStandardSecamK1 = 0x00020000;
inline constexpr DWORD kStandardSecamL = 0x00040000;
inline constexpr DWORD kStandardSecamL1 = 0x00080000;
inline constexpr DWORD kStandardPalNCombo = 0x00100000;

/// Every standard the simulated card reports (the eight of the capture-format dialog
/// and their close relatives).
inline constexpr DWORD kSimulatedStandards = kStandardNtscM | kStandardNtscMJ | kStandardPalB | kStandardPalD |
                                             kStandardPalG | kStandardPalH | kStandardPalI | kStandardSecamB |
                                             kStandardSecamD | kStandardSecamG | kStandardSecamK |
                                             kStandardSecamL;

/// A frame rate as a fraction.
struct FrameRate {
  DWORD numerator;
  DWORD denominator;
};

/// Frame rate of a standard: 30000/1001 for the 525-line standards (NTSC M, NTSC J,
/// NTSC 4.43, PAL M, PAL 60), 25 for every other. A mask with several flags takes the
/// lowest one.
[[nodiscard]] FrameRate StandardFrameRate(DWORD analogVideoStandard);
/// Frame duration in 100-ns units (333667 for NTSC, 400000 for PAL/SECAM).
[[nodiscard]] REFERENCE_TIME StandardFrameDuration(DWORD analogVideoStandard);

/// Picture controls of one input, as the card library takes them: 0 ... 10000, 5000
/// is neutral. Values above 10000 are treated as 10000.
struct PictureControls {
  DWORD brightness = 5000;
  DWORD contrast = 5000;
  DWORD saturation = 5000;
  DWORD hue = 5000;
  bool agc = false;
  friend bool operator==(const PictureControls&, const PictureControls&) = default;
};
inline constexpr DWORD kControlMax = 10000;
inline constexpr DWORD kControlNeutral = 5000;

/// Number of inputs of a multiplexing card.
inline constexpr int kCardInputs = 4;
/// PV_SetVideoSource value that multiplexes every enabled input.
inline constexpr int kMultiplexSource = 4;

}  // namespace halvard::capture
