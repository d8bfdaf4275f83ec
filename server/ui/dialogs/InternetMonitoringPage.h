#pragma once
/// The values of a camera's "Internet Video Monitoring" dialog and their checks: the
/// monitoring switch, the manually chosen address, the port, the directory update
/// switch, publishing with its note, and the four directory server slots. The server
/// list is edited in the form and stored with the rest on OK, so Cancel also leaves the
/// list as it was.
///
/// Threads: the user-interface thread.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"
#include "server/settings/Settings.h"
#include "server/ui/dialogs/SettingsChanges.h"

namespace halvard::ui::dialogs {

struct MonitoringForm {
  bool enabled = false;        ///< "Input Video Monitoring"
  bool manualAddress = false;  ///< "Internet IP Manu"
  std::string address;         ///< the address chosen in the list ("" none)
  std::string port;            ///< "Internet Port" as typed
  bool noIpUpdate = false;     ///< "Privacy No IP Update"
  bool publish = false;        ///< "Internet Broadcasting"
  std::string note;            ///< "Internet Broadcasting Note"
  std::array<std::string, settings::kInternetServerSlots> servers;  ///< "Internet Server %02d"
  friend bool operator==(const MonitoringForm&, const MonitoringForm&) = default;
};

enum class MonitoringField { Address, Port, Note, Servers };

struct MonitoringRefusal {
  MonitoringField field;
  UINT textId;
  long minimum = 0;
  long maximum = 0;
};

/// Text numbers of the refusals and warnings.
inline constexpr UINT kIdsNoteTooShort = 4530;
inline constexpr UINT kIdsSelectAddress = 4531;
inline constexpr UINT kIdsPrivateAddress = 4532;  ///< "%s is a private address. ..."
inline constexpr UINT kIdsServerListFull = 4533;
inline constexpr UINT kIdsHostInvalid = 4534;
inline constexpr UINT kIdsNoteTooLong = 4535;

/// Ports a camera may listen on.
inline constexpr long kLowestPort = 1;
inline constexpr long kHighestPort = 65535;
/// Longest note and host name the store reads back (its text readers stop at 99).
inline constexpr std::size_t kMaxMonitoringTextChars = 99;

class CMonitoringPage {
 public:
  /// Reads the stored values; `addresses` are the workstation's addresses the list
  /// offers (the stored manual address is added when it is not among them).
  CMonitoringPage(std::string group, std::string input, std::vector<std::string> addresses);

  [[nodiscard]] const MonitoringForm& Stored() const { return m_stored; }
  /// The addresses of the list, in order.
  [[nodiscard]] const std::vector<std::string>& Addresses() const { return m_addresses; }
  /// The first refused entry (only the entries that are stored count: a disabled
  /// camera's port is still checked, a note only while publishing), or nullopt.
  [[nodiscard]] std::optional<MonitoringRefusal> Check(const MonitoringForm& form) const;
  /// Whether OK should warn that the chosen address cannot be reached from the internet.
  [[nodiscard]] static bool WarnsPrivateAddress(const MonitoringForm& form);
  /// The writes of the values that differ from the stored ones. Call after Check.
  [[nodiscard]] CSettingsChanges Changes(const MonitoringForm& form) const;

  /// The server list's buttons, on the form. Add: the first empty slot (false, nothing
  /// changed, when the host is not a plain host name or every slot is taken); Remove:
  /// the first slot holding exactly `host` (false when none); Reset: the default hosts.
  [[nodiscard]] static bool AddServer(MonitoringForm& form, std::string_view host);
  [[nodiscard]] static bool RemoveServer(MonitoringForm& form, std::string_view host);
  static void ResetServers(MonitoringForm& form);
  /// The non-empty slots in slot order, as the list shows them.
  [[nodiscard]] static std::vector<std::string> ServerList(const MonitoringForm& form);
  /// A host name the form post can use: letters, digits, '.', '-' and ':' only, at most
  /// 99 characters.
  [[nodiscard]] static bool IsHostName(std::string_view host);

 private:
  std::string m_group;
  std::string m_input;
  std::vector<std::string> m_addresses;
  MonitoringForm m_stored;
};

}  // namespace halvard::ui::dialogs
