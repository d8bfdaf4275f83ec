#include "platform/media/TestSource.h"

#include <cstring>
#include <mutex>

#include "platform/media/CreateObject.h"
#include "platform/media/Source.h"

namespace halvard::media {
namespace {

class CTestSource;

class CTestStream final : public CSourceStream, public IAMStreamConfig {
 public:
  CTestStream(HRESULT* phr, CTestSource* filter);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IAMStreamConfig) {
      return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    }
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT GetMediaType(CMediaType* pmt) override {
    std::lock_guard lock(m_formatLock);
    return pmt->Set(m_format);
  }
  using CSourceStream::GetMediaType;

  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
    ALLOCATOR_PROPERTIES wanted = *request;
    wanted.cBuffers = std::max<LONG>(wanted.cBuffers, 3);
    {
      std::lock_guard lock(m_formatLock);
      wanted.cbBuffer = std::max<LONG>(wanted.cbBuffer, static_cast<LONG>(m_format.GetSampleSize()));
    }
    wanted.cbAlign = std::max<LONG>(wanted.cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = alloc->SetProperties(&wanted, &actual);
    if (FAILED(hr)) {
      return hr;
    }
    return actual.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT OnThreadStartPlay() override {
    m_frame = 0;
    m_delivered = 0;
    return S_OK;
  }

  HRESULT FillBuffer(IMediaSample* sample) override;

  // IAMStreamConfig
  HRESULT SetFormat(AM_MEDIA_TYPE* pmt) override {
    if (pmt == nullptr) {
      return E_POINTER;
    }
    if (!IsStopped()) {
      return VFW_E_NOT_STOPPED;
    }
    const CMediaType type(*pmt);
    const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(type);
    if (type.majortype != MEDIATYPE_Video || bmi == nullptr || BitCountOf(type.subtype) == 0 ||
        (type.subtype != MEDIASUBTYPE_YUY2 && type.subtype != MEDIASUBTYPE_RGB24 && type.subtype != MEDIASUBTYPE_RGB32) ||
        bmi->biWidth <= 0 || bmi->biWidth > 4096 || bmi->biHeight == 0 || bmi->biHeight > 4096 ||
        bmi->biHeight < -4096) {
      return VFW_E_INVALIDMEDIATYPE;
    }
    const VIDEOINFOHEADER* vih = GetVideoInfoHeader(type);
    const REFERENCE_TIME frameTime = vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : UNITS / 25;
    CMediaType normalised = MakeVideoType(type.subtype, bmi->biWidth, bmi->biHeight < 0 ? -bmi->biHeight : bmi->biHeight,
                                          frameTime);
    if (IsConnected() && GetConnected()->QueryAccept(&normalised) != S_OK) {
      return VFW_E_INVALIDMEDIATYPE;
    }
    {
      std::lock_guard formatLock(m_formatLock);
      m_format = normalised;
    }
    // Reconnected without the filter lock: the graph takes its own lock first.
    if (IsConnected()) {
      return m_pFilter->ReconnectPin(this, &normalised);
    }
    return S_OK;
  }
  HRESULT GetFormat(AM_MEDIA_TYPE** pmt) override {
    if (pmt == nullptr) {
      return E_POINTER;
    }
    std::lock_guard lock(m_formatLock);
    *pmt = CreateMediaType(&m_format);
    return *pmt == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  HRESULT GetNumberOfCapabilities(int* count, int* size) override {
    if (count == nullptr || size == nullptr) {
      return E_POINTER;
    }
    *count = 3;
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
  }
  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** pmt, BYTE* caps) override {
    if (pmt == nullptr || caps == nullptr) {
      return E_POINTER;
    }
    *pmt = nullptr;
    static const GUID* const kSubtypes[] = {&MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32};
    if (index < 0 || index >= 3) {
      return S_FALSE;
    }
    const CMediaType type = MakeVideoType(*kSubtypes[index], 320, 240);
    *pmt = CreateMediaType(&type);
    if (*pmt == nullptr) {
      return E_OUTOFMEMORY;
    }
    VIDEO_STREAM_CONFIG_CAPS c{};
    c.guid = FORMAT_VideoInfo;
    c.InputSize = SIZE{320, 240};
    c.MinOutputSize = SIZE{2, 2};
    c.MaxOutputSize = SIZE{4096, 4096};
    c.OutputGranularityX = 2;
    c.OutputGranularityY = 1;
    c.MinFrameInterval = UNITS / 60;
    c.MaxFrameInterval = UNITS;
    std::memcpy(caps, &c, sizeof(c));
    return S_OK;
  }

  LONG m_frameLimit = 0;
  bool m_timestamps = true;
  std::atomic<LONG> m_delivered{0};

 private:
  std::mutex m_formatLock;
  CMediaType m_format = MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240);
  LONG m_frame = 0;
};

class CTestSource final : public CSource, public IHalvardTestSource {
 public:
  CTestSource() : CSource(L"Test source", nullptr, CLSID_HalvardTestSource) {
    HRESULT hr = S_OK;
    m_stream = new CTestStream(&hr, this);  // owned by CSource's pin list
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IHalvardTestSource) {
      return GetInterface(static_cast<IHalvardTestSource*>(this), ppv);
    }
    return CSource::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT SetFrameLimit(LONG count) override {
    if (count < 0) {
      return E_INVALIDARG;
    }
    m_stream->m_frameLimit = count;
    return S_OK;
  }
  HRESULT SetTimestamps(BOOL stamped) override {
    m_stream->m_timestamps = stamped != FALSE;
    return S_OK;
  }
  HRESULT GetFramesDelivered(LONG* count) override {
    if (count == nullptr) {
      return E_POINTER;
    }
    *count = m_stream->m_delivered.load();
    return S_OK;
  }

 private:
  CTestStream* m_stream;
};

CTestStream::CTestStream(HRESULT* phr, CTestSource* filter)
    : CSourceStream(L"Test stream", phr, filter, L"Capture") {
  SetCategory(PIN_CATEGORY_CAPTURE);
}

HRESULT CTestStream::FillBuffer(IMediaSample* sample) {
  if (m_frameLimit > 0 && m_frame >= m_frameLimit) {
    return S_FALSE;
  }
  // The format lock, never the filter lock: Stop holds that while it waits for this thread.
  CMediaType format;
  {
    std::lock_guard lock(m_formatLock);
    (void)format.Set(m_format);
  }
  const VIDEOINFOHEADER* vih = GetVideoInfoHeader(format);
  const BITMAPINFOHEADER& bmi = vih->bmiHeader;
  BYTE* data = nullptr;
  (void)sample->GetPointer(&data);
  const LONG size = static_cast<LONG>(DIBSIZE(bmi));
  if (sample->GetSize() < size) {
    return E_FAIL;
  }
  const LONG stride = static_cast<LONG>(DIBWIDTHBYTES(bmi));
  const LONG height = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
  const int bpp = bmi.biBitCount / 8;
  for (LONG y = 0; y < height; ++y) {
    BYTE* row = data + static_cast<std::ptrdiff_t>(y) * stride;
    for (LONG x = 0; x < bmi.biWidth; ++x) {
      BYTE* p = row + static_cast<std::ptrdiff_t>(x) * bpp;
      const auto level = static_cast<BYTE>(x + y + m_frame * 4);
      if (bpp == 2) {
        p[0] = static_cast<BYTE>(16 + level * 219 / 255);
        p[1] = 128;
      } else {
        p[0] = p[1] = p[2] = level;
        if (bpp == 4) {
          p[3] = 0;
        }
      }
    }
  }
  data[0] = static_cast<BYTE>(m_frame & 0xFF);
  (void)sample->SetActualDataLength(size);
  if (m_timestamps) {
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(m_frame) * vih->AvgTimePerFrame;
    REFERENCE_TIME stop = start + vih->AvgTimePerFrame;
    (void)sample->SetTime(&start, &stop);
  } else {
    (void)sample->SetTime(nullptr, nullptr);
  }
  (void)sample->SetSyncPoint(TRUE);
  ++m_frame;
  ++m_delivered;
  return S_OK;
}

}  // namespace

HRESULT CreateTestSource(REFIID riid, void** ppv) { return CreateObject<CTestSource>(riid, ppv); }

}  // namespace halvard::media
