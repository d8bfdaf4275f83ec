#include "server/ui/dialogs/RecordingPage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "platform/com/Com.h"
#include "platform/wmf/Wmf.h"
#include "platform/wmf/WmfTypes.h"
#include "server/archive/Profile.h"
#include "server/engine/CameraRoster.h"
#include "server/settings/Settings.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The wave header of one codec format, when it is one.
std::optional<WMWAVEFORMATEX> WaveFormatOf(IWMStreamConfig* config) {
  ComPtr<IWMMediaProps> props;
  if (FAILED(ComPtr<IWMStreamConfig>(config).As(&props))) {
    return std::nullopt;
  }
  DWORD bytes = 0;
  if (FAILED(props->GetMediaType(nullptr, &bytes)) || bytes < sizeof(WM_MEDIA_TYPE)) {
    return std::nullopt;
  }
  std::vector<std::uint64_t> storage((bytes + 7) / 8, 0);
  auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(storage.data());
  if (FAILED(props->GetMediaType(type, &bytes)) || type->formattype != WMFORMAT_WaveFormatEx ||
      type->pbFormat == nullptr || type->cbFormat < sizeof(WMWAVEFORMATEX)) {
    return std::nullopt;
  }
  WMWAVEFORMATEX wave{};
  std::memcpy(&wave, type->pbFormat, sizeof(wave));
  return wave;
}

}  // namespace

std::optional<long> ParseWholeNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  if (text.empty() || text.size() > 20) {
    return std::nullopt;
  }
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(copy.c_str(), &end, 10);
  if (errno != 0 || end != copy.c_str() + copy.size() || !(std::isdigit(static_cast<unsigned char>(copy.back())))) {
    return std::nullopt;
  }
  return value;
}

std::vector<AudioFormatChoice> EncoderAudioFormats() {
  std::vector<AudioFormatChoice> choices;
  ComPtr<IWMProfileManager> manager;
  if (FAILED(WMCreateProfileManager(manager.ReleaseAndGetAddressOf()))) {
    return choices;
  }
  ComPtr<IWMCodecInfo> codecs;
  if (FAILED(manager.As(&codecs))) {
    return choices;
  }
  std::set<std::pair<DWORD, DWORD>> seen;
  (void)archive::ForEachCodecFormat(codecs.Get(), WMMEDIATYPE_Audio, [&seen](IWMStreamConfig* config) {
    const std::optional<WMWAVEFORMATEX> wave = WaveFormatOf(config);
    if (!wave || wave->wFormatTag != kWaveFormatWmAudio2 || wave->nChannels != 1 ||
        wave->nSamplesPerSec % 1000 != 0) {
      return true;
    }
    // Stored in kbit/s: the nearest whole number, which the profile's 249 bit/s
    // tolerance must then accept (checked below with the profile's own choice).
    const DWORD kbps = (wave->nAvgBytesPerSec * 8 + 500) / 1000;
    seen.insert({wave->nSamplesPerSec / 1000, kbps});
    return true;
  });
  for (const auto& [rate, kbps] : seen) {
    archive::AudioProfileParams params;
    params.sampleRate = rate * 1000;
    params.bitrate = kbps * 1000;
    std::vector<BYTE> header;
    if (SUCCEEDED(archive::SelectAudioFormat(codecs.Get(), params, &header))) {
      choices.push_back({rate, kbps});
    }
  }
  return choices;
}

CRecordingPage::CRecordingPage(std::string group, std::string input)
    : m_group(std::move(group)), m_input(std::move(input)) {
  RecordingForm& f = m_stored;
  f.name = m_input;
  f.record = s::kInputRecordingVideo.Read(m_group, m_input) != 0;
  f.root = s::ReadVideoFileRoot(m_group, m_input);
  f.fileLengthIndex = std::min<DWORD>(s::kVideoFileLength.Read(m_group), std::size(s::kFileLengthMinutes) - 1);
  f.historyDays = std::to_string(s::kVideoHistory.Read(m_group, m_input));
  f.bitrateKbps = std::to_string(s::kVideoBitrate.Read(m_group, m_input));
  // Read signed, as the profile does: a stored -1 shows as -1, not as 4294967295.
  f.frameRate = std::to_string(static_cast<LONG>(s::kVideoFrameRate.Read(m_group, m_input)));
  f.keyFrameSeconds = std::to_string(s::kVideoKeyFrameInterval.Read(m_group, m_input));
  f.quality = std::min<DWORD>(s::kVideoMotionQuality.Read(m_group, m_input), 100);
  f.audio = s::kAudio.Read(m_group, m_input) != 0;
  f.audioSource = s::kAudioSource.Read(m_group, m_input);
  f.audioFormat = {s::kAudioSampleRate.Read(m_group, m_input), s::kAudioBitrate.Read(m_group, m_input)};
  f.audition = s::kAudioAudition.Read(m_group, m_input) != 0;
}

std::string CRecordingPage::NormaliseRoot(std::string_view root) {
  std::string path(root);
  std::replace(path.begin(), path.end(), '\\', '/');
  if (!path.empty() && path.back() != '/') {
    path.push_back('/');
  }
  return path;
}

std::optional<RecordingRefusal> CRecordingPage::Check(const RecordingForm& form,
                                                      const std::vector<AudioFormatChoice>& formats) const {
  if (NameChanged(form)) {
    bool used = false;
    const DWORD count = s::ReadCardInputAmount(m_group, s::kDefaultCardChannels);
    for (const std::string& other : s::ReadInputNames(m_group, count)) {
      used = used || (EqualsNoCase(other, form.name) && !EqualsNoCase(other, m_input));
    }
    if (used || !engine::IsValidFolderName(form.name)) {
      return RecordingRefusal{RecordingField::Name, kIdsInvalidInputName};
    }
  }
  const std::string root = NormaliseRoot(form.root);
  if (root.empty() || root.front() != '/' || root.size() > kMaxRootChars ||
      root.find("/../") != std::string::npos || root.find('\0') != std::string::npos) {
    return RecordingRefusal{RecordingField::Root, kIdsRootInvalid};
  }
  if (form.fileLengthIndex >= std::size(s::kFileLengthMinutes)) {
    return RecordingRefusal{RecordingField::FileLength, kIdsNumberRange, 0,
                            static_cast<long>(std::size(s::kFileLengthMinutes)) - 1};
  }
  const auto number = [](const std::string& text, RecordingField field, long low,
                         long high) -> std::optional<RecordingRefusal> {
    const std::optional<long> value = ParseWholeNumber(text);
    if (!value || *value < low || *value > high) {
      return RecordingRefusal{field, kIdsNumberRange, low, high};
    }
    return std::nullopt;
  };
  if (auto r = number(form.historyDays, RecordingField::History, 1, kMaxHistoryDays)) {
    return r;
  }
  if (auto r = number(form.bitrateKbps, RecordingField::Bitrate, 1, kMaxVideoBitrateKbps)) {
    return r;
  }
  if (auto r = number(form.frameRate, RecordingField::FrameRate, 1, kMaxFrameRate)) {
    return r;
  }
  if (auto r = number(form.keyFrameSeconds, RecordingField::KeyFrame, 1, kMaxKeyFrameSeconds)) {
    return r;
  }
  if (form.quality > 100) {
    return RecordingRefusal{RecordingField::Quality, kIdsNumberRange, 0, 100};
  }
  if (!(form.audioFormat == m_stored.audioFormat) &&
      std::find(formats.begin(), formats.end(), form.audioFormat) == formats.end()) {
    return RecordingRefusal{RecordingField::AudioFormat, kIdsAudioFormatUnavailable};
  }
  return std::nullopt;
}

CSettingsChanges CRecordingPage::Changes(const RecordingForm& form, std::string_view input) const {
  CSettingsChanges changes;
  const std::string group = m_group;
  const std::string camera(input);
  const RecordingForm& old = m_stored;
  const auto dword = [&](const s::CameraDword& value, DWORD now, DWORD before) {
    if (now != before) {
      changes.Add(std::string(value.name), [&value, group, camera, now] { value.Write(group, camera, now); });
    }
  };
  const auto typed = [](const std::string& text) { return static_cast<DWORD>(ParseWholeNumber(text).value_or(0)); };
  dword(s::kInputRecordingVideo, form.record ? 1 : 0, old.record ? 1 : 0);
  const std::string root = NormaliseRoot(form.root);
  // A stored root without its final '/' would join into the group's folder name.
  if (root != old.root) {
    changes.Add(std::string(s::kVideoFileRootName), [group, camera, root] { s::WriteVideoFileRoot(group, camera, root); });
  }
  if (form.fileLengthIndex != old.fileLengthIndex) {
    const DWORD index = form.fileLengthIndex;
    changes.Add(std::string(s::kVideoFileLength.name), [group, index] { s::kVideoFileLength.Write(group, index); });
  }
  dword(s::kVideoHistory, typed(form.historyDays), typed(old.historyDays));
  dword(s::kVideoBitrate, typed(form.bitrateKbps), typed(old.bitrateKbps));
  dword(s::kVideoFrameRate, typed(form.frameRate), typed(old.frameRate));
  dword(s::kVideoKeyFrameInterval, typed(form.keyFrameSeconds), typed(old.keyFrameSeconds));
  dword(s::kVideoMotionQuality, form.quality, old.quality);
  dword(s::kAudio, form.audio ? 1 : 0, old.audio ? 1 : 0);
  if (form.audioSource != old.audioSource) {
    const std::string source = form.audioSource;
    changes.Add(std::string(s::kAudioSource.name), [group, camera, source] { s::kAudioSource.Write(group, camera, source); });
  }
  dword(s::kAudioSampleRate, form.audioFormat.sampleRateKhz, old.audioFormat.sampleRateKhz);
  dword(s::kAudioBitrate, form.audioFormat.bitrateKbps, old.audioFormat.bitrateKbps);
  dword(s::kAudioAudition, form.audition ? 1 : 0, old.audition ? 1 : 0);
  return changes;
}

}  // namespace halvard::ui::dialogs
