#pragma once
/// CMotionFilter: the in-place motion filter. Every sample passes unchanged; on the
/// streaming thread the filter compares block means of frame pairs and posts one
/// ID_MOTION_DETECTED command per motion episode to the notify window.
///
/// Threads and locks: Transform runs on the upstream streaming thread; GetParams and
/// SetParams on the server's thread. Both take the parameter lock, so a reconfiguration
/// while the graph runs takes effect between two samples. The message is posted, so the
/// streaming thread never waits for the window's thread. The picture layout is fixed when
/// the input connects (SetMediaType); frames the parameters do not describe post
/// kEventFrameFault once per kind, connection and configuration.

#include <array>

#include "filters/VideoFormat.h"
#include "filters/motion/MotionDetect.h"
#include "filters/motion/MotionDetector.h"
#include "platform/media/TransInPlace.h"

class CMotionFilter : public CTransInPlaceFilter, public IMotionDetect {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  CMotionFilter(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMotionDetect
  HRESULT GetParams(MotionParams* params) override;
  HRESULT SetParams(const MotionParams* params) override;

  /// Video, YUY2 with 16 bits or RGB24 with 24 bits per pixel; else VFW_E_TYPE_NOT_ACCEPTED.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  /// Keeps the input's picture layout; forgets the faults reported.
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
  /// Forgets the input's layout and the faults reported.
  HRESULT BreakConnect(PIN_DIRECTION direction) override;
  /// Analyses the sample (unless holding) and posts the motion message. Always S_OK: a
  /// frame that cannot be analysed passes on, the first of its kind posted as
  /// kEventFrameFault (the settings do not match the connection, or the sample is
  /// smaller than its picture).
  HRESULT Transform(IMediaSample* sample) override;
  using CTransInPlaceFilter::Transform;

  /// The notification state, for tests.
  [[nodiscard]] halvard::motion::NotifyState NotifyState();

 private:
  /// Whether the parameters describe the connected frames (fields 4, 5 and 8).
  bool GeometryMatchesConnection() const;
  void Report(FrameFault fault);

  halvard::filters::VideoFormat m_format;  // the input's, set while it is connected
  halvard::filters::CFrameFaultLog m_faults;
  CCritSec m_paramLock;
  halvard::motion::CMotionDetector m_detector;
  halvard::motion::CMotionNotifier m_notifier;
  HWND m_notifyWindow = 0;
  // All blocks watched until the server writes its area.
  std::array<BYTE, halvard::motion::kAreaBitmapBytes> m_area{};
};
