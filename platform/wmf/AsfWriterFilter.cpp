#include "platform/wmf/AsfWriterFilter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/media/BaseFilter.h"
#include "platform/media/BuiltinClasses.h"
#include "platform/media/MediaType.h"
#include "platform/media/Sync.h"
#include "platform/media/Types.h"
#include "platform/wmf/AsfWriter.h"
#include "platform/wmf/ProfileManager.h"

namespace halvard::wmf {
namespace {

using halvard::media::ToUtf8;

constexpr REFERENCE_TIME kDefaultFrameTime = 333333;

// The default profile of a new filter: what a default camera records.
ComPtr<IWMProfile> DefaultProfile() {
  ComPtr<IWMProfileManager> manager;
  ComPtr<IWMProfile> profile;
  ComPtr<IWMCodecInfo> codecs;
  if (FAILED(WMCreateProfileManager(manager.ReleaseAndGetAddressOf())) ||
      FAILED(manager->CreateEmptyProfile(WMT_VER_7_0, profile.ReleaseAndGetAddressOf())) ||
      FAILED(manager.As(&codecs))) {
    return {};
  }
  DWORD formats = 0;
  (void)codecs->GetCodecFormatCount(WMMEDIATYPE_Audio, 0, &formats);
  for (DWORD i = 0; i < formats; ++i) {
    ComPtr<IWMStreamConfig> audio;
    DWORD bitrate = 0;
    MediaTypeCopy media;
    if (FAILED(codecs->GetCodecFormat(WMMEDIATYPE_Audio, 0, i, audio.ReleaseAndGetAddressOf())) ||
        FAILED(audio->GetBitrate(&bitrate)) || FAILED(ReadMediaType(audio.Get(), &media))) {
      continue;
    }
    WMWAVEFORMATEX wave{};
    std::memcpy(&wave, media.format.data(), sizeof(wave));
    if (wave.nSamplesPerSec == 8000 && wave.nChannels == 1 && bitrate == 24000) {
      (void)audio->SetStreamNumber(1);
      (void)audio->SetStreamName("Audio Stream");
      (void)audio->SetConnectionName("Audio");
      (void)profile->AddStream(audio.Get());
      break;
    }
  }
  ComPtr<IWMStreamConfig> video;
  if (SUCCEEDED(codecs->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, video.ReleaseAndGetAddressOf()))) {
    (void)video->SetStreamNumber(2);
    (void)video->SetStreamName("Video Stream");
    (void)video->SetConnectionName("Video");
    (void)profile->AddStream(video.Get());
  }
  return profile;
}

std::wstring Wide(const std::string& text) { return halvard::media::FromUtf8(text); }

class CAsfWriterFilter;

class CAsfWriterInputPin final : public CBaseInputPin {
 public:
  CAsfWriterInputPin(CAsfWriterFilter* filter, CCritSec* lock, HRESULT* phr, const std::wstring& name, bool video);

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT ReceiveCanBlock() override { return S_OK; }
  HRESULT Active() override {
    m_ended = false;
    m_nextTime = 0;
    return CBaseInputPin::Active();
  }

  [[nodiscard]] bool IsVideo() const { return m_video; }
  [[nodiscard]] bool Ended() const { return m_ended; }
  [[nodiscard]] bool IsConnectedPin() { return IsConnected(); }

 private:
  CAsfWriterFilter* m_writer;
  bool m_video;
  std::atomic<bool> m_ended{false};
  REFERENCE_TIME m_nextTime = 0;  // for samples without a time (streaming thread)
};

struct FilterLock {
  CCritSec m_filterLock;
};

class CAsfWriterFilter final : private FilterLock, public CBaseFilter, public IFileSinkFilter, public IServiceProvider {
 public:
  CAsfWriterFilter() : CBaseFilter(L"Windows Media writer", nullptr, &m_filterLock, CLSID_WMAsfWriter) {
    m_core = std::make_unique<CAsfWriterCore>(GetOwner());
    m_core->SetConfigureGuard([this] { return MayConfigure(); });
    m_core->SetConfiguredCallback([this] { RebuildPins(); });
    if (ComPtr<IWMProfile> profile = DefaultProfile()) {
      (void)m_core->ConfigureFilterUsingProfile(profile.Get());
    }
  }
  ~CAsfWriterFilter() override {
    if (m_core->Engine().IsWriting()) {
      (void)m_core->Engine().End();
    }
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IFileSinkFilter) {
      return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
    }
    if (riid == IID_IServiceProvider) {
      return GetInterface(static_cast<IServiceProvider*>(this), ppv);
    }
    if (riid == IID_IConfigAsfWriter || riid == IID_IConfigInterleaving) {
      return m_core->QueryOwnInterface(riid, ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  int GetPinCount() override {
    CAutoLock lock(&m_filterLock);
    return static_cast<int>(m_pins.size());
  }
  CBasePin* GetPin(int n) override {
    CAutoLock lock(&m_filterLock);
    return n >= 0 && n < static_cast<int>(m_pins.size()) ? m_pins[static_cast<std::size_t>(n)].get() : nullptr;
  }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  HRESULT Pause() override {
    CAutoLock lock(&m_filterLock);
    if (m_State == State_Stopped) {
      m_errorPosted = false;
      const HRESULT hr = m_core->Engine().Begin();
      if (FAILED(hr)) {
        return hr;
      }
    }
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr) && m_State == State_Stopped) {
      (void)m_core->Engine().End();
    }
    return hr;
  }
  HRESULT Run(REFERENCE_TIME start) override {
    CAutoLock lock(&m_filterLock);
    if (m_State == State_Stopped) {
      const HRESULT hr = Pause();
      if (FAILED(hr)) {
        return hr;
      }
    }
    return CBaseFilter::Run(start);
  }
  HRESULT Stop() override {
    CAutoLock lock(&m_filterLock);
    const HRESULT hr = CBaseFilter::Stop();
    if (m_core->Engine().IsWriting()) {
      // Ends the stream: files complete. Its failure has been reported by Receive.
      (void)m_core->Engine().End();
    }
    return hr;
  }

  // IFileSinkFilter
  HRESULT SetFileName(LPCOLESTR file, const AM_MEDIA_TYPE* /*pmt*/) override {
    if (file == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_filterLock);
    const HRESULT hr = m_core->Engine().SetFileName(ToUtf8(file));
    if (SUCCEEDED(hr)) {
      m_fileName = file;
    }
    return hr;
  }
  HRESULT GetCurFile(LPOLESTR* file, AM_MEDIA_TYPE* pmt) override {
    if (file == nullptr) {
      return E_POINTER;
    }
    *file = nullptr;
    if (pmt != nullptr) {
      *pmt = AM_MEDIA_TYPE{};
    }
    CAutoLock lock(&m_filterLock);
    if (m_fileName.empty()) {
      return E_FAIL;
    }
    return halvard::media::AllocWideString(m_fileName.c_str(), file);
  }

  // IServiceProvider
  HRESULT QueryService(REFGUID service, REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (service != IID_IWMWriterAdvanced) {
      return E_NOINTERFACE;
    }
    return m_core->QueryOwnInterface(riid, ppv);
  }

  CAsfEngine& Engine() { return m_core->Engine(); }

  // A pin failed to write: the graph hears of it once per stream.
  void ReportFailure(HRESULT hr) {
    bool expected = false;
    if (m_errorPosted.compare_exchange_strong(expected, true)) {
      (void)NotifyEvent(EC_ERRORABORT, hr, 0);
    }
  }

  // Every connected input has ended: the stream is complete.
  void PinEnded() {
    CAutoLock lock(&m_filterLock);
    for (const auto& pin : m_pins) {
      if (pin->IsConnectedPin() && !pin->Ended()) {
        return;
      }
    }
    (void)NotifyEvent(EC_COMPLETE, S_OK, 0);
  }

 private:
  HRESULT MayConfigure() {
    CAutoLock lock(&m_filterLock);
    if (m_State != State_Stopped) {
      return VFW_E_NOT_STOPPED;
    }
    for (const auto& pin : m_pins) {
      if (pin->IsConnectedPin()) {
        return VFW_E_ALREADY_CONNECTED;
      }
    }
    return S_OK;
  }

  void RebuildPins() {
    CAutoLock lock(&m_filterLock);
    // Pins hand out references counted on the filter: keep the old ones until the
    // filter goes.
    for (auto& pin : m_pins) {
      m_retired.push_back(std::move(pin));
    }
    m_pins.clear();
    const AsfSettings& settings = m_core->Engine().Settings();
    struct Entry {
      WORD number;
      std::string name;
      bool video;
    };
    std::vector<Entry> entries;
    if (settings.audio) {
      entries.push_back({settings.audio->streamNumber, settings.audio->connectionName, false});
    }
    if (settings.video) {
      entries.push_back({settings.video->streamNumber, settings.video->connectionName, true});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.number < b.number; });
    for (const Entry& entry : entries) {
      HRESULT hr = S_OK;
      const std::string name = entry.name.empty() ? (entry.video ? "Video" : "Audio") : entry.name;
      m_pins.push_back(std::make_unique<CAsfWriterInputPin>(this, &m_filterLock, &hr, Wide(name), entry.video));
    }
    IncrementPinVersion();
  }

  std::unique_ptr<CAsfWriterCore> m_core;
  std::vector<std::unique_ptr<CAsfWriterInputPin>> m_pins;
  std::vector<std::unique_ptr<CAsfWriterInputPin>> m_retired;
  std::wstring m_fileName;
  std::atomic<bool> m_errorPosted{false};
};

CAsfWriterInputPin::CAsfWriterInputPin(CAsfWriterFilter* filter, CCritSec* lock, HRESULT* phr, const std::wstring& name,
                                       bool video)
    : CBaseInputPin(L"Windows Media writer input", filter, lock, phr, name.c_str()), m_writer(filter), m_video(video) {}

HRESULT CAsfWriterInputPin::CheckMediaType(const CMediaType* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  const AsfSettings& settings = m_writer->Engine().Settings();
  if (m_video) {
    if (pmt->majortype != MEDIATYPE_Video || pmt->formattype != FORMAT_VideoInfo ||
        pmt->cbFormat < sizeof(VIDEOINFOHEADER) || pmt->pbFormat == nullptr) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
    const LONG width = info->bmiHeader.biWidth;
    const LONG height = info->bmiHeader.biHeight;
    const bool rgb = pmt->subtype == MEDIASUBTYPE_RGB24 && info->bmiHeader.biBitCount == 24 && height > 0;
    const bool yuy2 = pmt->subtype == MEDIASUBTYPE_YUY2;
    const bool i420 = pmt->subtype == MEDIASUBTYPE_I420;
    const LONG rows = height < 0 ? -height : height;
    // What the capture chain can produce: even sizes up to 1280 x 960.
    if (!(rgb || yuy2 || i420) || width <= 0 || rows == 0 || width > kMaxVideoWidth || rows > kMaxVideoHeight ||
        (width % 2) != 0 || (rows % 2) != 0) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
  }
  if (!settings.audio || pmt->majortype != MEDIATYPE_Audio || pmt->formattype != FORMAT_WaveFormatEx ||
      pmt->cbFormat < sizeof(WAVEFORMATEX) || pmt->pbFormat == nullptr) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
  const WMWAVEFORMATEX& wanted = settings.audio->wave;
  if (wave->wFormatTag != WAVE_FORMAT_PCM || wave->wBitsPerSample != 16 || wave->nChannels != wanted.nChannels ||
      wave->nSamplesPerSec != wanted.nSamplesPerSec || wave->nBlockAlign != wanted.nChannels * 2) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT CAsfWriterInputPin::GetMediaType(int position, CMediaType* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  if (position < 0) {
    return E_INVALIDARG;
  }
  const AsfSettings& settings = m_writer->Engine().Settings();
  if (m_video) {
    if (position > 1 || !settings.video) {
      return VFW_S_NO_MORE_ITEMS;
    }
    const GUID& subtype = position == 0 ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_RGB24;
    *pmt = halvard::media::MakeVideoType(subtype, settings.video->width, settings.video->height,
                                         settings.video->frameTime);
    return S_OK;
  }
  if (position > 0 || !settings.audio) {
    return VFW_S_NO_MORE_ITEMS;
  }
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = settings.audio->wave.nChannels;
  wave.nSamplesPerSec = settings.audio->wave.nSamplesPerSec;
  wave.wBitsPerSample = 16;
  wave.nBlockAlign = static_cast<WORD>(wave.nChannels * 2);
  wave.nAvgBytesPerSec = wave.nSamplesPerSec * wave.nBlockAlign;
  CMediaType type(&MEDIATYPE_Audio);
  type.SetSubtype(&MEDIASUBTYPE_PCM);
  type.SetFormatType(&FORMAT_WaveFormatEx);
  type.SetSampleSize(wave.nBlockAlign);
  if (!type.SetFormat(reinterpret_cast<const BYTE*>(&wave), sizeof(wave))) {
    return E_OUTOFMEMORY;
  }
  *pmt = type;
  return S_OK;
}

HRESULT CAsfWriterInputPin::Receive(IMediaSample* sample) {
  HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) {
    return hr;
  }
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || data == nullptr) {
    return E_POINTER;
  }
  const LONG length = sample->GetActualDataLength();
  if (length <= 0) {
    return S_OK;
  }
  REFERENCE_TIME start = 0;
  REFERENCE_TIME end = 0;
  const HRESULT timed = sample->GetTime(&start, &end);
  if (FAILED(timed)) {
    start = m_nextTime;  // an untimed stream is taken as continuous
  }
  CAsfEngine& engine = m_writer->Engine();
  if (m_video) {
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.pbFormat);
    VideoInput input;
    input.format = m_mt.subtype == MEDIASUBTYPE_RGB24  ? PixelFormat::Rgb24
                   : m_mt.subtype == MEDIASUBTYPE_I420 ? PixelFormat::I420
                                                       : PixelFormat::Yuy2;
    input.width = info->bmiHeader.biWidth;
    input.height = info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight;
    input.data = data;
    input.bytes = static_cast<std::size_t>(length);
    const REFERENCE_TIME frameTime = engine.Settings().video ? engine.Settings().video->frameTime : kDefaultFrameTime;
    m_nextTime = start + frameTime;
    hr = engine.WriteVideo(input, start);
  } else {
    const WMWAVEFORMATEX& wave = engine.Settings().audio->wave;
    const std::size_t frameBytes = static_cast<std::size_t>(wave.nChannels) * 2;
    const std::size_t bytes = static_cast<std::size_t>(length) / frameBytes * frameBytes;
    m_nextTime = start + static_cast<REFERENCE_TIME>(bytes / frameBytes) * 10000000 / wave.nSamplesPerSec;
    hr = engine.WriteAudio(data, bytes, start);
  }
  if (hr == VFW_E_WRONG_STATE) {
    return S_FALSE;  // stopping: the stream has ended
  }
  if (FAILED(hr)) {
    m_writer->ReportFailure(hr);
    return hr;
  }
  return S_OK;
}

HRESULT CAsfWriterInputPin::EndOfStream() {
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) {
    return hr;
  }
  m_ended = true;
  m_writer->PinEnded();
  return S_OK;
}

struct Registration {
  Registration() {
    halvard::com::CoRegisterBuiltinClass(CLSID_WMAsfWriter, &CreateAsfWriterFilter);
    halvard::com::CoRegisterBuiltinClass(CLSID_MediaDet, [](REFIID riid, void** ppv) -> HRESULT {
      if (ppv == nullptr) {
        return E_POINTER;
      }
      *ppv = nullptr;
      ComPtr<IMediaDet> det;
      const HRESULT hr = CreateMediaDet(det.ReleaseAndGetAddressOf());
      return FAILED(hr) ? hr : det->QueryInterface(riid, ppv);
    });
    halvard::media::AddKnownFilterClass(CLSID_WMAsfWriter, "Windows Media writer");
  }
};
const Registration kRegistration;

}  // namespace

HRESULT CreateAsfWriterFilter(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  auto* filter = new (std::nothrow) CAsfWriterFilter();
  if (filter == nullptr) {
    return E_OUTOFMEMORY;
  }
  filter->NonDelegatingAddRef();
  const HRESULT hr = filter->NonDelegatingQueryInterface(riid, ppv);
  filter->NonDelegatingRelease();
  return hr;
}

}  // namespace halvard::wmf
