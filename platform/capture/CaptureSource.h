#pragma once
/// The video capture source filter that the device enumerator binds for a video-input
/// device: one output pin "Capture" (category PIN_CATEGORY_CAPTURE) delivering YUY2 or
/// RGB24 pictures at one of the four capture sizes, at the analogue standard's frame rate.
///
/// Interfaces:
///   filter: IBaseFilter, ISpecifyPropertyPages (one page: CLSID_CaptureDeviceControlsPage,
///           which shows ICaptureDeviceControls), ICaptureDeviceControls, IFrameCounter,
///           IAMAnalogVideoDecoder (the pin's);
///   pin:    IPin, IAMStreamConfig, IAMAnalogVideoDecoder, IKsPropertySet (category).
///
/// Three backends: the simulated multiplexing card (CSimulatedCard, paced by the clock of
/// the machine), a V4L2 device, and a network camera (CNetworkReader, NetworkSource.h).
/// A network camera's pin also offers the camera's own size (seen when the source is
/// created, which opens the camera for at most 1.5 s) in YUY2 and RGB24 after the eight
/// formats; its pictures are stamped with the stream time at which they were taken, and
/// a camera that goes away posts kEventNetworkCameraOffline (NetworkCamera.h) instead
/// of ending the stream. With a V4L2 card of the BT878 family the source also
/// multiplexes: with more than one enabled input and video source 4 it switches the
/// device input after every frame, drops the first frame after a switch (the decoder
/// needs it to lock), and writes the input number into the first byte.
///
/// Format changes (IAMStreamConfig::SetFormat) are accepted while the pin is
/// unconnected, or connected and the peer accepts the new type (QueryAccept), then the
/// pin reconnects; always only while stopped.
///
/// Threads: the streaming thread of CSourceStream produces frames; every interface
/// method may be called from any thread and takes the filter lock, which the streaming
/// thread never takes (Stop holds it while it waits for that thread to end).

#include <string>

#include "platform/capture/CaptureDevices.h"
#include "platform/media/FrameCounter.h"
#include "platform/media/Interfaces.h"

// {0AD6A778-E6CB-4B0E-A66E-80FD1ADCDCF3}
HALVARD_DEFINE_GUID(IID_ICaptureDeviceControls, 0x0AD6A778, 0xE6CB, 0x4B0E, 0xA6, 0x6E, 0x80, 0xFD, 0x1A, 0xDC, 0xDC,
                    0xF3);
/// The property page that lists a capture device's own controls.
// {4204BB83-C287-44C2-9046-C5B08A665EAA}
HALVARD_DEFINE_GUID(CLSID_CaptureDeviceControlsPage, 0x4204BB83, 0xC287, 0x44C2, 0x90, 0x46, 0xC5, 0xB0, 0x8A, 0x66,
                    0x5E, 0xAA);
/// A capture source on simulated card 0, whatever $HALVARD_SIMULATED_CARDS says:
/// creatable by class identifier so that tools and the conformance checks reach it.
// {641EF458-E2AE-4B02-B183-252B6284EEBF}
HALVARD_DEFINE_GUID(CLSID_HalvardSimulatedCapture, 0x641EF458, 0xE2AE, 0x4B02, 0xB1, 0x83, 0x25, 0x2B, 0x62, 0x84,
                    0xEE, 0xBF);

/// One control of a capture device.
struct CAPTURE_DEVICE_CONTROL {
  WCHAR name[64];
  LONG minimum;
  LONG maximum;
  LONG step;
  LONG defaultValue;
  LONG value;
};

/// The device's own controls: what its property page shows and changes.
struct ICaptureDeviceControls : IUnknown {
  /// E_POINTER.
  virtual HRESULT GetControlCount(LONG* count) = 0;
  /// E_POINTER; E_INVALIDARG for an index outside 0 ... count - 1.
  virtual HRESULT GetControl(LONG index, CAPTURE_DEVICE_CONTROL* control) = 0;
  /// E_INVALIDARG for a bad index or a value outside the control's range; E_FAIL when
  /// the device refuses it.
  virtual HRESULT SetControl(LONG index, LONG value) = 0;

 protected:
  ~ICaptureDeviceControls() = default;
};
template <>
inline constexpr const IID* kIidOf<ICaptureDeviceControls> = &IID_ICaptureDeviceControls;

namespace halvard::capture {

/// Creates the capture source of a device (riid on the filter). Results: S_OK;
/// VFW_E_NO_CAPTURE_HARDWARE (a simulated card beyond $HALVARD_SIMULATED_CARDS, a V4L2
/// node that does not open); E_OUTOFMEMORY; E_NOINTERFACE. A network camera is created
/// even when it cannot be reached: its failures are events of the running graph.
[[nodiscard]] HRESULT CreateCaptureSource(const CaptureDevice& device, REFIID riid, void** ppv);

/// Formats offered by the capture pin, in IAMStreamConfig order: the four sizes in
/// YUY2, then the four in RGB24 (a network camera adds its own size in both).
inline constexpr int kCaptureFormatCount = 8;

}  // namespace halvard::capture
