#pragma once
// A recording host for the engine: camera windows are plain window handles on a
// message queue (motion commands reach the roster), pictures go to memory surfaces,
// message boxes and output lines are recorded, timers are fired by the test.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/media/VideoSurface.h"
#include "platform/window/Window.h"
#include "server/engine/CameraRoster.h"

namespace halvard::engine::testing {

class CTestHost final : public IEngineHost {
 public:
  /// countingSurfaces: give the renderers surfaces that only count pictures.
  explicit CTestHost(bool countingSurfaces = false);
  ~CTestHost() override;

  void SetRoster(CameraRoster* roster) { m_roster = roster; }
  halvard::window::CMessageQueue& Queue() { return m_queue; }

  bool OpenCameraWindow(CameraGroup& group, int input, const std::string& title, CameraWindowShow show,
                        CameraWindow* window) override;
  void CloseCameraWindows(CameraGroup& group) override;
  void RetitleCameraWindow(CameraGroup& group, int input, const std::string& title) override;
  void PostActivateAndTile() override { ++m_activateAndTile; }
  std::string Text(unsigned id) override;
  void ShowMessage(const std::string& text) override;
  void ReportLine(const std::string& line) override;
  void SetTimer(TimerId id, std::uint32_t periodMs, TimerCallback callback) override;
  void KillTimer(TimerId id) override;
  void RefreshGroupNode(const CameraGroup&) override { ++m_refreshes; }
  void RefreshTree() override { ++m_refreshes; }
  void CheckScheduledReboot() override { ++m_rebootChecks; }
  void ShowPropertyPages(IUnknown*, const std::string& caption) override { m_propertyPages.push_back(caption); }
  void StartDirectoryUpdate(const std::string& group, const std::string& input) override {
    m_directoryUpdates.push_back(group + "-" + input);
  }

  // What the engine did.
  struct OpenWindow {
    std::string title;
    CameraWindowShow show;
    HWND frame;
    HWND view;
    IVideoSurface* surface;
  };
  [[nodiscard]] std::vector<std::string> Messages();
  [[nodiscard]] std::vector<std::string> Lines();
  [[nodiscard]] std::size_t LineCount();
  [[nodiscard]] bool HasTimer(TimerId id) const { return m_timers.count(id) != 0; }
  [[nodiscard]] std::uint32_t TimerPeriod(TimerId id) const { return m_timers.at(id).periodMs; }
  /// Runs a timer's callback once (as its period elapsing would). False when not armed.
  bool FireTimer(TimerId id);
  /// Pictures the surface of a camera window received (0 when it has none).
  [[nodiscard]] long Frames(const std::string& title);
  std::map<std::string, OpenWindow> windows;
  std::vector<std::string> closedTitles;
  int m_activateAndTile = 0;
  int m_refreshes = 0;
  int m_rebootChecks = 0;
  std::vector<std::string> m_propertyPages;
  std::vector<std::string> m_directoryUpdates;

 private:
  struct Timer {
    std::uint32_t periodMs;
    TimerCallback callback;
  };
  halvard::window::CMessageQueue m_queue;
  halvard::window::IMessageDispatcher* m_previousDispatcher = nullptr;
  CameraRoster* m_roster = nullptr;
  bool m_countingSurfaces;
  std::map<TimerId, Timer> m_timers;
  std::mutex m_lock;  // guards m_lines (ReportLine comes from any thread)
  std::vector<std::string> m_lines;
  std::vector<std::string> m_messages;
};

/// Registers the three filter components of the build into the current store.
void RegisterFilterComponents();

}  // namespace halvard::engine::testing
