#pragma once
// Shared pieces of the window tests: one QApplication per process, texts straight from
// the resource module, a roster that records what the windows ask of it, and a helper
// that answers the next modal box the way an operator would.

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "resources/ZelRes.h"
#include "server/ui/RosterOperations.h"

namespace halvard::ui::testing {

inline QApplication& App() {
  // The main frame keeps its docking layout in the user's profile: tests keep theirs in
  // the private data folder the test main made.
  static const bool privateProfile = [] {
    const std::string config = std::string(std::getenv("HALVARD_DATA")) + "/config";
    return setenv("XDG_CONFIG_HOME", config.c_str(), 1) == 0;
  }();
  (void)privateProfile;
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  static auto* app = new QApplication(argc, argv);
  return *app;
}

inline std::string ModuleText(UINT id) {
  const char* text = ZelResLoadString(id);
  return text != nullptr ? text : "";
}

/// Clicks `button` on the next message box that comes up (polling the modal widget),
/// and records its text.
class CBoxAnswerer {
 public:
  explicit CBoxAnswerer(QMessageBox::StandardButton button) : m_button(button) {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || box->button(m_button) == nullptr) {
        return;
      }
      texts.push_back(box->text().toStdString());
      box->button(m_button)->click();
    });
    m_timer.start();
  }
  std::vector<std::string> texts;

 private:
  QMessageBox::StandardButton m_button;
  QTimer m_timer;
};

class CRecordingRoster final : public IRosterOperations {
 public:
  std::vector<std::string> groups;
  std::vector<std::string> running;
  std::vector<std::string> calls;

  [[nodiscard]] std::vector<std::string> GroupNames() const override { return groups; }
  [[nodiscard]] bool IsGroupRunning(std::string_view group) const override {
    return std::find(running.begin(), running.end(), group) != running.end();
  }
  void StartAll(const std::vector<std::string>&) override {
    calls.push_back("StartAll");
    running = groups;
  }
  void StopAll() override {
    calls.push_back("StopAll");
    running.clear();
  }
  void ToggleGroup(std::string_view group) override { calls.push_back("Toggle " + std::string(group)); }
  bool RenameGroup(std::string_view oldName, std::string_view newName) override {
    calls.push_back("Rename " + std::string(oldName) + " " + std::string(newName));
    return true;
  }
  void DeleteGroup(std::string_view group) override { calls.push_back("Delete " + std::string(group)); }
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> Cameras() const override { return cameras; }
  [[nodiscard]] std::vector<std::pair<engine::CameraGroup*, int>> ActivateAllOrder() const override { return {}; }
  void OnMotionCommand(engine::CameraGroup&, int input) override {
    calls.push_back("Motion " + std::to_string(input));
  }
  void OnCameraWindowClosed(engine::CameraGroup&, int input) override {
    calls.push_back("Closed " + std::to_string(input));
  }
  [[nodiscard]] std::vector<std::string> FilesBeingWritten() const override { return {}; }

  std::vector<std::pair<std::string, std::string>> cameras;
};

}  // namespace halvard::ui::testing
