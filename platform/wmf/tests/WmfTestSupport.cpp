#include "platform/wmf/tests/WmfTestSupport.h"

#include <cmath>
#include <cstring>
#include <sstream>

#include "tests/support/TestSupport.h"

namespace halvard::wmf::testing {

ComPtr<IWMProfile> MakeProfile(const ProfileSpec& spec) {
  ComPtr<IWMProfileManager> manager;
  if (FAILED(WMCreateProfileManager(manager.ReleaseAndGetAddressOf()))) {
    return {};
  }
  ComPtr<IWMProfile> profile;
  if (FAILED(manager->CreateEmptyProfile(WMT_VER_7_0, profile.ReleaseAndGetAddressOf()))) {
    return {};
  }
  ComPtr<IWMCodecInfo> codecs;
  if (FAILED(manager.As(&codecs))) {
    return {};
  }
  if (spec.withAudio) {
    DWORD formats = 0;
    (void)codecs->GetCodecFormatCount(WMMEDIATYPE_Audio, 0, &formats);
    for (DWORD i = 0; i < formats; ++i) {
      ComPtr<IWMStreamConfig> config;
      if (FAILED(codecs->GetCodecFormat(WMMEDIATYPE_Audio, 0, i, config.ReleaseAndGetAddressOf()))) {
        continue;
      }
      DWORD bitrate = 0;
      (void)config->GetBitrate(&bitrate);
      ComPtr<IWMMediaProps> props;
      (void)config.As(&props);
      std::vector<std::uint64_t> buffer(64);
      DWORD bytes = static_cast<DWORD>(buffer.size() * 8);
      auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
      if (FAILED(props->GetMediaType(type, &bytes))) {
        continue;
      }
      WMWAVEFORMATEX wave{};
      std::memcpy(&wave, type->pbFormat, sizeof(wave));
      if (wave.nSamplesPerSec == spec.audioRate && wave.nChannels == spec.audioChannels &&
          std::abs(static_cast<long>(bitrate) - static_cast<long>(spec.audioBitrate)) < 250) {
        (void)config->SetStreamNumber(1);
        (void)config->SetStreamName("Audio Stream");
        (void)config->SetConnectionName("Audio");
        if (FAILED(profile->AddStream(config.Get()))) {
          return {};
        }
        break;
      }
    }
  }
  ComPtr<IWMStreamConfig> video;
  if (FAILED(codecs->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, video.ReleaseAndGetAddressOf()))) {
    return {};
  }
  ComPtr<IWMVideoMediaProps> props;
  (void)video.As(&props);
  std::vector<std::uint64_t> buffer(64);
  DWORD bytes = static_cast<DWORD>(buffer.size() * 8);
  auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
  (void)props->GetMediaType(type, &bytes);
  auto* info = reinterpret_cast<WMVIDEOINFOHEADER*>(type->pbFormat);
  info->rcSource.right = info->rcTarget.right = info->bmiHeader.biWidth = spec.width;
  info->rcSource.bottom = info->rcTarget.bottom = info->bmiHeader.biHeight = spec.height;
  info->dwBitRate = spec.videoBitrate;
  info->AvgTimePerFrame = 10000000 / spec.frameRate;
  (void)props->SetMediaType(type);
  (void)props->SetQuality(95);
  (void)props->SetMaxKeyFrameSpacing(30000000);
  (void)video->SetStreamNumber(2);
  (void)video->SetStreamName("Video Stream");
  (void)video->SetConnectionName("Video");
  (void)video->SetBitrate(spec.videoBitrate);
  if (FAILED(profile->AddStream(video.Get()))) {
    return {};
  }
  return profile;
}

CSyntheticCamera::CSyntheticCamera(LONG width, LONG height, PixelFormat format)
    : m_width(width), m_height(height), m_format(format), m_buffer(VideoInputBytes(format, width, height)) {}

const std::vector<BYTE>& CSyntheticCamera::Frame(int n) {
  auto noise = [this] {
    m_seed = m_seed * 1664525u + 1013904223u;
    return static_cast<int>((m_seed >> 24) & 15);
  };
  const auto w = static_cast<std::size_t>(m_width);
  const auto h = static_cast<std::size_t>(m_height);
  if (m_format == PixelFormat::Yuy2) {
    for (std::size_t y = 0; y < h; ++y) {
      BYTE* row = m_buffer.data() + y * w * 2;
      for (std::size_t x = 0; x < w; ++x) {
        row[x * 2] = static_cast<BYTE>(((x + y + static_cast<std::size_t>(n) * 4) & 0xFF) / 2 + 40 + noise());
        row[x * 2 + 1] = static_cast<BYTE>((x % 2) == 0 ? 128 + (n % 32) : 128 - (n % 32));
      }
    }
    return m_buffer;
  }
  for (std::size_t y = 0; y < h; ++y) {
    BYTE* row = m_buffer.data() + y * w;
    for (std::size_t x = 0; x < w; ++x) {
      row[x] = static_cast<BYTE>(((x + y + static_cast<std::size_t>(n) * 4) & 0xFF) / 2 + 40 + noise());
    }
  }
  BYTE* chroma = m_buffer.data() + w * h;
  for (std::size_t i = 0; i < 2 * (w / 2) * (h / 2); ++i) {
    chroma[i] = static_cast<BYTE>(128 + ((i / (w / 2) + static_cast<std::size_t>(n)) % 32));
  }
  return m_buffer;
}

VideoInput CSyntheticCamera::Input() const {
  return VideoInput{m_format, m_width, m_height, m_buffer.data(), m_buffer.size()};
}

HRESULT CSimulatedSource::Feed(CAsfEngine& engine, double seconds) {
  const auto& settings = engine.Settings();
  const REFERENCE_TIME frameTime = settings.video ? settings.video->frameTime : 333333;
  m_frameTime = static_cast<double>(frameTime);
  const int frames = static_cast<int>(std::lround(seconds * 10000000.0 / static_cast<double>(frameTime)));
  const DWORD rate = settings.audio ? settings.audio->wave.nSamplesPerSec : 0;
  const WORD channels = settings.audio ? settings.audio->wave.nChannels : 0;
  for (int n = 0; n < frames; ++n, ++m_frame) {
    const REFERENCE_TIME start = static_cast<REFERENCE_TIME>(m_frame) * frameTime;
    if (settings.video) {
      (void)m_camera.Frame(m_frame);
      const HRESULT hr = engine.WriteVideo(m_camera.Input(), start);
      if (FAILED(hr)) {
        return hr;
      }
    }
    while (rate != 0 && m_audioTime < start + frameTime) {
      const std::size_t count = rate / 50;  // 20 ms
      std::vector<std::int16_t> pcm(count * channels);
      for (std::size_t s = 0; s < count; ++s) {
        const auto value =
            static_cast<std::int16_t>(3000.0 * std::sin(2 * M_PI * 440.0 * static_cast<double>(m_sample++) / rate));
        for (WORD c = 0; c < channels; ++c) {
          pcm[s * channels + c] = value;
        }
      }
      const HRESULT hr = engine.WriteAudio(reinterpret_cast<const BYTE*>(pcm.data()), pcm.size() * 2, m_audioTime);
      if (FAILED(hr)) {
        return hr;
      }
      m_audioTime += 200000;
    }
  }
  return S_OK;
}

HRESULT FeedSeconds(CAsfEngine& engine, CSyntheticCamera& camera, double seconds) {
  const VideoInput input = camera.Input();
  CSimulatedSource source(input.width, input.height, input.format);
  return source.Feed(engine, seconds);
}

std::map<std::string, std::string> Probe(const std::string& target) {
  const auto result = halvard::testing::RunCommand(
      "ffprobe -v error -show_entries "
      "stream=codec_name,codec_type,width,height,avg_frame_rate,r_frame_rate,channels,sample_rate:format=duration,"
      "format_name -of flat " +
      halvard::testing::ShellQuote(target));
  std::map<std::string, std::string> values;
  std::istringstream lines(result.output);
  std::string line;
  while (std::getline(lines, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      continue;
    }
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    // "streams.stream.0.codec_name" -> "stream0.codec_name"
    const std::string prefix = "streams.stream.";
    if (key.rfind(prefix, 0) == 0) {
      const auto dot = key.find('.', prefix.size());
      key = "stream" + key.substr(prefix.size(), dot - prefix.size()) + key.substr(dot);
    }
    values[key] = value;
  }
  return values;
}

double DecodedSeconds(const std::string& path) {
  const auto result =
      halvard::testing::RunCommand("ffprobe -v quiet -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 " +
                                   halvard::testing::ShellQuote(path));
  double last = -1;
  std::istringstream lines(result.output);
  std::string line;
  while (std::getline(lines, line)) {
    try {
      last = std::max(last, std::stod(line));
    } catch (...) {
    }
  }
  return last;
}

}  // namespace halvard::wmf::testing
