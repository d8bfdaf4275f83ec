// The demultiplexer on libavformat: one streaming thread reads packets in file order and
// delivers each to its stream's pin, with times relative to the current segment and
// divided by the rate.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "platform/media/Streams.h"
#include "platform/media/playback/Playback.h"
#include "platform/media/playback/PlaybackInternal.h"
#include "platform/media/playback/StreamFormat.h"

namespace halvard::media::playback {
namespace {

constexpr AVRational kUnits100ns{1, 10000000};
constexpr LONGLONG kNoTime = 0x7FFFFFFFFFFFFFFFLL;
// Read errors in a row after which a damaged file is taken as ended.
constexpr int kMaxReadErrors = 32;
// Packets larger than this are not media a camera produced (a damaged length field).
constexpr long kMaxPacketBytes = 16 * 1024 * 1024;

class CFileDemux;

class CDemuxInputPin final : public CBasePin {
 public:
  CDemuxInputPin(CFileDemux* filter, CCritSec* lock, HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* pmt) override {
    return pmt != nullptr && pmt->majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;
  HRESULT BeginFlush() override { return S_OK; }
  HRESULT EndFlush() override { return S_OK; }

 private:
  CFileDemux* m_demux;
};

class CDemuxOutputPin final : public CBaseOutputPin, public IMediaSeeking {
 public:
  CDemuxOutputPin(CFileDemux* filter, CCritSec* lock, HRESULT* phr, const std::wstring& name, int streamIndex,
                  const CMediaType& type, long bufferBytes);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IMediaSeeking) {
      return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    }
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckMediaType(const CMediaType* pmt) override {
    return pmt != nullptr && *pmt == m_type ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    if (position < 0) {
      return E_INVALIDARG;
    }
    if (position > 0) {
      return VFW_S_NO_MORE_ITEMS;
    }
    *pmt = m_type;
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = std::max<LONG>(request->cBuffers, 8);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, m_bufferBytes);
    request->cbAlign = std::max<LONG>(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr)) {
      return hr;
    }
    return actual.cbBuffer < m_bufferBytes ? E_FAIL : S_OK;
  }

  [[nodiscard]] int StreamIndex() const { return m_streamIndex; }
  [[nodiscard]] bool IsVideo() const { return m_type.majortype == MEDIATYPE_Video; }

  // ---- IMediaSeeking: answered by the filter ----
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

 private:
  CFileDemux* m_demux;
  int m_streamIndex;
  CMediaType m_type;
  long m_bufferBytes;
};

struct FormatCloser {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

class CFileDemux final : public CBaseFilter, public IFileSourceFilter {
 public:
  CFileDemux(const CLSID& clsid, const wchar_t* name) : CBaseFilter(name, nullptr, &m_lock, clsid) {
    HRESULT hr = S_OK;
    m_input = std::make_unique<CDemuxInputPin>(this, &m_lock, &hr);
  }
  ~CFileDemux() override {
    StopThread();
    m_outputs.clear();
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IFileSourceFilter) {
      return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  // The input pin exists until a file is loaded by name; then the filter is a source.
  int GetPinCount() override { return static_cast<int>(m_outputs.size()) + (m_loadedByName ? 0 : 1); }
  CBasePin* GetPin(int n) override {
    if (!m_loadedByName) {
      if (n == 0) {
        return m_input.get();
      }
      --n;
    }
    return n >= 0 && n < static_cast<int>(m_outputs.size()) ? m_outputs[static_cast<std::size_t>(n)].get() : nullptr;
  }
  ULONG GetMiscFlags() override { return m_loadedByName ? AM_FILTER_MISC_FLAGS_IS_SOURCE : 0; }

  // ---- IFileSourceFilter ----
  HRESULT Load(LPCOLESTR file, const AM_MEDIA_TYPE* /*pmt*/) override {
    if (file == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    if (m_format || m_input->IsConnected()) {
      return VFW_E_WRONG_STATE;
    }
    const HRESULT hr = Open(ToUtf8(file));
    if (FAILED(hr)) {
      return hr;
    }
    m_file = file;
    m_loadedByName = true;
    IncrementPinVersion();
    return S_OK;
  }
  HRESULT GetCurFile(LPOLESTR* file, AM_MEDIA_TYPE* pmt) override { return CopyCurFile(m_lock, m_file, file, pmt); }

  // ---- states ----
  HRESULT Stop() override {
    m_stopRequested = true;
    // The base decommits the allocators first, which frees a thread waiting for a buffer.
    const HRESULT hr = CBaseFilter::Stop();
    StopThread();
    // The next start goes on from where reading stopped, in a new segment.
    std::lock_guard lock(m_seekState);
    if (m_lastPosition >= 0) {
      m_start = m_lastPosition;
      m_lastPosition = -1;
      m_needSeek = true;
    }
    return hr;
  }
  HRESULT Pause() override {
    CAutoLock lock(&m_lock);
    const bool fromStopped = m_State == State_Stopped;
    const HRESULT hr = CBaseFilter::Pause();
    if (SUCCEEDED(hr) && fromStopped) {
      StartThread();
    }
    return hr;
  }

  // ---- for the input pin ----
  HRESULT OpenFromReader(IPin* readerPin) {
    PIN_INFO info{};
    if (FAILED(readerPin->QueryPinInfo(&info)) || info.pFilter == nullptr) {
      return VFW_E_CANNOT_CONNECT;
    }
    ComPtr<IBaseFilter> reader = ComPtr<IBaseFilter>::Attach(info.pFilter);
    ComPtr<IFileSourceFilter> source;
    if (FAILED(reader->QueryInterface(IID_IFileSourceFilter, source.PutVoid()))) {
      return VFW_E_CANNOT_CONNECT;
    }
    LPOLESTR name = nullptr;
    HRESULT hr = source->GetCurFile(&name, nullptr);
    if (FAILED(hr) || name == nullptr) {
      return FAILED(hr) ? hr : E_FAIL;
    }
    std::wstring file(name);
    CoTaskMemFree(name);
    hr = Open(ToUtf8(file.c_str()));
    if (SUCCEEDED(hr)) {
      m_file = file;
      IncrementPinVersion();
    }
    return hr;
  }
  void CloseFromReader() {
    StopThread();
    // Somebody may still hold a pin (the graph walks the pins while it disconnects
    // them); a pin lives as long as its filter, so the old ones are kept until then.
    for (auto& pin : m_outputs) {
      m_retired.push_back(std::move(pin));
    }
    m_outputs.clear();
    m_format.reset();
    m_file.clear();
    IncrementPinVersion();
  }

  // ---- seeking (the pins call these) ----
  [[nodiscard]] bool IsSeekingPin(const CDemuxOutputPin* pin) {
    for (const auto& p : m_outputs) {
      if (p->IsVideo()) {
        return p.get() == pin;
      }
    }
    return !m_outputs.empty() && m_outputs.front().get() == pin;
  }
  [[nodiscard]] bool HasFrames() const { return m_frameTime > 0; }

  HRESULT GetCapabilities(DWORD* caps) {
    if (caps == nullptr) {
      return E_POINTER;
    }
    *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
            AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | (m_duration > 0 ? static_cast<DWORD>(AM_SEEKING_CanGetDuration) : 0u);
    return S_OK;
  }
  HRESULT IsFormatSupported(const GUID* format) {
    if (format == nullptr) {
      return E_POINTER;
    }
    return *format == TIME_FORMAT_MEDIA_TIME || (*format == TIME_FORMAT_FRAME && HasFrames()) ? S_OK : S_FALSE;
  }
  HRESULT GetTimeFormat(GUID* format) {
    if (format == nullptr) {
      return E_POINTER;
    }
    std::lock_guard lock(m_seekState);
    *format = m_timeFormat;
    return S_OK;
  }
  HRESULT SetTimeFormat(const GUID* format) {
    if (format == nullptr) {
      return E_POINTER;
    }
    if (IsFormatSupported(format) != S_OK) {
      return E_INVALIDARG;
    }
    if (m_State != State_Stopped) {
      return VFW_E_WRONG_STATE;
    }
    std::lock_guard lock(m_seekState);
    m_timeFormat = *format;
    return S_OK;
  }
  HRESULT GetDuration(LONGLONG* duration) {
    if (duration == nullptr) {
      return E_POINTER;
    }
    *duration = 0;
    if (m_duration <= 0) {
      return E_NOTIMPL;  // the header names no length (a recording still being written)
    }
    *duration = ToFormat(m_duration);
    return S_OK;
  }
  HRESULT GetStopPosition(LONGLONG* stop) {
    if (stop == nullptr) {
      return E_POINTER;
    }
    std::lock_guard lock(m_seekState);
    *stop = m_stop == kNoTime ? ToFormat(std::max<LONGLONG>(m_duration, 0)) : ToFormat(m_stop);
    return S_OK;
  }
  HRESULT GetCurrentPosition(LONGLONG* current) {
    if (current == nullptr) {
      return E_POINTER;
    }
    std::lock_guard lock(m_seekState);
    *current = ToFormat(m_lastPosition >= 0 ? m_lastPosition : m_start);
    return S_OK;
  }
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source, const GUID* sourceFormat) {
    if (target == nullptr) {
      return E_POINTER;
    }
    GUID current;
    (void)GetTimeFormat(&current);
    const GUID from = sourceFormat != nullptr ? *sourceFormat : current;
    const GUID to = targetFormat != nullptr ? *targetFormat : current;
    if (IsFormatSupported(&from) != S_OK || IsFormatSupported(&to) != S_OK) {
      return E_INVALIDARG;
    }
    const LONGLONG time = from == TIME_FORMAT_FRAME ? source * m_frameTime : source;
    *target = to == TIME_FORMAT_FRAME ? FramesOf(time) : time;
    return S_OK;
  }
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
    std::lock_guard seekLock(m_seekLock);
    LONGLONG newStart = 0;
    LONGLONG newStop = 0;
    bool restart = false;
    {
      std::lock_guard lock(m_seekState);
      newStart = m_start;
      newStop = m_stop;
      const DWORD startMode = currentFlags & AM_SEEKING_PositioningBitsMask;
      if (current != nullptr && startMode != AM_SEEKING_NoPositioning) {
        const LONGLONG value = FromFormat(*current);
        newStart = startMode == AM_SEEKING_AbsolutePositioning ? value : (m_lastPosition >= 0 ? m_lastPosition : m_start) + value;
        restart = true;
      }
      const DWORD stopMode = stopFlags & AM_SEEKING_PositioningBitsMask;
      if (stop != nullptr && stopMode != AM_SEEKING_NoPositioning) {
        const LONGLONG value = FromFormat(*stop);
        newStop = stopMode == AM_SEEKING_AbsolutePositioning ? value : (m_stop == kNoTime ? m_duration : m_stop) + value;
        restart = true;
      }
      if (newStart < 0) {
        newStart = 0;
      }
      if (m_duration > 0 && newStart > m_duration) {
        newStart = m_duration;
      }
      if (newStop != kNoTime && newStop < newStart) {
        newStop = newStart;
      }
      if (current != nullptr && (currentFlags & AM_SEEKING_ReturnTime) != 0) {
        *current = ToFormat(newStart);
      }
      if (stop != nullptr && (stopFlags & AM_SEEKING_ReturnTime) != 0) {
        *stop = ToFormat(newStop);
      }
    }
    if (!restart) {
      return S_OK;
    }
    Restart(newStart, newStop, 0.0);
    return S_OK;
  }
  HRESULT SetRate(double rate) {
    if (!(rate > 0.0) || !std::isfinite(rate)) {
      return E_INVALIDARG;  // no reverse play
    }
    std::lock_guard seekLock(m_seekLock);
    LONGLONG position = 0;
    LONGLONG stop = 0;
    {
      std::lock_guard lock(m_seekState);
      if (rate == m_rate) {
        return S_OK;
      }
      position = m_lastPosition >= 0 ? m_lastPosition : m_start;
      stop = m_stop;
    }
    // The times already delivered were divided by the old rate: a new segment from
    // the position reached keeps the renderers' schedule right.
    Restart(position, stop, rate);
    return S_OK;
  }
  HRESULT GetRate(double* rate) {
    if (rate == nullptr) {
      return E_POINTER;
    }
    std::lock_guard lock(m_seekState);
    *rate = m_rate;
    return S_OK;
  }

 private:
  HRESULT Open(const std::string& path) {
    HRESULT hr = CheckReadable(path);
    if (FAILED(hr)) {
      return hr;
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) {
      return E_OUTOFMEMORY;
    }
    raw->interrupt_callback.callback = &CFileDemux::InterruptThunk;
    raw->interrupt_callback.opaque = this;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
      return VFW_E_INVALID_FILE_FORMAT;  // avformat_open_input frees raw on failure
    }
    std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
      return VFW_E_INVALID_FILE_FORMAT;
    }
    std::vector<std::unique_ptr<CDemuxOutputPin>> pins;
    int videos = 0;
    int audios = 0;
    LONGLONG frameTime = 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
      AVStream* st = format->streams[i];
      st->discard = AVDISCARD_ALL;
      const AVCodecParameters* par = st->codecpar;
      if ((par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO) ||
          avcodec_find_decoder(par->codec_id) == nullptr) {
        continue;
      }
      LONGLONG streamFrameTime = 0;
      if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) {
          streamFrameTime = av_rescale(UNITS, rate.den, rate.num);
        }
      }
      CMediaType type;
      if (!MakeStreamType(*par, streamFrameTime, &type)) {
        continue;
      }
      const bool video = par->codec_type == AVMEDIA_TYPE_VIDEO;
      const int n = video ? ++videos : ++audios;
      std::wstring name = video ? L"Video" : L"Audio";
      if (n > 1) {
        name += L" " + std::to_wstring(n);
      }
      long bytes = video ? std::max<long>(static_cast<long>(par->width) * par->height * 3, 64 * 1024) : 256 * 1024;
      bytes = std::min(bytes, kMaxPacketBytes);
      HRESULT pinHr = S_OK;
      auto pin = std::make_unique<CDemuxOutputPin>(this, &m_lock, &pinHr, name, static_cast<int>(i), type, bytes);
      if (FAILED(pinHr)) {
        return pinHr;
      }
      if (video && frameTime == 0) {
        frameTime = streamFrameTime;
      }
      st->discard = AVDISCARD_DEFAULT;
      pins.push_back(std::move(pin));
    }
    if (pins.empty()) {
      return VFW_E_INVALID_FILE_FORMAT;  // nothing in it that plays
    }
    m_startTime = format->start_time != AV_NOPTS_VALUE ? av_rescale_q(format->start_time, AV_TIME_BASE_Q, kUnits100ns) : 0;
    // A length estimated from the bitrate is a guess over a file that may be growing:
    // only a length the container states counts.
    m_duration = format->duration > 0 && format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE
                     ? av_rescale_q(format->duration, AV_TIME_BASE_Q, kUnits100ns)
                     : 0;
    m_frameTime = frameTime;
    m_outputs = std::move(pins);
    m_format = std::move(format);
    std::lock_guard lock(m_seekState);
    m_start = 0;
    m_stop = kNoTime;
    m_rate = 1.0;
    m_lastPosition = -1;
    m_needSeek = false;
    return S_OK;
  }

  static int InterruptThunk(void* opaque) { return static_cast<CFileDemux*>(opaque)->m_stopRequested.load() ? 1 : 0; }

  LONGLONG FramesOf(LONGLONG time) const {
    return m_frameTime > 0 ? (time + m_frameTime / 2) / m_frameTime : 0;
  }
  // Called with m_seekState held (m_timeFormat).
  LONGLONG ToFormat(LONGLONG time) const { return m_timeFormat == TIME_FORMAT_FRAME ? FramesOf(time) : time; }
  LONGLONG FromFormat(LONGLONG value) const {
    return m_timeFormat == TIME_FORMAT_FRAME ? value * m_frameTime : value;
  }

  // Flushes downstream, ends the thread, takes the new segment and starts again when
  // the filter is active. rate 0 keeps the rate. Under m_seekLock.
  void Restart(LONGLONG start, LONGLONG stop, double rate) {
    const bool streaming = m_thread.joinable();
    if (streaming) {
      for (const auto& pin : m_outputs) {
        (void)pin->DeliverBeginFlush();
      }
      m_stopRequested = true;
      m_thread.join();
      for (const auto& pin : m_outputs) {
        (void)pin->DeliverEndFlush();
      }
    }
    {
      std::lock_guard lock(m_seekState);
      m_start = start;
      m_stop = stop;
      if (rate > 0.0) {
        m_rate = rate;
      }
      m_lastPosition = -1;
      m_needSeek = true;
    }
    if (streaming && m_State != State_Stopped) {
      StartThread();
    }
  }

  void StartThread() {
    if (m_thread.joinable() || !m_format) {
      return;
    }
    m_stopRequested = false;
    m_thread = std::thread([this] { StreamingLoop(); });
  }
  void StopThread() {
    if (m_thread.joinable()) {
      m_stopRequested = true;
      m_thread.join();
    }
  }

  CDemuxOutputPin* PinOfStream(int index) {
    for (const auto& pin : m_outputs) {
      if (pin->StreamIndex() == index) {
        return pin.get();
      }
    }
    return nullptr;
  }

  // The streaming thread.
  void StreamingLoop() {
    LONGLONG start = 0;
    LONGLONG stop = kNoTime;
    double rate = 1.0;
    bool seek = false;
    {
      std::lock_guard lock(m_seekState);
      start = m_start;
      stop = m_stop;
      rate = m_rate;
      seek = m_needSeek;
      m_needSeek = false;
    }
    AVFormatContext* format = m_format.get();
    if (seek) {
      // The key frame at or before the position; the decoder then runs forward to it.
      const int64_t target = av_rescale_q(start + m_startTime, kUnits100ns, AV_TIME_BASE_Q);
      if (av_seek_frame(format, -1, target, AVSEEK_FLAG_BACKWARD) < 0 &&
          avformat_seek_file(format, -1, INT64_MIN, target, target, 0) < 0) {
        // No index (a recording still being written): from the beginning of the data.
        (void)avformat_seek_file(format, -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BYTE);
      }
    }
    for (const auto& pin : m_outputs) {
      (void)pin->DeliverNewSegment(start, stop, rate);
    }
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (!packet) {
      (void)NotifyEvent(EC_ERRORABORT, E_OUTOFMEMORY, 0);
      return;
    }
    std::vector<bool> discontinuity(m_outputs.size(), true);
    int errors = 0;
    bool ended = false;
    while (!m_stopRequested) {
      const int read = av_read_frame(format, packet.get());
      if (read < 0) {
        if (read == AVERROR_EOF || read == AVERROR_EXIT || ++errors > kMaxReadErrors || avio_feof(format->pb)) {
          ended = read != AVERROR_EXIT;
          break;
        }
        continue;  // a damaged packet: the demuxer resynchronises on the next
      }
      errors = 0;
      CDemuxOutputPin* pin = PinOfStream(packet->stream_index);
      if (pin == nullptr || packet->size <= 0 || !pin->IsConnected()) {
        av_packet_unref(packet.get());
        continue;
      }
      const AVStream* st = format->streams[packet->stream_index];
      const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      const bool timed = pts != AV_NOPTS_VALUE;
      LONGLONG time = timed ? av_rescale_q(pts, st->time_base, kUnits100ns) - m_startTime : 0;
      LONGLONG length = packet->duration > 0 ? av_rescale_q(packet->duration, st->time_base, kUnits100ns) : 1;
      if (timed && stop != kNoTime && time >= stop && pin->IsVideo()) {
        av_packet_unref(packet.get());
        ended = true;
        break;
      }
      const HRESULT hr = DeliverPacket(pin, *packet, timed, time - start, length, rate,
                                       discontinuity[IndexOf(pin)]);
      discontinuity[IndexOf(pin)] = false;
      if (timed && time >= start && (IsSeekingPin(pin))) {
        std::lock_guard lock(m_seekState);
        m_lastPosition = time;
      }
      av_packet_unref(packet.get());
      if (FAILED(hr)) {
        break;  // downstream stopped or failed: nothing more to do until restarted
      }
    }
    if (ended && !m_stopRequested) {
      for (const auto& pin : m_outputs) {
        (void)pin->DeliverEndOfStream();
      }
    }
  }

  std::size_t IndexOf(const CDemuxOutputPin* pin) const {
    for (std::size_t i = 0; i < m_outputs.size(); ++i) {
      if (m_outputs[i].get() == pin) {
        return i;
      }
    }
    return 0;
  }

  HRESULT DeliverPacket(CDemuxOutputPin* pin, const AVPacket& packet, bool timed, LONGLONG relative,
                        LONGLONG length, double rate, bool discontinuity) {
    IMediaSample* sample = nullptr;
    HRESULT hr = pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr) || sample == nullptr) {
      return FAILED(hr) ? hr : E_FAIL;
    }
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < packet.size) {
      sample->Release();
      return S_OK;  // larger than any picture of the stream: a damaged packet is skipped
    }
    std::memcpy(data, packet.data, static_cast<std::size_t>(packet.size));
    (void)sample->SetActualDataLength(packet.size);
    if (timed) {
      REFERENCE_TIME sampleStart = static_cast<REFERENCE_TIME>(std::llround(static_cast<double>(relative) / rate));
      REFERENCE_TIME sampleStop =
          sampleStart + std::max<REFERENCE_TIME>(1, static_cast<REFERENCE_TIME>(std::llround(length / rate)));
      (void)sample->SetTime(&sampleStart, &sampleStop);
      // Before the position: decoded for the pictures that follow, never shown.
      (void)sample->SetPreroll(relative < 0);
    }
    (void)sample->SetSyncPoint((packet.flags & AV_PKT_FLAG_KEY) != 0);
    (void)sample->SetDiscontinuity(discontinuity);
    hr = pin->Deliver(sample);
    sample->Release();
    return hr;
  }

  CCritSec m_lock;
  std::unique_ptr<CDemuxInputPin> m_input;
  std::vector<std::unique_ptr<CDemuxOutputPin>> m_outputs;
  std::vector<std::unique_ptr<CDemuxOutputPin>> m_retired;  // of a file no longer open
  std::unique_ptr<AVFormatContext, FormatCloser> m_format;
  std::wstring m_file;
  bool m_loadedByName = false;
  LONGLONG m_startTime = 0;  // first time stamp of the file, 100 ns
  LONGLONG m_duration = 0;   // 0: unknown
  LONGLONG m_frameTime = 0;  // of the first video stream, 0: unknown

  std::thread m_thread;
  std::atomic<bool> m_stopRequested{false};
  std::mutex m_seekLock;   // one seek or rate change at a time
  std::mutex m_seekState;  // the fields below
  GUID m_timeFormat = TIME_FORMAT_MEDIA_TIME;
  LONGLONG m_start = 0;
  LONGLONG m_stop = kNoTime;
  double m_rate = 1.0;
  LONGLONG m_lastPosition = -1;  // time of the last packet delivered at or after m_start
  bool m_needSeek = false;
};

CDemuxOutputPin::CDemuxOutputPin(CFileDemux* filter, CCritSec* lock, HRESULT* phr, const std::wstring& name,
                                 int streamIndex, const CMediaType& type, long bufferBytes)
    : CBaseOutputPin(L"Demux output", filter, lock, phr, name.c_str()),
      m_demux(filter),
      m_streamIndex(streamIndex),
      m_type(type),
      m_bufferBytes(bufferBytes) {}

CDemuxInputPin::CDemuxInputPin(CFileDemux* filter, CCritSec* lock, HRESULT* phr)
    : CBasePin(L"Demux input", filter, lock, phr, L"Input", PINDIR_INPUT), m_demux(filter) {}

HRESULT CDemuxInputPin::CheckConnect(IPin* pin) {
  const HRESULT hr = CBasePin::CheckConnect(pin);
  if (FAILED(hr)) {
    return hr;
  }
  return m_demux->GetPinCount() > 1 ? VFW_E_ALREADY_CONNECTED : S_OK;
}

HRESULT CDemuxInputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = CBasePin::CompleteConnect(receivePin);
  if (FAILED(hr)) {
    return hr;
  }
  return m_demux->OpenFromReader(receivePin);
}

HRESULT CDemuxInputPin::BreakConnect() {
  m_demux->CloseFromReader();
  return CBasePin::BreakConnect();
}

#define HALVARD_SEEK_ALL(call) return m_demux->call
HRESULT CDemuxOutputPin::GetCapabilities(DWORD* capabilities) { HALVARD_SEEK_ALL(GetCapabilities(capabilities)); }
HRESULT CDemuxOutputPin::CheckCapabilities(DWORD* capabilities) {
  if (capabilities == nullptr) {
    return E_POINTER;
  }
  DWORD have = 0;
  (void)m_demux->GetCapabilities(&have);
  const DWORD wanted = *capabilities;
  *capabilities &= have;
  return *capabilities == wanted ? S_OK : (*capabilities == 0 ? E_FAIL : S_FALSE);
}
HRESULT CDemuxOutputPin::IsFormatSupported(const GUID* format) { HALVARD_SEEK_ALL(IsFormatSupported(format)); }
HRESULT CDemuxOutputPin::QueryPreferredFormat(GUID* format) {
  if (format == nullptr) {
    return E_POINTER;
  }
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}
HRESULT CDemuxOutputPin::GetTimeFormat(GUID* format) { HALVARD_SEEK_ALL(GetTimeFormat(format)); }
HRESULT CDemuxOutputPin::IsUsingTimeFormat(const GUID* format) {
  if (format == nullptr) {
    return E_POINTER;
  }
  GUID current;
  (void)m_demux->GetTimeFormat(&current);
  return current == *format ? S_OK : S_FALSE;
}
HRESULT CDemuxOutputPin::SetTimeFormat(const GUID* format) { HALVARD_SEEK_ALL(SetTimeFormat(format)); }
HRESULT CDemuxOutputPin::GetDuration(LONGLONG* duration) { HALVARD_SEEK_ALL(GetDuration(duration)); }
HRESULT CDemuxOutputPin::GetStopPosition(LONGLONG* stop) { HALVARD_SEEK_ALL(GetStopPosition(stop)); }
HRESULT CDemuxOutputPin::GetCurrentPosition(LONGLONG* current) { HALVARD_SEEK_ALL(GetCurrentPosition(current)); }
HRESULT CDemuxOutputPin::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                           const GUID* sourceFormat) {
  HALVARD_SEEK_ALL(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
HRESULT CDemuxOutputPin::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  // Every renderer passes the same request up; only one pin acts on it.
  if (!m_demux->IsSeekingPin(this)) {
    return S_OK;
  }
  HALVARD_SEEK_ALL(SetPositions(current, currentFlags, stop, stopFlags));
}
HRESULT CDemuxOutputPin::GetPositions(LONGLONG* current, LONGLONG* stop) {
  if (current == nullptr || stop == nullptr) {
    return E_POINTER;
  }
  const HRESULT hr = m_demux->GetCurrentPosition(current);
  return FAILED(hr) ? hr : m_demux->GetStopPosition(stop);
}
HRESULT CDemuxOutputPin::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  if (earliest == nullptr || latest == nullptr) {
    return E_POINTER;
  }
  *earliest = 0;
  return m_demux->GetDuration(latest);
}
HRESULT CDemuxOutputPin::SetRate(double rate) {
  if (!m_demux->IsSeekingPin(this)) {
    return rate > 0.0 ? S_OK : E_INVALIDARG;
  }
  HALVARD_SEEK_ALL(SetRate(rate));
}
HRESULT CDemuxOutputPin::GetRate(double* rate) { HALVARD_SEEK_ALL(GetRate(rate)); }
HRESULT CDemuxOutputPin::GetPreroll(LONGLONG* preroll) {
  if (preroll == nullptr) {
    return E_POINTER;
  }
  *preroll = 0;
  return S_OK;
}
#undef HALVARD_SEEK_ALL

}  // namespace

HRESULT CreateWmfDemux(REFIID riid, void** ppv) {
  return CreateObject<CFileDemux>(riid, ppv, CLSID_WmfDemux, L"WMF Demux");
}

HRESULT CreateFileDemux(REFIID riid, void** ppv) {
  return CreateObject<CFileDemux>(riid, ppv, CLSID_HalvardFileDemux, L"File Demux");
}

}  // namespace halvard::media::playback
