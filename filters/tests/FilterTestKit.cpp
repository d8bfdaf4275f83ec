#include "filters/tests/FilterTestKit.h"

#include <algorithm>
#include <cstring>

#include "platform/media/BuiltinClasses.h"

namespace halvard::testing {

CTestSourcePin::CTestSourcePin(CTestSource* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin(L"test source pin", filter, lock, phr, L"Out"), m_source(filter) {}

HRESULT CTestSourcePin::CheckMediaType(const CMediaType* pmt) {
  for (const auto& t : m_source->types) {
    if (t == *pmt) {
      return S_OK;
    }
  }
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTestSourcePin::GetMediaType(int position, CMediaType* pmt) {
  if (position < 0) {
    return E_INVALIDARG;
  }
  if (position >= static_cast<int>(m_source->types.size())) {
    return VFW_S_NO_MORE_ITEMS;
  }
  *pmt = m_source->types[static_cast<std::size_t>(position)];
  return S_OK;
}

HRESULT CTestSourcePin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
  ALLOCATOR_PROPERTIES wanted{};
  wanted.cBuffers = std::max<LONG>(request->cBuffers, 3);
  wanted.cbBuffer = m_source->bufferSize > 0 ? m_source->bufferSize
                                             : std::max<LONG>(static_cast<LONG>(m_mt.GetSampleSize()), request->cbBuffer);
  wanted.cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = alloc->SetProperties(&wanted, &actual);
  if (FAILED(hr)) {
    return hr;
  }
  return actual.cbBuffer >= wanted.cbBuffer ? S_OK : E_FAIL;
}

CTestSource::CTestSource(std::vector<CMediaType> t) : CBaseFilter(L"test source", nullptr, &m_lock, GUID_NULL), types(std::move(t)) {
  HRESULT hr = S_OK;
  m_pin = new CTestSourcePin(this, &m_lock, &hr);
}

CTestSource::~CTestSource() { delete m_pin; }

HRESULT CTestSource::Push(const std::vector<BYTE>& data, REFERENCE_TIME start) {
  SampleProperties properties;
  properties.start = start;
  properties.stop = start + 1;
  return Push(data, properties);
}

HRESULT CTestSource::Push(const std::vector<BYTE>& data, const SampleProperties& properties) {
  IMediaSample* sample = nullptr;
  REFERENCE_TIME start = properties.start;
  REFERENCE_TIME stop = properties.stop;
  HRESULT hr = m_pin->GetDeliveryBuffer(&sample, &start, &stop, 0);
  if (FAILED(hr)) {
    return hr;
  }
  BYTE* buffer = nullptr;
  sample->GetPointer(&buffer);
  const LONG size = std::min<LONG>(sample->GetSize(), static_cast<LONG>(data.size()));
  std::memcpy(buffer, data.data(), static_cast<std::size_t>(size));
  sample->SetActualDataLength(size);
  sample->SetTime(&start, &stop);
  if (properties.mediaStart >= 0) {
    LONGLONG mediaStart = properties.mediaStart;
    LONGLONG mediaStop = properties.mediaStop;
    sample->SetMediaTime(&mediaStart, &mediaStop);
  }
  sample->SetSyncPoint(properties.syncPoint ? TRUE : FALSE);
  sample->SetDiscontinuity(properties.discontinuity ? TRUE : FALSE);
  sample->SetPreroll(properties.preroll ? TRUE : FALSE);
  lastPushed = sample;
  hr = m_pin->Deliver(sample);
  sample->Release();
  return hr;
}

CTestSinkPin::CTestSinkPin(CTestSink* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(L"test sink pin", filter, lock, phr, L"In"), m_sink(filter) {}

HRESULT CTestSinkPin::CheckMediaType(const CMediaType* pmt) {
  if (m_sink->accept) {
    return m_sink->accept(*pmt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  return *pmt->Type() == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTestSinkPin::Receive(IMediaSample* sample) {
  const HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) {
    return hr;
  }
  CTestSink::Received r;
  BYTE* buffer = nullptr;
  sample->GetPointer(&buffer);
  r.data.assign(buffer, buffer + sample->GetActualDataLength());
  r.timeResult = sample->GetTime(&r.start, &r.stop);
  r.mediaTimeResult = sample->GetMediaTime(&r.mediaStart, &r.mediaStop);
  r.syncPoint = sample->IsSyncPoint() == S_OK;
  r.discontinuity = sample->IsDiscontinuity() == S_OK;
  r.preroll = sample->IsPreroll() == S_OK;
  AM_MEDIA_TYPE* type = nullptr;
  r.typeChanged = sample->GetMediaType(&type) == S_OK && type != nullptr;
  if (type != nullptr) {
    DeleteMediaType(type);
  }
  r.sample = sample;
  std::lock_guard lock(m_sink->mutex);
  m_sink->received.push_back(std::move(r));
  return S_OK;
}

HRESULT CTestSinkPin::EndOfStream() {
  std::lock_guard lock(m_sink->mutex);
  ++m_sink->endOfStreams;
  return S_OK;
}

HRESULT CTestSinkPin::BeginFlush() {
  {
    std::lock_guard lock(m_sink->mutex);
    ++m_sink->beginFlushes;
  }
  return CBaseInputPin::BeginFlush();
}

HRESULT CTestSinkPin::EndFlush() {
  {
    std::lock_guard lock(m_sink->mutex);
    ++m_sink->endFlushes;
  }
  return CBaseInputPin::EndFlush();
}

HRESULT CTestSinkPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  {
    std::lock_guard lock(m_sink->mutex);
    ++m_sink->newSegments;
  }
  return CBasePin::NewSegment(start, stop, rate);
}

CTestSink::CTestSink() : CBaseFilter(L"test sink", nullptr, &m_lock, GUID_NULL) {
  HRESULT hr = S_OK;
  m_pin = new CTestSinkPin(this, &m_lock, &hr);
}

CTestSink::~CTestSink() { delete m_pin; }

CGraphEvents::CGraphEvents() {
  halvard::media::RegisterBuiltinMediaClasses();
  if (SUCCEEDED(halvard::com::CreateInstance(CLSID_FilterGraph, &m_graph))) {
    (void)m_graph.As(&m_events);
  }
}

CGraphEvents::~CGraphEvents() {
  for (CBaseFilter* filter : m_attached) {
    (void)filter->JoinFilterGraph(nullptr, nullptr);
  }
}

void CGraphEvents::Attach(CBaseFilter* filter) {
  if (m_graph) {
    (void)filter->JoinFilterGraph(m_graph.Get(), L"under test");
    m_attached.push_back(filter);
  }
}

std::vector<CGraphEvents::Event> CGraphEvents::Take(LONG code) {
  std::vector<Event> taken;
  if (!m_events) {
    return taken;
  }
  Event e;
  while (m_events->GetEvent(&e.code, &e.param1, &e.param2, 0) == S_OK) {
    if (e.code == code) {
      taken.push_back(e);
    }
    (void)m_events->FreeEventParams(e.code, e.param1, e.param2);
  }
  return taken;
}

}  // namespace halvard::testing
