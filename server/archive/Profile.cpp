#include "server/archive/Profile.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "server/settings/Settings.h"

namespace halvard::archive {
namespace {

namespace settings = halvard::settings;

constexpr DWORD kBitrateTolerance = 249;
constexpr LONGLONG kHundredNsPerSecond = 10000000;

// The media type of a stream configuration, in a buffer that keeps its format block.
struct MediaTypeBuffer {
  std::vector<std::uint64_t> storage;
  WM_MEDIA_TYPE* Type() { return reinterpret_cast<WM_MEDIA_TYPE*>(storage.data()); }
};

HRESULT GetMediaType(IWMStreamConfig* config, ComPtr<IWMMediaProps>* props, MediaTypeBuffer* buffer) {
  HRESULT hr = ComPtr<IWMStreamConfig>(config).As(props);
  if (FAILED(hr)) {
    return hr;
  }
  DWORD bytes = 0;
  hr = (*props)->GetMediaType(nullptr, &bytes);
  if (FAILED(hr)) {
    return hr;
  }
  if (bytes < sizeof(WM_MEDIA_TYPE)) {
    return E_UNEXPECTED;
  }
  buffer->storage.assign((bytes + 7) / 8, 0);
  return (*props)->GetMediaType(buffer->Type(), &bytes);
}

HRESULT AddAudioStream(IWMProfile* profile, const std::vector<BYTE>& header) {
  WMWAVEFORMATEX wave{};
  std::memcpy(&wave, header.data(), sizeof(wave));
  ComPtr<IWMStreamConfig> config;
  HRESULT hr = profile->CreateNewStream(WMMEDIATYPE_Audio, config.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    return hr;
  }
  ComPtr<IWMMediaProps> props;
  hr = config.As(&props);
  if (FAILED(hr)) {
    return hr;
  }
  std::vector<BYTE> format = header;
  WM_MEDIA_TYPE type{};
  type.majortype = WMMEDIATYPE_Audio;
  type.subtype = SubtypeFromFourCc(wave.wFormatTag);
  type.bFixedSizeSamples = TRUE;
  type.bTemporalCompression = FALSE;
  type.lSampleSize = wave.nBlockAlign;
  type.formattype = WMFORMAT_WaveFormatEx;
  type.cbFormat = static_cast<ULONG>(format.size());
  type.pbFormat = format.data();
  const DWORD bitrate = wave.nAvgBytesPerSec * 8;
  if (FAILED(hr = config->SetStreamNumber(1)) || FAILED(hr = config->SetStreamName("Audio Stream")) ||
      FAILED(hr = config->SetConnectionName("Audio")) || FAILED(hr = config->SetBitrate(bitrate)) ||
      FAILED(hr = props->SetMediaType(&type))) {
    return hr;
  }
  return profile->AddStream(config.Get());
}

HRESULT AddVideoStream(IWMProfile* profile, IWMCodecInfo* codecs, const VideoProfileParams& video) {
  HRESULT result = NS_E_VIDEO_CODEC_NOT_INSTALLED;
  const HRESULT listed = ForEachCodecFormat(codecs, WMMEDIATYPE_Video, [&](IWMStreamConfig* config) {
    ComPtr<IWMMediaProps> props;
    MediaTypeBuffer buffer;
    if (FAILED(GetMediaType(config, &props, &buffer))) {
      return true;
    }
    WM_MEDIA_TYPE* type = buffer.Type();
    if (type->formattype != WMFORMAT_VideoInfo || type->cbFormat < sizeof(WMVIDEOINFOHEADER) ||
        type->pbFormat == nullptr) {
      return true;
    }
    WMVIDEOINFOHEADER info{};
    std::memcpy(&info, type->pbFormat, sizeof(info));
    if (info.bmiHeader.biCompression != video.compression) {
      return true;
    }
    info.rcSource.right = video.width;
    info.rcSource.bottom = video.height;
    info.rcTarget.right = video.width;
    info.rcTarget.bottom = video.height;
    info.bmiHeader.biWidth = video.width;
    info.bmiHeader.biHeight = video.height;
    info.dwBitRate = video.bitrate;
    info.AvgTimePerFrame = kHundredNsPerSecond / video.frameRate;
    std::memcpy(type->pbFormat, &info, sizeof(info));
    // The first format of the codec is the one: configured or failed, the walk ends.
    ComPtr<IWMVideoMediaProps> videoProps;
    HRESULT hr = S_OK;
    if (FAILED(hr = props.As(&videoProps)) || FAILED(hr = videoProps->SetMediaType(type)) ||
        FAILED(hr = videoProps->SetQuality(video.quality)) ||
        FAILED(hr = videoProps->SetMaxKeyFrameSpacing(static_cast<LONGLONG>(video.keyFrameIntervalSeconds) *
                                                      kHundredNsPerSecond)) ||
        FAILED(hr = config->SetStreamNumber(2)) || FAILED(hr = config->SetStreamName("Video Stream")) ||
        FAILED(hr = config->SetConnectionName("Video")) || FAILED(hr = config->SetBitrate(video.bitrate))) {
      result = hr;
      return false;
    }
    result = profile->AddStream(config);
    return false;
  });
  return FAILED(listed) ? listed : result;
}

}  // namespace

HRESULT ForEachCodecFormat(IWMCodecInfo* codecs, REFGUID streamType, const CodecFormatVisitor& visit) {
  DWORD codecCount = 0;
  const HRESULT hr = codecs->GetCodecInfoCount(streamType, &codecCount);
  if (FAILED(hr)) {
    return hr;
  }
  for (DWORD codec = 0; codec < codecCount; ++codec) {
    DWORD formats = 0;
    if (FAILED(codecs->GetCodecFormatCount(streamType, codec, &formats))) {
      continue;
    }
    for (DWORD index = 0; index < formats; ++index) {
      ComPtr<IWMStreamConfig> config;
      if (SUCCEEDED(codecs->GetCodecFormat(streamType, codec, index, config.ReleaseAndGetAddressOf())) &&
          !visit(config.Get())) {
        return S_OK;
      }
    }
  }
  return S_OK;
}

void ReadProfileParams(std::string_view group, std::string_view input, AudioProfileParams* audio,
                       VideoProfileParams* video) {
  if (audio != nullptr) {
    *audio = AudioProfileParams{};
    audio->bitrate = settings::kAudioBitrate.Read(group, input) * 1000;
    audio->sampleRate = settings::kAudioSampleRate.Read(group, input) * 1000;
  }
  if (video != nullptr) {
    *video = VideoProfileParams{};
    const settings::PictureSize size = settings::ReadEffectivePictureSize(group);
    video->bitrate = settings::kVideoBitrate.Read(group, input) * 1000;
    video->width = size.width;
    video->height = size.height;
    video->frameRate = static_cast<LONG>(settings::kVideoFrameRate.Read(group, input));
    video->quality = settings::kVideoMotionQuality.Read(group, input);
    video->keyFrameIntervalSeconds = settings::kVideoKeyFrameInterval.Read(group, input);
  }
}

HRESULT SelectAudioFormat(IWMCodecInfo* codecs, const AudioProfileParams& audio, std::vector<BYTE>* header) {
  if (codecs == nullptr || header == nullptr) {
    return E_POINTER;
  }
  header->clear();
  bool found = false;
  WORD bestAlign = 0;
  const HRESULT hr = ForEachCodecFormat(codecs, WMMEDIATYPE_Audio, [&](IWMStreamConfig* config) {
    ComPtr<IWMMediaProps> props;
    MediaTypeBuffer buffer;
    if (FAILED(GetMediaType(config, &props, &buffer))) {
      return true;
    }
    const WM_MEDIA_TYPE* type = buffer.Type();
    if (type->formattype != WMFORMAT_WaveFormatEx || type->cbFormat < sizeof(WMWAVEFORMATEX) ||
        type->pbFormat == nullptr) {
      return true;
    }
    WMWAVEFORMATEX wave{};
    std::memcpy(&wave, type->pbFormat, sizeof(wave));
    const auto difference =
        static_cast<std::int64_t>(wave.nAvgBytesPerSec) * 8 - static_cast<std::int64_t>(audio.bitrate);
    if (wave.wFormatTag != audio.formatTag || wave.nChannels != audio.channels ||
        wave.nSamplesPerSec != audio.sampleRate || difference < -static_cast<std::int64_t>(kBitrateTolerance) ||
        difference > static_cast<std::int64_t>(kBitrateTolerance)) {
      return true;
    }
    if (found && wave.nBlockAlign > bestAlign) {
      return true;
    }
    // The header is the format block up to its extra bytes (never past the block).
    const std::size_t size = std::min<std::size_t>(sizeof(WMWAVEFORMATEX) + wave.cbSize, type->cbFormat);
    header->assign(type->pbFormat, type->pbFormat + size);
    bestAlign = wave.nBlockAlign;
    found = true;
    return true;
  });
  if (FAILED(hr)) {
    return hr;
  }
  if (!found) {
    return NS_E_AUDIO_CODEC_NOT_INSTALLED;
  }
  // The header's extra-byte count must describe what was kept.
  const auto extra = static_cast<WORD>(header->size() - sizeof(WMWAVEFORMATEX));
  std::memcpy(header->data() + offsetof(WMWAVEFORMATEX, cbSize), &extra, sizeof(extra));
  return S_OK;
}

HRESULT BuildCustomProfile(const AudioProfileParams* audio, const VideoProfileParams* video, IWMProfile** profile) {
  if (profile == nullptr) {
    return E_POINTER;
  }
  *profile = nullptr;
  if (audio == nullptr || video == nullptr) {
    return E_INVALIDARG;
  }
  if (video->frameRate <= 0) {
    return E_INVALIDARG;  // the average frame time divides by it
  }
  ComPtr<IWMProfileManager> manager;
  HRESULT hr = WMCreateProfileManager(manager.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    return hr;
  }
  ComPtr<IWMProfile> created;
  hr = manager->CreateEmptyProfile(WMT_VER_7_0, created.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    return hr;
  }
  hr = created->SetName("Custom Profile");
  if (FAILED(hr)) {
    return hr;
  }
  ComPtr<IWMCodecInfo> codecs;
  hr = manager.As(&codecs);
  if (FAILED(hr)) {
    return hr;
  }
  std::vector<BYTE> header;
  hr = SelectAudioFormat(codecs.Get(), *audio, &header);
  if (FAILED(hr)) {
    return hr;
  }
  hr = AddAudioStream(created.Get(), header);
  if (FAILED(hr)) {
    return hr;
  }
  hr = AddVideoStream(created.Get(), codecs.Get(), *video);
  if (FAILED(hr)) {
    return hr;
  }
  *profile = created.Detach();
  return S_OK;
}

HRESULT ConfigureRecordingWriter(IUnknown* writer, std::string_view group, std::string_view input) {
  if (writer == nullptr) {
    return E_POINTER;
  }
  ComPtr<IUnknown> held(writer);
  ComPtr<IConfigInterleaving> interleaving;
  HRESULT hr = held.As(&interleaving);
  if (FAILED(hr)) {
    return hr;
  }
  hr = interleaving->put_Mode(INTERLEAVE_FULL);
  if (FAILED(hr)) {
    return hr;
  }
  AudioProfileParams audio;
  VideoProfileParams video;
  ReadProfileParams(group, input, &audio, &video);
  ComPtr<IWMProfile> profile;
  hr = BuildCustomProfile(&audio, &video, profile.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    return hr;
  }
  ComPtr<IConfigAsfWriter> config;
  hr = held.As(&config);
  if (FAILED(hr)) {
    return hr;
  }
  return config->ConfigureFilterUsingProfile(profile.Get());
}

}  // namespace halvard::archive
