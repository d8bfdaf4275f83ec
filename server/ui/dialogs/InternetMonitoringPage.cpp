#include "server/ui/dialogs/InternetMonitoringPage.h"

#include <algorithm>

#include "platform/base/Text.h"
#include "server/internet/AddressDiscovery.h"
#include "server/internet/MonitoringPage.h"
#include "server/ui/dialogs/RecordingPage.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

CMonitoringPage::CMonitoringPage(std::string group, std::string input, std::vector<std::string> addresses)
    : m_group(std::move(group)), m_input(std::move(input)), m_addresses(std::move(addresses)) {
  m_stored.enabled = s::kInputVideoMonitoring.Read(m_group, m_input) != 0;
  m_stored.manualAddress = s::kInternetIpManu.Read(m_group, m_input) != 0;
  m_stored.address = internet::CameraAddress(m_group, m_input);
  if (!m_stored.address.empty() &&
      std::find(m_addresses.begin(), m_addresses.end(), m_stored.address) == m_addresses.end()) {
    // A manual address of another network (the card moved, the lease changed) stays
    // choosable instead of silently becoming the first address of the list.
    m_addresses.push_back(m_stored.address);
  }
  m_stored.port = std::to_string(s::ReadInternetPort(m_group, m_input));
  m_stored.noIpUpdate = s::kPrivacyNoIpUpdate.Read(m_group, m_input) != 0;
  m_stored.publish = s::kInternetBroadcasting.Read(m_group, m_input) != 0;
  m_stored.note = s::kInternetBroadcastingNote.Read(m_group, m_input);
  for (int slot = 0; slot < s::kInternetServerSlots; ++slot) {
    m_stored.servers[static_cast<std::size_t>(slot)] = s::ReadInternetServer(slot);
  }
}

std::optional<MonitoringRefusal> CMonitoringPage::Check(const MonitoringForm& form) const {
  if (form.publish && !internet::IsBroadcastNoteLongEnough(form.note)) {
    return MonitoringRefusal{MonitoringField::Note, kIdsNoteTooShort};
  }
  if (text::Utf16Length(form.note) > kMaxMonitoringTextChars) {
    return MonitoringRefusal{MonitoringField::Note, kIdsNoteTooLong};
  }
  if (form.manualAddress && form.address.empty()) {
    return MonitoringRefusal{MonitoringField::Address, kIdsSelectAddress};
  }
  const std::optional<long> port = ParseWholeNumber(form.port);
  if (!port || *port < kLowestPort || *port > kHighestPort) {
    return MonitoringRefusal{MonitoringField::Port, kIdsNumberRange, kLowestPort, kHighestPort};
  }
  return std::nullopt;
}

bool CMonitoringPage::WarnsPrivateAddress(const MonitoringForm& form) {
  return form.manualAddress && internet::IsPrivateAddress(form.address);
}

CSettingsChanges CMonitoringPage::Changes(const MonitoringForm& form) const {
  CSettingsChanges changes;
  const std::string group = m_group;
  const std::string input = m_input;
  const auto flag = [&](const s::CameraDword& value, bool now, bool before) {
    if (now != before) {
      changes.Add(std::string(value.name), [&value, group, input, now] { value.Write(group, input, now ? 1 : 0); });
    }
  };
  if (form.note != m_stored.note) {
    const std::string note = form.note;
    changes.Add(std::string(s::kInternetBroadcastingNote.name),
                [group, input, note] { s::kInternetBroadcastingNote.Write(group, input, note); });
  }
  flag(s::kInputVideoMonitoring, form.enabled, m_stored.enabled);
  flag(s::kInternetIpManu, form.manualAddress, m_stored.manualAddress);
  if (form.manualAddress && (form.address != m_stored.address || !m_stored.manualAddress)) {
    // The address is stored when chosen by hand, also when it equals the automatic one:
    // a later change of the automatic address must not move a manual choice.
    const std::string address = form.address;
    changes.Add(std::string(s::kInternetIpName), [address] { s::WriteSystemInternetIp(address); });
  }
  const std::optional<long> port = ParseWholeNumber(form.port);
  if (port && std::to_string(*port) != m_stored.port) {
    const auto value = static_cast<DWORD>(*port);
    changes.Add(std::string(s::kInternetPortName), [group, input, value] { s::WriteInternetPort(group, input, value); });
  }
  flag(s::kPrivacyNoIpUpdate, form.noIpUpdate, m_stored.noIpUpdate);
  flag(s::kInternetBroadcasting, form.publish, m_stored.publish);
  for (int slot = 0; slot < s::kInternetServerSlots; ++slot) {
    const std::string& host = form.servers[static_cast<std::size_t>(slot)];
    if (host != m_stored.servers[static_cast<std::size_t>(slot)]) {
      changes.Add(s::InternetServerName(slot), [slot, host] { s::WriteInternetServer(slot, host); });
    }
  }
  return changes;
}

bool CMonitoringPage::IsHostName(std::string_view host) {
  if (host.empty() || host.size() > kMaxMonitoringTextChars) {
    return false;
  }
  return std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == ':';
  });
}

bool CMonitoringPage::AddServer(MonitoringForm& form, std::string_view host) {
  if (!IsHostName(host)) {
    return false;
  }
  for (std::string& slot : form.servers) {
    if (slot.empty()) {
      slot = std::string(host);
      return true;
    }
  }
  return false;
}

bool CMonitoringPage::RemoveServer(MonitoringForm& form, std::string_view host) {
  for (std::string& slot : form.servers) {
    if (slot == host) {
      slot.clear();
      return true;
    }
  }
  return false;
}

void CMonitoringPage::ResetServers(MonitoringForm& form) {
  for (int slot = 0; slot < s::kInternetServerSlots; ++slot) {
    form.servers[static_cast<std::size_t>(slot)] = s::InternetServerDefault(slot);
  }
}

std::vector<std::string> CMonitoringPage::ServerList(const MonitoringForm& form) {
  std::vector<std::string> hosts;
  for (const std::string& slot : form.servers) {
    if (!slot.empty()) {
      hosts.push_back(slot);
    }
  }
  return hosts;
}

}  // namespace halvard::ui::dialogs
