#include "server/ui/dialogs/CapturePage.h"

#include <algorithm>

#include "server/engine/CardAdjustments.h"
#include "server/settings/Settings.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

namespace {
// The camera values of the picture controls, in the dialog's order.
constexpr const s::CameraDword* kPictureValues[kPictureControlCount] = {
    &s::kDataBrightness,      &s::kDataContrast,      &s::kDataSaturation,      &s::kDataHue,
    &s::kDataBrightnessNight, &s::kDataContrastNight, &s::kDataSaturationNight, &s::kDataHueNight,
};
}  // namespace

CCapturePage::CCapturePage(std::string group, std::string input) : m_group(std::move(group)), m_input(std::move(input)) {
  CaptureValues& v = m_stored;
  v.standardIndex = std::min<DWORD>(s::ReadStoredDataFormat(m_group), std::size(s::kVideoStandards) - 1);
  v.resolutionIndex = std::min<DWORD>(s::kDataResolution.Read(m_group), std::size(s::kCaptureSizes) - 1);
  v.colorIndex = std::min<DWORD>(s::kDataColor.Read(m_group), std::size(s::kColorDepths) - 1);
  v.hdLevel = std::min<DWORD>(s::kCardHdSimulationLevel.Read(m_group), kMaxHdLevel);
  for (int i = 0; i < kPictureControlCount; ++i) {
    v.picture[static_cast<std::size_t>(i)] = std::min<DWORD>(kPictureValues[i]->Read(m_group, m_input), kMaxPictureValue);
  }
}

CSettingsChanges CCapturePage::Changes(const CaptureValues& values, std::shared_ptr<bool> inputCountChanged) const {
  CSettingsChanges changes;
  const std::string group = m_group;
  const std::string input = m_input;
  const CaptureValues& old = m_stored;
  if (values.standardIndex != old.standardIndex) {
    const DWORD index = values.standardIndex;
    changes.Add(std::string(s::kDataFormatName), [group, index] {
      s::WriteDataFormat(group, index);
      s::kDataFormatOption.Write(group, 1);
    });
  }
  const auto groupDword = [&](const s::GroupDword& value, DWORD now, DWORD before) {
    if (now != before) {
      changes.Add(std::string(value.name), [&value, group, now] { value.Write(group, now); });
    }
  };
  groupDword(s::kDataResolution, values.resolutionIndex, old.resolutionIndex);
  if (values.resolutionIndex != old.resolutionIndex) {
    const DWORD index = values.resolutionIndex;
    changes.Add(std::string(s::kCardInputAmountName), [group, index, inputCountChanged] {
      const bool changed = engine::ApplyResolutionInputCount(group, index);
      if (inputCountChanged) {
        *inputCountChanged = changed;
      }
    });
  }
  groupDword(s::kDataColor, values.colorIndex, old.colorIndex);
  groupDword(s::kCardHdSimulationLevel, values.hdLevel, old.hdLevel);
  for (int i = 0; i < kPictureControlCount; ++i) {
    const DWORD now = values.picture[static_cast<std::size_t>(i)];
    if (now != old.picture[static_cast<std::size_t>(i)]) {
      const s::CameraDword* value = kPictureValues[i];
      changes.Add(std::string(value->name), [value, group, input, now] { value->Write(group, input, now); });
    }
  }
  return changes;
}

}  // namespace halvard::ui::dialogs
