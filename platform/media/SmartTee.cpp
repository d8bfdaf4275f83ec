#include "platform/media/SmartTee.h"

#include <cstring>
#include <memory>

#include "platform/media/BaseFilter.h"
#include "platform/media/CreateObject.h"
#include "platform/media/OutputQueue.h"

namespace halvard::media {
namespace {

class CSmartTee;

class CTeeInputPin final : public CBaseInputPin {
 public:
  CTeeInputPin(CSmartTee* tee, CCritSec* lock, HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 private:
  CSmartTee* m_tee;
};

class CTeeOutputPin final : public CBaseOutputPin {
 public:
  CTeeOutputPin(CSmartTee* tee, CCritSec* lock, HRESULT* phr, LPCWSTR name, const GUID& category, bool dropWhenBusy);
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** alloc) override;
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;
  HRESULT Active() override;
  HRESULT Inactive() override;

  void Send(IMediaSample* sample);
  void SendEndOfStream();
  void SendBeginFlush();
  void SendEndFlush();
  void SendNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

 private:
  CSmartTee* m_tee;
  bool m_dropWhenBusy;
  std::unique_ptr<COutputQueue> m_queue;  // while active
};

class CSmartTee final : public CBaseFilter {
 public:
  CSmartTee() : CBaseFilter(L"Smart Tee", nullptr, &m_lock, CLSID_SmartTee) {
    HRESULT hr = S_OK;
    m_input = std::make_unique<CTeeInputPin>(this, &m_lock, &hr);
    m_capture = std::make_unique<CTeeOutputPin>(this, &m_lock, &hr, L"Capture", PIN_CATEGORY_CAPTURE, false);
    m_preview = std::make_unique<CTeeOutputPin>(this, &m_lock, &hr, L"Preview", PIN_CATEGORY_PREVIEW, true);
  }
  int GetPinCount() override { return 3; }
  CBasePin* GetPin(int n) override {
    switch (n) {
      case 0:
        return m_input.get();
      case 1:
        return m_capture.get();
      case 2:
        return m_preview.get();
      default:
        return nullptr;
    }
  }
  /// Stream calls hold the receive lock, so outputs never lose their queues under a
  /// sample in flight (upstream still runs while the graph stops the tee).
  HRESULT Stop() override {
    CAutoLock lock(&m_lock);
    CAutoLock receive(&m_receiveLock);
    return CBaseFilter::Stop();
  }
  CCritSec* ReceiveLock() { return &m_receiveLock; }
  CTeeInputPin* Input() { return m_input.get(); }
  template <class F>
  void ForEachOutput(F f) {
    f(m_capture.get());
    f(m_preview.get());
  }

 private:
  CCritSec m_lock;
  CCritSec m_receiveLock;
  std::unique_ptr<CTeeInputPin> m_input;
  std::unique_ptr<CTeeOutputPin> m_capture;
  std::unique_ptr<CTeeOutputPin> m_preview;
};

CTeeInputPin::CTeeInputPin(CSmartTee* tee, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(L"Tee input", tee, lock, phr, L"Input"), m_tee(tee) {}

HRESULT CTeeInputPin::CheckMediaType(const CMediaType* pmt) {
  if (pmt->majortype == GUID_NULL) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT hr = S_OK;
  m_tee->ForEachOutput([&](CTeeOutputPin* out) {
    if (hr == S_OK && out->IsConnected() && out->GetConnected()->QueryAccept(pmt) != S_OK) {
      hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
  });
  return hr;
}

HRESULT CTeeInputPin::CompleteConnect(IPin* receivePin) {
  HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
  if (FAILED(hr)) {
    return hr;
  }
  // Outputs connected earlier with another type follow the new input type.
  m_tee->ForEachOutput([&](CTeeOutputPin* out) {
    if (SUCCEEDED(hr) && out->IsConnected() && out->CurrentMediaType() != m_mt) {
      hr = m_tee->ReconnectPin(out, &m_mt);
    }
  });
  return hr;
}

HRESULT CTeeInputPin::Receive(IMediaSample* sample) {
  CAutoLock receive(m_tee->ReceiveLock());
  const HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) {
    return hr;
  }
  m_tee->ForEachOutput([&](CTeeOutputPin* out) { out->Send(sample); });
  return S_OK;
}

HRESULT CTeeInputPin::EndOfStream() {
  CAutoLock receive(m_tee->ReceiveLock());
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) {
    return hr;
  }
  m_tee->ForEachOutput([&](CTeeOutputPin* out) { out->SendEndOfStream(); });
  return S_OK;
}

HRESULT CTeeInputPin::BeginFlush() {
  CAutoLock lock(m_pLock);
  (void)CBaseInputPin::BeginFlush();
  m_tee->ForEachOutput([&](CTeeOutputPin* out) { out->SendBeginFlush(); });
  return S_OK;
}

HRESULT CTeeInputPin::EndFlush() {
  CAutoLock lock(m_pLock);
  m_tee->ForEachOutput([&](CTeeOutputPin* out) { out->SendEndFlush(); });
  return CBaseInputPin::EndFlush();
}

HRESULT CTeeInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CAutoLock receive(m_tee->ReceiveLock());
  (void)CBasePin::NewSegment(start, stop, rate);
  m_tee->ForEachOutput([&](CTeeOutputPin* out) { out->SendNewSegment(start, stop, rate); });
  return S_OK;
}

CTeeOutputPin::CTeeOutputPin(CSmartTee* tee, CCritSec* lock, HRESULT* phr, LPCWSTR name, const GUID& category,
                             bool dropWhenBusy)
    : CBaseOutputPin(L"Tee output", tee, lock, phr, name), m_tee(tee), m_dropWhenBusy(dropWhenBusy) {
  SetCategory(category);
}

HRESULT CTeeOutputPin::CheckConnect(IPin* pin) {
  if (!m_tee->Input()->IsConnected()) {
    return VFW_E_NOT_CONNECTED;
  }
  return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTeeOutputPin::CheckMediaType(const CMediaType* pmt) {
  if (!m_tee->Input()->IsConnected()) {
    return VFW_E_NOT_CONNECTED;
  }
  return *pmt == m_tee->Input()->CurrentMediaType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTeeOutputPin::GetMediaType(int position, CMediaType* pmt) {
  if (!m_tee->Input()->IsConnected()) {
    return VFW_E_NOT_CONNECTED;
  }
  if (position < 0) {
    return E_INVALIDARG;
  }
  if (position > 0) {
    return VFW_S_NO_MORE_ITEMS;
  }
  return pmt->Set(m_tee->Input()->CurrentMediaType());
}

HRESULT CTeeOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** alloc) {
  IMemAllocator* shared = m_tee->Input()->PeekAllocator();
  if (shared != nullptr && pin->NotifyAllocator(shared, TRUE) == S_OK) {
    if (*alloc != nullptr) {
      (*alloc)->Release();
    }
    *alloc = shared;
    shared->AddRef();
    return S_OK;
  }
  return CBaseOutputPin::DecideAllocator(pin, alloc);
}

HRESULT CTeeOutputPin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
  ALLOCATOR_PROPERTIES wanted = *request;
  wanted.cBuffers = std::max<LONG>(wanted.cBuffers, 2);
  wanted.cbAlign = std::max<LONG>(wanted.cbAlign, 1);
  const CMediaType& mt = m_tee->Input()->CurrentMediaType();
  LONG size = static_cast<LONG>(mt.GetSampleSize());
  if (IMemAllocator* inputAllocator = m_tee->Input()->PeekAllocator()) {
    ALLOCATOR_PROPERTIES props{};
    if (SUCCEEDED(inputAllocator->GetProperties(&props))) {
      size = std::max(size, props.cbBuffer);
    }
  }
  if (const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(mt)) {
    size = std::max<LONG>(size, static_cast<LONG>(DIBSIZE(*bmi)));
  }
  wanted.cbBuffer = std::max(wanted.cbBuffer, size);
  if (wanted.cbBuffer <= 0) {
    return E_FAIL;
  }
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = alloc->SetProperties(&wanted, &actual);
  if (FAILED(hr)) {
    return hr;
  }
  return actual.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK;
}

HRESULT CTeeOutputPin::Active() {
  HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) {
    return hr;
  }
  hr = S_OK;
  auto queue = std::make_unique<COutputQueue>(m_Connected, &hr, TRUE, FALSE, 1, FALSE, DEFAULTCACHE,
                                              THREAD_PRIORITY_NORMAL);
  if (FAILED(hr)) {
    return hr;
  }
  m_queue = std::move(queue);
  return S_OK;
}

HRESULT CTeeOutputPin::Inactive() {
  m_queue.reset();
  return CBaseOutputPin::Inactive();
}

void CTeeOutputPin::Send(IMediaSample* sample) {
  COutputQueue* queue = m_queue.get();
  if (queue == nullptr) {
    return;
  }
  if (m_pAllocator == m_tee->Input()->PeekAllocator()) {
    (void)queue->Receive(sample);
    return;
  }
  // Downstream wanted its own buffers: copy.
  IMediaSample* copy = nullptr;
  if (FAILED(GetDeliveryBuffer(&copy, nullptr, nullptr, m_dropWhenBusy ? AM_GBF_NOWAIT : 0))) {
    return;
  }
  BYTE* from = nullptr;
  BYTE* to = nullptr;
  (void)sample->GetPointer(&from);
  (void)copy->GetPointer(&to);
  const LONG length = std::min(sample->GetActualDataLength(), copy->GetSize());
  std::memcpy(to, from, static_cast<std::size_t>(length));
  (void)copy->SetActualDataLength(length);
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  if (SUCCEEDED(sample->GetTime(&start, &stop))) {
    (void)copy->SetTime(&start, &stop);
  }
  (void)copy->SetSyncPoint(sample->IsSyncPoint() == S_OK);
  (void)copy->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
  (void)queue->Receive(copy);
  copy->Release();
}

void CTeeOutputPin::SendEndOfStream() {
  if (m_queue) {
    m_queue->EOS();
  }
}
void CTeeOutputPin::SendBeginFlush() {
  if (m_queue) {
    m_queue->BeginFlush();
  }
}
void CTeeOutputPin::SendEndFlush() {
  if (m_queue) {
    m_queue->EndFlush();
  }
}
void CTeeOutputPin::SendNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (m_queue) {
    m_queue->NewSegment(start, stop, rate);
  }
}

}  // namespace

HRESULT CreateSmartTee(REFIID riid, void** ppv) { return CreateObject<CSmartTee>(riid, ppv); }

}  // namespace halvard::media
