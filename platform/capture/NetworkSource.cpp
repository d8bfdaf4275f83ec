#include "platform/capture/NetworkSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace halvard::capture {
namespace {

using Clock = std::chrono::steady_clock;

// How long opening a camera may take before it counts as unreachable.
constexpr std::chrono::seconds kOpenLimit{5};

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Library messages may quote an address with its password: every line is masked. Only
// errors are shown; the warnings of a damaged stream would flood the log.
void MaskingLog(void* ptr, int level, const char* fmt, va_list args) {
  if (level > std::min(av_log_get_level(), AV_LOG_ERROR)) {
    return;
  }
  char line[1024];
  int prefix = 1;
  va_list copy;
  va_copy(copy, args);
  (void)av_log_format_line2(ptr, level, fmt, copy, line, sizeof line, &prefix);
  va_end(copy);
  std::fputs(MaskUrl(line).c_str(), stderr);
}

void InstallMaskingLog() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(&MaskingLog); });
}

HRESULT MapOpenError(int err) {
  switch (err) {
    case AVERROR_HTTP_UNAUTHORIZED:
    case AVERROR_HTTP_FORBIDDEN:
      return kNetUnauthorized;
    case AVERROR_HTTP_NOT_FOUND:
      return kNetNotFound;
    case AVERROR_PROTOCOL_NOT_FOUND:
      return kNetBadScheme;
    case AVERROR(ECONNREFUSED):
    case AVERROR(ETIMEDOUT):
    case AVERROR(EHOSTUNREACH):
    case AVERROR(ENETUNREACH):
    case AVERROR(ECONNRESET):
    case AVERROR(EPIPE):
    case AVERROR(EIO):
    case AVERROR_EXIT:
    case AVERROR_EOF:
      return kNetUnreachable;
    default:
      return kNetBadStream;
  }
}

// Where the camera's picture goes inside the chosen size.
struct Placement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

Placement Fit(FrameSize target, int width, int height, AVRational sar) {
  const double aspect = sar.num > 0 && sar.den > 0 ? static_cast<double>(sar.num) / sar.den : 1.0;
  const double shown = width * aspect;  // the camera's picture width in square pixels
  Placement p;
  p.width = static_cast<int>(target.width);
  p.height = static_cast<int>(target.width * height / shown + 0.5);
  if (p.height > target.height) {
    p.height = static_cast<int>(target.height);
    p.width = static_cast<int>(target.height * shown / height + 0.5);
  }
  // Packed 4:2:2 pairs pixels: even widths and offsets.
  p.width = std::max(2, p.width & ~1);
  p.height = std::max(1, p.height);
  p.x = ((static_cast<int>(target.width) - p.width) / 2) & ~1;
  p.y = (static_cast<int>(target.height) - p.height) / 2;
  return p;
}

void FillBlack(std::vector<BYTE>& buffer, PixelLayout layout) {
  if (layout == PixelLayout::Rgb24) {
    std::fill(buffer.begin(), buffer.end(), BYTE{0});
    return;
  }
  for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
    buffer[i] = 16;       // Y
    buffer[i + 1] = 128;  // U or V
  }
}

}  // namespace

// The library state of one connection; closed by its destructor.
struct CNetworkReader::Session {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  SwsContext* scaler = nullptr;
  int stream = -1;
  AVRational timeBase{1, 90000};
  // The picture being built: black bars around the camera's picture.
  std::vector<BYTE> canvas;
  int sourceWidth = 0;
  int sourceHeight = 0;
  int sourceFormat = -1;
  Placement place;
  // Clock mapping: camera time `anchorPts` was taken at `anchorTime`.
  std::int64_t anchorPts = AV_NOPTS_VALUE;
  Clock::time_point anchorTime{};
  Clock::time_point lastTaken{};

  ~Session() {
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  }
};

CNetworkReader::CNetworkReader(std::string name, std::string url)
    : m_name(std::move(name)), m_url(std::move(url)), m_address(ParseNetworkAddress(m_url)) {
  InstallMaskingLog();
}

CNetworkReader::~CNetworkReader() { Stop(); }

void CNetworkReader::SetEventSink(EventSink sink) { m_sink = std::move(sink); }

void CNetworkReader::SetFormat(FrameSize size, PixelLayout layout) {
  m_size = size;
  m_layout = layout;
}

std::optional<FrameSize> CNetworkReader::NativeSize() const {
  std::lock_guard guard(const_cast<std::mutex&>(m_lock));
  return m_native;
}

int CNetworkReader::Interrupt(void* self) {
  auto* reader = static_cast<CNetworkReader*>(self);
  if (reader->m_stop) {
    return 1;
  }
  const std::int64_t deadline = reader->m_deadlineNs;
  return deadline != 0 && NowNs() > deadline ? 1 : 0;
}

HRESULT CNetworkReader::Open(Session& s, Clock::duration limit) {
  if (!m_address) {
    return kNetBadScheme;
  }
  m_deadlineNs = NowNs() + std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count();
  s.format = avformat_alloc_context();
  if (s.format == nullptr) {
    return E_OUTOFMEMORY;
  }
  s.format->interrupt_callback = {&CNetworkReader::Interrupt, this};
  s.format->flags |= AVFMT_FLAG_NOBUFFER;
  AVDictionary* options = nullptr;
  const bool rtsp = m_address->scheme.starts_with("rtsp");
  if (rtsp) {
    (void)av_dict_set(&options, "rtsp_transport", m_address->rtspOverUdp ? "udp" : "tcp", 0);
    (void)av_dict_set(&options, "timeout", "5000000", 0);  // socket time-out, microseconds
  } else {
    (void)av_dict_set(&options, "rw_timeout", "5000000", 0);
  }
  (void)av_dict_set(&options, "analyzeduration", "1000000", 0);
  (void)av_dict_set(&options, "probesize", "2000000", 0);
  int err = avformat_open_input(&s.format, m_address->openUrl.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (err < 0) {
    return m_stop ? S_FALSE : MapOpenError(err);
  }
  err = avformat_find_stream_info(s.format, nullptr);
  if (err < 0) {
    return m_stop ? S_FALSE : MapOpenError(err);
  }
  const AVCodec* decoder = nullptr;
  s.stream = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (s.stream == AVERROR_STREAM_NOT_FOUND) {
    return kNetNoVideo;
  }
  if (s.stream < 0 || decoder == nullptr) {
    return kNetBadStream;
  }
  const AVStream* stream = s.format->streams[s.stream];
  s.timeBase = stream->time_base;
  s.codec = avcodec_alloc_context3(decoder);
  if (s.codec == nullptr || avcodec_parameters_to_context(s.codec, stream->codecpar) < 0) {
    return E_OUTOFMEMORY;
  }
  s.codec->flags |= AV_CODEC_FLAG_LOW_DELAY;
  // Slice threads add no delay; frame threads would hold pictures back.
  s.codec->thread_type = FF_THREAD_SLICE;
  s.codec->thread_count = 2;
  if (avcodec_open2(s.codec, decoder, nullptr) < 0) {
    return kNetBadStream;
  }
  s.packet = av_packet_alloc();
  s.frame = av_frame_alloc();
  if (s.packet == nullptr || s.frame == nullptr) {
    return E_OUTOFMEMORY;
  }
  if (stream->codecpar->width > 0 && stream->codecpar->height > 0) {
    std::lock_guard guard(m_lock);
    m_native = FrameSize{stream->codecpar->width, stream->codecpar->height};
  }
  m_deadlineNs = 0;
  return S_OK;
}

HRESULT CNetworkReader::Probe(std::chrono::milliseconds limit) {
  Session s;
  const HRESULT hr = Open(s, limit);
  m_deadlineNs = 0;
  return hr;
}

HRESULT CNetworkReader::Start() {
  Stop();
  {
    std::lock_guard guard(m_lock);
    m_queue.clear();
  }
  m_stop = false;
  m_online = false;
  m_thread = std::thread([this] { Run(); });
  return S_OK;
}

void CNetworkReader::Stop() {
  {
    std::lock_guard guard(m_lock);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) {
    m_thread.join();
  }
}

bool CNetworkReader::Pause(Clock::duration d) {
  std::unique_lock guard(m_lock);
  return !m_wake.wait_for(guard, d, [this] { return m_stop.load(); });
}

void CNetworkReader::Report(LONG code, HRESULT failure) {
  if (code == kEventNetworkCameraOffline) {
    std::fprintf(stderr, "network camera %s (%s): offline: %s\n", m_name.c_str(), MaskUrl(m_url).c_str(),
                 NetworkFailureText(failure).c_str());
  } else {
    std::fprintf(stderr, "network camera %s (%s): back\n", m_name.c_str(), MaskUrl(m_url).c_str());
  }
  if (m_sink) {
    m_sink(code, code == kEventNetworkCameraOffline ? static_cast<LONG_PTR>(failure) : 0);
  }
}

void CNetworkReader::Run() {
  auto backOff = std::chrono::seconds(1);
  m_reportedOffline = false;
  while (!m_stop) {
    bool gotPicture = false;
    HRESULT hr = S_OK;
    {
      Session s;
      hr = Open(s, kOpenLimit);
      if (hr == S_OK) {
        ++m_connections;
        hr = Pump(s, &gotPicture);
      }
      m_deadlineNs = 0;
    }
    m_online = false;
    if (m_stop) {
      break;
    }
    if (gotPicture) {
      backOff = std::chrono::seconds(1);
    }
    if (!m_reportedOffline) {
      Report(kEventNetworkCameraOffline, gotPicture && hr != kNetUnauthorized ? kNetStreamLost : hr);
      m_reportedOffline = true;
    }
    if (hr == kNetBadScheme) {
      (void)Pause(std::chrono::hours(24 * 365));  // nothing to try again
      continue;
    }
    if (!Pause(backOff)) {
      break;
    }
    backOff = std::min(backOff * 2, std::chrono::duration_cast<std::chrono::seconds>(kMaxBackOff));
  }
}

HRESULT CNetworkReader::Pump(Session& s, bool* gotPicture) {
  bool announced = false;
  Clock::time_point lastPicture = Clock::now();
  while (!m_stop) {
    m_deadlineNs = NowNs() + std::chrono::duration_cast<std::chrono::nanoseconds>(kSilenceLimit).count();
    const int err = av_read_frame(s.format, s.packet);
    if (err == AVERROR(EAGAIN)) {
      continue;
    }
    if (err < 0) {
      return *gotPicture ? kNetStreamLost : MapOpenError(err);
    }
    if (s.packet->stream_index == s.stream && avcodec_send_packet(s.codec, s.packet) == 0) {
      while (avcodec_receive_frame(s.codec, s.frame) == 0) {
        Deliver(s, s.frame);
        av_frame_unref(s.frame);
        *gotPicture = true;
        lastPicture = Clock::now();
        if (!announced) {
          announced = true;
          m_online = true;
          // Only a return after a reported loss is news.
          if (m_reportedOffline) {
            m_reportedOffline = false;
            Report(kEventNetworkCameraBack, S_OK);
          }
        }
      }
    }
    av_packet_unref(s.packet);
    // Packets that never make a picture (a damaged stream) count as silence.
    if (Clock::now() - lastPicture > kSilenceLimit) {
      return *gotPicture ? kNetStreamLost : kNetBadStream;
    }
  }
  return S_FALSE;
}

void CNetworkReader::Deliver(Session& s, const AVFrame* frame) {
  if (frame->width <= 0 || frame->height <= 0) {
    return;
  }
  const std::size_t bytes = FrameBytes(m_layout, m_size);
  if (frame->width != s.sourceWidth || frame->height != s.sourceHeight || frame->format != s.sourceFormat ||
      s.canvas.size() != bytes) {
    // A new camera picture size: new placement, new bars.
    s.sourceWidth = frame->width;
    s.sourceHeight = frame->height;
    s.sourceFormat = frame->format;
    s.canvas.assign(bytes, 0);
    FillBlack(s.canvas, m_layout);
    s.place = Fit(m_size, frame->width, frame->height, frame->sample_aspect_ratio);
    std::lock_guard guard(m_lock);
    m_native = FrameSize{frame->width, frame->height};
  }
  const AVPixelFormat out = m_layout == PixelLayout::Yuy2 ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_BGR24;
  s.scaler = sws_getCachedContext(s.scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                  s.place.width, s.place.height, out, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (s.scaler == nullptr) {
    return;
  }
  const int stride = static_cast<int>(FrameStride(m_layout, m_size.width));
  const int pixel = m_layout == PixelLayout::Yuy2 ? 2 : 3;
  uint8_t* dst[4] = {};
  int lines[4] = {};
  if (m_layout == PixelLayout::Yuy2) {
    dst[0] = s.canvas.data() + static_cast<std::size_t>(s.place.y) * stride + s.place.x * pixel;
    lines[0] = stride;
  } else {
    // A DIB is bottom-up: write the rows from the last one upwards.
    const int row = static_cast<int>(m_size.height) - 1 - s.place.y;
    dst[0] = s.canvas.data() + static_cast<std::size_t>(row) * stride + s.place.x * pixel;
    lines[0] = -stride;
  }
  if (sws_scale(s.scaler, frame->data, frame->linesize, 0, frame->height, dst, lines) <= 0) {
    return;
  }
  ++m_decoded;

  // The moment the picture was taken: the camera's clock, anchored at arrival.
  const Clock::time_point now = Clock::now();
  Clock::time_point taken = now;
  const std::int64_t pts = frame->best_effort_timestamp;
  if (pts != AV_NOPTS_VALUE) {
    if (s.anchorPts != AV_NOPTS_VALUE) {
      const auto offset = std::chrono::nanoseconds(av_rescale_q(pts - s.anchorPts, s.timeBase, AVRational{1, 1000000000}));
      taken = s.anchorTime + offset;
    }
    if (s.anchorPts == AV_NOPTS_VALUE || taken > now || now - taken > std::chrono::seconds(1) || taken < s.lastTaken) {
      s.anchorPts = pts;
      s.anchorTime = now;
      taken = now;
    }
  }
  s.lastTaken = taken;

  {
    std::lock_guard guard(m_lock);
    if (m_queue.size() >= 2) {
      m_spare.push_back(std::move(m_queue.front().data));
      m_queue.pop_front();
      ++m_dropped;
    }
    std::vector<BYTE> data;
    if (!m_spare.empty()) {
      data = std::move(m_spare.back());
      m_spare.pop_back();
    }
    data.assign(s.canvas.begin(), s.canvas.end());
    m_queue.push_back({std::move(data), taken});
  }
  m_wake.notify_all();
}

HRESULT CNetworkReader::Take(BYTE* dst, std::size_t bytes, std::chrono::milliseconds wait, Clock::time_point* taken) {
  std::unique_lock guard(m_lock);
  if (!m_wake.wait_for(guard, wait, [this] { return !m_queue.empty() || m_stop.load(); }) || m_queue.empty()) {
    return S_FALSE;
  }
  Picture& p = m_queue.front();
  if (bytes < p.data.size()) {
    return E_INVALIDARG;
  }
  std::memcpy(dst, p.data.data(), p.data.size());
  if (taken != nullptr) {
    *taken = p.taken;
  }
  m_spare.push_back(std::move(p.data));
  m_queue.pop_front();
  return S_OK;
}

}  // namespace halvard::capture
