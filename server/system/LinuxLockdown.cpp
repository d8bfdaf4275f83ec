#include "server/system/LinuxLockdown.h"

#include <pwd.h>
#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <system_error>

#include "platform/base/Text.h"
#include "platform/com/Com.h"
#include "platform/registry/Registry.h"
#include "server/system/IniText.h"

namespace fs = std::filesystem;

namespace halvard::system {

namespace {

// ---- the Windows-named values -----------------------------------------------------

// Owns a key handle.
struct Key {
  HKEY h = nullptr;
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (h != nullptr) {
      RegCloseKey(h);
    }
  }
};

std::string StoreFailure(std::string_view value, LONG code) {
  return "the value \"" + std::string(value) + "\" could not be written to the settings store (" +
         halvard::registry::ErrorName(code) + ")";
}

bool WriteSz(HKEY root, std::string_view path, std::string_view name, std::string_view text, LockdownNotes& notes) {
  Key key;
  LONG rc = RegCreateKeyEx(root, path, &key.h);
  if (rc == ERROR_SUCCESS) {
    const std::vector<BYTE> bytes = halvard::text::ToWideBytes(text);
    rc = RegSetValueEx(key.h, name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
  }
  if (rc != ERROR_SUCCESS) {
    notes.push_back(StoreFailure(name, rc));
    return false;
  }
  return true;
}

bool WriteDword(HKEY root, std::string_view path, std::string_view name, DWORD value, LockdownNotes& notes) {
  Key key;
  LONG rc = RegCreateKeyEx(root, path, &key.h);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueEx(key.h, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  if (rc != ERROR_SUCCESS) {
    notes.push_back(StoreFailure(name, rc));
    return false;
  }
  return true;
}

void DeleteValue(HKEY root, std::string_view path, std::string_view name, LockdownNotes& notes) {
  Key key;
  LONG rc = RegOpenKeyEx(root, path, 0, KEY_ALL_ACCESS, &key.h);
  if (rc == ERROR_SUCCESS) {
    rc = RegDeleteValue(key.h, name);
  }
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
    notes.push_back("the value \"" + std::string(name) + "\" could not be deleted from the settings store (" +
                    halvard::registry::ErrorName(rc) + ")");
  }
}

// A text value as the lockdown always read it: empty when missing or not text.
std::string ReadSz(HKEY root, std::string_view path, std::string_view name) {
  Key key;
  if (RegOpenKeyEx(root, path, 0, KEY_READ, &key.h) != ERROR_SUCCESS) {
    return {};
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueEx(key.h, name, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
    return {};
  }
  std::vector<BYTE> data(size);
  if (size == 0 || RegQueryValueEx(key.h, name, &type, data.data(), &size) != ERROR_SUCCESS) {
    return {};
  }
  return halvard::text::FromWideBytes(data.data(), size);
}

HRESULT Result(const LockdownNotes& notes) { return notes.empty() ? S_OK : S_FALSE; }

// A login name the display managers and the account database accept, so that a name
// typed in the dialog can never add lines or sections to a configuration file.
bool IsPlainAccountName(std::string_view name) {
  if (name.empty() || name.size() > 32 || name.front() == '-') {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.';
  });
}

bool AccountExistsInDatabase(std::string_view name) {
  const std::string copy(name);
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  return getpwnam_r(copy.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

// "['top', 'bottom']" gives top and bottom.
std::vector<std::string> QuotedNames(std::string_view text) {
  std::vector<std::string> names;
  std::size_t pos = 0;
  while ((pos = text.find('\'', pos)) != std::string_view::npos) {
    const std::size_t end = text.find('\'', pos + 1);
    if (end == std::string_view::npos) {
      break;
    }
    names.emplace_back(text.substr(pos + 1, end - pos - 1));
    pos = end + 1;
  }
  return names;
}

// xfconf-query's listing of /panels: the panel numbers, one per line after a header.
std::vector<std::string> PanelNumbers(std::string_view text) {
  std::vector<std::string> numbers;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
      line.remove_suffix(1);
    }
    if (!line.empty() && std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      numbers.emplace_back(line);
    }
    start = end + 1;
  }
  return numbers;
}

constexpr const char* kRdpPort = "3389/tcp";

}  // namespace

LinuxDesktop LinuxDesktop::FromEnvironment() {
  LinuxDesktop desktop;
  if (const char* d = std::getenv("XDG_CURRENT_DESKTOP")) {
    desktop.desktop = d;
  }
  const char* display = std::getenv("DISPLAY");
  desktop.hasX11Display = display != nullptr && *display != '\0';
  return desktop;
}

CLinuxLockdown::CLinuxLockdown(LinuxDesktop desktop, ICommandRunner& runner)
    : m_desktop(std::move(desktop)), m_runner(runner) {
  if (!m_desktop.accountExists) {
    m_desktop.accountExists = AccountExistsInDatabase;
  }
}

fs::path CLinuxLockdown::LightDmDropIn() const {
  return m_desktop.root / "etc/lightdm/lightdm.conf.d/50-halvard-autologin.conf";
}

fs::path CLinuxLockdown::GdmConfig() const { return m_desktop.root / "etc/gdm3/daemon.conf"; }

bool CLinuxLockdown::IsDesktop(std::string_view name) const {
  // $XDG_CURRENT_DESKTOP is a colon-separated list ("ubuntu:GNOME").
  const std::string list = ":" + Upper(m_desktop.desktop) + ":";
  return list.find(":" + Upper(name) + ":") != std::string::npos;
}

CLinuxLockdown::DisplayManager CLinuxLockdown::FindDisplayManager(std::string* name) const {
  std::error_code ec;
  if (const auto text = ReadTextFile(m_desktop.root / "etc/X11/default-display-manager")) {
    std::string path = *text;
    path.erase(path.find_last_not_of(" \t\r\n") + 1);
    *name = fs::path(path).filename().string();
    if (*name == "lightdm") {
      return DisplayManager::LightDm;
    }
    if (*name == "gdm3" || *name == "gdm") {
      return DisplayManager::Gdm;
    }
    return name->empty() ? DisplayManager::None : DisplayManager::Other;
  }
  if (fs::is_directory(m_desktop.root / "etc/lightdm", ec)) {
    *name = "lightdm";
    return DisplayManager::LightDm;
  }
  if (fs::is_directory(m_desktop.root / "etc/gdm3", ec)) {
    *name = "gdm3";
    return DisplayManager::Gdm;
  }
  name->clear();
  return DisplayManager::None;
}

bool CLinuxLockdown::Step(const std::vector<std::string>& argv, const std::string& what, LockdownNotes& notes) {
  if (!m_runner.HasProgram(argv.front())) {
    notes.push_back(what + ": " + argv.front() + " is not installed");
    return false;
  }
  const CommandOutcome outcome = m_runner.Run(argv);
  if (!outcome.Succeeded()) {
    notes.push_back(what + ": " + argv.front() + " " + outcome.Describe());
    return false;
  }
  return true;
}

bool CLinuxLockdown::Succeeds(const std::vector<std::string>& argv) {
  return m_runner.HasProgram(argv.front()) && m_runner.Run(argv).Succeeded();
}

// ---- automatic logon ---------------------------------------------------------------

HRESULT CLinuxLockdown::ApplyAutoLogon(AutoLogon mode, std::string_view userName, std::string_view password,
                                       LockdownNotes* notes) {
  if (notes != nullptr) {
    notes->clear();
  }
  LockdownNotes local;
  const bool enable = mode == AutoLogon::Enable;
  const std::string current = ReadSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "AutoAdminLogon");
  if (enable && current.empty() && (userName.empty() || password.empty())) {
    return E_FAIL;
  }
  (void)WriteSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "AutoAdminLogon", enable ? "1" : "0", local);
  const bool bothGiven = !userName.empty() && !password.empty();
  if (enable && bothGiven) {
    (void)WriteSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "DefaultUserName", userName, local);
    // The display managers log the user on without a password, so the password has
    // nowhere to go and is not kept anywhere.
  }
  const std::string account =
      enable && bothGiven ? std::string(userName) : ReadSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "DefaultUserName");
  ConfigureAutoLogin(mode, account, local);
  if (notes != nullptr) {
    *notes = local;
  }
  return Result(local);
}

void CLinuxLockdown::ConfigureAutoLogin(AutoLogon mode, const std::string& account, LockdownNotes& notes) {
  const bool enable = mode == AutoLogon::Enable;
  if (enable) {
    if (account.empty()) {
      notes.push_back("automatic logon: no user name is recorded, so the display manager was not configured");
      return;
    }
    if (!IsPlainAccountName(account) || !m_desktop.accountExists(account)) {
      notes.push_back("automatic logon: \"" + account +
                      "\" is not a login account of this computer, so the display manager was not configured");
      return;
    }
  }
  std::string managerName;
  const DisplayManager manager = FindDisplayManager(&managerName);
  std::error_code ec;
  std::string error;
  switch (manager) {
    case DisplayManager::LightDm: {
      const fs::path dropIn = LightDmDropIn();
      if (!enable) {
        if (!fs::remove(dropIn, ec) && ec) {
          notes.push_back("automatic logon: cannot remove " + dropIn.string() + ": " + ec.message());
        }
        return;
      }
      fs::create_directories(dropIn.parent_path(), ec);
      const std::string text = "# Written by Halvard: automatic logon of the surveillance account.\n"
                               "[Seat:*]\nautologin-user=" + account + "\nautologin-user-timeout=0\n";
      if (!WriteTextFileAtomically(dropIn, text, &error)) {
        notes.push_back("automatic logon: " + error);
      }
      return;
    }
    case DisplayManager::Gdm: {
      const fs::path config = GdmConfig();
      const std::optional<std::string> old = ReadTextFile(config);
      if (!old && !enable) {
        return;  // no configuration: automatic logon is off already
      }
      CIniText ini(old.value_or(""));
      ini.Set("daemon", "AutomaticLoginEnable", enable ? "true" : "false");
      if (enable) {
        ini.Set("daemon", "AutomaticLogin", account);
      }
      if (!WriteTextFileAtomically(config, ini.Text(), &error)) {
        notes.push_back("automatic logon: " + error);
      }
      return;
    }
    case DisplayManager::Other:
      notes.push_back("automatic logon: the display manager " + managerName +
                      " is not supported (LightDM and GDM are); configure its automatic logon by hand");
      return;
    case DisplayManager::None:
      notes.push_back("automatic logon: no display manager (LightDM or GDM) was found");
      return;
  }
}

// ---- remote desktop ---------------------------------------------------------------

HRESULT CLinuxLockdown::ApplyRemoteDesktop(RemoteDesktop mode, LockdownNotes* notes) {
  if (notes != nullptr) {
    notes->clear();
  }
  LockdownNotes local;
  const bool enable = mode == RemoteDesktop::Enable;
  (void)WriteDword(HKEY_LOCAL_MACHINE, kTerminalServerPath, "fDenyTSConnections", enable ? 0 : 1, local);
  (void)WriteDword(HKEY_LOCAL_MACHINE, kFirewallStandardProfilePath, "EnableFirewall", enable ? 0 : 1, local);

  std::error_code ec;
  bool haveService = false;
  for (const char* dir : {"etc/systemd/system", "lib/systemd/system", "usr/lib/systemd/system"}) {
    haveService = haveService || fs::exists(m_desktop.root / dir / "xrdp.service", ec);
  }
  if (haveService) {
    (void)Step({"systemctl", enable ? "enable" : "disable", "--now", "xrdp"},
               enable ? "remote desktop: the xrdp service could not be started"
                      : "remote desktop: the xrdp service could not be stopped",
               local);
  } else if (enable) {
    local.push_back("remote desktop: no remote desktop service (xrdp) is installed");
  }
  // Only the remote desktop port is opened: the firewall stays on for everything else.
  if (m_runner.HasProgram("ufw")) {
    if (enable) {
      (void)Step({"ufw", "allow", kRdpPort}, "remote desktop: the firewall could not open port 3389", local);
    } else {
      (void)Step({"ufw", "delete", "allow", kRdpPort}, "remote desktop: the firewall could not close port 3389",
                 local);
    }
  }
  if (notes != nullptr) {
    *notes = local;
  }
  return Result(local);
}

// ---- AutoRun ------------------------------------------------------------------------

HRESULT CLinuxLockdown::ApplyAutorun(Autorun mode, LockdownNotes* notes) {
  if (notes != nullptr) {
    notes->clear();
  }
  LockdownNotes local;
  const bool disable = mode == Autorun::Disable;
  (void)WriteDword(HKEY_LOCAL_MACHINE, kExplorerPoliciesPath, "NODRIVETYPEAUTORUN",
                   disable ? kAutorunDisabledAllDrives : kAutorunWindowsDefault, local);

  bool applied = false;
  for (const char* schema : {"org.gnome.desktop.media-handling", "org.mate.media-handling"}) {
    if (!Succeeds({"gsettings", "list-keys", schema})) {
      continue;
    }
    applied = true;
    const std::string what = std::string("AutoRun: ") + schema;
    if (disable) {
      (void)Step({"gsettings", "set", schema, "automount", "false"}, what, local);
      (void)Step({"gsettings", "set", schema, "automount-open", "false"}, what, local);
      (void)Step({"gsettings", "set", schema, "autorun-never", "true"}, what, local);
    } else {
      (void)Step({"gsettings", "reset", schema, "automount"}, what, local);
      (void)Step({"gsettings", "reset", schema, "automount-open"}, what, local);
      (void)Step({"gsettings", "reset", schema, "autorun-never"}, what, local);
    }
  }
  if (IsDesktop("XFCE") && m_runner.HasProgram("xfconf-query")) {
    applied = true;
    for (const char* property : {"/automount-drives/enabled", "/automount-media/enabled", "/autorun/enabled"}) {
      if (disable) {
        (void)Step({"xfconf-query", "-c", "thunar-volman", "-p", property, "-n", "-t", "bool", "-s", "false"},
                   "AutoRun: Xfce volume manager", local);
      } else {
        (void)Step({"xfconf-query", "-c", "thunar-volman", "-p", property, "-r"}, "AutoRun: Xfce volume manager",
                   local);
      }
    }
  }
  if (!applied) {
    local.push_back("AutoRun: this desktop has no automount setting that could be changed "
                    "(GNOME or MATE media handling, Xfce volume manager)");
  }
  if (notes != nullptr) {
    *notes = local;
  }
  return Result(local);
}

// ---- taskbar ------------------------------------------------------------------------

HRESULT CLinuxLockdown::ApplyTaskbarAutoHide(TaskbarHiding mode, LockdownNotes* notes) {
  if (notes != nullptr) {
    notes->clear();
  }
  LockdownNotes local;
  const bool hide = mode == TaskbarHiding::AutoHide;
  const std::string what = "taskbar auto-hide";
  if (IsDesktop("XFCE")) {
    const CommandOutcome panels =
        m_runner.HasProgram("xfconf-query") ? m_runner.Run({"xfconf-query", "-c", "xfce4-panel", "-p", "/panels"})
                                            : CommandOutcome{};
    const std::vector<std::string> numbers = panels.Succeeded() ? PanelNumbers(panels.output) : std::vector<std::string>{};
    if (numbers.empty()) {
      local.push_back(what + ": the Xfce panels could not be listed");
    }
    for (const std::string& n : numbers) {
      // autohide-behavior: 0 never, 2 always.
      (void)Step({"xfconf-query", "-c", "xfce4-panel", "-p", "/panels/panel-" + n + "/autohide-behavior", "-n", "-t",
                  "uint", "-s", hide ? "2" : "0"},
                 what, local);
    }
  } else if (IsDesktop("MATE")) {
    const CommandOutcome list = m_runner.HasProgram("gsettings")
                                    ? m_runner.Run({"gsettings", "get", "org.mate.panel", "toplevel-id-list"})
                                    : CommandOutcome{};
    const std::vector<std::string> ids = list.Succeeded() ? QuotedNames(list.output) : std::vector<std::string>{};
    if (ids.empty()) {
      local.push_back(what + ": the MATE panels could not be listed");
    }
    for (const std::string& id : ids) {
      if (!IsPlainAccountName(id)) {
        continue;  // not a panel identifier that can form a settings path
      }
      (void)Step({"gsettings", "set", "org.mate.panel.toplevel:/org/mate/panel/toplevels/" + id + "/", "auto-hide",
                  hide ? "true" : "false"},
                 what, local);
    }
  } else if (IsDesktop("KDE")) {
    const std::string script = std::string("panels().forEach(function(p){p.hiding='") +
                               (hide ? "autohide" : "none") + "';})";
    std::string tool;
    for (const char* candidate : {"qdbus6", "qdbus-qt6", "qdbus", "qdbus-qt5"}) {
      if (tool.empty() && m_runner.HasProgram(candidate)) {
        tool = candidate;
      }
    }
    if (tool.empty()) {
      local.push_back(what + ": qdbus is not installed, so the Plasma panels could not be changed");
    } else {
      (void)Step({tool, "org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript", script}, what,
                 local);
    }
  } else {
    local.push_back(what + ": the panel of this desktop (" +
                    (m_desktop.desktop.empty() ? std::string("unknown") : m_desktop.desktop) +
                    ") cannot be set to hide itself (supported on Xfce, MATE and KDE Plasma)");
  }
  if (notes != nullptr) {
    *notes = local;
  }
  return Result(local);
}

// ---- visual style ---------------------------------------------------------------------

HRESULT CLinuxLockdown::ApplyVisualStyle(VisualStyle mode, LockdownNotes* notes) {
  if (notes != nullptr) {
    notes->clear();
  }
  LockdownNotes local;
  const bool classic = mode == VisualStyle::Classic;
  if (classic) {
    (void)WriteSz(HKEY_CURRENT_USER, kSystemPoliciesPath, "SetVisualStyle", kClassicThemeFile, local);
  } else {
    DeleteValue(HKEY_CURRENT_USER, kSystemPoliciesPath, "SetVisualStyle", local);
  }

  const std::string what = "visual style";
  if (!classic) {
    // The theme chosen before is not known; the default theme stays until the user
    // picks another one.
    local.push_back(what + ": the desktop keeps its default theme; another theme can be chosen in its "
                           "appearance settings");
  } else if (IsDesktop("XFCE")) {
    (void)Step({"xfconf-query", "-c", "xsettings", "-p", "/Net/ThemeName", "-r"}, what, local);
  } else if (IsDesktop("MATE")) {
    (void)Step({"gsettings", "reset", "org.mate.interface", "gtk-theme"}, what, local);
  } else if (IsDesktop("X-CINNAMON") || IsDesktop("CINNAMON")) {
    (void)Step({"gsettings", "reset", "org.cinnamon.desktop.interface", "gtk-theme"}, what, local);
  } else if (IsDesktop("KDE")) {
    (void)Step({"plasma-apply-lookandfeel", "-a", "org.kde.breeze.desktop"}, what, local);
  } else if (Succeeds({"gsettings", "list-keys", "org.gnome.desktop.interface"})) {
    (void)Step({"gsettings", "reset", "org.gnome.desktop.interface", "gtk-theme"}, what, local);
  } else {
    local.push_back(what + ": the theme of this desktop could not be reset");
  }
  if (notes != nullptr) {
    *notes = local;
  }
  return Result(local);
}

// ---- power ----------------------------------------------------------------------------

HRESULT CLinuxLockdown::ApplyPowerSettings(LockdownNotes* notes) {
  if (notes != nullptr) {
    notes->clear();
  }
  LockdownNotes local;
  (void)Step({"systemctl", "mask", "sleep.target", "suspend.target", "hibernate.target", "hybrid-sleep.target",
              "suspend-then-hibernate.target"},
             "power settings: sleep and hibernation could not be disabled", local);

  const std::string what = "power settings: the display could not be kept on";
  bool displayKept = false;
  if (IsDesktop("XFCE") && m_runner.HasProgram("xfconf-query")) {
    displayKept = true;
    (void)Step({"xfconf-query", "-c", "xfce4-power-manager", "-p", "/xfce4-power-manager/dpms-enabled", "-n", "-t",
                "bool", "-s", "false"},
               what, local);
    (void)Step({"xfconf-query", "-c", "xfce4-power-manager", "-p", "/xfce4-power-manager/blank-on-ac", "-n", "-t",
                "int", "-s", "0"},
               what, local);
  } else if (IsDesktop("MATE") && Succeeds({"gsettings", "list-keys", "org.mate.power-manager"})) {
    displayKept = true;
    (void)Step({"gsettings", "set", "org.mate.power-manager", "sleep-display-ac", "0"}, what, local);
    (void)Step({"gsettings", "set", "org.mate.power-manager", "sleep-computer-ac", "0"}, what, local);
  } else if (Succeeds({"gsettings", "list-keys", "org.gnome.settings-daemon.plugins.power"})) {
    displayKept = true;
    (void)Step({"gsettings", "set", "org.gnome.desktop.session", "idle-delay", "0"}, what, local);
    (void)Step({"gsettings", "set", "org.gnome.settings-daemon.plugins.power", "sleep-inactive-ac-type", "nothing"},
               what, local);
    (void)Step({"gsettings", "set", "org.gnome.settings-daemon.plugins.power", "idle-dim", "false"}, what, local);
  }
  if (m_desktop.hasX11Display && m_runner.HasProgram("xset")) {
    // For the running X session as well (screen saver and display power management).
    displayKept = Step({"xset", "s", "off", "-dpms"}, what, local) || displayKept;
  }
  if (!displayKept) {
    local.push_back("power settings: this desktop has no power setting that could keep the display on");
  }
  if (notes != nullptr) {
    *notes = local;
  }
  return Result(local);
}

}  // namespace halvard::system
