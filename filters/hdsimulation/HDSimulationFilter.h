#pragma once
/// CHDSimulationFilter: enlarges (or shrinks) YUY2 video with the sharp bicubic kernel
/// into a new buffer per frame, carrying byte 0 (the camera channel) over unchanged.
///
/// Threads and locks: Transform runs on the upstream streaming thread and owns the
/// scaler cache; SetOutputSize runs on the server's thread under the size lock. Both
/// picture layouts are fixed when the pins connect (SetMediaType) and the transform reads
/// only them, so a size set while connected never makes it write past the output buffer.
/// A frame it cannot scale posts kEventFrameFault once per kind and connection.

#include "filters/hdsimulation/BicubicScaler.h"
#include "filters/VideoFormat.h"
#include "filters/hdsimulation/HDSimulation.h"
#include "platform/media/Transform.h"

class CHDSimulationFilter : public CTransformFilter, public IHDSimulation {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  CHDSimulationFilter(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IHDSimulation
  HRESULT SetOutputSize(LONG width, LONG height) override;

  /// FORMAT_VideoInfo with subtype YUY2, 16 bits per pixel and a usable header; else
  /// VFW_E_INVALID_MEDIA_TYPE. Stores nothing.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  /// Both subtypes YUY2; else VFW_E_INVALID_MEDIA_TYPE.
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  /// Position 0: the output type of the stored size. E_INVALIDARG below 0,
  /// VFW_S_NO_MORE_ITEMS above (and for sizes outside 1..16384), E_UNEXPECTED while the
  /// input is unconnected.
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  /// One buffer of the output sample size; E_FAIL when the allocator grants less,
  /// E_UNEXPECTED while the input is unconnected.
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;
  /// Keeps the connected pin's picture layout (and the output's sample size).
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
  /// Forgets the pin's layout and the faults reported on the connection.
  HRESULT BreakConnect(PIN_DIRECTION direction) override;
  /// Scales (or copies at equal size) and keeps byte 0. S_FALSE (frame dropped, the
  /// first of its kind posted as kEventFrameFault) when a buffer is smaller than its
  /// picture or the scaler cannot prepare.
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override;

  /// How many times the scaler built its tables (for tests).
  [[nodiscard]] int TableBuilds() const { return m_scaler.BuildCount(); }

 private:
  /// S_FALSE, posting the fault when it is the first of its kind on this connection.
  HRESULT Drop(FrameFault fault);

  CCritSec m_sizeLock;
  LONG m_outWidth = 352;
  LONG m_outHeight = 288;
  halvard::filters::VideoFormat m_inFormat;   // set while the input is connected
  halvard::filters::VideoFormat m_outFormat;  // set while the output is connected
  LONG m_outSampleSize = 0;
  halvard::filters::CFrameFaultLog m_faults;
  halvard::hdsimulation::CBicubicScaler m_scaler;
};
