#include "platform/wmf/ProfileManager.h"

#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "platform/wmf/ComObject.h"

namespace halvard::wmf {
namespace {

constexpr DWORD kMaxQuality = 100;
constexpr WORD kMaxStreamNumber = 63;

// ---- stream configuration ------------------------------------------------------------

class CWMStreamConfig final : public CComObject<IWMStreamConfig, IWMVideoMediaProps> {
 public:
  explicit CWMStreamConfig(const GUID& streamType) : m_streamType(streamType) {}

  static CWMStreamConfig* Clone(IWMStreamConfig* source);

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMStreamConfig) {
      return Hand(static_cast<IWMStreamConfig*>(this), ppv);
    }
    if (riid == IID_IWMMediaProps || (riid == IID_IWMVideoMediaProps && m_streamType == WMMEDIATYPE_Video)) {
      return Hand(static_cast<IWMVideoMediaProps*>(this), ppv);
    }
    return E_NOINTERFACE;
  }

  HRESULT GetStreamType(GUID* type) override {
    if (type == nullptr) {
      return E_POINTER;
    }
    *type = m_streamType;
    return S_OK;
  }
  HRESULT GetStreamNumber(WORD* number) override {
    if (number == nullptr) {
      return E_POINTER;
    }
    *number = m_number;
    return S_OK;
  }
  HRESULT SetStreamNumber(WORD number) override {
    if (number == 0 || number > kMaxStreamNumber) {
      return E_INVALIDARG;
    }
    m_number = number;
    return S_OK;
  }
  HRESULT GetStreamName(char* name, WORD* length) override { return CopyText(m_name, name, length); }
  HRESULT SetStreamName(const char* name) override { return SetText(name, &m_name); }
  HRESULT GetConnectionName(char* name, WORD* length) override { return CopyText(m_connection, name, length); }
  HRESULT SetConnectionName(const char* name) override { return SetText(name, &m_connection); }
  HRESULT GetBitrate(DWORD* bitsPerSecond) override {
    if (bitsPerSecond == nullptr) {
      return E_POINTER;
    }
    *bitsPerSecond = m_bitrate;
    return S_OK;
  }
  HRESULT SetBitrate(DWORD bitsPerSecond) override {
    m_bitrate = bitsPerSecond;
    return S_OK;
  }
  HRESULT GetBufferWindow(DWORD* windowMs) override {
    if (windowMs == nullptr) {
      return E_POINTER;
    }
    *windowMs = m_bufferWindowMs;
    return S_OK;
  }
  HRESULT SetBufferWindow(DWORD windowMs) override {
    m_bufferWindowMs = windowMs;
    return S_OK;
  }

  HRESULT GetType(GUID* type) override { return GetStreamType(type); }
  HRESULT GetMediaType(WM_MEDIA_TYPE* type, DWORD* typeBytes) override {
    if (typeBytes == nullptr) {
      return E_POINTER;
    }
    if (!m_hasType) {
      return NS_E_INVALID_STREAM;
    }
    const auto needed = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + m_format.size());
    if (type == nullptr) {
      *typeBytes = needed;
      return S_OK;
    }
    if (*typeBytes < needed) {
      *typeBytes = needed;
      return ASF_E_BUFFERTOOSMALL;
    }
    *type = m_type;
    type->pUnk = nullptr;
    type->cbFormat = static_cast<ULONG>(m_format.size());
    type->pbFormat = m_format.empty() ? nullptr : reinterpret_cast<BYTE*>(type + 1);
    if (!m_format.empty()) {
      std::memcpy(type->pbFormat, m_format.data(), m_format.size());
    }
    *typeBytes = needed;
    return S_OK;
  }
  HRESULT SetMediaType(const WM_MEDIA_TYPE* type) override {
    if (type == nullptr) {
      return E_POINTER;
    }
    if (type->majortype != m_streamType || (type->cbFormat > 0 && type->pbFormat == nullptr)) {
      return E_INVALIDARG;
    }
    if ((type->formattype == WMFORMAT_WaveFormatEx && type->cbFormat < sizeof(WMWAVEFORMATEX)) ||
        (type->formattype == WMFORMAT_VideoInfo && type->cbFormat < sizeof(WMVIDEOINFOHEADER))) {
      return E_INVALIDARG;
    }
    m_type = *type;
    m_type.pUnk = nullptr;
    m_type.pbFormat = nullptr;
    m_format.assign(type->pbFormat, type->pbFormat + type->cbFormat);
    m_hasType = true;
    return S_OK;
  }

  HRESULT GetMaxKeyFrameSpacing(LONGLONG* spacing) override {
    if (spacing == nullptr) {
      return E_POINTER;
    }
    *spacing = m_keySpacing;
    return S_OK;
  }
  HRESULT SetMaxKeyFrameSpacing(LONGLONG spacing) override {
    if (spacing < 0) {
      return E_INVALIDARG;
    }
    m_keySpacing = spacing;
    return S_OK;
  }
  HRESULT GetQuality(DWORD* quality) override {
    if (quality == nullptr) {
      return E_POINTER;
    }
    *quality = m_quality;
    return S_OK;
  }
  HRESULT SetQuality(DWORD quality) override {
    if (quality > kMaxQuality) {
      return E_INVALIDARG;
    }
    m_quality = quality;
    return S_OK;
  }

 private:
  static HRESULT SetText(const char* text, std::string* target) {
    if (text == nullptr) {
      return E_POINTER;
    }
    *target = text;
    return S_OK;
  }

  GUID m_streamType;
  WORD m_number = 0;
  std::string m_name;
  std::string m_connection;
  DWORD m_bitrate = 0;
  DWORD m_bufferWindowMs = 3000;
  bool m_hasType = false;
  WM_MEDIA_TYPE m_type{};
  std::vector<BYTE> m_format;
  LONGLONG m_keySpacing = 0;
  DWORD m_quality = 0;
};

// A copy through the public interfaces, so that configurations of any origin can be added.
CWMStreamConfig* CWMStreamConfig::Clone(IWMStreamConfig* source) {
  GUID type{};
  if (FAILED(source->GetStreamType(&type))) {
    return nullptr;
  }
  auto* copy = new CWMStreamConfig(type);
  WORD number = 0;
  (void)source->GetStreamNumber(&number);
  copy->m_number = number;
  copy->m_name = ReadStreamName(source);
  copy->m_connection = ReadConnectionName(source);
  (void)source->GetBitrate(&copy->m_bitrate);
  (void)source->GetBufferWindow(&copy->m_bufferWindowMs);
  MediaTypeCopy media;
  if (SUCCEEDED(ReadMediaType(source, &media))) {
    media.type.pbFormat = media.format.empty() ? nullptr : media.format.data();
    (void)copy->SetMediaType(&media.type);
  }
  ComPtr<IWMVideoMediaProps> video;
  ComPtr<IWMStreamConfig> held(source);
  if (SUCCEEDED(held.As(&video))) {
    (void)video->GetMaxKeyFrameSpacing(&copy->m_keySpacing);
    (void)video->GetQuality(&copy->m_quality);
  }
  return copy;
}

// ---- profile ----------------------------------------------------------------------

class CWMProfile final : public CComObject<IWMProfile> {
 public:
  explicit CWMProfile(WMT_VERSION version) : m_version(version) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMProfile) {
      return Hand(static_cast<IWMProfile*>(this), ppv);
    }
    return E_NOINTERFACE;
  }
  HRESULT GetVersion(WMT_VERSION* version) override {
    if (version == nullptr) {
      return E_POINTER;
    }
    *version = m_version;
    return S_OK;
  }
  HRESULT GetName(char* name, DWORD* length) override { return CopyText(m_name, name, length); }
  HRESULT SetName(const char* name) override {
    if (name == nullptr) {
      return E_POINTER;
    }
    m_name = name;
    return S_OK;
  }
  HRESULT GetStreamCount(DWORD* count) override {
    if (count == nullptr) {
      return E_POINTER;
    }
    *count = static_cast<DWORD>(m_streams.size());
    return S_OK;
  }
  HRESULT GetStream(DWORD index, IWMStreamConfig** config) override {
    if (config == nullptr) {
      return E_POINTER;
    }
    *config = nullptr;
    if (index >= m_streams.size()) {
      return E_INVALIDARG;
    }
    *config = m_streams[index].Get();
    (*config)->AddRef();
    return S_OK;
  }
  HRESULT GetStreamByNumber(WORD number, IWMStreamConfig** config) override {
    if (config == nullptr) {
      return E_POINTER;
    }
    *config = nullptr;
    for (const auto& stream : m_streams) {
      WORD n = 0;
      if (SUCCEEDED(stream->GetStreamNumber(&n)) && n == number) {
        *config = stream.Get();
        (*config)->AddRef();
        return S_OK;
      }
    }
    return NS_E_NO_STREAM;
  }
  HRESULT RemoveStreamByNumber(WORD number) override {
    for (auto it = m_streams.begin(); it != m_streams.end(); ++it) {
      WORD n = 0;
      if (SUCCEEDED((*it)->GetStreamNumber(&n)) && n == number) {
        m_streams.erase(it);
        return S_OK;
      }
    }
    return NS_E_NO_STREAM;
  }
  HRESULT AddStream(IWMStreamConfig* config) override {
    if (config == nullptr) {
      return E_POINTER;
    }
    WORD number = 0;
    DWORD typeBytes = 0;
    if (FAILED(config->GetStreamNumber(&number)) || number == 0) {
      return NS_E_INVALID_STREAM;
    }
    ComPtr<IWMStreamConfig> existing;
    if (SUCCEEDED(GetStreamByNumber(number, existing.ReleaseAndGetAddressOf()))) {
      return NS_E_INVALID_STREAM;
    }
    ComPtr<IWMStreamConfig> held(config);
    ComPtr<IWMMediaProps> props;
    if (FAILED(held.As(&props)) || FAILED(props->GetMediaType(nullptr, &typeBytes))) {
      return NS_E_INVALID_STREAM;
    }
    CWMStreamConfig* copy = CWMStreamConfig::Clone(config);
    if (copy == nullptr) {
      return NS_E_INVALID_STREAM;
    }
    m_streams.push_back(ComPtr<IWMStreamConfig>::Attach(copy));
    return S_OK;
  }
  HRESULT CreateNewStream(REFGUID streamType, IWMStreamConfig** config) override {
    if (config == nullptr) {
      return E_POINTER;
    }
    *config = nullptr;
    if (streamType != WMMEDIATYPE_Audio && streamType != WMMEDIATYPE_Video) {
      return NS_E_UNRECOGNIZED_STREAM_TYPE;
    }
    *config = new CWMStreamConfig(streamType);
    return S_OK;
  }

 private:
  WMT_VERSION m_version;
  std::string m_name;
  std::vector<ComPtr<IWMStreamConfig>> m_streams;
};

// ---- codec formats -------------------------------------------------------------------

struct VideoCodecFormat {
  LONG width;
  LONG height;
  DWORD bitrate;
};
constexpr VideoCodecFormat kVideoFormats[] = {
    {320, 240, 256000},
    {640, 480, 400000},
    {1280, 960, 1000000},
};
constexpr REFERENCE_TIME kDefaultFrameTime = 10000000 / 30;

IWMStreamConfig* MakeAudioFormatConfig(const AudioCodecFormat& format) {
  auto* config = new CWMStreamConfig(WMMEDIATYPE_Audio);
  std::vector<BYTE> block(sizeof(WMWAVEFORMATEX) + format.extra.size());
  std::memcpy(block.data(), &format.wave, sizeof(WMWAVEFORMATEX));
  if (!format.extra.empty()) {
    std::memcpy(block.data() + sizeof(WMWAVEFORMATEX), format.extra.data(), format.extra.size());
  }
  WM_MEDIA_TYPE type{};
  type.majortype = WMMEDIATYPE_Audio;
  type.subtype = SubtypeFromFourCc(format.wave.wFormatTag);
  type.bFixedSizeSamples = TRUE;
  type.bTemporalCompression = FALSE;
  type.lSampleSize = format.wave.nBlockAlign;
  type.formattype = WMFORMAT_WaveFormatEx;
  type.cbFormat = static_cast<ULONG>(block.size());
  type.pbFormat = block.data();
  (void)config->SetMediaType(&type);
  (void)config->SetBitrate(format.wave.nAvgBytesPerSec * 8);
  return config;
}

IWMStreamConfig* MakeVideoFormatConfig(const VideoCodecFormat& format) {
  auto* config = new CWMStreamConfig(WMMEDIATYPE_Video);
  WMVIDEOINFOHEADER info{};
  info.rcSource = {0, 0, format.width, format.height};
  info.rcTarget = info.rcSource;
  info.dwBitRate = format.bitrate;
  info.AvgTimePerFrame = kDefaultFrameTime;
  info.bmiHeader.biSize = sizeof(WMBITMAPINFOHEADER);
  info.bmiHeader.biWidth = format.width;
  info.bmiHeader.biHeight = format.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = kFourCcWmv1;
  WM_MEDIA_TYPE type{};
  type.majortype = WMMEDIATYPE_Video;
  type.subtype = WMMEDIASUBTYPE_WMV1;
  type.bFixedSizeSamples = FALSE;
  type.bTemporalCompression = TRUE;
  type.formattype = WMFORMAT_VideoInfo;
  type.cbFormat = sizeof(info);
  type.pbFormat = reinterpret_cast<BYTE*>(&info);
  (void)config->SetMediaType(&type);
  (void)config->SetBitrate(format.bitrate);
  (void)config->SetQuality(75);
  (void)config->SetMaxKeyFrameSpacing(80000000);
  return config;
}

// ---- profile manager -----------------------------------------------------------------

class CWMProfileManager final : public CComObject<IWMProfileManager, IWMCodecInfo> {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMProfileManager) {
      return Hand(static_cast<IWMProfileManager*>(this), ppv);
    }
    if (riid == IID_IWMCodecInfo) {
      return Hand(static_cast<IWMCodecInfo*>(this), ppv);
    }
    return E_NOINTERFACE;
  }
  HRESULT CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) override {
    if (profile == nullptr) {
      return E_POINTER;
    }
    *profile = nullptr;
    if (version != WMT_VER_4_0 && version != WMT_VER_7_0 && version != WMT_VER_8_0 && version != WMT_VER_9_0) {
      return E_INVALIDARG;
    }
    *profile = new CWMProfile(version);
    return S_OK;
  }
  HRESULT GetCodecInfoCount(REFGUID streamType, DWORD* codecs) override {
    if (codecs == nullptr) {
      return E_POINTER;
    }
    *codecs = 0;
    if (streamType == WMMEDIATYPE_Audio) {
      *codecs = AudioCodecFormats().empty() ? 0 : 1;
      return S_OK;
    }
    if (streamType == WMMEDIATYPE_Video) {
      *codecs = 1;
      return S_OK;
    }
    return E_INVALIDARG;
  }
  HRESULT GetCodecFormatCount(REFGUID streamType, DWORD codecIndex, DWORD* formats) override {
    if (formats == nullptr) {
      return E_POINTER;
    }
    *formats = 0;
    DWORD codecs = 0;
    if (FAILED(GetCodecInfoCount(streamType, &codecs)) || codecIndex >= codecs) {
      return E_INVALIDARG;
    }
    *formats = streamType == WMMEDIATYPE_Audio ? static_cast<DWORD>(AudioCodecFormats().size())
                                               : static_cast<DWORD>(std::size(kVideoFormats));
    return S_OK;
  }
  HRESULT GetCodecFormat(REFGUID streamType, DWORD codecIndex, DWORD formatIndex, IWMStreamConfig** config) override {
    if (config == nullptr) {
      return E_POINTER;
    }
    *config = nullptr;
    DWORD formats = 0;
    if (FAILED(GetCodecFormatCount(streamType, codecIndex, &formats)) || formatIndex >= formats) {
      return E_INVALIDARG;
    }
    *config = streamType == WMMEDIATYPE_Audio ? MakeAudioFormatConfig(AudioCodecFormats()[formatIndex])
                                              : MakeVideoFormatConfig(kVideoFormats[formatIndex]);
    return S_OK;
  }
};

// Opens the encoder with one candidate; the format is what the encoder settled on.
bool ProbeAudioFormat(const AVCodec* codec, int sampleRate, int channels, int bitrate, AudioCodecFormat* out) {
  AVCodecContext* context = avcodec_alloc_context3(codec);
  if (context == nullptr) {
    return false;
  }
  context->sample_rate = sampleRate;
  av_channel_layout_default(&context->ch_layout, channels);
  context->sample_fmt = AV_SAMPLE_FMT_FLTP;
  context->bit_rate = bitrate;
  context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const bool opened = avcodec_open2(context, codec, nullptr) == 0 && context->block_align > 0;
  if (opened) {
    out->wave.wFormatTag = kWaveFormatWmAudio2;
    out->wave.nChannels = static_cast<WORD>(channels);
    out->wave.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    out->wave.nAvgBytesPerSec = static_cast<DWORD>(context->bit_rate / 8);
    out->wave.nBlockAlign = static_cast<WORD>(context->block_align);
    out->wave.wBitsPerSample = 16;
    out->extra.assign(context->extradata, context->extradata + context->extradata_size);
    out->wave.cbSize = static_cast<WORD>(out->extra.size());
  }
  avcodec_free_context(&context);
  return opened;
}

}  // namespace

const std::vector<AudioCodecFormat>& AudioCodecFormats() {
  static std::vector<AudioCodecFormat> formats;
  static std::once_flag once;
  std::call_once(once, [] {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (codec == nullptr) {
      return;
    }
    constexpr int kSampleRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
    constexpr int kBitratesK[] = {24, 32, 40, 48, 64, 80, 96, 128, 160, 192};
    constexpr int kMaxBitsPerSample = 4;
    for (const int rate : kSampleRates) {
      for (int channels = 1; channels <= 2; ++channels) {
        for (const int kbps : kBitratesK) {
          if (kbps * 1000 > rate * channels * kMaxBitsPerSample) {
            continue;
          }
          AudioCodecFormat format{};
          if (ProbeAudioFormat(codec, rate, channels, kbps * 1000, &format)) {
            formats.push_back(std::move(format));
          }
        }
      }
    }
  });
  return formats;
}

HRESULT ReadMediaType(IWMStreamConfig* config, MediaTypeCopy* out) {
  if (config == nullptr || out == nullptr) {
    return E_POINTER;
  }
  *out = MediaTypeCopy{};
  ComPtr<IWMStreamConfig> held(config);
  ComPtr<IWMMediaProps> props;
  HRESULT hr = held.As(&props);
  if (FAILED(hr)) {
    return hr;
  }
  DWORD bytes = 0;
  hr = props->GetMediaType(nullptr, &bytes);
  if (FAILED(hr)) {
    return hr;
  }
  if (bytes < sizeof(WM_MEDIA_TYPE)) {
    return E_UNEXPECTED;
  }
  std::vector<std::uint64_t> buffer((bytes + 7) / 8);
  auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
  hr = props->GetMediaType(type, &bytes);
  if (FAILED(hr)) {
    return hr;
  }
  out->type = *type;
  if (type->cbFormat > 0 && type->pbFormat != nullptr) {
    out->format.assign(type->pbFormat, type->pbFormat + type->cbFormat);
  }
  out->type.pbFormat = nullptr;
  return S_OK;
}

namespace {
template <HRESULT (IWMStreamConfig::*Getter)(char*, WORD*)>
std::string ReadName(IWMStreamConfig* config) {
  if (config == nullptr) {
    return {};
  }
  WORD length = 0;
  if (FAILED((config->*Getter)(nullptr, &length)) || length == 0) {
    return {};
  }
  std::string text(length, '\0');
  if (FAILED((config->*Getter)(text.data(), &length))) {
    return {};
  }
  text.resize(std::strlen(text.c_str()));
  return text;
}
}  // namespace

std::string ReadStreamName(IWMStreamConfig* config) { return ReadName<&IWMStreamConfig::GetStreamName>(config); }
std::string ReadConnectionName(IWMStreamConfig* config) {
  return ReadName<&IWMStreamConfig::GetConnectionName>(config);
}

}  // namespace halvard::wmf

HRESULT WMCreateProfileManager(IWMProfileManager** manager) {
  if (manager == nullptr) {
    return E_POINTER;
  }
  *manager = new halvard::wmf::CWMProfileManager();
  return S_OK;
}
