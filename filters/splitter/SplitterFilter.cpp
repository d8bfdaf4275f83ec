#include "filters/splitter/SplitterFilter.h"

#include <cstdlib>
#include <new>
#include <string>

#include "filters/splitter/Stamp.h"
#include "platform/media/MediaType.h"

using halvard::splitter::ColourFormat;
using halvard::splitter::RowOrder;

namespace {

// Queries a pin's QueryAccept; only S_OK counts as acceptance.
bool Accepts(IPin* pin, const AM_MEDIA_TYPE* mt) { return pin != nullptr && pin->QueryAccept(mt) == S_OK; }

}  // namespace

// ---- input pin ----------------------------------------------------------------------------

CSplitterInputPin::CSplitterInputPin(CSplitterFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(L"splitter input", filter, lock, phr, L"Input"), m_splitter(filter) {}

HRESULT CSplitterInputPin::CheckMediaType(const CMediaType* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  if (m_checking) {
    return S_OK;  // asked again while our outputs' peers look at the type
  }
  if (!m_splitter->MatchesColourFormat(*pmt)) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  m_checking = true;
  HRESULT hr = S_OK;
  for (int i = 0; i < m_splitter->OutputCount() && hr == S_OK; ++i) {
    IPin* peer = m_splitter->OutputAt(i)->GetConnected();
    if (peer != nullptr && !Accepts(peer, pmt)) {
      hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
  }
  m_checking = false;
  return hr;
}

HRESULT CSplitterInputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
  if (FAILED(hr)) {
    return hr;
  }
  for (int i = 0; i < m_splitter->OutputCount(); ++i) {
    CSplitterOutputPin* output = m_splitter->OutputAt(i);
    if (output->IsConnected() && output->CurrentMediaType() != m_mt) {
      (void)m_splitter->ReconnectPin(output, &m_mt);
    }
  }
  return S_OK;
}

HRESULT CSplitterInputPin::SetMediaType(const CMediaType* pmt) {
  const HRESULT hr = CBaseInputPin::SetMediaType(pmt);
  if (FAILED(hr)) {
    return hr;
  }
  m_format = halvard::filters::VideoFormatOf(m_mt);
  m_faults.Reset();
  m_prepared = false;
  return hr;
}

HRESULT CSplitterInputPin::BreakConnect() {
  m_buffers = halvard::splitter::CEnhancementBuffers();
  m_prepared = false;
  m_format = {};
  m_faults.Reset();
  return CBaseInputPin::BreakConnect();
}

void CSplitterInputPin::Prepare() {
  m_overlay.SetGeometry(m_format.width, m_format.height, m_format.bottomUp ? RowOrder::BottomUp : RowOrder::TopDown);
  // Sizes the transform cannot handle, or memory that cannot be had, leave the buffers
  // invalid: enhancement is then skipped.
  m_buffers = halvard::splitter::CEnhancementBuffers(m_format.width, m_format.height);
  m_prepared = true;
}

void CSplitterInputPin::Report(FrameFault fault) {
  if (m_faults.First(fault)) {
    (void)m_splitter->NotifyEvent(kEventFrameFault, fault,
                                  reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(m_splitter)));
  }
}

HRESULT CSplitterInputPin::Receive(IMediaSample* sample) {
  CAutoLock lock(m_pLock);
  const HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) {
    return hr;
  }
  if (!m_prepared) {
    Prepare();
  }
  BYTE* frame = nullptr;
  if (FAILED(sample->GetPointer(&frame)) || frame == nullptr) {
    return S_OK;
  }
  const LONG length = sample->GetActualDataLength();
  if (length < 1) {
    return S_OK;
  }
  const SplitterConfig config = m_splitter->Config();
  const int channel = config.channelCount > 1 ? frame[0] : 0;
  CSplitterOutputPin* output = m_splitter->OutputAt(channel);
  if (output == nullptr) {
    Report(kFrameFaultNoOutput);
    return S_OK;  // no pin for this camera: dropped
  }
  // The picture is touched only when the sample holds all of it.
  if (m_format.Valid() && length >= m_format.FrameBytes()) {
    const ColourFormat format = m_format.bytesPerPixel == 3 ? ColourFormat::Rgb24 : ColourFormat::Yuy2;
    if (config.enhancementLevel >= 1) {
      if (!m_buffers.Valid()) {
        Report(kFrameFaultNoEnhancement);
      }
      halvard::splitter::EnhanceFrame(frame, m_format.stride, m_format.width, m_format.height, format,
                                      config.enhancementLevel, m_buffers);
    }
    const std::string text = halvard::splitter::FormatStampText(halvard::splitter::LocalStampTime());
    m_overlay.Draw(frame, m_format.stride, format, text);
  } else {
    Report(m_format.Valid() ? kFrameFaultBufferTooSmall : kFrameFaultNoPicture);
  }
  (void)output->Deliver(sample);
  return S_OK;
}

HRESULT CSplitterInputPin::EndOfStream() {
  CAutoLock lock(m_pLock);
  for (int i = 0; i < m_splitter->OutputCount(); ++i) {
    const HRESULT hr = m_splitter->OutputAt(i)->DeliverEndOfStream();
    if (FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}

HRESULT CSplitterInputPin::BeginFlush() {
  for (int i = 0; i < m_splitter->OutputCount(); ++i) {
    const HRESULT hr = m_splitter->OutputAt(i)->DeliverBeginFlush();
    if (FAILED(hr)) {
      return hr;
    }
  }
  return CBaseInputPin::BeginFlush();
}

HRESULT CSplitterInputPin::EndFlush() {
  for (int i = 0; i < m_splitter->OutputCount(); ++i) {
    const HRESULT hr = m_splitter->OutputAt(i)->DeliverEndFlush();
    if (FAILED(hr)) {
      return hr;
    }
  }
  return CBaseInputPin::EndFlush();
}

HRESULT CSplitterInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CAutoLock lock(m_pLock);
  for (int i = 0; i < m_splitter->OutputCount(); ++i) {
    const HRESULT hr = m_splitter->OutputAt(i)->DeliverNewSegment(start, stop, rate);
    if (FAILED(hr)) {
      return hr;
    }
  }
  return CBaseInputPin::NewSegment(start, stop, rate);
}

// ---- output pins --------------------------------------------------------------------------

CSplitterOutputPin::CSplitterOutputPin(CSplitterFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name,
                                       int number)
    : CBaseOutputPin(L"splitter output", filter, lock, phr, name), m_splitter(filter), m_number(number) {}

CSplitterOutputPin::~CSplitterOutputPin() = default;

HRESULT CSplitterOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition) {
    CAutoLock lock(m_pLock);
    if (!m_position) {
      if (!m_splitter->TakeSeeking()) {
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      HRESULT hr = S_OK;
      m_position.reset(new (std::nothrow) CPosPassThru(L"splitter seeking", GetOwner(), &hr, m_splitter->InputPin()));
      if (!m_position) {
        *ppv = nullptr;
        return E_OUTOFMEMORY;
      }
    }
    return m_position->NonDelegatingQueryInterface(riid, ppv);
  }
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CSplitterOutputPin::CheckMediaType(const CMediaType* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  IPin* upstream = m_splitter->InputPin()->GetConnected();
  if (upstream == nullptr) {
    return VFW_E_NOT_CONNECTED;
  }
  if (!Accepts(upstream, pmt) || !m_splitter->MatchesColourFormat(*pmt)) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  for (int i = 0; i < m_splitter->OutputCount(); ++i) {
    CSplitterOutputPin* other = m_splitter->OutputAt(i);
    if (other != this && other->GetConnected() != nullptr && !Accepts(other->GetConnected(), pmt)) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
  }
  return S_OK;
}

HRESULT CSplitterOutputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (ppEnum == nullptr) {
    return E_POINTER;
  }
  *ppEnum = nullptr;
  IPin* upstream = m_splitter->InputPin()->GetConnected();
  if (upstream == nullptr) {
    return VFW_E_NOT_CONNECTED;
  }
  return upstream->EnumMediaTypes(ppEnum);
}

HRESULT CSplitterOutputPin::CompleteConnect(IPin* receivePin) {
  HRESULT hr = CBaseOutputPin::CompleteConnect(receivePin);
  if (FAILED(hr)) {
    return hr;
  }
  CSplitterInputPin* input = m_splitter->InputPin();
  if (m_mt != input->CurrentMediaType()) {
    hr = m_splitter->ReconnectPin(input->GetConnected(), &m_mt);
    if (FAILED(hr)) {
      return hr;
    }
  }
  m_splitter->OnOutputConnected();
  return S_OK;
}

HRESULT CSplitterOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** alloc) {
  if (pin == nullptr || alloc == nullptr) {
    return E_POINTER;
  }
  IMemAllocator* shared = m_splitter->InputPin()->PeekAllocator();
  if (shared == nullptr) {
    return VFW_E_NO_ALLOCATOR;
  }
  // Downstream receives the very samples that reached the input: read-only.
  const HRESULT hr = pin->NotifyAllocator(shared, TRUE);
  if (FAILED(hr)) {
    return hr;
  }
  if (*alloc != nullptr) {
    (*alloc)->Release();
  }
  shared->AddRef();
  *alloc = shared;
  return S_OK;
}

HRESULT CSplitterOutputPin::DecideBufferSize(IMemAllocator* /*alloc*/, ALLOCATOR_PROPERTIES* /*request*/) {
  return S_OK;  // the input's allocator is used as it is
}

HRESULT CSplitterOutputPin::BreakConnect() {
  // The allocator is upstream's: never decommit it here.
  if (m_pAllocator != nullptr) {
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  if (m_pInputPin != nullptr) {
    m_pInputPin->Release();
    m_pInputPin = nullptr;
  }
  return CBasePin::BreakConnect();
}

HRESULT CSplitterOutputPin::Active() {
  if (m_Connected == nullptr) {
    return S_OK;
  }
  HRESULT hr = S_OK;
  m_queue.reset(new (std::nothrow) COutputQueue(m_Connected, &hr, TRUE, FALSE, 1, FALSE, DEFAULTCACHE,
                                                THREAD_PRIORITY_NORMAL));
  if (!m_queue) {
    return E_OUTOFMEMORY;
  }
  if (FAILED(hr)) {
    m_queue.reset();
    return hr;
  }
  return S_OK;
}

HRESULT CSplitterOutputPin::Inactive() {
  m_queue.reset();
  return S_OK;
}

HRESULT CSplitterOutputPin::Deliver(IMediaSample* sample) {
  if (!m_queue) {
    return S_OK;  // not running: dropped
  }
  return m_queue->Receive(sample);
}

HRESULT CSplitterOutputPin::DeliverEndOfStream() {
  if (m_queue) {
    m_queue->EOS();
  }
  return S_OK;
}

HRESULT CSplitterOutputPin::DeliverBeginFlush() {
  if (m_queue) {
    m_queue->BeginFlush();
    return S_OK;
  }
  return m_Connected != nullptr ? m_Connected->BeginFlush() : S_OK;
}

HRESULT CSplitterOutputPin::DeliverEndFlush() {
  if (m_queue) {
    m_queue->EndFlush();
    return S_OK;
  }
  return m_Connected != nullptr ? m_Connected->EndFlush() : S_OK;
}

HRESULT CSplitterOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (m_queue) {
    m_queue->NewSegment(start, stop, rate);
    return S_OK;
  }
  return m_Connected != nullptr ? m_Connected->NewSegment(start, stop, rate) : S_OK;
}

// ---- filter -------------------------------------------------------------------------------

CUnknown* CSplitterFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* filter = new (std::nothrow) CSplitterFilter(outer, phr);
  if (filter == nullptr && phr != nullptr) {
    *phr = E_OUTOFMEMORY;
  }
  return filter;
}

CSplitterFilter::CSplitterFilter(LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter(L"ZEL Splitter", outer, &m_lock, CLSID_ZelSplitter) {
  HRESULT hr = S_OK;
  m_input = new CSplitterInputPin(this, &m_lock, &hr);
  for (int i = 0; i < 4; ++i) {
    AddOutputPin();
  }
  if (phr != nullptr && FAILED(hr)) {
    *phr = hr;
  }
}

CSplitterFilter::~CSplitterFilter() {
  for (CSplitterOutputPin* pin : m_outputs) {
    delete pin;
  }
  m_outputs.clear();
  delete m_input;
}

HRESULT CSplitterFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_ISplitterConfig) {
    return GetInterface(static_cast<ISplitterConfig*>(this), ppv);
  }
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CSplitterFilter::GetConfig(SplitterConfig* config) {
  if (config == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(&m_lock);
  *config = m_config;
  return S_OK;
}

HRESULT CSplitterFilter::SetConfig(const SplitterConfig* config) {
  if (config == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(&m_lock);
  m_config = *config;
  return S_OK;
}

int CSplitterFilter::GetPinCount() {
  CAutoLock lock(&m_lock);
  return 1 + static_cast<int>(m_outputs.size());
}

CBasePin* CSplitterFilter::GetPin(int n) {
  CAutoLock lock(&m_lock);
  if (n == 0) {
    return m_input;
  }
  return OutputAt(n - 1);
}

CSplitterOutputPin* CSplitterFilter::OutputAt(int index) const {
  if (index < 0 || index >= static_cast<int>(m_outputs.size())) {
    return nullptr;
  }
  return m_outputs[static_cast<std::size_t>(index)];
}

bool CSplitterFilter::MatchesColourFormat(const CMediaType& mt) const {
  const BITMAPINFOHEADER* header = GetBitmapInfoHeader(mt);
  if (header == nullptr) {
    return false;
  }
  switch (m_config.colourFormat) {
    case 0:
      return *mt.Subtype() == MEDIASUBTYPE_YUY2 && header->biBitCount == 16;
    case 1:
      return *mt.Subtype() == MEDIASUBTYPE_RGB24 && header->biBitCount == 24;
    default:
      return false;
  }
}

void CSplitterFilter::AddOutputPin() {
  const int number = ++m_nextPinNumber;
  const std::wstring name = L"Output" + std::to_wstring(number);
  HRESULT hr = S_OK;
  auto* pin = new (std::nothrow) CSplitterOutputPin(this, &m_lock, &hr, name.c_str(), number);
  if (pin == nullptr) {
    --m_nextPinNumber;
    return;
  }
  m_outputs.push_back(pin);
  IncrementPinVersion();
}

void CSplitterFilter::OnOutputConnected() {
  CAutoLock lock(&m_lock);
  for (CSplitterOutputPin* pin : m_outputs) {
    if (!pin->IsConnected()) {
      return;  // a free pin is still offered
    }
  }
  if (static_cast<int>(m_outputs.size()) < kMaxOutputPins) {
    AddOutputPin();
  }
}

bool CSplitterFilter::TakeSeeking() {
  CAutoLock lock(&m_lock);
  if (!m_seekingFree) {
    return false;
  }
  m_seekingFree = false;
  return true;
}
