#include "platform/audio/AudioFilters.h"

#include <alsa/asoundlib.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/audio/AudioDevices.h"
#include "platform/media/BuiltinClasses.h"
#include "platform/media/FrameCounter.h"
#include "platform/media/Streams.h"

namespace halvard::audio {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
constexpr int kBlocksPerSecond = 10;

CMediaType MakePcmType(DWORD rate, WORD channels) {
  CMediaType mt(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  WAVEFORMATEX wf{};
  wf.wFormatTag = WAVE_FORMAT_PCM;
  wf.nChannels = channels;
  wf.nSamplesPerSec = rate;
  wf.wBitsPerSample = 16;
  wf.nBlockAlign = static_cast<WORD>(channels * 2);
  wf.nAvgBytesPerSec = rate * wf.nBlockAlign;
  wf.cbSize = 0;
  mt.SetFormat(reinterpret_cast<const BYTE*>(&wf), sizeof wf);
  mt.SetSampleSize(wf.nBlockAlign);
  return mt;
}

const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_WaveFormatEx || mt.pbFormat == nullptr || mt.cbFormat < sizeof(WAVEFORMATEX) - 2) {
    return nullptr;
  }
  return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

HRESULT CheckPcm(const CMediaType* pmt) {
  if (pmt == nullptr || *pmt->Type() != MEDIATYPE_Audio || *pmt->Subtype() != MEDIASUBTYPE_PCM) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  const WAVEFORMATEX* wf = WaveFormatOf(*pmt);
  if (wf == nullptr) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  WAVEFORMATEX copy{};
  std::memcpy(&copy, wf, std::min<std::size_t>(pmt->cbFormat, sizeof copy));
  return IsSupportedPcm(copy) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

// ---- sources --------------------------------------------------------------------------

// Where a source's sound comes from. Open runs on the streaming thread when it starts;
// Read fills one block and may wait up to about one block time.
class CSoundInput {
 public:
  virtual ~CSoundInput() = default;
  virtual HRESULT Open(const WAVEFORMATEX& format) = 0;
  virtual void Close() = 0;
  // S_OK: the block is filled; a failure: the device is gone.
  virtual HRESULT Read(BYTE* data, std::size_t bytes) = 0;
};

class CAlsaInput final : public CSoundInput {
 public:
  explicit CAlsaInput(std::string name) : m_name(std::move(name)) {}
  ~CAlsaInput() override { Close(); }
  HRESULT Open(const WAVEFORMATEX& format) override {
    Close();
    if (snd_pcm_open(&m_pcm, m_name.c_str(), SND_PCM_STREAM_CAPTURE, 0) < 0) {
      m_pcm = nullptr;
      return VFW_E_NO_AUDIO_HARDWARE;
    }
    if (snd_pcm_set_params(m_pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, format.nChannels,
                           format.nSamplesPerSec, 1, 500000) < 0) {
      Close();
      return VFW_E_NO_AUDIO_HARDWARE;
    }
    m_frameBytes = format.nBlockAlign;
    return S_OK;
  }
  void Close() override {
    if (m_pcm != nullptr) {
      snd_pcm_close(m_pcm);
      m_pcm = nullptr;
    }
  }
  HRESULT Read(BYTE* data, std::size_t bytes) override {
    if (m_pcm == nullptr || m_frameBytes == 0) {
      return VFW_E_NO_AUDIO_HARDWARE;
    }
    std::size_t done = 0;
    while (done < bytes) {
      const auto frames = static_cast<snd_pcm_uframes_t>((bytes - done) / m_frameBytes);
      if (frames == 0) {
        break;
      }
      const snd_pcm_sframes_t n = snd_pcm_readi(m_pcm, data + done, frames);
      if (n < 0) {
        if (snd_pcm_recover(m_pcm, static_cast<int>(n), 1) < 0) {
          return VFW_E_NO_AUDIO_HARDWARE;
        }
        continue;
      }
      done += static_cast<std::size_t>(n) * m_frameBytes;
    }
    return S_OK;
  }

 private:
  std::string m_name;
  snd_pcm_t* m_pcm = nullptr;
  std::size_t m_frameBytes = 0;
};

class CAudioSource;

class CAudioSourcePin final : public CSourceStream {
 public:
  CAudioSourcePin(HRESULT* phr, CSource* filter, std::unique_ptr<CSoundInput> input)
      : CSourceStream(L"Audio capture pin", phr, filter, L"Capture"), m_input(std::move(input)) {
    SetCategory(PIN_CATEGORY_CAPTURE);
  }

  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    if (pmt == nullptr) {
      return E_POINTER;
    }
    if (position < 0) {
      return E_INVALIDARG;
    }
    constexpr int kCount = static_cast<int>(std::size(kRates)) * 2;
    if (position >= kCount) {
      return VFW_S_NO_MORE_ITEMS;
    }
    *pmt = MakePcmType(kRates[position % std::size(kRates)], position < static_cast<int>(std::size(kRates)) ? 1 : 2);
    return S_OK;
  }
  HRESULT CheckMediaType(const CMediaType* pmt) override { return CheckPcm(pmt); }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
    const WAVEFORMATEX* wf = WaveFormatOf(m_mt);
    if (alloc == nullptr || request == nullptr) {
      return E_POINTER;
    }
    if (wf == nullptr) {
      return VFW_E_INVALIDMEDIATYPE;
    }
    request->cBuffers = std::max<LONG>(request->cBuffers, 4);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, static_cast<LONG>(BlockBytes(*wf)));
    request->cbAlign = std::max<LONG>(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr)) {
      return hr;
    }
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT OnThreadCreate() override {
    const WAVEFORMATEX* wf = WaveFormatOf(m_mt);
    if (wf == nullptr) {
      return VFW_E_INVALIDMEDIATYPE;
    }
    std::memcpy(&m_format, wf, sizeof(WAVEFORMATEX) - 2);
    m_format.cbSize = 0;
    m_blocksThisRun = 0;
    m_next = Clock::now();
    m_silent = m_input == nullptr;
    if (m_input != nullptr && FAILED(m_input->Open(m_format))) {
      GoSilent();
    }
    return S_OK;
  }
  HRESULT OnThreadDestroy() override {
    if (m_input != nullptr) {
      m_input->Close();
    }
    return S_OK;
  }

  HRESULT FillBuffer(IMediaSample* sample) override {
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr)) {
      return hr;
    }
    const std::size_t bytes = BlockBytes(m_format);
    if (bytes > static_cast<std::size_t>(sample->GetSize())) {
      return VFW_E_BUFFER_OVERFLOW;
    }
    if (m_silent) {
      // Silence comes at the pace of real sound, in short sleeps so that a stop
      // request is seen soon.
      const auto period = std::chrono::milliseconds(1000 / kBlocksPerSecond);
      for (;;) {
        Command command{};
        if (CheckRequest(&command)) {
          return S_FALSE;
        }
        const auto now = Clock::now();
        if (now >= m_next) {
          break;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(m_next - now, std::chrono::milliseconds(20)));
      }
      m_next = std::max(m_next + period, Clock::now() - 4 * period);
      std::memset(data, 0, bytes);
    } else if (FAILED(m_input->Read(data, bytes))) {
      GoSilent();
      std::memset(data, 0, bytes);
    }
    const REFERENCE_TIME duration = UNITS / kBlocksPerSecond;
    REFERENCE_TIME start = m_blocksThisRun * duration;
    REFERENCE_TIME stop = start + duration;
    sample->SetTime(&start, &stop);
    sample->SetActualDataLength(static_cast<LONG>(bytes));
    sample->SetSyncPoint(TRUE);
    ++m_blocksThisRun;
    ++m_blocks;
    return S_OK;
  }

  HRESULT DoBufferProcessingLoop() override {
    for (;;) {
      Command command{};
      if (CheckRequest(&command)) {
        return S_OK;
      }
      const LONGLONG limit = m_limit;
      if (limit > 0 && m_blocksThisRun >= limit) {
        DeliverEndOfStream();
        return S_OK;
      }
      IMediaSample* sample = nullptr;
      if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) {
        return S_OK;  // decommitted: we are being stopped
      }
      HRESULT hr = FillBuffer(sample);
      if (hr == S_OK) {
        hr = Deliver(sample);
      }
      sample->Release();
      if (hr == S_FALSE && CheckRequest(&command)) {
        return S_OK;
      }
      if (hr != S_OK) {
        DeliverEndOfStream();
        return S_OK;
      }
    }
  }

  void SetLimit(LONGLONG blocks) { m_limit = blocks; }
  [[nodiscard]] LONGLONG Blocks() const { return m_blocks; }

 private:
  static std::size_t BlockBytes(const WAVEFORMATEX& wf) {
    const std::size_t frames = wf.nSamplesPerSec / kBlocksPerSecond;
    return std::max<std::size_t>(frames, 1) * std::max<WORD>(wf.nBlockAlign, 1);
  }
  void GoSilent() {
    if (!m_silent) {
      m_silent = true;
      m_next = Clock::now();
      m_pFilter->NotifyEvent(EC_ERROR_STILLPLAYING, VFW_E_NO_AUDIO_HARDWARE, 0);
    }
  }

  std::unique_ptr<CSoundInput> m_input;  // null: silence
  WAVEFORMATEX m_format{};
  bool m_silent = true;
  Clock::time_point m_next{};
  LONGLONG m_blocksThisRun = 0;
  std::atomic<LONGLONG> m_blocks{0};
  std::atomic<LONGLONG> m_limit{0};
};

class CAudioSource final : public CSource, public CFrameCounter {
 public:
  CAudioSource(HRESULT* phr, REFCLSID clsid, std::unique_ptr<CSoundInput> input)
      : CSource(L"Audio Capture", nullptr, clsid, phr) {
    m_pin = new (std::nothrow) CAudioSourcePin(phr, this, std::move(input));
    if (m_pin == nullptr && phr != nullptr) {
      *phr = E_OUTOFMEMORY;
    }
  }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IFrameCounter) {
      return GetInterface(static_cast<IFrameCounter*>(this), ppv);
    }
    return CSource::NonDelegatingQueryInterface(riid, ppv);
  }
  // IFrameCounter
  LONGLONG CountedFrames() override { return m_pin->Blocks(); }
  LONGLONG CountedChannelFrames(LONG channel) override { return channel == 0 ? m_pin->Blocks() : 0; }
  HRESULT LimitFrames(LONGLONG frames) override {
    m_pin->SetLimit(frames);
    return S_OK;
  }

 private:
  CAudioSourcePin* m_pin = nullptr;  // owned by CSource
};

HRESULT MakeAudioSource(REFCLSID clsid, std::unique_ptr<CSoundInput> input, REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  HRESULT hr = S_OK;
  auto* filter = new (std::nothrow) CAudioSource(&hr, clsid, std::move(input));
  if (filter == nullptr) {
    return E_OUTOFMEMORY;
  }
  filter->NonDelegatingAddRef();
  if (SUCCEEDED(hr)) {
    hr = filter->NonDelegatingQueryInterface(riid, ppv);
  }
  filter->NonDelegatingRelease();
  return hr;
}

// ---- renderer ---------------------------------------------------------------------------

class CAudioRenderer;

class CAudioRendererPin final : public CBaseInputPin {
 public:
  CAudioRendererPin(HRESULT* phr, CBaseFilter* filter, CCritSec* lock)
      : CBaseInputPin(L"Audio renderer pin", filter, lock, phr, L"Audio Input pin (rendered)") {}

  HRESULT CheckMediaType(const CMediaType* pmt) override { return CheckPcm(pmt); }

  HRESULT Active() override {
    {
      std::lock_guard lock(m_endLock);
      m_endOfStream = false;
      m_endReported = false;
    }
    CloseDevice();
    const WAVEFORMATEX* wf = WaveFormatOf(m_mt);
    if (wf != nullptr && snd_pcm_open(&m_pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) >= 0) {
      if (snd_pcm_set_params(m_pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, wf->nChannels,
                             wf->nSamplesPerSec, 1, 500000) < 0) {
        CloseDevice();
      } else {
        m_frameBytes = wf->nBlockAlign;
      }
    } else {
      m_pcm = nullptr;  // no sound device: the sound is discarded
    }
    m_stopping = false;
    return CBaseInputPin::Active();
  }
  HRESULT Inactive() override {
    m_stopping = true;
    Wake();
    {
      std::lock_guard guard(m_deviceLock);
      CloseDevice();
    }
    return CBaseInputPin::Inactive();
  }

  HRESULT Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) {
      return hr;
    }
    ++m_samples;
    if (!WaitForTime(sample)) {
      return S_OK;  // paused, stopping or flushing: the sound is not played
    }
    // Sound at another rate than its own cannot be played as it is: the picture alone
    // follows the rate.
    if (CurrentRate() != 1.0) {
      return S_OK;
    }
    std::lock_guard guard(m_deviceLock);
    if (m_pcm == nullptr || m_frameBytes == 0) {
      return S_OK;
    }
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data))) {
      return S_OK;
    }
    const auto frames = static_cast<snd_pcm_uframes_t>(sample->GetActualDataLength() / static_cast<LONG>(m_frameBytes));
    // Non-blocking: when the device is behind, the rest of the block is dropped rather
    // than holding up the stream.
    const snd_pcm_sframes_t n = snd_pcm_writei(m_pcm, data, frames);
    if (n < 0 && n != -EAGAIN) {
      snd_pcm_recover(m_pcm, static_cast<int>(n), 1);
    }
    return S_OK;
  }
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override {
    const HRESULT hr = CBaseInputPin::BeginFlush();
    {
      std::lock_guard lock(m_endLock);
      m_endOfStream = false;
      m_endReported = false;
    }
    Wake();
    return hr;
  }

  /// The filter runs (true) or pauses or stops (false). The end of the stream is
  /// reported (EC_COMPLETE) only while running, as the video renderer does: one that
  /// comes while paused (a seek near the end, a rate change) is reported at the next
  /// run, so the graph, which counts the renderers' reports from each run on, hears it.
  void SetRunning(bool running) {
    bool report = false;
    {
      std::lock_guard lock(m_endLock);
      m_running = running;
      report = running && m_endOfStream && !m_endReported;
      m_endReported = m_endReported || report;
    }
    if (report) {
      Filter()->NotifyEvent(EC_COMPLETE, S_OK, 0);
    }
  }
  HRESULT EndFlush() override { return CBaseInputPin::EndFlush(); }

  /// Wakes a sample waiting for its time (the filter changed state).
  void Wake() {
    { std::lock_guard lock(m_waitLock); }
    m_wake.notify_all();
  }

  [[nodiscard]] LONGLONG Samples() const { return m_samples; }
  ~CAudioRendererPin() override { CloseDevice(); }

 private:
  // Presentation by time stamp: a timed sample of a running graph with a clock waits
  // until the stream time reaches its start (a live source's samples are never due
  // more than a moment ahead). A paused graph takes samples without waiting and
  // without playing them: the demultiplexer of a playback graph delivers every stream
  // on one thread, and a held sound block would keep the paused picture from arriving.
  // true: play the sample now.
  bool WaitForTime(IMediaSample* sample) {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    if (FAILED(sample->GetTime(&start, &stop))) {
      return true;
    }
    std::unique_lock lock(m_waitLock);
    for (;;) {
      if (m_stopping || IsFlushing()) {
        return false;
      }
      const FILTER_STATE state = Filter()->State();
      if (state != State_Running) {
        return false;
      }
      CRefTime now;
      if (FAILED(Filter()->StreamTime(now))) {
        return true;  // no clock: at once
      }
      const REFERENCE_TIME wait = start - static_cast<REFERENCE_TIME>(now);
      if (wait <= 0 || wait > 10 * UNITS) {
        return true;
      }
      m_wake.wait_for(lock, std::chrono::nanoseconds(wait * 100),
                      [&] { return Filter()->State() != State_Running || m_stopping || IsFlushing(); });
    }
  }

  void CloseDevice() {
    if (m_pcm != nullptr) {
      snd_pcm_close(m_pcm);
      m_pcm = nullptr;
    }
  }
  std::mutex m_deviceLock;
  std::mutex m_waitLock;
  std::condition_variable m_wake;
  std::mutex m_endLock;  // guards the three below
  bool m_running = false;
  bool m_endOfStream = false;
  bool m_endReported = false;
  std::atomic<bool> m_stopping{false};
  snd_pcm_t* m_pcm = nullptr;
  std::size_t m_frameBytes = 0;
  std::atomic<LONGLONG> m_samples{0};
};

class CAudioRenderer final : public CBaseFilter, public CFrameCounter {
 public:
  explicit CAudioRenderer(HRESULT* phr) : CBaseFilter(L"Audio Renderer", nullptr, &m_lock, CLSID_DSoundRender, phr) {
    m_pin = std::make_unique<CAudioRendererPin>(phr, this, &m_lock);
  }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IFrameCounter) {
      return GetInterface(static_cast<IFrameCounter*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin.get() : nullptr; }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  HRESULT Stop() override {
    m_pin->SetRunning(false);
    return CBaseFilter::Stop();
  }
  HRESULT Pause() override {
    m_pin->SetRunning(false);
    const HRESULT hr = CBaseFilter::Pause();
    m_pin->Wake();
    return hr;
  }
  HRESULT Run(REFERENCE_TIME start) override {
    const HRESULT hr = CBaseFilter::Run(start);
    m_pin->Wake();
    if (SUCCEEDED(hr)) {
      m_pin->SetRunning(true);
    }
    return hr;
  }

  // IFrameCounter
  LONGLONG CountedFrames() override { return m_pin->Samples(); }
  LONGLONG CountedChannelFrames(LONG channel) override { return channel == 0 ? m_pin->Samples() : 0; }

 private:
  CCritSec m_lock;
  std::unique_ptr<CAudioRendererPin> m_pin;
};

HRESULT CAudioRendererPin::EndOfStream() {
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) {
    return hr;
  }
  bool report = false;
  {
    std::lock_guard lock(m_endLock);
    m_endOfStream = true;
    report = m_running && !m_endReported;
    m_endReported = m_endReported || report;
  }
  if (report) {
    Filter()->NotifyEvent(EC_COMPLETE, S_OK, 0);
  }
  return S_OK;
}

HRESULT CreateSilenceBuiltin(REFIID riid, void** ppv) { return CreateSilenceSource(riid, ppv); }
HRESULT CreateRendererBuiltin(REFIID riid, void** ppv) { return CreateAudioRenderer(riid, ppv); }

[[maybe_unused]] const bool kRegistered = [] {
  RegisterAudioClasses();
  return true;
}();

}  // namespace

bool IsSupportedPcm(const WAVEFORMATEX& format) {
  return format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16 &&
         (format.nChannels == 1 || format.nChannels == 2) && format.nSamplesPerSec >= 8000 &&
         format.nSamplesPerSec <= 48000 && format.nBlockAlign == format.nChannels * 2;
}

HRESULT CreateSilenceSource(REFIID riid, void** ppv) {
  return MakeAudioSource(CLSID_DefaultAudioSource, nullptr, riid, ppv);
}

HRESULT CreateAudioCaptureSource(const AudioDevice& device, REFIID riid, void** ppv) {
  // {2EF8F88E-45DF-4D48-92A3-52C3C3846319}
  static constexpr GUID kClsidAlsaCapture{0x2EF8F88E, 0x45DF, 0x4D48, {0x92, 0xA3, 0x52, 0xC3, 0xC3, 0x84, 0x63, 0x19}};
  return MakeAudioSource(kClsidAlsaCapture, std::make_unique<CAlsaInput>(device.alsaName), riid, ppv);
}

HRESULT CreateAudioRenderer(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  HRESULT hr = S_OK;
  auto* filter = new (std::nothrow) CAudioRenderer(&hr);
  if (filter == nullptr) {
    return E_OUTOFMEMORY;
  }
  filter->NonDelegatingAddRef();
  if (SUCCEEDED(hr)) {
    hr = filter->NonDelegatingQueryInterface(riid, ppv);
  }
  filter->NonDelegatingRelease();
  return hr;
}

void RegisterAudioClasses() {
  com::CoRegisterBuiltinClass(CLSID_DefaultAudioSource, &CreateSilenceBuiltin);
  com::CoRegisterBuiltinClass(CLSID_DSoundRender, &CreateRendererBuiltin);
  com::CoRegisterBuiltinClass(CLSID_AudioRender, &CreateRendererBuiltin);
  media::AddKnownFilterClass(CLSID_DefaultAudioSource, "Default audio source");
  media::AddKnownFilterClass(CLSID_DSoundRender, "Audio renderer");
}

}  // namespace halvard::audio
