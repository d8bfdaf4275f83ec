#pragma once
/// The desktop lock: the password prompt's logic. The prompt cannot be left without
/// the account password "Sys Password"; in the server process of monitor 1 it also
/// takes the desktop away (panels hidden, task switching blocked) through the kiosk
/// library. The prompt widget itself only binds this class.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"
#include "server/system/CommandRunner.h"

namespace halvard::system {

/// The five kiosk operations (1 = show or enable, 0 = hide or disable).
class IZelLock {
 public:
  virtual ~IZelLock() = default;
  virtual void StartButtonShowHide(int show) = 0;
  virtual void TaskbarShowHide(int show) = 0;
  virtual void AltTab2EnableDisable(int reserved, int enable) = 0;
  virtual void CtrlAltDelEnableDisable(int enable) = 0;
  virtual void TaskSwitchingEnableDisable(int enable) = 0;
};

/// The kiosk library of this desktop (platform/kiosk). Thread: the user-interface thread.
class CZelLock final : public IZelLock {
 public:
  void StartButtonShowHide(int show) override;
  void TaskbarShowHide(int show) override;
  void AltTab2EnableDisable(int reserved, int enable) override;
  void CtrlAltDelEnableDisable(int enable) override;
  void TaskSwitchingEnableDisable(int enable) override;
};

/// Records the calls as "StartButton_Show_Hide(0)" and so on.
class CRecordingZelLock final : public IZelLock {
 public:
  void StartButtonShowHide(int show) override;
  void TaskbarShowHide(int show) override;
  void AltTab2EnableDisable(int reserved, int enable) override;
  void CtrlAltDelEnableDisable(int enable) override;
  void TaskSwitchingEnableDisable(int enable) override;
  [[nodiscard]] std::vector<std::string> Calls() const;

 private:
  void Record(std::string call);
  mutable std::mutex m_mutex;
  std::vector<std::string> m_calls;
};

/// Switching the screen saver off for the rest of the session.
class IScreenSaver {
 public:
  virtual ~IScreenSaver() = default;
  /// S_OK when the screen saver is off; E_FAIL when this desktop offers no way, with
  /// *failure (cleared on entry, may be null) saying why.
  [[nodiscard]] virtual HRESULT SwitchOff(std::string* failure) = 0;
};

/// The desktop's screen saver: an inhibition held through the session's
/// org.freedesktop.ScreenSaver service for the life of this object (the lock keeps the
/// object for the life of the process), and, in an X session, "xset s off".
class CDesktopScreenSaver final : public IScreenSaver {
 public:
  /// runner must outlive the object.
  CDesktopScreenSaver(ICommandRunner& runner, bool hasX11Display);
  ~CDesktopScreenSaver() override;
  [[nodiscard]] HRESULT SwitchOff(std::string* failure) override;

 private:
  ICommandRunner& m_runner;
  bool m_hasX11Display;
  unsigned m_cookie = 0;
  bool m_inhibited = false;
};

/// Counts the calls.
class CRecordingScreenSaver final : public IScreenSaver {
 public:
  [[nodiscard]] HRESULT SwitchOff(std::string* failure) override;
  [[nodiscard]] int Calls() const { return m_calls; }

 private:
  int m_calls = 0;
};

/// The unlock password: "Sys Password" as stored, whatever its length (the settings
/// readers stop at 99 characters and would fall back to the empty default, which would
/// let an empty box unlock a long password). Missing or not text: empty.
[[nodiscard]] std::string ReadUnlockPassword();

/// Exact, case-sensitive comparison with ReadUnlockPassword(); an empty stored
/// password matches only an empty box.
[[nodiscard]] bool UnlockPasswordMatches(std::string_view typed);

/// One desktop lock (one prompt). Thread: the user-interface thread.
class CDesktopLock {
 public:
  /// monitor is the display the process serves (the "-M" argument); the kiosk is used
  /// only for monitor 1. kiosk and screenSaver must outlive the object.
  CDesktopLock(int monitor, IZelLock& kiosk, IScreenSaver& screenSaver);
  /// Unlocks the kiosk if the lock is destroyed while still locked (the prompt closed
  /// by the program's end), so that the desktop is never left without its panels.
  ~CDesktopLock();
  CDesktopLock(const CDesktopLock&) = delete;
  CDesktopLock& operator=(const CDesktopLock&) = delete;

  /// Whether this process turns the kiosk on.
  [[nodiscard]] bool IsKiosk() const { return m_kiosk; }
  [[nodiscard]] bool IsLocked() const { return m_locked; }

  /// The prompt opens: switches the screen saver off and, for monitor 1, turns the
  /// kiosk on. A screen saver that cannot be switched off is reported in *note
  /// (cleared on entry, may be null); the lock holds regardless.
  void Open(std::string* note = nullptr);

  /// OK of the prompt: true when `typed` is the password; the kiosk is then turned off
  /// and the prompt closes. False leaves everything as it is.
  [[nodiscard]] bool TryUnlock(std::string_view typed);

 private:
  void KioskOn();
  void KioskOff();

  IZelLock& m_zelLock;
  IScreenSaver& m_screenSaver;
  bool m_kiosk;
  bool m_locked = false;
  bool m_kioskActive = false;
};

}  // namespace halvard::system
