#include "platform/media/PosPassThru.h"

CPosPassThru::CPosPassThru(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr, IPin* pin)
    : CUnknown(name, outer, phr), m_pPin(pin) {
  if (pin == nullptr && phr != nullptr) {
    *phr = E_POINTER;
  }
}

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IMediaSeeking) {
    return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  }
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking** seeking) {
  *seeking = nullptr;
  if (m_pPin == nullptr) {
    return E_NOTIMPL;
  }
  IPin* peer = nullptr;
  if (FAILED(m_pPin->ConnectedTo(&peer)) || peer == nullptr) {
    return E_NOTIMPL;
  }
  const HRESULT hr = peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(seeking));
  peer->Release();
  return FAILED(hr) ? E_NOTIMPL : S_OK;
}

#define HALVARD_FORWARD(call)               \
  IMediaSeeking* peer = nullptr;            \
  HRESULT hr = GetPeerSeeking(&peer);       \
  if (FAILED(hr)) {                         \
    return hr;                              \
  }                                         \
  hr = peer->call;                          \
  peer->Release();                          \
  return hr

HRESULT CPosPassThru::GetCapabilities(DWORD* capabilities) { HALVARD_FORWARD(GetCapabilities(capabilities)); }
HRESULT CPosPassThru::CheckCapabilities(DWORD* capabilities) { HALVARD_FORWARD(CheckCapabilities(capabilities)); }
HRESULT CPosPassThru::IsFormatSupported(const GUID* format) { HALVARD_FORWARD(IsFormatSupported(format)); }
HRESULT CPosPassThru::QueryPreferredFormat(GUID* format) { HALVARD_FORWARD(QueryPreferredFormat(format)); }
HRESULT CPosPassThru::GetTimeFormat(GUID* format) { HALVARD_FORWARD(GetTimeFormat(format)); }
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* format) { HALVARD_FORWARD(IsUsingTimeFormat(format)); }
HRESULT CPosPassThru::SetTimeFormat(const GUID* format) { HALVARD_FORWARD(SetTimeFormat(format)); }
HRESULT CPosPassThru::GetDuration(LONGLONG* duration) { HALVARD_FORWARD(GetDuration(duration)); }
HRESULT CPosPassThru::GetStopPosition(LONGLONG* stop) { HALVARD_FORWARD(GetStopPosition(stop)); }
HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* current) { HALVARD_FORWARD(GetCurrentPosition(current)); }
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                        const GUID* sourceFormat) {
  HALVARD_FORWARD(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
HRESULT CPosPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  HALVARD_FORWARD(SetPositions(current, currentFlags, stop, stopFlags));
}
HRESULT CPosPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) { HALVARD_FORWARD(GetPositions(current, stop)); }
HRESULT CPosPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  HALVARD_FORWARD(GetAvailable(earliest, latest));
}
HRESULT CPosPassThru::SetRate(double rate) { HALVARD_FORWARD(SetRate(rate)); }
HRESULT CPosPassThru::GetRate(double* rate) { HALVARD_FORWARD(GetRate(rate)); }
HRESULT CPosPassThru::GetPreroll(LONGLONG* preroll) { HALVARD_FORWARD(GetPreroll(preroll)); }

#undef HALVARD_FORWARD
