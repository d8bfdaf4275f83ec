#include "server/system/Lockdown.h"

#include "platform/com/Com.h"
#include "server/settings/Settings.h"

namespace halvard::system {

namespace settings = halvard::settings;

LockdownChoices ReadLockdownChoices() {
  LockdownChoices choices;
  choices.autoLogon = settings::kLockdownAutoLogon.Read() == 1 ? AutoLogon::Enable : AutoLogon::Disable;
  choices.remoteDesktop =
      settings::kLockdownEnableRemoteDesktop.Read() == 1 ? RemoteDesktop::Enable : RemoteDesktop::Disable;
  choices.autorun = settings::kLockdownDisableAutorun.Read() == 1 ? Autorun::Disable : Autorun::Allow;
  choices.taskbar = settings::kLockdownAutoHide.Read() == 1 ? TaskbarHiding::AutoHide : TaskbarHiding::Normal;
  choices.visualStyle = settings::kLockdownVisualClassic.Read() == 1 ? VisualStyle::Classic : VisualStyle::Default;
  choices.power = PowerSettings::Apply;
  return choices;
}

namespace {

void Append(LockdownNotes* to, const LockdownNotes& from) { to->insert(to->end(), from.begin(), from.end()); }

// Whether the dialog's choice differs from the stored setting. The dialog shows the
// action only for a stored 1, so any other stored value counts as "no change".
bool Differs(const settings::SystemDword& value, bool chosen) { return (value.Read() == 1) != chosen; }

}  // namespace

LockdownResult ApplyLockdownChoices(const LockdownChoices& choices, ISystemLockdown& lockdown) {
  LockdownResult result;
  LockdownNotes notes;

  const bool autoLogon = choices.autoLogon == AutoLogon::Enable;
  if (Differs(settings::kLockdownAutoLogon, autoLogon)) {
    const HRESULT hr = lockdown.ApplyAutoLogon(choices.autoLogon, choices.userName, choices.password, &notes);
    Append(&result.notes, notes);
    if (!SUCCEEDED(hr)) {
      result.outcome = LockdownResult::Outcome::AutoLogonRefused;
      return result;
    }
    settings::kLockdownAutoLogon.Write(autoLogon ? 1 : 0);
  }

  const bool remote = choices.remoteDesktop == RemoteDesktop::Enable;
  if (Differs(settings::kLockdownEnableRemoteDesktop, remote)) {
    settings::kLockdownEnableRemoteDesktop.Write(remote ? 1 : 0);
    (void)lockdown.ApplyRemoteDesktop(choices.remoteDesktop, &notes);
    Append(&result.notes, notes);
    result.restartNeeded = true;
  }

  const bool noAutorun = choices.autorun == Autorun::Disable;
  if (Differs(settings::kLockdownDisableAutorun, noAutorun)) {
    settings::kLockdownDisableAutorun.Write(noAutorun ? 1 : 0);
    (void)lockdown.ApplyAutorun(choices.autorun, &notes);
    Append(&result.notes, notes);
    result.restartNeeded = true;
  }

  const bool autoHide = choices.taskbar == TaskbarHiding::AutoHide;
  if (Differs(settings::kLockdownAutoHide, autoHide)) {
    settings::kLockdownAutoHide.Write(autoHide ? 1 : 0);
    (void)lockdown.ApplyTaskbarAutoHide(choices.taskbar, &notes);
    Append(&result.notes, notes);
  }

  const bool classic = choices.visualStyle == VisualStyle::Classic;
  if (Differs(settings::kLockdownVisualClassic, classic)) {
    settings::kLockdownVisualClassic.Write(classic ? 1 : 0);
    (void)lockdown.ApplyVisualStyle(choices.visualStyle, &notes);
    Append(&result.notes, notes);
    result.restartNeeded = true;
  }

  if (choices.power == PowerSettings::Apply) {
    (void)lockdown.ApplyPowerSettings(&notes);
    Append(&result.notes, notes);
  }
  return result;
}

// ---- CRecordingLockdown ---------------------------------------------------------

HRESULT CRecordingLockdown::Record(std::string_view action, std::string call, LockdownNotes* notes) {
  const std::lock_guard lock(m_mutex);
  if (notes != nullptr) {
    notes->clear();
  }
  m_calls.push_back(std::move(call));
  HRESULT answer = S_OK;
  for (const auto& [name, hr] : m_answers) {
    if (name == action) {
      answer = hr;
    }
  }
  if (answer == S_FALSE && notes != nullptr) {
    notes->push_back(std::string(action) + " could not be applied");
  }
  return answer;
}

HRESULT CRecordingLockdown::ApplyAutoLogon(AutoLogon mode, std::string_view userName, std::string_view password,
                                           LockdownNotes* notes) {
  // The password itself is not kept, only whether one was given.
  return Record("AutoLogon",
                std::string("AutoLogon ") + (mode == AutoLogon::Enable ? "Enable" : "Disable") + " user=" +
                    std::string(userName) + " password=" + (password.empty() ? "empty" : "set"),
                notes);
}

HRESULT CRecordingLockdown::ApplyRemoteDesktop(RemoteDesktop mode, LockdownNotes* notes) {
  return Record("RemoteDesktop", mode == RemoteDesktop::Enable ? "RemoteDesktop Enable" : "RemoteDesktop Disable",
                notes);
}

HRESULT CRecordingLockdown::ApplyAutorun(Autorun mode, LockdownNotes* notes) {
  return Record("Autorun", mode == Autorun::Disable ? "Autorun Disable" : "Autorun Allow", notes);
}

HRESULT CRecordingLockdown::ApplyTaskbarAutoHide(TaskbarHiding mode, LockdownNotes* notes) {
  return Record("Taskbar", mode == TaskbarHiding::AutoHide ? "Taskbar AutoHide" : "Taskbar Normal", notes);
}

HRESULT CRecordingLockdown::ApplyVisualStyle(VisualStyle mode, LockdownNotes* notes) {
  return Record("VisualStyle", mode == VisualStyle::Classic ? "VisualStyle Classic" : "VisualStyle Default", notes);
}

HRESULT CRecordingLockdown::ApplyPowerSettings(LockdownNotes* notes) { return Record("Power", "Power", notes); }

std::vector<std::string> CRecordingLockdown::Calls() const {
  const std::lock_guard lock(m_mutex);
  return m_calls;
}

void CRecordingLockdown::SetAnswer(std::string_view action, HRESULT answer) {
  const std::lock_guard lock(m_mutex);
  m_answers.emplace_back(std::string(action), answer);
}

}  // namespace halvard::system
