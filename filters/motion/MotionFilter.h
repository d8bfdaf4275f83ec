#pragma once
/// CMotionFilter: the in-place motion filter. Every sample passes unchanged; on the
/// streaming thread the filter compares block means of frame pairs and posts one
/// ID_MOTION_DETECTED command per motion episode to the notify window.
///
/// Threads and locks: Transform runs on the upstream streaming thread; GetParams and
/// SetParams on the server's thread. Both take the parameter lock, so a reconfiguration
/// while the graph runs takes effect between two samples. The message is posted, so the
/// streaming thread never waits for the window's thread.

#include <array>

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
  /// Analyses the sample (unless holding) and posts the motion message. Always S_OK.
  HRESULT Transform(IMediaSample* sample) override;
  using CTransInPlaceFilter::Transform;

  /// The notification state, for tests.
  [[nodiscard]] halvard::motion::NotifyState NotifyState();

 private:
  /// Whether the parameters describe the connected frames (fields 4, 5 and 8).
  bool GeometryMatchesConnection();

  CCritSec m_paramLock;
  halvard::motion::CMotionDetector m_detector;
  halvard::motion::CMotionNotifier m_notifier;
  HWND m_notifyWindow = 0;
  // All blocks watched until the server writes its area.
  std::array<BYTE, halvard::motion::kAreaBitmapBytes> m_area{};
};
