#include "server/internet/MonitoringPage.h"

#include "platform/base/Text.h"
#include "server/settings/Settings.h"

namespace halvard::internet {

std::vector<std::string> ListDirectoryServers() {
  std::vector<std::string> hosts;
  for (int slot = 0; slot < settings::kInternetServerSlots; ++slot) {
    std::string host = settings::ReadInternetServer(slot);
    if (!host.empty()) {
      hosts.push_back(std::move(host));
    }
  }
  return hosts;
}

bool AddDirectoryServer(std::string_view host) {
  if (host.empty()) {
    return false;
  }
  for (int slot = 0; slot < settings::kInternetServerSlots; ++slot) {
    if (settings::ReadInternetServer(slot).empty()) {
      settings::WriteInternetServer(slot, host);
      return true;
    }
  }
  return false;
}

bool RemoveDirectoryServer(std::string_view host) {
  for (int slot = 0; slot < settings::kInternetServerSlots; ++slot) {
    if (settings::ReadInternetServer(slot) == host) {
      settings::WriteInternetServer(slot, "");
      return true;
    }
  }
  return false;
}

void ResetDirectoryServers() {
  for (int slot = 0; slot < settings::kInternetServerSlots; ++slot) {
    settings::WriteInternetServer(slot, settings::InternetServerDefault(slot));
  }
}

bool IsBroadcastNoteLongEnough(std::string_view note) {
  return text::Utf16Length(note) >= kMinBroadcastNoteChars;
}

}  // namespace halvard::internet
