#include "server/system/SystemRestart.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "platform/com/Com.h"

namespace halvard::system {

namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kObject = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

// "--" ends busctl's options, so a message that starts with '-' is still an argument.
std::vector<std::string> Call(const std::string& method, const std::string& signature,
                              std::vector<std::string> arguments) {
  // No interactive authorisation: an unattended workstation has nobody to answer a
  // password question, so a missing right is a refusal at once.
  std::vector<std::string> argv{"busctl", "--system", "--allow-interactive-authorization=no", "--", "call",
                                kService, kObject, kManager, method, signature};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

std::vector<std::string> GetProperty(const std::string& property) {
  return {"busctl", "--system", "--json=short", "--", "get-property", kService, kObject, kManager, property};
}

// busctl's JSON form of one property: {"type":"s","data":...}.
bool ParseProperty(const std::string& json, QJsonValue* value) {
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
  if (!doc.isObject() || !doc.object().contains("data")) {
    return false;
  }
  *value = doc.object().value("data");
  return true;
}

bool IsRefusal(const std::string& output) {
  return output.find("Access denied") != std::string::npos ||
         output.find("AccessDenied") != std::string::npos ||
         output.find("Interactive authentication required") != std::string::npos ||
         output.find("not authorized") != std::string::npos;
}

}  // namespace

CLogindRestart::CLogindRestart(ICommandRunner& runner, WallClock clock) : m_runner(runner), m_clock(std::move(clock)) {}

HRESULT CLogindRestart::RestartSystem(std::string_view message, DWORD countdownSeconds, std::string* failure) {
  const auto fail = [&](HRESULT hr, std::string text) {
    if (failure != nullptr) {
      *failure = std::move(text);
    }
    return hr;
  };
  if (failure != nullptr) {
    failure->clear();
  }
  if (!m_runner.HasProgram("busctl")) {
    return fail(E_FAIL, "the restart was not requested: busctl (systemd) is not installed");
  }

  // The current wall message, to put back if the restart is refused.
  const CommandOutcome oldMessage = m_runner.Run(GetProperty("WallMessage"));
  const CommandOutcome oldEnabled = m_runner.Run(GetProperty("EnableWallMessages"));
  QJsonValue previousText;
  QJsonValue previousEnabled;
  if (!oldMessage.Succeeded() || !ParseProperty(oldMessage.output, &previousText) || !oldEnabled.Succeeded() ||
      !ParseProperty(oldEnabled.output, &previousEnabled)) {
    const CommandOutcome& bad = oldMessage.Succeeded() ? oldEnabled : oldMessage;
    return fail(E_FAIL, "the login manager cannot be reached: busctl " + bad.Describe());
  }

  const CommandOutcome setMessage = m_runner.Run(Call("SetWallMessage", "sb", {std::string(message), "true"}));
  if (!setMessage.Succeeded()) {
    return fail(IsRefusal(setMessage.output) ? E_ACCESSDENIED : E_FAIL,
                "the login manager refused the shutdown message: " + setMessage.Describe());
  }

  const std::time_t now = m_clock ? m_clock() : SystemWallClock();
  const unsigned long long atUsec =
      (static_cast<unsigned long long>(now) + countdownSeconds) * 1000000ULL;
  const CommandOutcome schedule = m_runner.Run(Call("ScheduleShutdown", "st", {"reboot", std::to_string(atUsec)}));
  if (schedule.Succeeded()) {
    return S_OK;
  }
  const CommandOutcome restore = m_runner.Run(Call(
      "SetWallMessage", "sb",
      {previousText.toString().toStdString(), previousEnabled.toBool() ? "true" : "false"}));
  std::string text = "the login manager refused the restart: " + schedule.Describe();
  if (!restore.Succeeded()) {
    text += " (the previous shutdown message could not be put back: " + restore.Describe() + ")";
  }
  return fail(IsRefusal(schedule.output) ? E_ACCESSDENIED : E_FAIL, text);
}

HRESULT CRecordingRestart::RestartSystem(std::string_view message, DWORD countdownSeconds, std::string* failure) {
  const std::lock_guard lock(m_mutex);
  if (failure != nullptr) {
    failure->clear();
  }
  m_requests.push_back({std::string(message), countdownSeconds});
  if (!SUCCEEDED(m_answer) && failure != nullptr) {
    *failure = "the restart was refused";
  }
  return m_answer;
}

void CRecordingRestart::SetAnswer(HRESULT answer) {
  const std::lock_guard lock(m_mutex);
  m_answer = answer;
}

std::vector<CRecordingRestart::Request> CRecordingRestart::Requests() const {
  const std::lock_guard lock(m_mutex);
  return m_requests;
}

}  // namespace halvard::system
