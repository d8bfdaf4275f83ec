#include "server/system/DesktopLock.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include "platform/base/Text.h"
#include "platform/com/Com.h"
#include "platform/kiosk/ZelLock.h"
#include "platform/registry/Registry.h"
#include "server/settings/Settings.h"

namespace halvard::system {

// ---- kiosk ----------------------------------------------------------------------------

void CZelLock::StartButtonShowHide(int show) { (void)::StartButton_Show_Hide(show); }
void CZelLock::TaskbarShowHide(int show) { (void)::Taskbar_Show_Hide(show); }
void CZelLock::AltTab2EnableDisable(int reserved, int enable) { (void)::AltTab2_Enable_Disable(reserved, enable); }
void CZelLock::CtrlAltDelEnableDisable(int enable) { (void)::CtrlAltDel_Enable_Disable(enable); }
void CZelLock::TaskSwitchingEnableDisable(int enable) { (void)::TaskSwitching_Enable_Disable(enable); }

void CRecordingZelLock::Record(std::string call) {
  const std::lock_guard lock(m_mutex);
  m_calls.push_back(std::move(call));
}
void CRecordingZelLock::StartButtonShowHide(int show) { Record("StartButton_Show_Hide(" + std::to_string(show) + ")"); }
void CRecordingZelLock::TaskbarShowHide(int show) { Record("Taskbar_Show_Hide(" + std::to_string(show) + ")"); }
void CRecordingZelLock::AltTab2EnableDisable(int reserved, int enable) {
  Record("AltTab2_Enable_Disable(" + std::to_string(reserved) + ", " + std::to_string(enable) + ")");
}
void CRecordingZelLock::CtrlAltDelEnableDisable(int enable) {
  Record("CtrlAltDel_Enable_Disable(" + std::to_string(enable) + ")");
}
void CRecordingZelLock::TaskSwitchingEnableDisable(int enable) {
  Record("TaskSwitching_Enable_Disable(" + std::to_string(enable) + ")");
}
std::vector<std::string> CRecordingZelLock::Calls() const {
  const std::lock_guard lock(m_mutex);
  return m_calls;
}

// ---- screen saver ---------------------------------------------------------------------

namespace {
constexpr const char* kScreenSaverService = "org.freedesktop.ScreenSaver";
constexpr const char* kScreenSaverPath = "/org/freedesktop/ScreenSaver";
}  // namespace

CDesktopScreenSaver::CDesktopScreenSaver(ICommandRunner& runner, bool hasX11Display)
    : m_runner(runner), m_hasX11Display(hasX11Display) {}

CDesktopScreenSaver::~CDesktopScreenSaver() {
  if (m_inhibited) {
    QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath, kScreenSaverService,
                                                       "UnInhibit");
    call << m_cookie;
    QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
  }
}

HRESULT CDesktopScreenSaver::SwitchOff(std::string* failure) {
  if (failure != nullptr) {
    failure->clear();
  }
  std::string why;
  bool off = m_inhibited;
  if (!off) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() != nullptr && bus.interface()->isServiceRegistered(kScreenSaverService)) {
      QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath, kScreenSaverService,
                                                         "Inhibit");
      call << QString("Halvard") << QString("The surveillance desktop is locked");
      const QDBusReply<uint> reply = bus.call(call, QDBus::Block, 5000);
      if (reply.isValid()) {
        m_cookie = reply.value();
        m_inhibited = true;
        off = true;
      } else {
        why = "the session's screen saver refused: " + reply.error().message().toStdString();
      }
    } else {
      why = "the session has no screen saver service";
    }
  }
  if (m_hasX11Display && m_runner.HasProgram("xset")) {
    const CommandOutcome outcome = m_runner.Run({"xset", "s", "off"});
    off = off || outcome.Succeeded();
    if (!outcome.Succeeded()) {
      why += (why.empty() ? "" : "; ") + std::string("xset ") + outcome.Describe();
    }
  }
  if (off) {
    return S_OK;
  }
  if (failure != nullptr) {
    *failure = "the screen saver could not be switched off: " + (why.empty() ? std::string("no way found") : why);
  }
  return E_FAIL;
}

HRESULT CRecordingScreenSaver::SwitchOff(std::string* failure) {
  if (failure != nullptr) {
    failure->clear();
  }
  ++m_calls;
  return S_OK;
}

// ---- password -------------------------------------------------------------------------

std::string ReadUnlockPassword() {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, settings::kSystemPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return {};
  }
  std::string password;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueEx(key, settings::kSysPassword.name, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ &&
      size > 0) {
    std::vector<BYTE> data(size);
    if (RegQueryValueEx(key, settings::kSysPassword.name, &type, data.data(), &size) == ERROR_SUCCESS) {
      password = halvard::text::FromWideBytes(data.data(), size);
    }
  }
  RegCloseKey(key);
  return password;
}

bool UnlockPasswordMatches(std::string_view typed) { return typed == ReadUnlockPassword(); }

// ---- the lock -------------------------------------------------------------------------

CDesktopLock::CDesktopLock(int monitor, IZelLock& kiosk, IScreenSaver& screenSaver)
    : m_zelLock(kiosk), m_screenSaver(screenSaver), m_kiosk(monitor == 1) {}

CDesktopLock::~CDesktopLock() {
  if (m_kioskActive) {
    KioskOff();
  }
}

void CDesktopLock::Open(std::string* note) {
  if (note != nullptr) {
    note->clear();
  }
  m_locked = true;
  std::string failure;
  if (!SUCCEEDED(m_screenSaver.SwitchOff(&failure)) && note != nullptr) {
    *note = failure;
  }
  if (m_kiosk) {
    KioskOn();
  }
}

bool CDesktopLock::TryUnlock(std::string_view typed) {
  if (!UnlockPasswordMatches(typed)) {
    return false;
  }
  if (m_kioskActive) {
    KioskOff();
  }
  m_locked = false;
  return true;
}

void CDesktopLock::KioskOn() {
  m_zelLock.StartButtonShowHide(0);
  m_zelLock.TaskbarShowHide(0);
  m_zelLock.AltTab2EnableDisable(0, 0);
  m_zelLock.CtrlAltDelEnableDisable(0);
  m_zelLock.TaskSwitchingEnableDisable(0);
  m_kioskActive = true;
}

void CDesktopLock::KioskOff() {
  m_zelLock.StartButtonShowHide(1);
  m_zelLock.TaskbarShowHide(1);
  m_zelLock.AltTab2EnableDisable(0, 1);
  m_zelLock.CtrlAltDelEnableDisable(1);
  m_zelLock.TaskSwitchingEnableDisable(1);
  m_kioskActive = false;
}

}  // namespace halvard::system
