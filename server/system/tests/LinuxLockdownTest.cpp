#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/com/Com.h"
#include "platform/registry/Registry.h"
#include "server/system/IniText.h"
#include "server/system/LinuxLockdown.h"
#include "tests/support/TestSupport.h"

using namespace halvard::system;
namespace fs = std::filesystem;

namespace {

struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h != nullptr) {
      RegCloseKey(h);
    }
  }
};

std::optional<std::string> StoreSz(HKEY root, std::string_view path, std::string_view name) {
  Key key;
  if (RegOpenKeyEx(root, path, 0, KEY_READ, &key.h) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  BYTE data[512];
  DWORD size = sizeof data;
  DWORD type = 0;
  if (RegQueryValueEx(key.h, name, &type, data, &size) != ERROR_SUCCESS || type != REG_SZ) {
    return std::nullopt;
  }
  return halvard::text::FromWideBytes(data, size);
}

std::optional<DWORD> StoreDword(HKEY root, std::string_view path, std::string_view name) {
  Key key;
  if (RegOpenKeyEx(root, path, 0, KEY_READ, &key.h) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  if (RegQueryValueEx(key.h, name, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

void PutSz(HKEY root, std::string_view path, std::string_view name, std::string_view text) {
  Key key;
  ASSERT_EQ(RegCreateKeyEx(root, path, &key.h), ERROR_SUCCESS);
  const auto bytes = halvard::text::ToWideBytes(text);
  ASSERT_EQ(RegSetValueEx(key.h, name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
}

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

std::string FileText(const fs::path& path) { return ReadTextFile(path).value_or("<missing>"); }

// Whether any file below a folder contains the text (as UTF-8 or UTF-16).
bool AnyFileContains(const fs::path& folder, const std::string& text) {
  const std::vector<BYTE> wide = halvard::text::ToWideBytes(text);
  const std::string wideText(reinterpret_cast<const char*>(wide.data()), wide.size() - 2);
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      const std::string data = ReadTextFile(entry.path()).value_or("");
      if (data.find(text) != std::string::npos || data.find(wideText) != std::string::npos) {
        return true;
      }
    }
  }
  return false;
}

class LinuxLockdownTest : public ::testing::Test {
 protected:
  LinuxLockdownTest() {
    m_desktop.root = m_root.Path();
    m_desktop.desktop = "GNOME";
    m_desktop.accountExists = [](std::string_view name) { return name == "guard" || name == "alice"; };
  }
  CLinuxLockdown Make() { return CLinuxLockdown(m_desktop, m_runner); }
  void UseLightDm() { WriteFile(m_root.Path() / "etc/X11/default-display-manager", "/usr/sbin/lightdm\n"); }
  // Makes one kind of command fail as an unprivileged caller sees it.
  void Refuse(const std::string& program) {
    m_runner.AddResponder([program](const std::vector<std::string>& argv, CommandOutcome* out) {
      if (argv[0] != program) {
        return false;
      }
      out->exitCode = 1;
      out->output = "Failed: Access denied\n";
      return true;
    });
  }

  halvard::testing::ScopedRegistry m_registry;
  halvard::testing::TempDir m_root;
  LinuxDesktop m_desktop;
  CRecordingRunner m_runner;
};

TEST_F(LinuxLockdownTest, EnablingWithoutAnyEarlierLogonNeedsNameAndPassword) {
  UseLightDm();
  CLinuxLockdown lockdown = Make();
  LockdownNotes notes{"stale"};
  EXPECT_EQ(lockdown.ApplyAutoLogon(AutoLogon::Enable, "guard", "", &notes), E_FAIL);
  EXPECT_EQ(lockdown.ApplyAutoLogon(AutoLogon::Enable, "", "pw", &notes), E_FAIL);
  EXPECT_TRUE(notes.empty());
  EXPECT_FALSE(StoreSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "AutoAdminLogon"));
  EXPECT_FALSE(fs::exists(lockdown.LightDmDropIn()));
  EXPECT_TRUE(m_runner.Commands().empty());
}

TEST_F(LinuxLockdownTest, AnEarlierLogonValueLetsEmptyBoxesSwitchItOnAgain) {
  UseLightDm();
  PutSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "AutoAdminLogon", "0");
  PutSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "DefaultUserName", "alice");
  CLinuxLockdown lockdown = Make();
  LockdownNotes notes;
  EXPECT_EQ(lockdown.ApplyAutoLogon(AutoLogon::Enable, "", "", &notes), S_OK);
  EXPECT_EQ(StoreSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "AutoAdminLogon"), "1");
  EXPECT_EQ(StoreSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "DefaultUserName"), "alice");
  EXPECT_EQ(CIniText(FileText(lockdown.LightDmDropIn())).Get("Seat:*", "autologin-user"), "alice");

  // Off: "0", and the display manager no longer logs anyone on.
  EXPECT_EQ(lockdown.ApplyAutoLogon(AutoLogon::Disable, "", "", &notes), S_OK);
  EXPECT_EQ(StoreSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "AutoAdminLogon"), "0");
  EXPECT_FALSE(fs::exists(lockdown.LightDmDropIn()));
}

TEST_F(LinuxLockdownTest, NameAndPasswordConfigureGdmAndThePasswordIsWrittenNowhere) {
  const std::string daemonConf =
      "# GDM configuration storage\n\n[daemon]\n# Uncomment the line below to force the login screen to use Xorg\n"
      "#WaylandEnable=false\n\n[security]\nDisallowTCP=true\n";
  WriteFile(m_root.Path() / "etc/gdm3/daemon.conf", daemonConf);
  CLinuxLockdown lockdown = Make();
  LockdownNotes notes;
  const std::string password = "Sesame-7f3c";
  EXPECT_EQ(lockdown.ApplyAutoLogon(AutoLogon::Enable, "guard", password, &notes), S_OK) << notes.size();
  EXPECT_EQ(StoreSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "AutoAdminLogon"), "1");
  EXPECT_EQ(StoreSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "DefaultUserName"), "guard");

  const std::string text = FileText(lockdown.GdmConfig());
  const CIniText ini(text);
  EXPECT_EQ(ini.Get("daemon", "AutomaticLoginEnable"), "true");
  EXPECT_EQ(ini.Get("daemon", "AutomaticLogin"), "guard");
  EXPECT_EQ(ini.Get("security", "DisallowTCP"), "true");
  EXPECT_NE(text.find("#WaylandEnable=false"), std::string::npos);
  EXPECT_LT(text.find("AutomaticLogin="), text.find("[security]"));

  EXPECT_FALSE(AnyFileContains(m_root.Path(), password));
  EXPECT_FALSE(AnyFileContains(fs::path(m_registry.Path()).parent_path(), password));

  EXPECT_EQ(lockdown.ApplyAutoLogon(AutoLogon::Disable, "", "", &notes), S_OK);
  EXPECT_EQ(CIniText(FileText(lockdown.GdmConfig())).Get("daemon", "AutomaticLoginEnable"), "false");
}

TEST_F(LinuxLockdownTest, AutoLogonThatCannotReachTheDisplayManagerSaysSo) {
  CLinuxLockdown lockdown = Make();
  LockdownNotes notes;
  // No display manager at all.
  EXPECT_EQ(lockdown.ApplyAutoLogon(AutoLogon::Enable, "guard", "pw", &notes), S_FALSE);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("no display manager"), std::string::npos);
  EXPECT_EQ(StoreSz(HKEY_LOCAL_MACHINE, kWinlogonPath, "AutoAdminLogon"), "1");

  // A name that is no account, or that would add lines to the file, writes no file.
  UseLightDm();
  for (const std::string name : {"mallory", "guard\n[Seat:*]\nautologin-user=root", "../guard"}) {
    EXPECT_EQ(lockdown.ApplyAutoLogon(AutoLogon::Enable, name, "pw", &notes), S_FALSE) << name;
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("not a login account"), std::string::npos) << notes[0];
    EXPECT_FALSE(fs::exists(lockdown.LightDmDropIn()));
  }

  // A display manager of another kind.
  WriteFile(m_root.Path() / "etc/X11/default-display-manager", "/usr/bin/sddm\n");
  EXPECT_EQ(lockdown.ApplyAutoLogon(AutoLogon::Enable, "guard", "pw", &notes), S_FALSE);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("sddm is not supported"), std::string::npos) << notes[0];
}

TEST_F(LinuxLockdownTest, AFileThatCannotBeWrittenIsReported) {
  UseLightDm();
  // The drop-in folder is a file: no writer, not even root, can put the drop-in there.
  WriteFile(m_root.Path() / "etc/lightdm/lightdm.conf.d", "not a folder\n");
  CLinuxLockdown lockdown = Make();
  LockdownNotes notes;
  EXPECT_EQ(lockdown.ApplyAutoLogon(AutoLogon::Enable, "guard", "pw", &notes), S_FALSE);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("cannot write"), std::string::npos) << notes[0];
  EXPECT_NE(notes[0].find("Not a directory"), std::string::npos) << notes[0];
  EXPECT_EQ(FileText(m_root.Path() / "etc/lightdm/lightdm.conf.d"), "not a folder\n");
}

TEST_F(LinuxLockdownTest, RemoteDesktopWritesTheDocumentedValuesAndDrivesXrdp) {
  WriteFile(m_root.Path() / "lib/systemd/system/xrdp.service", "[Unit]\n");
  m_runner.SetInstalled({"systemctl", "ufw"});
  CLinuxLockdown lockdown = Make();
  LockdownNotes notes;
  EXPECT_EQ(lockdown.ApplyRemoteDesktop(RemoteDesktop::Enable, &notes), S_OK);
  EXPECT_EQ(StoreDword(HKEY_LOCAL_MACHINE, kTerminalServerPath, "fDenyTSConnections"), 0u);
  EXPECT_EQ(StoreDword(HKEY_LOCAL_MACHINE, kFirewallStandardProfilePath, "EnableFirewall"), 0u);
  EXPECT_EQ(m_runner.CommandLines(),
            (std::vector<std::string>{"systemctl enable --now xrdp", "ufw allow 3389/tcp"}));

  m_runner.Clear();
  Refuse("systemctl");
  EXPECT_EQ(lockdown.ApplyRemoteDesktop(RemoteDesktop::Disable, &notes), S_FALSE);
  EXPECT_EQ(StoreDword(HKEY_LOCAL_MACHINE, kTerminalServerPath, "fDenyTSConnections"), 1u);
  EXPECT_EQ(StoreDword(HKEY_LOCAL_MACHINE, kFirewallStandardProfilePath, "EnableFirewall"), 1u);
  EXPECT_EQ(m_runner.CommandLines(),
            (std::vector<std::string>{"systemctl disable --now xrdp", "ufw delete allow 3389/tcp"}));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("Access denied"), std::string::npos) << notes[0];
}

TEST_F(LinuxLockdownTest, RemoteDesktopWithoutAServiceSaysSo) {
  CLinuxLockdown lockdown = Make();
  LockdownNotes notes;
  EXPECT_EQ(lockdown.ApplyRemoteDesktop(RemoteDesktop::Enable, &notes), S_FALSE);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("xrdp"), std::string::npos);
  EXPECT_EQ(StoreDword(HKEY_LOCAL_MACHINE, kTerminalServerPath, "fDenyTSConnections"), 0u);
  // Switching off what is not there is no failure.
  EXPECT_EQ(lockdown.ApplyRemoteDesktop(RemoteDesktop::Disable, &notes), S_OK);
}

TEST_F(LinuxLockdownTest, AutorunTurnsOffAutomountOfRemovableMedia) {
  m_runner.SetInstalled({"gsettings"});
  m_runner.AddResponder([](const std::vector<std::string>& argv, CommandOutcome* out) {
    if (argv[1] == "list-keys" && argv[2] == "org.mate.media-handling") {
      out->exitCode = 1;
      out->output = "No such schema\n";
      return true;
    }
    return false;
  });
  CLinuxLockdown lockdown = Make();
  LockdownNotes notes;
  EXPECT_EQ(lockdown.ApplyAutorun(Autorun::Disable, &notes), S_OK);
  EXPECT_EQ(StoreDword(HKEY_LOCAL_MACHINE, kExplorerPoliciesPath, "NODRIVETYPEAUTORUN"), 255u);
  EXPECT_EQ(m_runner.CommandLines(),
            (std::vector<std::string>{"gsettings list-keys org.gnome.desktop.media-handling",
                                      "gsettings set org.gnome.desktop.media-handling automount false",
                                      "gsettings set org.gnome.desktop.media-handling automount-open false",
                                      "gsettings set org.gnome.desktop.media-handling autorun-never true",
                                      "gsettings list-keys org.mate.media-handling"}));
  m_runner.Clear();
  EXPECT_EQ(lockdown.ApplyAutorun(Autorun::Allow, &notes), S_OK);
  EXPECT_EQ(StoreDword(HKEY_LOCAL_MACHINE, kExplorerPoliciesPath, "NODRIVETYPEAUTORUN"), 145u);
  EXPECT_EQ(m_runner.CommandLines()[1], "gsettings reset org.gnome.desktop.media-handling automount");

  CRecordingRunner bare;
  CLinuxLockdown without(m_desktop, bare);
  EXPECT_EQ(without.ApplyAutorun(Autorun::Disable, &notes), S_FALSE);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(StoreDword(HKEY_LOCAL_MACHINE, kExplorerPoliciesPath, "NODRIVETYPEAUTORUN"), 255u);
}

TEST_F(LinuxLockdownTest, PanelsAutoHideWhereTheDesktopCan) {
  m_desktop.desktop = "XFCE";
  m_runner.SetInstalled({"xfconf-query"});
  m_runner.AddResponder([](const std::vector<std::string>& argv, CommandOutcome* out) {
    if (argv.back() == "/panels") {
      out->output = "Value is an array with 2 items:\n\n1\n2\n";
      return true;
    }
    return false;
  });
  LockdownNotes notes;
  EXPECT_EQ(Make().ApplyTaskbarAutoHide(TaskbarHiding::AutoHide, &notes), S_OK);
  const auto lines = m_runner.CommandLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "xfconf-query -c xfce4-panel -p /panels/panel-1/autohide-behavior -n -t uint -s 2");
  EXPECT_EQ(lines[2], "xfconf-query -c xfce4-panel -p /panels/panel-2/autohide-behavior -n -t uint -s 2");

  // MATE: every panel of the list, and nothing for a name that is no panel identifier.
  m_desktop.desktop = "MATE";
  m_runner.Clear();
  m_runner.SetInstalled({"gsettings"});
  m_runner.AddResponder([](const std::vector<std::string>& argv, CommandOutcome* out) {
    if (argv.back() == "toplevel-id-list") {
      out->output = "['top', 'bottom', 'x/../y']\n";
      return true;
    }
    return false;
  });
  EXPECT_EQ(Make().ApplyTaskbarAutoHide(TaskbarHiding::Normal, &notes), S_OK);
  EXPECT_EQ(m_runner.CommandLines(),
            (std::vector<std::string>{
                "gsettings get org.mate.panel toplevel-id-list",
                "gsettings set org.mate.panel.toplevel:/org/mate/panel/toplevels/top/ auto-hide false",
                "gsettings set org.mate.panel.toplevel:/org/mate/panel/toplevels/bottom/ auto-hide false"}));

  m_desktop.desktop = "ubuntu:GNOME";
  EXPECT_EQ(Make().ApplyTaskbarAutoHide(TaskbarHiding::AutoHide, &notes), S_FALSE);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("ubuntu:GNOME"), std::string::npos);
}

TEST_F(LinuxLockdownTest, ClassicStyleRecordsTheThemeValueAndResetsTheDesktopTheme) {
  m_runner.SetInstalled({"gsettings"});
  CLinuxLockdown lockdown = Make();
  LockdownNotes notes;
  EXPECT_EQ(lockdown.ApplyVisualStyle(VisualStyle::Classic, &notes), S_OK);
  EXPECT_EQ(StoreSz(HKEY_CURRENT_USER, kSystemPoliciesPath, "SetVisualStyle"),
            "C:\\WINDOWS\\Resources\\Themes\\Windows Classic.theme");
  EXPECT_FALSE(StoreSz(HKEY_LOCAL_MACHINE, kSystemPoliciesPath, "SetVisualStyle"));
  EXPECT_EQ(m_runner.CommandLines().back(), "gsettings reset org.gnome.desktop.interface gtk-theme");

  EXPECT_EQ(lockdown.ApplyVisualStyle(VisualStyle::Default, &notes), S_FALSE);
  EXPECT_FALSE(StoreSz(HKEY_CURRENT_USER, kSystemPoliciesPath, "SetVisualStyle"));
  EXPECT_EQ(notes.size(), 1u);
}

TEST_F(LinuxLockdownTest, PowerSettingsDisableSleepAndKeepTheDisplayOn) {
  m_runner.AssumeAllInstalled();
  m_desktop.hasX11Display = true;
  LockdownNotes notes;
  EXPECT_EQ(Make().ApplyPowerSettings(&notes), S_OK);
  const auto lines = m_runner.CommandLines();
  EXPECT_EQ(lines.front(),
            "systemctl mask sleep.target suspend.target hibernate.target hybrid-sleep.target "
            "suspend-then-hibernate.target");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "gsettings set org.gnome.desktop.session idle-delay 0"), lines.end());
  EXPECT_EQ(lines.back(), "xset s off -dpms");

  // Without the right to mask the sleep targets, that part is reported.
  m_runner.Clear();
  Refuse("systemctl");
  EXPECT_EQ(Make().ApplyPowerSettings(&notes), S_FALSE);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("sleep and hibernation"), std::string::npos);
}

TEST(IniText, SetsKeysInPlace) {
  CIniText ini("a=1\n[x]\nk = v\n\n[y]\n");
  ini.Set("x", "k", "w");
  ini.Set("x", "n", "2");
  ini.Set("z", "m", "3");
  EXPECT_EQ(ini.Text(), "a=1\n[x]\nk=w\nn=2\n\n[y]\n\n[z]\nm=3\n");
  EXPECT_EQ(ini.Get("x", "n"), "2");
  EXPECT_FALSE(ini.Get("y", "k"));
}

}  // namespace
