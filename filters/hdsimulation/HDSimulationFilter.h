#pragma once
/// CHDSimulationFilter: enlarges (or shrinks) YUY2 video with the sharp bicubic kernel
/// into a new buffer per frame, carrying byte 0 (the camera channel) over unchanged.
///
/// Threads and locks: Transform runs on the upstream streaming thread and owns the
/// scaler cache; SetOutputSize runs on the server's thread under the size lock. The
/// transform takes both picture sizes from the connected media types, so a size set
/// while connected never makes it write past the output buffer.

#include "filters/hdsimulation/BicubicScaler.h"
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

  /// FORMAT_VideoInfo with subtype YUY2 (and a usable header); else 0x80040248.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  /// Both subtypes YUY2; else 0x80040248.
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  /// Position 0: the output type of the stored size. E_INVALIDARG below 0,
  /// VFW_S_NO_MORE_ITEMS above (and for sizes outside 1..16384), E_UNEXPECTED while the
  /// input is unconnected.
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  /// One buffer of the output sample size; E_FAIL when the allocator grants less,
  /// E_UNEXPECTED while the input is unconnected.
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;
  /// Scales (or copies at equal size) and keeps byte 0. S_FALSE (frame dropped) when a
  /// buffer is smaller than its picture.
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override;

  /// How many times the scaler built its tables (for tests).
  [[nodiscard]] int TableBuilds() const { return m_scaler.BuildCount(); }

 private:
  CCritSec m_sizeLock;
  LONG m_outWidth = 352;
  LONG m_outHeight = 288;
  LONG m_inWidth = 0;
  LONG m_inHeight = 0;
  LONG m_bytesPerPixel = 2;
  halvard::hdsimulation::CBicubicScaler m_scaler;
};
