#include "platform/wmf/AsfEngine.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libswscale/swscale.h>
}

#include "platform/wmf/ProfileManager.h"

namespace halvard::wmf {
namespace {

constexpr int kIoBufferBytes = 64 * 1024;
constexpr AVRational kHundredNs{1, 10000000};
constexpr std::int64_t kDefaultKeySpacing = 80000000;  // 8 s
constexpr std::int64_t kMaxWaitMs = 500;
// The index object that follows the last data packet.
constexpr BYTE kSimpleIndexGuid[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                       0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};

AVPixelFormat ToAv(PixelFormat format) {
  switch (format) {
    case PixelFormat::Yuy2:
      return AV_PIX_FMT_YUYV422;
    case PixelFormat::Rgb24:
      return AV_PIX_FMT_BGR24;
    case PixelFormat::I420:
    default:
      return AV_PIX_FMT_YUV420P;
  }
}

// Quality trades frame quality against smoothness: a high quality keeps the quantiser
// fine (rate control then meets the bitrate with fewer bits for motion), a low one
// lets it grow so that every frame fits.
int MaxQuantiserForQuality(DWORD quality) { return 31 - static_cast<int>(std::min<DWORD>(quality, 100)) * 21 / 100; }

void ReleaseKeepAlive(void* opaque, std::uint8_t* /*data*/) {
  delete static_cast<std::shared_ptr<const void>*>(opaque);
}

}  // namespace

std::size_t VideoInputBytes(PixelFormat format, LONG width, LONG height) {
  if (width <= 0 || height <= 0) {
    return 0;
  }
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  switch (format) {
    case PixelFormat::Yuy2:
      return w * 2 * h;
    case PixelFormat::Rgb24:
      return ((w * 3 + 3) & ~std::size_t{3}) * h;
    case PixelFormat::I420:
    default:
      return w * h + 2 * ((w / 2) * (h / 2));
  }
}

HRESULT ReadAsfSettings(IWMProfile* profile, AsfSettings* settings) {
  if (profile == nullptr || settings == nullptr) {
    return E_POINTER;
  }
  *settings = AsfSettings{};
  DWORD count = 0;
  HRESULT hr = profile->GetStreamCount(&count);
  if (FAILED(hr)) {
    return hr;
  }
  if (count == 0) {
    return NS_E_INVALID_STREAM;
  }
  for (DWORD i = 0; i < count; ++i) {
    ComPtr<IWMStreamConfig> config;
    hr = profile->GetStream(i, config.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
      return hr;
    }
    MediaTypeCopy media;
    hr = ReadMediaType(config.Get(), &media);
    if (FAILED(hr)) {
      return NS_E_INVALID_STREAM;
    }
    WORD number = 0;
    DWORD bitrate = 0;
    (void)config->GetStreamNumber(&number);
    (void)config->GetBitrate(&bitrate);
    if (media.type.majortype == WMMEDIATYPE_Audio) {
      if (settings->audio || media.type.formattype != WMFORMAT_WaveFormatEx ||
          media.format.size() < sizeof(WMWAVEFORMATEX)) {
        return NS_E_INVALID_STREAM;
      }
      AsfAudioSettings audio;
      std::memcpy(&audio.wave, media.format.data(), sizeof(WMWAVEFORMATEX));
      if (audio.wave.wFormatTag != kWaveFormatWmAudio2 || audio.wave.nChannels == 0 || audio.wave.nChannels > 2 ||
          audio.wave.nSamplesPerSec == 0) {
        return NS_E_INVALID_STREAM;
      }
      audio.streamNumber = number;
      audio.connectionName = ReadConnectionName(config.Get());
      audio.bitrate = bitrate;
      settings->audio = std::move(audio);
    } else if (media.type.majortype == WMMEDIATYPE_Video) {
      if (settings->video || media.type.formattype != WMFORMAT_VideoInfo ||
          media.format.size() < sizeof(WMVIDEOINFOHEADER)) {
        return NS_E_INVALID_STREAM;
      }
      WMVIDEOINFOHEADER info{};
      std::memcpy(&info, media.format.data(), sizeof(info));
      if (info.bmiHeader.biCompression != kFourCcWmv1 || info.AvgTimePerFrame <= 0) {
        return NS_E_INVALID_STREAM;
      }
      AsfVideoSettings video;
      video.streamNumber = number;
      video.connectionName = ReadConnectionName(config.Get());
      video.width = info.bmiHeader.biWidth;
      video.height = info.bmiHeader.biHeight < 0 ? -info.bmiHeader.biHeight : info.bmiHeader.biHeight;
      if (video.width <= 0 || video.height <= 0 || video.width > kMaxVideoWidth || video.height > kMaxVideoHeight ||
          (video.width % 2) != 0 || (video.height % 2) != 0) {
        return NS_E_INVALID_INPUT_FORMAT;
      }
      video.bitrate = bitrate != 0 ? bitrate : info.dwBitRate;
      video.frameTime = info.AvgTimePerFrame;
      ComPtr<IWMVideoMediaProps> props;
      if (SUCCEEDED(config.As(&props))) {
        (void)props->GetQuality(&video.quality);
        (void)props->GetMaxKeyFrameSpacing(&video.keySpacing);
      }
      settings->video = std::move(video);
    } else {
      return NS_E_INVALID_STREAM;
    }
  }
  return S_OK;
}

CAsfEngine::CAsfEngine() = default;

CAsfEngine::~CAsfEngine() {
  if (IsWriting()) {
    (void)End();
  }
  CloseOutputs();
}

HRESULT CAsfEngine::Configure(const AsfSettings& settings) {
  const std::scoped_lock lock(m_muxMutex);
  if (m_writing) {
    return VFW_E_WRONG_STATE;
  }
  if (!settings.audio && !settings.video) {
    return NS_E_INVALID_STREAM;
  }
  m_settings = settings;
  m_configured = true;
  return S_OK;
}

HRESULT CAsfEngine::SetFileName(const std::string& path) {
  const std::scoped_lock lock(m_muxMutex);
  if (m_writing) {
    return VFW_E_WRONG_STATE;
  }
  m_fileName = path;
  return S_OK;
}

std::string CAsfEngine::FileName() const {
  const std::scoped_lock lock(m_muxMutex);
  return m_fileName;
}

HRESULT CAsfEngine::AddSink(IWMWriterSink* sink) {
  if (sink == nullptr) {
    return E_POINTER;
  }
  const std::scoped_lock lock(m_muxMutex);
  for (const auto& s : m_sinks) {
    if (s.Get() == sink) {
      return E_INVALIDARG;
    }
  }
  m_sinks.emplace_back(sink);
  if (m_writing) {
    DeliverHeader(sink);
  }
  return S_OK;
}

HRESULT CAsfEngine::RemoveSink(IWMWriterSink* sink) {
  const std::scoped_lock lock(m_muxMutex);
  const auto it = std::find_if(m_sinks.begin(), m_sinks.end(), [&](const auto& s) { return s.Get() == sink; });
  if (it == m_sinks.end()) {
    return E_INVALIDARG;
  }
  m_sinks.erase(it);
  return S_OK;
}

std::vector<ComPtr<IWMWriterSink>> CAsfEngine::Sinks() const {
  const std::scoped_lock lock(m_muxMutex);
  return m_sinks;
}

bool CAsfEngine::IsWriting() const {
  const std::scoped_lock lock(m_muxMutex);
  return m_writing;
}

std::uint64_t CAsfEngine::VideoFrames() const {
  const std::scoped_lock lock(m_muxMutex);
  return m_videoFrames;
}

std::uint64_t CAsfEngine::Packets() const {
  const std::scoped_lock lock(m_muxMutex);
  return m_packets;
}

HRESULT CAsfEngine::OpenVideoEncoder() {
  const AsfVideoSettings& s = *m_settings.video;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV1);
  if (codec == nullptr) {
    return NS_E_VIDEO_CODEC_NOT_INSTALLED;
  }
  m_video = avcodec_alloc_context3(codec);
  if (m_video == nullptr) {
    return E_OUTOFMEMORY;
  }
  int num = 0;
  int den = 0;
  av_reduce(&num, &den, s.frameTime, 10000000, 65535);
  m_video->time_base = AVRational{num, den};
  m_video->framerate = AVRational{den, num};
  m_video->width = s.width;
  m_video->height = s.height;
  m_video->pix_fmt = AV_PIX_FMT_YUV420P;
  m_video->bit_rate = s.bitrate;
  const std::int64_t spacing = s.keySpacing > 0 ? s.keySpacing : kDefaultKeySpacing;
  m_video->gop_size = static_cast<int>(std::clamp<std::int64_t>(spacing / s.frameTime, 1, 600));
  m_video->max_b_frames = 0;
  m_video->qmin = 2;
  m_video->qmax = MaxQuantiserForQuality(s.quality);
  m_video->thread_count = 1;
  if ((m_format->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
    m_video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (avcodec_open2(m_video, codec, nullptr) < 0) {
    return E_FAIL;
  }
  m_videoFrame = av_frame_alloc();
  return m_videoFrame != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CAsfEngine::OpenAudioEncoder() {
  const AsfAudioSettings& s = *m_settings.audio;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
  if (codec == nullptr) {
    return NS_E_AUDIO_CODEC_NOT_INSTALLED;
  }
  m_audio = avcodec_alloc_context3(codec);
  if (m_audio == nullptr) {
    return E_OUTOFMEMORY;
  }
  m_audio->sample_rate = static_cast<int>(s.wave.nSamplesPerSec);
  av_channel_layout_default(&m_audio->ch_layout, s.wave.nChannels);
  m_audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
  m_audio->bit_rate = static_cast<std::int64_t>(s.wave.nAvgBytesPerSec) * 8;
  m_audio->time_base = AVRational{1, m_audio->sample_rate};
  if ((m_format->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
    m_audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (avcodec_open2(m_audio, codec, nullptr) < 0 || m_audio->frame_size <= 0) {
    return E_FAIL;
  }
  m_audioFrame = av_frame_alloc();
  if (m_audioFrame == nullptr) {
    return E_OUTOFMEMORY;
  }
  m_audioFrame->format = m_audio->sample_fmt;
  m_audioFrame->nb_samples = m_audio->frame_size;
  m_audioFrame->sample_rate = m_audio->sample_rate;
  if (av_channel_layout_copy(&m_audioFrame->ch_layout, &m_audio->ch_layout) < 0 ||
      av_frame_get_buffer(m_audioFrame, 0) < 0) {
    return E_OUTOFMEMORY;
  }
  m_audioFifo.assign(s.wave.nChannels, {});
  m_audioPts = -1;
  return S_OK;
}

HRESULT CAsfEngine::Begin() {
  const std::scoped_lock lock(m_videoMutex, m_audioMutex, m_muxMutex);
  if (!m_configured) {
    return NS_E_NOT_CONFIGURED;
  }
  if (m_writing) {
    return VFW_E_WRONG_STATE;
  }
  CloseOutputs();
  m_failure = S_OK;
  m_phase = Phase::Header;
  m_pos = 0;
  m_header.clear();
  m_pending.clear();
  m_finalHeader.clear();
  m_trailer.clear();
  m_packets = 0;
  m_videoFrames = 0;
  m_lastVideoPts = -1;

  if (avformat_alloc_output_context2(&m_format, nullptr, "asf", nullptr) < 0 || m_format == nullptr) {
    return E_FAIL;
  }
  // Streams in stream-number order, so that the file's numbers are the profile's.
  const bool audioFirst =
      m_settings.audio && (!m_settings.video || m_settings.audio->streamNumber <= m_settings.video->streamNumber);
  HRESULT hr = S_OK;
  for (int pass = 0; pass < 2 && SUCCEEDED(hr); ++pass) {
    const bool audioPass = (pass == 0) == audioFirst;
    if (audioPass && m_settings.audio) {
      hr = OpenAudioEncoder();
      if (SUCCEEDED(hr)) {
        AVStream* stream = avformat_new_stream(m_format, nullptr);
        hr = stream != nullptr && avcodec_parameters_from_context(stream->codecpar, m_audio) >= 0 ? S_OK : E_FAIL;
        if (SUCCEEDED(hr)) {
          stream->time_base = AVRational{1, 1000};
          m_audioIndex = stream->index;
        }
      }
    } else if (!audioPass && m_settings.video) {
      hr = OpenVideoEncoder();
      if (SUCCEEDED(hr)) {
        AVStream* stream = avformat_new_stream(m_format, nullptr);
        hr = stream != nullptr && avcodec_parameters_from_context(stream->codecpar, m_video) >= 0 ? S_OK : E_FAIL;
        if (SUCCEEDED(hr)) {
          stream->time_base = AVRational{1, 1000};
          stream->avg_frame_rate = m_video->framerate;
          m_videoIndex = stream->index;
        }
      }
    }
  }
  if (FAILED(hr)) {
    CloseOutputs();
    return hr;
  }
  m_queues.assign(m_format->nb_streams, {});
  m_lastQueuedMs.assign(m_format->nb_streams, -1);
  m_newestMs = 0;
  m_lastWrittenMs = 0;
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferBytes));
  m_io = buffer != nullptr ? avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &WritePacketThunk, &SeekThunk)
                           : nullptr;
  if (m_io == nullptr) {
    av_free(buffer);
    CloseOutputs();
    return E_OUTOFMEMORY;
  }
  m_format->pb = m_io;
  m_format->flags |= AVFMT_FLAG_CUSTOM_IO;

  if (!m_fileName.empty()) {
    ComPtr<IWMWriterFileSink> file;
    hr = WMCreateWriterFileSink(file.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr)) {
      hr = file->Open(m_fileName.c_str());
    }
    if (SUCCEEDED(hr)) {
      hr = file.As(&m_ownFile);
    }
    if (FAILED(hr)) {
      CloseOutputs();
      return hr;
    }
  }

  if (avformat_write_header(m_format, nullptr) < 0) {
    CloseOutputs();
    return E_FAIL;
  }
  avio_flush(m_io);
  if (!asf::ParseHeader(m_header, &m_headerInfo) || m_header.size() < m_headerInfo.headerBytes + 50) {
    CloseOutputs();
    return E_FAIL;
  }
  m_header.resize(m_headerInfo.headerBytes + 50);
  m_phase = Phase::Data;
  m_writing = true;
  if (m_ownFile) {
    DeliverHeader(m_ownFile.Get());
  }
  for (const auto& sink : m_sinks) {
    DeliverHeader(sink.Get());
  }
  return m_failure;
}

void CAsfEngine::DeliverHeader(IWMWriterSink* sink) {
  const HRESULT hr = sink->OnHeader(m_header.data(), static_cast<DWORD>(m_header.size()));
  BOOL realTime = FALSE;
  if (FAILED(hr) && (FAILED(sink->IsRealTime(&realTime)) || !realTime)) {
    Fail(hr);
  }
}

void CAsfEngine::DeliverPacket(const BYTE* packet, DWORD flags) {
  ++m_packets;
  const auto bytes = m_headerInfo.packetBytes;
  auto deliver = [&](IWMWriterSink* sink) {
    const HRESULT hr = sink->OnDataUnit(packet, bytes, flags);
    BOOL realTime = FALSE;
    if (FAILED(hr) && (FAILED(sink->IsRealTime(&realTime)) || !realTime)) {
      Fail(hr);
    }
  };
  if (m_ownFile) {
    deliver(m_ownFile.Get());
  }
  for (const auto& sink : m_sinks) {
    deliver(sink.Get());
  }
}

void CAsfEngine::Fail(HRESULT hr) {
  if (SUCCEEDED(m_failure)) {
    m_failure = hr;
  }
}

int CAsfEngine::WritePacketThunk(void* opaque, std::uint8_t* buf, int size) {
  return static_cast<CAsfEngine*>(opaque)->OnBytes(buf, static_cast<std::size_t>(size));
}

std::int64_t CAsfEngine::SeekThunk(void* opaque, std::int64_t offset, int whence) {
  return static_cast<CAsfEngine*>(opaque)->OnSeek(offset, whence);
}

// Runs inside FFmpeg's calls, under m_muxMutex.
int CAsfEngine::OnBytes(const BYTE* data, std::size_t size) {
  if (m_phase == Phase::Header || (m_phase == Phase::Trailer && m_pos < static_cast<std::int64_t>(m_header.size()))) {
    std::vector<BYTE>& target = m_phase == Phase::Header ? m_header : m_finalHeader;
    const auto pos = static_cast<std::size_t>(m_pos);
    if (target.size() < pos + size) {
      target.resize(pos + size);
    }
    std::memcpy(target.data() + pos, data, size);
  } else {
    m_pending.insert(m_pending.end(), data, data + size);
    EmitPackets(false);
  }
  m_pos += static_cast<std::int64_t>(size);
  return static_cast<int>(size);
}

std::int64_t CAsfEngine::OnSeek(std::int64_t offset, int whence) {
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      m_pos = offset;
      return m_pos;
    case SEEK_CUR:
      m_pos += offset;
      return m_pos;
    default:
      return -1;  // the size is unknown to a stream
  }
}

void CAsfEngine::EmitPackets(bool final) {
  const std::size_t packetBytes = m_headerInfo.packetBytes;
  if (packetBytes == 0) {
    return;
  }
  std::size_t used = 0;
  while (m_pending.size() - used >= packetBytes) {
    const BYTE* packet = m_pending.data() + used;
    if (m_phase == Phase::Trailer && std::memcmp(packet, kSimpleIndexGuid, sizeof(kSimpleIndexGuid)) == 0) {
      break;
    }
    const bool clean =
        m_headerInfo.videoStream == 0 || asf::PacketStartsKeyFrame({packet, packetBytes}, m_headerInfo.videoStream);
    DeliverPacket(packet, clean ? WM_SF_CLEANPOINT : 0);
    used += packetBytes;
  }
  m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(used));
  if (final) {
    m_trailer = std::move(m_pending);
    m_pending.clear();
  }
}

HRESULT CAsfEngine::Mux(void* packetPtr, int streamIndex) {
  auto* packet = static_cast<AVPacket*>(packetPtr);
  const std::scoped_lock lock(m_muxMutex);
  if (!m_writing) {
    return VFW_E_WRONG_STATE;
  }
  if (FAILED(m_failure)) {
    return m_failure;
  }
  // The audio encoder's priming frame comes before time zero; it is not kept.
  if (packet->dts == AV_NOPTS_VALUE || packet->dts < 0) {
    return S_OK;
  }
  AVPacket* queued = av_packet_alloc();
  if (queued == nullptr) {
    return E_OUTOFMEMORY;
  }
  av_packet_move_ref(queued, packet);
  queued->stream_index = streamIndex;
  const auto index = static_cast<std::size_t>(streamIndex);
  m_queues[index].push_back(queued);
  m_lastQueuedMs[index] = std::max(m_lastQueuedMs[index], queued->dts);
  m_newestMs = std::max(m_newestMs, queued->dts);
  WriteInterleaved(false);
  return m_failure;
}

// Writes queued packets in time order as far as no stream can still deliver an
// earlier one. A stream that has been silent for kMaxWaitMs of the other's time is
// not waited for (an unconnected audio pin must not hold the video back), and a
// packet that would then go back in time is dropped: the multiplexer needs time
// order across streams.
void CAsfEngine::WriteInterleaved(bool flushAll) {
  while (true) {
    int best = -1;
    for (std::size_t s = 0; s < m_queues.size(); ++s) {
      if (!m_queues[s].empty() &&
          (best < 0 || static_cast<AVPacket*>(m_queues[s].front())->dts <
                           static_cast<AVPacket*>(m_queues[static_cast<std::size_t>(best)].front())->dts)) {
        best = static_cast<int>(s);
      }
    }
    if (best < 0) {
      return;
    }
    auto* packet = static_cast<AVPacket*>(m_queues[static_cast<std::size_t>(best)].front());
    if (!flushAll) {
      for (std::size_t s = 0; s < m_queues.size(); ++s) {
        if (static_cast<int>(s) == best || !m_queues[s].empty() || m_lastQueuedMs[s] >= packet->dts) {
          continue;
        }
        if (m_newestMs - packet->dts < kMaxWaitMs) {
          return;  // stream s may still deliver something earlier
        }
      }
    }
    m_queues[static_cast<std::size_t>(best)].pop_front();
    if (packet->dts >= m_lastWrittenMs && SUCCEEDED(m_failure)) {
      m_lastWrittenMs = packet->dts;
      if (av_write_frame(m_format, packet) < 0) {
        Fail(E_FAIL);
      }
      avio_flush(m_io);
    }
    av_packet_free(&packet);
  }
}

HRESULT CAsfEngine::DrainEncoder(AVCodecContext* codec, int streamIndex) {
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = S_OK;
  const AVRational streamBase{1, 1000};
  while (true) {
    const int ret = avcodec_receive_packet(codec, packet);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
      break;
    }
    if (ret < 0) {
      hr = E_FAIL;
      break;
    }
    if (packet->duration <= 0 && codec->codec_type == AVMEDIA_TYPE_VIDEO) {
      packet->duration = 1;
    }
    av_packet_rescale_ts(packet, codec->time_base, streamBase);
    const HRESULT muxed = Mux(packet, streamIndex);
    av_packet_unref(packet);
    if (FAILED(muxed)) {
      hr = muxed;
      break;
    }
  }
  av_packet_free(&packet);
  return hr;
}

HRESULT CAsfEngine::WriteVideo(const VideoInput& input, REFERENCE_TIME start, std::shared_ptr<const void> keepAlive) {
  const std::scoped_lock lock(m_videoMutex);
  if (m_video == nullptr) {
    return VFW_E_WRONG_STATE;
  }
  {
    const std::scoped_lock muxLock(m_muxMutex);
    if (!m_writing) {
      return VFW_E_WRONG_STATE;
    }
    if (FAILED(m_failure)) {
      return m_failure;
    }
  }
  if (input.data == nullptr || input.width <= 0 || input.height <= 0 || input.width > kMaxVideoWidth ||
      input.height > kMaxVideoHeight || input.bytes < VideoInputBytes(input.format, input.width, input.height)) {
    return E_INVALIDARG;
  }
  const std::int64_t pts = av_rescale_q_rnd(std::max<REFERENCE_TIME>(start, 0), kHundredNs, m_video->time_base,
                                            static_cast<AVRounding>(AV_ROUND_NEAR_INF));
  if (pts <= m_lastVideoPts) {
    return S_FALSE;
  }
  AVFrame* frame = m_videoFrame;
  av_frame_unref(frame);
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = m_video->width;
  frame->height = m_video->height;
  const bool sameSize = input.width == m_video->width && input.height == m_video->height;
  if (input.format == PixelFormat::I420 && sameSize && keepAlive) {
    // The caller's buffer is used as is; the encoder releases it when done.
    auto* holder = new std::shared_ptr<const void>(std::move(keepAlive));
    frame->buf[0] = av_buffer_create(const_cast<std::uint8_t*>(input.data), input.bytes, &ReleaseKeepAlive, holder,
                                     AV_BUFFER_FLAG_READONLY);
    if (frame->buf[0] == nullptr) {
      delete holder;
      return E_OUTOFMEMORY;
    }
    const int w = input.width;
    const int h = input.height;
    frame->data[0] = const_cast<std::uint8_t*>(input.data);
    frame->data[1] = frame->data[0] + static_cast<std::ptrdiff_t>(w) * h;
    frame->data[2] = frame->data[1] + static_cast<std::ptrdiff_t>(w / 2) * (h / 2);
    frame->linesize[0] = w;
    frame->linesize[1] = w / 2;
    frame->linesize[2] = w / 2;
  } else {
    // One conversion picture, reused: the encoder copies what it keeps, so the buffer is
    // normally free again (make-writable copies only when it is not).
    if (m_convertFrame == nullptr) {
      m_convertFrame = av_frame_alloc();
      if (m_convertFrame == nullptr) {
        return E_OUTOFMEMORY;
      }
      m_convertFrame->format = AV_PIX_FMT_YUV420P;
      m_convertFrame->width = m_video->width;
      m_convertFrame->height = m_video->height;
      if (av_frame_get_buffer(m_convertFrame, 0) < 0) {
        av_frame_free(&m_convertFrame);
        return E_OUTOFMEMORY;
      }
    }
    if (av_frame_make_writable(m_convertFrame) < 0) {
      return E_OUTOFMEMORY;
    }
    AVFrame* target = m_convertFrame;
    if (input.format == PixelFormat::I420 && sameSize) {
      const int w = input.width;
      const int h = input.height;
      const std::uint8_t* planes[4] = {input.data, input.data + static_cast<std::ptrdiff_t>(w) * h,
                                       input.data + static_cast<std::ptrdiff_t>(w) * h + (w / 2) * (h / 2), nullptr};
      const int strides[4] = {w, w / 2, w / 2, 0};
      av_image_copy(target->data, target->linesize, planes, strides, AV_PIX_FMT_YUV420P, w, h);
    } else {
      const AVPixelFormat source = ToAv(input.format);
      const std::uint8_t* planes[4] = {};
      int strides[4] = {};
      if (av_image_fill_arrays(const_cast<std::uint8_t**>(planes), strides, input.data, source, input.width,
                               input.height, input.format == PixelFormat::Rgb24 ? 4 : 1) < 0) {
        return E_INVALIDARG;
      }
      if (input.format == PixelFormat::Rgb24) {
        // Bitmaps run bottom-up.
        planes[0] += static_cast<std::ptrdiff_t>(strides[0]) * (input.height - 1);
        strides[0] = -strides[0];
      }
      m_sws = sws_getCachedContext(m_sws, input.width, input.height, source, target->width, target->height,
                                   AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
      if (m_sws == nullptr) {
        return E_FAIL;
      }
      sws_scale(m_sws, planes, strides, 0, input.height, target->data, target->linesize);
    }
    av_frame_unref(frame);
    if (av_frame_ref(frame, target) < 0) {
      return E_OUTOFMEMORY;
    }
  }
  frame->pts = pts;
  m_lastVideoPts = pts;
  if (avcodec_send_frame(m_video, frame) < 0) {
    av_frame_unref(frame);
    return E_FAIL;
  }
  av_frame_unref(frame);
  {
    const std::scoped_lock muxLock(m_muxMutex);
    ++m_videoFrames;
  }
  return DrainEncoder(m_video, m_videoIndex);
}

HRESULT CAsfEngine::EncodeAudioFrames(bool flush) {
  const int frameSize = m_audio->frame_size;
  HRESULT hr = S_OK;
  while (SUCCEEDED(hr) && !m_audioFifo.empty() &&
         (m_audioFifo[0].size() >= static_cast<std::size_t>(frameSize) || (flush && !m_audioFifo[0].empty()))) {
    if (av_frame_make_writable(m_audioFrame) < 0) {
      return E_OUTOFMEMORY;
    }
    for (std::size_t c = 0; c < m_audioFifo.size(); ++c) {
      auto& fifo = m_audioFifo[c];
      auto* out = reinterpret_cast<float*>(m_audioFrame->data[c]);
      const std::size_t take = std::min<std::size_t>(fifo.size(), static_cast<std::size_t>(frameSize));
      std::copy_n(fifo.begin(), take, out);
      std::fill(out + take, out + frameSize, 0.0F);  // the last frame is padded with silence
      fifo.erase(fifo.begin(), fifo.begin() + static_cast<std::ptrdiff_t>(take));
    }
    m_audioFrame->pts = m_audioPts;
    m_audioPts += frameSize;
    if (avcodec_send_frame(m_audio, m_audioFrame) < 0) {
      return E_FAIL;
    }
    hr = DrainEncoder(m_audio, m_audioIndex);
  }
  return hr;
}

HRESULT CAsfEngine::WriteAudio(const BYTE* pcm, std::size_t bytes, REFERENCE_TIME start) {
  const std::scoped_lock lock(m_audioMutex);
  if (m_audio == nullptr) {
    return VFW_E_WRONG_STATE;
  }
  {
    const std::scoped_lock muxLock(m_muxMutex);
    if (!m_writing) {
      return VFW_E_WRONG_STATE;
    }
    if (FAILED(m_failure)) {
      return m_failure;
    }
  }
  const std::size_t channels = m_audioFifo.size();
  if (pcm == nullptr || channels == 0 || bytes % (2 * channels) != 0) {
    return E_INVALIDARG;
  }
  if (m_audioPts < 0) {
    m_audioPts = av_rescale_q(std::max<REFERENCE_TIME>(start, 0), kHundredNs, m_audio->time_base);
  }
  const std::size_t frames = bytes / (2 * channels);
  for (std::size_t i = 0; i < frames; ++i) {
    for (std::size_t c = 0; c < channels; ++c) {
      std::int16_t sample = 0;
      std::memcpy(&sample, pcm + (i * channels + c) * 2, 2);
      m_audioFifo[c].push_back(static_cast<float>(sample) / 32768.0F);
    }
  }
  return EncodeAudioFrames(false);
}

HRESULT CAsfEngine::End() {
  HRESULT hr = S_OK;
  {
    const std::scoped_lock lock(m_videoMutex);
    if (m_video != nullptr && IsWriting()) {
      if (avcodec_send_frame(m_video, nullptr) >= 0) {
        (void)DrainEncoder(m_video, m_videoIndex);
      }
    }
  }
  {
    const std::scoped_lock lock(m_audioMutex);
    if (m_audio != nullptr && IsWriting()) {
      (void)EncodeAudioFrames(true);
      if (avcodec_send_frame(m_audio, nullptr) >= 0) {
        (void)DrainEncoder(m_audio, m_audioIndex);
      }
    }
  }
  const std::scoped_lock lock(m_videoMutex, m_audioMutex, m_muxMutex);
  if (!m_writing) {
    return VFW_E_WRONG_STATE;
  }
  WriteInterleaved(true);
  m_phase = Phase::Trailer;
  m_finalHeader = m_header;
  if (av_write_trailer(m_format) < 0) {
    Fail(E_FAIL);
  }
  avio_flush(m_io);
  EmitPackets(true);
  if (m_finalHeader.size() != m_header.size()) {
    m_finalHeader = m_header;
  }
  auto end = [&](IWMWriterSink* sink) {
    const HRESULT result = sink->OnEndWriting(m_trailer.data(), static_cast<DWORD>(m_trailer.size()),
                                              m_finalHeader.data(), static_cast<DWORD>(m_finalHeader.size()));
    BOOL realTime = FALSE;
    if (FAILED(result) && (FAILED(sink->IsRealTime(&realTime)) || !realTime)) {
      Fail(result);
    }
  };
  if (m_ownFile) {
    end(m_ownFile.Get());
    const HRESULT closed = m_ownFile->Close();
    if (FAILED(closed)) {
      Fail(closed);
    }
  }
  for (const auto& sink : m_sinks) {
    end(sink.Get());
  }
  m_writing = false;
  hr = m_failure;
  CloseOutputs();
  return hr;
}

// Under all three locks (or from the destructor).
void CAsfEngine::CloseOutputs() {
  for (auto& queue : m_queues) {
    for (void* p : queue) {
      auto* packet = static_cast<AVPacket*>(p);
      av_packet_free(&packet);
    }
  }
  m_queues.clear();
  if (m_ownFile) {
    (void)m_ownFile->Close();
    m_ownFile = nullptr;
  }
  if (m_format != nullptr) {
    avformat_free_context(m_format);
    m_format = nullptr;
  }
  if (m_io != nullptr) {
    av_freep(&m_io->buffer);
    avio_context_free(&m_io);
  }
  avcodec_free_context(&m_video);
  avcodec_free_context(&m_audio);
  av_frame_free(&m_videoFrame);
  av_frame_free(&m_convertFrame);
  av_frame_free(&m_audioFrame);
  if (m_sws != nullptr) {
    sws_freeContext(m_sws);
    m_sws = nullptr;
  }
  m_audioFifo.clear();
  m_videoIndex = -1;
  m_audioIndex = -1;
}

}  // namespace halvard::wmf
