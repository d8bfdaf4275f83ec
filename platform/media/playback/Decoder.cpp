// The decoder on libavcodec: every packet in, every finished picture or block of sound
// out, converted with libswscale / libswresample to what the renderers take.

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/media/Streams.h"
#include "platform/media/playback/Playback.h"
#include "platform/media/playback/PlaybackInternal.h"
#include "platform/media/playback/StreamFormat.h"

namespace halvard::media::playback {
namespace {

constexpr AVRational kUnits100ns{1, 10000000};
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 48000;

// Rows of a DIB are padded to four bytes.
LONG StrideOf(const GUID& subtype, LONG width) { return (width * BitCountOf(subtype) + 31) / 32 * 4; }

CMediaType MakePcm(int rate, int channels) {
  CMediaType mt(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  WAVEFORMATEX wf{};
  wf.wFormatTag = WAVE_FORMAT_PCM;
  wf.nChannels = static_cast<WORD>(channels);
  wf.nSamplesPerSec = static_cast<DWORD>(rate);
  wf.wBitsPerSample = 16;
  wf.nBlockAlign = static_cast<WORD>(channels * 2);
  wf.nAvgBytesPerSec = wf.nSamplesPerSec * wf.nBlockAlign;
  mt.SetFormat(reinterpret_cast<const BYTE*>(&wf), sizeof wf);
  mt.SetSampleSize(wf.nBlockAlign);
  return mt;
}

class CDecoder final : public CTransformFilter {
 public:
  CDecoder() : CTransformFilter(L"Decoder", nullptr, CLSID_HalvardDecoder) {}
  ~CDecoder() override { CloseCodec(); }

  // ---- types ----
  HRESULT CheckInputType(const CMediaType* mtIn) override {
    StreamCodecInfo info;
    std::vector<std::uint8_t> extradata;
    if (mtIn == nullptr || !ReadStreamType(*mtIn, &info, &extradata)) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (avcodec_find_decoder(static_cast<AVCodecID>(info.codecId)) == nullptr) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (info.codecType == AVMEDIA_TYPE_VIDEO) {
      return info.width > 0 && info.height > 0 && info.width <= 16384 && info.height <= 16384 ? S_OK
                                                                                               : VFW_E_TYPE_NOT_ACCEPTED;
    }
    return info.codecType == AVMEDIA_TYPE_AUDIO && info.channels > 0 && info.sampleRate > 0 ? S_OK
                                                                                            : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    if (position < 0) {
      return E_INVALIDARG;
    }
    StreamCodecInfo info;
    std::vector<std::uint8_t> extradata;
    if (!ReadStreamType(InputPin()->CurrentMediaType(), &info, &extradata)) {
      return E_UNEXPECTED;
    }
    if (info.codecType == AVMEDIA_TYPE_AUDIO) {
      if (position > 0) {
        return VFW_S_NO_MORE_ITEMS;
      }
      *pmt = MakePcm(std::clamp(info.sampleRate, kMinRate, kMaxRate), std::min(info.channels, 2));
      return S_OK;
    }
    const VIDEOINFOHEADER* in = GetVideoInfoHeader(InputPin()->CurrentMediaType());
    const REFERENCE_TIME frameTime = in != nullptr ? in->AvgTimePerFrame : 0;
    // YUY2 needs an even width; RGB24 takes any.
    const bool yuy2 = info.width % 2 == 0;
    const int count = yuy2 ? 2 : 1;
    if (position >= count) {
      return VFW_S_NO_MORE_ITEMS;
    }
    const GUID& subtype = yuy2 && position == 0 ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_RGB24;
    *pmt = MakeVideoType(subtype, info.width, info.height, frameTime > 0 ? frameTime : UNITS / 25);
    return S_OK;
  }

  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override {
    if (mtOut == nullptr || FAILED(CheckInputType(mtIn))) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    StreamCodecInfo info;
    std::vector<std::uint8_t> extradata;
    (void)ReadStreamType(*mtIn, &info, &extradata);
    if (info.codecType == AVMEDIA_TYPE_AUDIO) {
      const CMediaType want = MakePcm(std::clamp(info.sampleRate, kMinRate, kMaxRate), std::min(info.channels, 2));
      return mtOut->majortype == MEDIATYPE_Audio && mtOut->subtype == MEDIASUBTYPE_PCM &&
                     mtOut->formattype == FORMAT_WaveFormatEx && mtOut->cbFormat >= sizeof(WAVEFORMATEX) - 2 &&
                     std::memcmp(mtOut->pbFormat, want.pbFormat, sizeof(WAVEFORMATEX) - 2) == 0
                 ? S_OK
                 : VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (mtOut->majortype != MEDIATYPE_Video || mtOut->formattype != FORMAT_VideoInfo ||
        (mtOut->subtype != MEDIASUBTYPE_RGB24 && !(mtOut->subtype == MEDIASUBTYPE_YUY2 && info.width % 2 == 0))) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(*mtOut);
    const LONG height = bmi != nullptr ? (bmi->biHeight < 0 ? -bmi->biHeight : bmi->biHeight) : 0;
    return bmi != nullptr && bmi->biWidth == info.width && height == info.height &&
                   bmi->biBitCount == BitCountOf(mtOut->subtype)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
    const CMediaType& out = OutputPin()->CurrentMediaType();
    LONG bytes = 0;
    if (out.majortype == MEDIATYPE_Video) {
      const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(out);
      if (bmi == nullptr) {
        return E_UNEXPECTED;
      }
      const LONG height = bmi->biHeight < 0 ? -bmi->biHeight : bmi->biHeight;
      bytes = static_cast<LONG>(StrideOf(out.subtype, bmi->biWidth)) * height;
      request->cBuffers = std::max<LONG>(request->cBuffers, 3);
    } else {
      const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(out.pbFormat);
      if (wf == nullptr) {
        return E_UNEXPECTED;
      }
      bytes = static_cast<LONG>(wf->nAvgBytesPerSec / 4);  // 250 ms; longer frames are split
      request->cBuffers = std::max<LONG>(request->cBuffers, 8);
    }
    request->cbBuffer = std::max(request->cbBuffer, bytes);
    request->cbAlign = std::max<LONG>(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr)) {
      return hr;
    }
    return actual.cbBuffer < bytes ? E_FAIL : S_OK;
  }

  // ---- streaming ----
  HRESULT StartStreaming() override { return OpenCodec(); }
  HRESULT StopStreaming() override {
    CloseCodec();
    return S_OK;
  }

  HRESULT EndFlush() override {
    {
      // The upstream thread has left Receive: the flush waits for it.
      CAutoLock lock(&m_csReceive);
      if (m_codec != nullptr) {
        avcodec_flush_buffers(m_codec);
      }
      if (m_resampler != nullptr) {
        swr_close(m_resampler);
        (void)swr_init(m_resampler);
      }
    }
    return CTransformFilter::EndFlush();
  }

  HRESULT EndOfStream() override {
    // Called under m_csReceive: the pictures still inside the decoder come out first.
    if (m_codec != nullptr && avcodec_send_packet(m_codec, nullptr) >= 0) {
      (void)DrainFrames();
    }
    return CTransformFilter::EndOfStream();
  }

  HRESULT Receive(IMediaSample* sample) override {
    if (m_codec == nullptr) {
      return VFW_E_WRONG_STATE;
    }
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data))) {
      return E_POINTER;
    }
    const LONG size = sample->GetActualDataLength();
    if (size <= 0) {
      return S_OK;
    }
    if (av_new_packet(m_packet, size) < 0) {
      return E_OUTOFMEMORY;
    }
    std::memcpy(m_packet->data, data, static_cast<std::size_t>(size));
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    if (SUCCEEDED(sample->GetTime(&start, &stop))) {
      m_packet->pts = start;
      m_packet->duration = stop > start ? stop - start : 0;
    } else {
      m_packet->pts = AV_NOPTS_VALUE;
    }
    if (sample->IsSyncPoint() == S_OK) {
      m_packet->flags |= AV_PKT_FLAG_KEY;
    }
    const int sent = avcodec_send_packet(m_codec, m_packet);
    av_packet_unref(m_packet);
    if (sent < 0 && sent != AVERROR(EAGAIN)) {
      return S_OK;  // a damaged packet: the pictures after the next key frame decode again
    }
    return DrainFrames();
  }

 private:
  HRESULT OpenCodec() {
    CloseCodec();
    StreamCodecInfo info;
    std::vector<std::uint8_t> extradata;
    if (!ReadStreamType(InputPin()->CurrentMediaType(), &info, &extradata)) {
      return E_UNEXPECTED;
    }
    const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(info.codecId));
    if (codec == nullptr) {
      return VFW_E_UNSUPPORTED_STREAM;
    }
    AVCodecParameters* par = avcodec_parameters_alloc();
    m_codec = avcodec_alloc_context3(codec);
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (par == nullptr || m_codec == nullptr || m_packet == nullptr || m_frame == nullptr ||
        !FillCodecParameters(info, extradata, par) || avcodec_parameters_to_context(m_codec, par) < 0) {
      avcodec_parameters_free(&par);
      CloseCodec();
      return E_OUTOFMEMORY;
    }
    avcodec_parameters_free(&par);
    // Packet times are the demultiplexer's sample times.
    m_codec->pkt_timebase = kUnits100ns;
    m_codec->thread_count = 1;
    if (avcodec_open2(m_codec, codec, nullptr) < 0) {
      CloseCodec();
      return VFW_E_UNSUPPORTED_STREAM;
    }
    m_video = info.codecType == AVMEDIA_TYPE_VIDEO;
    m_outType = OutputPin()->CurrentMediaType();
    return S_OK;
  }

  void CloseCodec() {
    avcodec_free_context(&m_codec);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    swr_free(&m_resampler);
    m_pcm.clear();
  }

  HRESULT DrainFrames() {
    for (;;) {
      const int got = avcodec_receive_frame(m_codec, m_frame);
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
        return S_OK;
      }
      if (got < 0) {
        return S_OK;  // a picture that failed to decode is skipped
      }
      const HRESULT hr = m_video ? DeliverPicture() : DeliverSound();
      av_frame_unref(m_frame);
      if (FAILED(hr)) {
        return hr;
      }
    }
  }

  // The frame's time, or false for a frame before the segment's position (the preroll
  // a seek decodes on its way from the key frame), which is not delivered.
  bool FrameTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    const int64_t t = m_frame->best_effort_timestamp != AV_NOPTS_VALUE ? m_frame->best_effort_timestamp : m_frame->pts;
    if (t == AV_NOPTS_VALUE) {
      *start = *stop = -1;
      return true;
    }
    *start = t;
    *stop = t + std::max<int64_t>(1, m_frame->pkt_duration);
    return t >= 0;
  }

  HRESULT DeliverPicture() {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    if (!FrameTime(&start, &stop)) {
      return S_OK;
    }
    const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(m_outType);
    if (bmi == nullptr || m_frame->width != bmi->biWidth ||
        m_frame->height != (bmi->biHeight < 0 ? -bmi->biHeight : bmi->biHeight)) {
      return S_OK;  // a picture of another size than the stream announced is not shown
    }
    const bool yuy2 = m_outType.subtype == MEDIASUBTYPE_YUY2;
    const AVPixelFormat target = yuy2 ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_BGR24;
    m_scaler = sws_getCachedContext(m_scaler, m_frame->width, m_frame->height,
                                    static_cast<AVPixelFormat>(m_frame->format), m_frame->width, m_frame->height,
                                    target, SWS_POINT, nullptr, nullptr, nullptr);
    if (m_scaler == nullptr) {
      return S_OK;
    }
    IMediaSample* out = nullptr;
    HRESULT hr = OutputPin()->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr)) {
      return hr;
    }
    BYTE* data = nullptr;
    (void)out->GetPointer(&data);
    const int stride = static_cast<int>(StrideOf(m_outType.subtype, bmi->biWidth));
    const int height = m_frame->height;
    if (out->GetSize() < stride * height) {
      out->Release();
      return E_UNEXPECTED;
    }
    // RGB24 bitmaps with a positive height are bottom-up: write from the last row.
    const bool bottomUp = !yuy2 && bmi->biHeight > 0;
    uint8_t* planes[1] = {bottomUp ? data + static_cast<std::ptrdiff_t>(stride) * (height - 1) : data};
    const int strides[1] = {bottomUp ? -stride : stride};
    (void)sws_scale(m_scaler, m_frame->data, m_frame->linesize, 0, height, planes, strides);
    (void)out->SetActualDataLength(stride * height);
    return DeliverOut(out, start, stop, m_frame->key_frame != 0);
  }

  HRESULT DeliverSound() {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    if (!FrameTime(&start, &stop)) {
      return S_OK;
    }
    const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(m_outType.pbFormat);
    if (wf == nullptr) {
      return E_UNEXPECTED;
    }
    const int rate = static_cast<int>(wf->nSamplesPerSec);
    const int channels = wf->nChannels;
    if (m_resampler == nullptr) {
      AVChannelLayout outLayout;
      av_channel_layout_default(&outLayout, channels);
      if (swr_alloc_set_opts2(&m_resampler, &outLayout, AV_SAMPLE_FMT_S16, rate, &m_frame->ch_layout,
                              static_cast<AVSampleFormat>(m_frame->format), m_frame->sample_rate, 0, nullptr) < 0 ||
          swr_init(m_resampler) < 0) {
        swr_free(&m_resampler);
        return S_OK;  // sound in a layout that cannot be converted stays silent
      }
    }
    const int capacity = swr_get_out_samples(m_resampler, m_frame->nb_samples);
    if (capacity <= 0) {
      return S_OK;
    }
    m_pcm.resize(static_cast<std::size_t>(capacity) * static_cast<std::size_t>(channels) * 2);
    uint8_t* outPlanes[1] = {m_pcm.data()};
    const int converted = swr_convert(m_resampler, outPlanes, capacity, const_cast<const uint8_t**>(m_frame->extended_data),
                                      m_frame->nb_samples);
    if (converted <= 0) {
      return S_OK;
    }
    const std::size_t total = static_cast<std::size_t>(converted) * static_cast<std::size_t>(channels) * 2;
    const REFERENCE_TIME span = stop - start;
    std::size_t offset = 0;
    while (offset < total) {
      IMediaSample* out = nullptr;
      HRESULT hr = OutputPin()->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
      if (FAILED(hr)) {
        return hr;
      }
      BYTE* data = nullptr;
      (void)out->GetPointer(&data);
      const std::size_t room = static_cast<std::size_t>(out->GetSize()) / wf->nBlockAlign * wf->nBlockAlign;
      const std::size_t n = std::min(room, total - offset);
      if (n == 0) {
        out->Release();
        return E_UNEXPECTED;
      }
      std::memcpy(data, m_pcm.data() + offset, n);
      (void)out->SetActualDataLength(static_cast<LONG>(n));
      const REFERENCE_TIME partStart = start + static_cast<REFERENCE_TIME>(span * static_cast<double>(offset) / total);
      const REFERENCE_TIME partStop = start + static_cast<REFERENCE_TIME>(span * static_cast<double>(offset + n) / total);
      hr = DeliverOut(out, partStart, partStop, true);
      if (FAILED(hr)) {
        return hr;
      }
      offset += n;
    }
    return S_OK;
  }

  // Delivers and releases out.
  HRESULT DeliverOut(IMediaSample* out, REFERENCE_TIME start, REFERENCE_TIME stop, bool key) {
    if (start >= 0) {
      (void)out->SetTime(&start, &stop);
    } else {
      (void)out->SetTime(nullptr, nullptr);
    }
    (void)out->SetSyncPoint(key);
    (void)out->SetPreroll(FALSE);
    (void)out->SetDiscontinuity(m_firstAfterStart);
    m_firstAfterStart = false;
    const HRESULT hr = OutputPin()->Deliver(out);
    out->Release();
    return hr;
  }

  AVCodecContext* m_codec = nullptr;
  AVPacket* m_packet = nullptr;
  AVFrame* m_frame = nullptr;
  SwsContext* m_scaler = nullptr;
  SwrContext* m_resampler = nullptr;
  std::vector<std::uint8_t> m_pcm;
  CMediaType m_outType;
  bool m_video = true;
  bool m_firstAfterStart = true;
};

}  // namespace

HRESULT CreateDecoder(REFIID riid, void** ppv) { return CreateObject<CDecoder>(riid, ppv); }

}  // namespace halvard::media::playback
