#include "server/ui/dialogs/PanTiltZoomPage.h"

#include "server/settings/Settings.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

CPanTiltZoomPage::CPanTiltZoomPage(std::string group, std::string input)
    : m_group(std::move(group)), m_input(std::move(input)), m_stored(ptz::LoadPageSettings(m_group, m_input)) {}

CSettingsChanges CPanTiltZoomPage::Changes(const ptz::PtzPageSettings& v) const {
  CSettingsChanges changes;
  const std::string group = m_group;
  const std::string input = m_input;
  const auto value = [&](const s::CameraDword& setting, DWORD now, DWORD before) {
    if (now != before) {
      changes.Add(std::string(setting.name), [&setting, group, input, now] { setting.Write(group, input, now); });
    }
  };
  value(s::kInputPtz, v.enabled, m_stored.enabled);
  value(s::kPtzAddress, v.address, m_stored.address);
  value(s::kPtzProtocol, v.protocol, m_stored.protocol);
  value(s::kPtzCom, v.portIndex, m_stored.portIndex);
  value(s::kPtzBpp, v.speedIndex, m_stored.speedIndex);
  value(s::kPtzAutoFocus, v.autoFocus, m_stored.autoFocus);
  value(s::kPtzAutoWhiteBalance, v.autoWhiteBalance, m_stored.autoWhiteBalance);
  value(s::kPtzAutoGainControl, v.autoGainControl, m_stored.autoGainControl);
  value(s::kPtzAutoIris, v.autoIris, m_stored.autoIris);
  value(s::kPtzAutoBlc, v.autoBlc, m_stored.autoBlc);
  return changes;
}

}  // namespace halvard::ui::dialogs
