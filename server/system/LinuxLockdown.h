#pragma once
/// The lockdown on a Debian desktop. Each Windows setting of the lockdown is mapped to
/// its nearest Linux equivalent, and the Windows-named values are recorded in the
/// settings store as before:
///
/// | Action            | Settings store (as always)                         | This desktop                                              |
/// |-------------------|----------------------------------------------------|-----------------------------------------------------------|
/// | automatic logon   | Winlogon "AutoAdminLogon", "DefaultUserName"       | display-manager autologin (LightDM drop-in, GDM daemon.conf); the password is not needed and never written |
/// | remote desktop    | "fDenyTSConnections", "EnableFirewall"             | the xrdp service enabled/disabled; with ufw, port 3389/tcp opened/closed (the firewall itself stays on) |
/// | AutoRun           | "NODRIVETYPEAUTORUN" 255 / 145                     | automount and autorun of removable media (GNOME/MATE media handling, Xfce volume manager) |
/// | taskbar auto-hide | (none)                                             | panel auto-hide on Xfce, MATE and KDE Plasma              |
/// | classic style     | HKCU "SetVisualStyle" set / deleted                | the desktop's default theme                               |
/// | power settings    | (none)                                             | sleep and hibernation targets masked; screen blanking off |
///
/// Tools run through ICommandRunner with the caller's privileges; system files are
/// found below a root folder. Whatever cannot be applied (no such service, not
/// permitted, a desktop without the feature) is one line of the notes and makes the
/// result S_FALSE.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "server/system/CommandRunner.h"
#include "server/system/Lockdown.h"

namespace halvard::system {

/// Where the Windows-named values live in the settings store.
inline constexpr std::string_view kWinlogonPath = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
inline constexpr std::string_view kTerminalServerPath = "SYSTEM\\CurrentControlSet\\Control\\Terminal Server";
inline constexpr std::string_view kFirewallStandardProfilePath =
    "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile";
inline constexpr std::string_view kExplorerPoliciesPath = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES\\EXPLORER";
/// Below HKEY_CURRENT_USER.
inline constexpr std::string_view kSystemPoliciesPath = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES\\SYSTEM";
inline constexpr std::string_view kClassicThemeFile = "C:\\WINDOWS\\Resources\\Themes\\Windows Classic.theme";
inline constexpr DWORD kAutorunDisabledAllDrives = 255;
inline constexpr DWORD kAutorunWindowsDefault = 145;

/// The desktop the lockdown works on.
struct LinuxDesktop {
  /// Folder that holds etc/ and lib/ ("/" on the workstation; a temporary folder in tests).
  std::filesystem::path root = "/";
  /// $XDG_CURRENT_DESKTOP, e.g. "GNOME", "XFCE", "MATE", "KDE", "X-Cinnamon".
  std::string desktop;
  /// An X display is available ($DISPLAY), so X tools (xset) apply to this session.
  bool hasX11Display = false;
  /// Whether a login account exists; getpwnam when empty.
  std::function<bool(std::string_view)> accountExists;

  /// The workstation's own desktop, from the environment.
  [[nodiscard]] static LinuxDesktop FromEnvironment();
};

class CLinuxLockdown final : public ISystemLockdown {
 public:
  /// runner must outlive the object.
  CLinuxLockdown(LinuxDesktop desktop, ICommandRunner& runner);

  [[nodiscard]] HRESULT ApplyAutoLogon(AutoLogon mode, std::string_view userName, std::string_view password,
                                       LockdownNotes* notes) override;
  [[nodiscard]] HRESULT ApplyRemoteDesktop(RemoteDesktop mode, LockdownNotes* notes) override;
  [[nodiscard]] HRESULT ApplyAutorun(Autorun mode, LockdownNotes* notes) override;
  [[nodiscard]] HRESULT ApplyTaskbarAutoHide(TaskbarHiding mode, LockdownNotes* notes) override;
  [[nodiscard]] HRESULT ApplyVisualStyle(VisualStyle mode, LockdownNotes* notes) override;
  [[nodiscard]] HRESULT ApplyPowerSettings(LockdownNotes* notes) override;

  /// The LightDM drop-in this lockdown owns, and GDM's configuration file.
  [[nodiscard]] std::filesystem::path LightDmDropIn() const;
  [[nodiscard]] std::filesystem::path GdmConfig() const;

 private:
  enum class DisplayManager { None, LightDm, Gdm, Other };
  [[nodiscard]] DisplayManager FindDisplayManager(std::string* name) const;
  [[nodiscard]] bool IsDesktop(std::string_view name) const;
  /// Runs a tool; on failure adds "<what>: <tool> <outcome>" to notes.
  bool Step(const std::vector<std::string>& argv, const std::string& what, LockdownNotes& notes);
  [[nodiscard]] bool Succeeds(const std::vector<std::string>& argv);
  void ConfigureAutoLogin(AutoLogon mode, const std::string& account, LockdownNotes& notes);

  LinuxDesktop m_desktop;
  ICommandRunner& m_runner;
};

}  // namespace halvard::system
