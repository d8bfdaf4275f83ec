#pragma once
/// CPosPassThru: IMediaSeeking of a filter's output pin (or of the filter) answered by
/// the pin upstream of the filter's input pin. Every call is forwarded to the peer of
/// the given input pin; E_NOTIMPL while that pin is unconnected or its peer does not
/// seek.

#include "platform/media/Unknown.h"

class CPosPassThru : public CUnknown, public IMediaSeeking {
 public:
  /// pin: the input pin whose peer answers (not counted: it belongs to the same filter).
  CPosPassThru(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr, IPin* pin);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const GUID* format) override;
  HRESULT QueryPreferredFormat(GUID* format) override;
  HRESULT GetTimeFormat(GUID* format) override;
  HRESULT IsUsingTimeFormat(const GUID* format) override;
  HRESULT SetTimeFormat(const GUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

 protected:
  /// The peer's IMediaSeeking (AddRef'd) or E_NOTIMPL.
  HRESULT GetPeerSeeking(IMediaSeeking** seeking);

 private:
  IPin* m_pPin;
};
