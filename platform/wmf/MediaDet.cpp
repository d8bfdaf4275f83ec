// The media detector on libavformat: stream information, and single frames decoded,
// scaled and converted to 24-bit bottom-up bitmaps.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "platform/wmf/ComObject.h"
#include "platform/wmf/Wmf.h"

namespace halvard::wmf {
namespace {

constexpr LONG kMaxBitmapSide = 8192;

#pragma pack(push, 2)
struct BmpFileHeader {
  WORD type;
  DWORD size;
  WORD reserved1;
  WORD reserved2;
  DWORD offBits;
};
#pragma pack(pop)
static_assert(sizeof(BmpFileHeader) == 14);

std::size_t RowBytes(LONG width) { return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}; }

struct FormatCloser {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecCloser {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameCloser {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

class CMediaDet final : public CComObject<IMediaDet> {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMediaDet) {
      return Hand(static_cast<IMediaDet*>(this), ppv);
    }
    return E_NOINTERFACE;
  }

  HRESULT put_Filename(const char* path) override {
    if (path == nullptr) {
      return E_POINTER;
    }
    m_format.reset();
    m_current = 0;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path, nullptr, nullptr) < 0) {
      return NS_E_FILE_OPEN_FAILED;
    }
    m_format.reset(format);
    if (avformat_find_stream_info(format, nullptr) < 0) {
      m_format.reset();
      return VFW_E_INVALID_FILE_FORMAT;
    }
    m_path = path;
    return S_OK;
  }

  HRESULT get_OutputStreams(LONG* streams) override {
    if (streams == nullptr) {
      return E_POINTER;
    }
    *streams = m_format ? static_cast<LONG>(m_format->nb_streams) : 0;
    return m_format ? S_OK : E_INVALIDARG;
  }
  HRESULT put_CurrentStream(LONG stream) override {
    if (!m_format || stream < 0 || stream >= static_cast<LONG>(m_format->nb_streams)) {
      return E_INVALIDARG;
    }
    m_current = stream;
    return S_OK;
  }
  HRESULT get_CurrentStream(LONG* stream) override {
    if (stream == nullptr) {
      return E_POINTER;
    }
    *stream = m_current;
    return S_OK;
  }
  HRESULT get_StreamType(GUID* majorType) override {
    if (majorType == nullptr) {
      return E_POINTER;
    }
    *majorType = GUID_NULL;
    const AVStream* stream = Current();
    if (stream == nullptr) {
      return E_INVALIDARG;
    }
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      *majorType = WMMEDIATYPE_Video;
    } else if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      *majorType = WMMEDIATYPE_Audio;
    }
    return S_OK;
  }

  HRESULT get_StreamMediaType(WM_MEDIA_TYPE* type) override {
    if (type == nullptr) {
      return E_POINTER;
    }
    *type = WM_MEDIA_TYPE{};
    const AVStream* stream = Current();
    if (stream == nullptr) {
      return E_INVALIDARG;
    }
    const AVCodecParameters* par = stream->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      auto* info = static_cast<WMVIDEOINFOHEADER*>(std::calloc(1, sizeof(WMVIDEOINFOHEADER)));
      if (info == nullptr) {
        return E_OUTOFMEMORY;
      }
      info->rcSource = {0, 0, par->width, par->height};
      info->rcTarget = info->rcSource;
      info->dwBitRate = static_cast<DWORD>(par->bit_rate);
      const double fps = FrameRate(stream);
      info->AvgTimePerFrame = fps > 0 ? static_cast<REFERENCE_TIME>(std::llround(10000000.0 / fps)) : 0;
      info->bmiHeader.biSize = sizeof(WMBITMAPINFOHEADER);
      info->bmiHeader.biWidth = par->width;
      info->bmiHeader.biHeight = par->height;
      info->bmiHeader.biPlanes = 1;
      info->bmiHeader.biBitCount = 24;
      info->bmiHeader.biCompression = par->codec_tag;
      type->majortype = WMMEDIATYPE_Video;
      type->subtype = SubtypeFromFourCc(par->codec_tag);
      type->bTemporalCompression = TRUE;
      type->formattype = WMFORMAT_VideoInfo;
      type->cbFormat = sizeof(WMVIDEOINFOHEADER);
      type->pbFormat = reinterpret_cast<BYTE*>(info);
      return S_OK;
    }
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
      auto* wave = static_cast<WMWAVEFORMATEX*>(std::calloc(1, sizeof(WMWAVEFORMATEX)));
      if (wave == nullptr) {
        return E_OUTOFMEMORY;
      }
      wave->wFormatTag = static_cast<WORD>(par->codec_tag);
      wave->nChannels = static_cast<WORD>(par->ch_layout.nb_channels);
      wave->nSamplesPerSec = static_cast<DWORD>(par->sample_rate);
      wave->nAvgBytesPerSec = static_cast<DWORD>(par->bit_rate / 8);
      wave->nBlockAlign = static_cast<WORD>(par->block_align);
      wave->wBitsPerSample = static_cast<WORD>(par->bits_per_coded_sample);
      type->majortype = WMMEDIATYPE_Audio;
      type->subtype = SubtypeFromFourCc(par->codec_tag);
      type->bFixedSizeSamples = TRUE;
      type->lSampleSize = static_cast<ULONG>(par->block_align);
      type->formattype = WMFORMAT_WaveFormatEx;
      type->cbFormat = sizeof(WMWAVEFORMATEX);
      type->pbFormat = reinterpret_cast<BYTE*>(wave);
      return S_OK;
    }
    return VFW_E_INVALIDMEDIATYPE;
  }

  HRESULT get_StreamLength(double* seconds) override {
    if (seconds == nullptr) {
      return E_POINTER;
    }
    *seconds = 0;
    const AVStream* stream = Current();
    if (stream == nullptr) {
      return E_INVALIDARG;
    }
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
      *seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    } else if (m_format->duration != AV_NOPTS_VALUE) {
      *seconds = static_cast<double>(m_format->duration) / AV_TIME_BASE;
    }
    return S_OK;
  }

  HRESULT get_FrameRate(double* fps) override {
    if (fps == nullptr) {
      return E_POINTER;
    }
    *fps = 0;
    const AVStream* stream = Current();
    if (stream == nullptr || stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
      return VFW_E_INVALIDMEDIATYPE;
    }
    *fps = FrameRate(stream);
    return S_OK;
  }

  HRESULT GetBitmapBits(double seconds, LONG* bufferBytes, char* buffer, LONG width, LONG height) override {
    if (bufferBytes == nullptr) {
      return E_POINTER;
    }
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide) {
      return E_INVALIDARG;
    }
    const std::size_t needed = sizeof(WMBITMAPINFOHEADER) + RowBytes(width) * static_cast<std::size_t>(height);
    if (buffer == nullptr) {
      *bufferBytes = static_cast<LONG>(needed);
      return S_OK;
    }
    if (*bufferBytes < 0 || static_cast<std::size_t>(*bufferBytes) < needed) {
      return E_INVALIDARG;
    }
    return GrabFrame(seconds, width, height, reinterpret_cast<BYTE*>(buffer));
  }

  HRESULT WriteBitmapBits(double seconds, LONG width, LONG height, const char* path) override {
    if (path == nullptr) {
      return E_POINTER;
    }
    LONG bytes = 0;
    HRESULT hr = GetBitmapBits(seconds, &bytes, nullptr, width, height);
    if (FAILED(hr)) {
      return hr;
    }
    std::vector<BYTE> dib(static_cast<std::size_t>(bytes));
    hr = GrabFrame(seconds, width, height, dib.data());
    if (FAILED(hr)) {
      return hr;
    }
    BmpFileHeader file{};
    file.type = 0x4D42;  // "BM"
    file.size = static_cast<DWORD>(sizeof(file) + dib.size());
    file.offBits = sizeof(file) + sizeof(WMBITMAPINFOHEADER);
    const std::string temporary = std::string(path) + ".part";
    FILE* out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) {
      return E_FAIL;
    }
    bool ok = std::fwrite(&file, sizeof(file), 1, out) == 1 && std::fwrite(dib.data(), dib.size(), 1, out) == 1;
    ok = std::fclose(out) == 0 && ok;
    // The picture appears whole or not at all.
    if (!ok || std::rename(temporary.c_str(), path) != 0) {
      std::remove(temporary.c_str());
      return E_FAIL;
    }
    return S_OK;
  }

 private:
  AVStream* Current() const {
    if (!m_format || m_current < 0 || m_current >= static_cast<LONG>(m_format->nb_streams)) {
      return nullptr;
    }
    return m_format->streams[m_current];
  }

  static double FrameRate(const AVStream* stream) {
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) {
      rate = stream->r_frame_rate;
    }
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
  }

  // Decodes the frame shown at `seconds` of the current video stream (or of the first
  // video stream when the current one is not video) into a DIB at `dib`.
  HRESULT GrabFrame(double seconds, LONG width, LONG height, BYTE* dib) {
    if (!m_format || !std::isfinite(seconds) || seconds < 0) {
      return E_INVALIDARG;
    }
    AVStream* stream = Current();
    if (stream == nullptr || stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
      const int index = av_find_best_stream(m_format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
      if (index < 0) {
        return VFW_E_INVALIDMEDIATYPE;
      }
      stream = m_format->streams[index];
    }
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) {
      return VFW_E_INVALIDMEDIATYPE;
    }
    const std::unique_ptr<AVCodecContext, CodecCloser> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0) {
      return E_FAIL;
    }
    const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const std::int64_t target = start + static_cast<std::int64_t>(std::llround(seconds / av_q2d(stream->time_base)));
    if (avformat_seek_file(m_format.get(), stream->index, INT64_MIN, target, target, AVSEEK_FLAG_BACKWARD) < 0) {
      (void)av_seek_frame(m_format.get(), stream->index, start, AVSEEK_FLAG_BACKWARD);
    }
    const std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
    const std::unique_ptr<AVFrame, FrameCloser> frame(av_frame_alloc());
    const std::unique_ptr<AVFrame, FrameCloser> chosen(av_frame_alloc());
    if (!packet || !frame || !chosen) {
      return E_OUTOFMEMORY;
    }
    bool have = false;
    bool done = false;
    bool draining = false;
    bool drained = false;
    while (!done) {
      if (!draining) {
        const int read = av_read_frame(m_format.get(), packet.get());
        if (read < 0) {
          draining = true;
          (void)avcodec_send_packet(decoder.get(), nullptr);
        } else {
          if (packet->stream_index == stream->index) {
            (void)avcodec_send_packet(decoder.get(), packet.get());
          }
          av_packet_unref(packet.get());
        }
      }
      while (true) {
        const int got = avcodec_receive_frame(decoder.get(), frame.get());
        if (got == AVERROR(EAGAIN)) {
          break;
        }
        if (got < 0) {
          drained = true;
          break;
        }
        const std::int64_t pts = frame->best_effort_timestamp;
        // The frame shown at the target: the last one that starts at or before it.
        if (have && pts != AV_NOPTS_VALUE && pts > target) {
          done = true;
          av_frame_unref(frame.get());
          break;
        }
        av_frame_unref(chosen.get());
        av_frame_move_ref(chosen.get(), frame.get());
        have = true;
        if (pts != AV_NOPTS_VALUE && pts == target) {
          done = true;
          break;
        }
      }
      if (drained && !done) {
        // Drained without reaching the target: the last frame if the target is within
        // one second of it, otherwise the position is past the recording.
        if (!have) {
          return VFW_E_NOT_FOUND;
        }
        const std::int64_t last = chosen->best_effort_timestamp;
        if (last != AV_NOPTS_VALUE && static_cast<double>(target - last) * av_q2d(stream->time_base) > 1.0) {
          return VFW_E_NOT_FOUND;
        }
        done = true;
      }
    }
    if (!have) {
      return VFW_E_NOT_FOUND;
    }
    auto* header = reinterpret_cast<WMBITMAPINFOHEADER*>(dib);
    *header = WMBITMAPINFOHEADER{};
    header->biSize = sizeof(WMBITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biCompression = kBiRgb;
    header->biSizeImage = static_cast<DWORD>(RowBytes(width) * static_cast<std::size_t>(height));
    BYTE* pixels = dib + sizeof(WMBITMAPINFOHEADER);
    SwsContext* sws = sws_getContext(chosen->width, chosen->height, static_cast<AVPixelFormat>(chosen->format), width,
                                     height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (sws == nullptr) {
      return E_FAIL;
    }
    // Bottom-up rows: start at the last row and step backwards.
    std::uint8_t* planes[4] = {pixels + RowBytes(width) * static_cast<std::size_t>(height - 1), nullptr, nullptr,
                               nullptr};
    int strides[4] = {-static_cast<int>(RowBytes(width)), 0, 0, 0};
    std::memset(pixels, 0, RowBytes(width) * static_cast<std::size_t>(height));
    sws_scale(sws, chosen->data, chosen->linesize, 0, chosen->height, planes, strides);
    sws_freeContext(sws);
    return S_OK;
  }

  std::unique_ptr<AVFormatContext, FormatCloser> m_format;
  std::string m_path;
  LONG m_current = 0;
};

}  // namespace

HRESULT CreateMediaDet(IMediaDet** det) {
  if (det == nullptr) {
    return E_POINTER;
  }
  *det = new CMediaDet();
  return S_OK;
}

void FreeMediaType(WM_MEDIA_TYPE* type) {
  if (type == nullptr) {
    return;
  }
  std::free(type->pbFormat);
  type->pbFormat = nullptr;
  type->cbFormat = 0;
}

}  // namespace halvard::wmf
