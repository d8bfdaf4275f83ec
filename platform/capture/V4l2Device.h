#pragma once
/// Video4Linux2 capture devices: enumeration of the capture nodes, and one open device
/// with its inputs, standards, controls and memory-mapped streaming. Every failure is a
/// result code; nothing here throws or aborts when a device is absent or misbehaves.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/capture/CaptureFormats.h"
#include "platform/com/Com.h"

namespace halvard::capture {

struct V4l2DeviceInfo {
  std::string node;      ///< "/dev/video0"
  std::string driver;    ///< "bttv"
  std::string card;      ///< the driver's name of the board
  std::string busInfo;   ///< "PCI:0000:03:00.0"
  std::vector<std::string> inputs;
  DWORD standards = 0;   ///< AnalogVideoStandard flags the device reports
};

/// Video capture nodes in the device folder ($HALVARD_V4L2_DIR, else /dev), in node
/// number order. Nodes that do not open or do not capture video are left out.
[[nodiscard]] std::vector<V4l2DeviceInfo> EnumerateV4l2Devices();

/// AnalogVideoStandard flags of a V4L2 standard set, and back.
[[nodiscard]] DWORD StandardsFromV4l2(std::uint64_t v4l2Std);
[[nodiscard]] std::uint64_t V4l2FromStandard(DWORD analogVideoStandard);

/// One of the device's own controls (the property pages show these).
struct V4l2Control {
  std::uint32_t id;
  std::string name;
  std::int32_t minimum;
  std::int32_t maximum;
  std::int32_t step;
  std::int32_t defaultValue;
  std::int32_t value;
};

/// An open V4L2 capture device. Not thread-safe: one streaming thread uses it.
class CV4l2Device {
 public:
  CV4l2Device() = default;
  ~CV4l2Device();
  CV4l2Device(const CV4l2Device&) = delete;
  CV4l2Device& operator=(const CV4l2Device&) = delete;

  /// Results: S_OK; VFW_E_NO_CAPTURE_HARDWARE (the node is missing, does not open or is
  /// not a video capture device).
  [[nodiscard]] HRESULT Open(const std::string& node);
  void Close();
  [[nodiscard]] bool IsOpen() const { return m_fd >= 0; }

  /// Pixel formats the device can deliver for our layouts (RGB24 is also offered when
  /// only YUYV exists: it is converted).
  [[nodiscard]] bool SupportsLayout(PixelLayout layout) const;
  /// Results: S_OK; VFW_E_NOT_STOPPED while streaming; VFW_E_INVALIDMEDIATYPE (the
  /// device refuses the size); E_UNEXPECTED (not open).
  [[nodiscard]] HRESULT SetFormat(FrameSize size, PixelLayout layout);
  [[nodiscard]] HRESULT SetStandard(DWORD analogVideoStandard);
  [[nodiscard]] DWORD Standards() const;
  [[nodiscard]] HRESULT SetInput(int input);
  [[nodiscard]] int InputCount() const;
  /// Sets the four picture controls, each scaled from 0 ... 10000 to the control's
  /// own range (a control the device lacks is skipped).
  void ApplyPictureControls(const PictureControls& controls);
  [[nodiscard]] std::vector<V4l2Control> Controls() const;
  /// Sets one control by its V4L2 identifier. false when the device refuses it.
  [[nodiscard]] bool SetControlValue(std::uint32_t id, std::int32_t value);

  /// Results: S_OK; E_UNEXPECTED (not open or no format); E_OUTOFMEMORY / E_FAIL
  /// (buffers refused).
  [[nodiscard]] HRESULT Start();
  void Stop();
  /// Waits up to timeoutMs for the next frame and writes it into dst in the layout set
  /// by SetFormat. Results: S_OK; S_FALSE (time-out); VFW_E_NOT_RUNNING; E_FAIL (the
  /// device failed, e.g. was unplugged); E_INVALIDARG (dst too small).
  [[nodiscard]] HRESULT ReadFrame(BYTE* dst, std::size_t dstBytes, int timeoutMs);

 private:
  int m_fd = -1;
  FrameSize m_size{0, 0};
  PixelLayout m_layout = PixelLayout::Yuy2;
  bool m_convertFromYuyv = false;
  bool m_streaming = false;
  struct Buffer {
    void* start;
    std::size_t length;
  };
  std::vector<Buffer> m_buffers;
  std::uint32_t m_bytesPerLine = 0;
};

}  // namespace halvard::capture
