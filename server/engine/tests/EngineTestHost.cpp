#include "server/engine/tests/EngineTestHost.h"

#include <iostream>

#include "filters/motion/MotionDetect.h"
#include "platform/media/Unknown.h"
#include "tests/support/TestSupport.h"

namespace halvard::engine::testing {

CTestHost::CTestHost(bool countingSurfaces) : m_countingSurfaces(countingSurfaces) {
  m_previousDispatcher = halvard::window::SetDefaultDispatcher(&m_queue);
}

CTestHost::~CTestHost() {
  for (auto& [title, window] : windows) {
    (void)halvard::window::DestroyWindowHandle(window.frame);
    (void)halvard::window::DestroyWindowHandle(window.view);
    if (window.surface != nullptr) {
      window.surface->Release();
    }
  }
  halvard::window::SetDefaultDispatcher(m_previousDispatcher);
}

bool CTestHost::OpenCameraWindow(CameraGroup& group, int input, const std::string& title, CameraWindowShow show,
                                 CameraWindow* window) {
  CameraGroup* target = &group;
  const HWND frame = halvard::window::CreateWindowHandle(
      [this, target, input](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == WM_COMMAND && LOWORD(wParam) == ID_MOTION_DETECTED && m_roster != nullptr &&
            !target->IsStopped()) {
          m_roster->OnMotionCommand(*target, input);
        }
        return 0;
      },
      &m_queue);
  const HWND view = halvard::window::CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, &m_queue);
  IVideoSurface* surface = nullptr;
  if (m_countingSurfaces) {
    surface = halvard::media::CCountingSurface::Create();
  } else {
    surface = halvard::media::CMemorySurface::Create();
  }
  auto old = windows.find(title);
  if (old != windows.end()) {
    (void)halvard::window::DestroyWindowHandle(old->second.frame);
    (void)halvard::window::DestroyWindowHandle(old->second.view);
    old->second.surface->Release();
    windows.erase(old);
  }
  windows[title] = OpenWindow{title, show, frame, view, surface};
  window->frame = frame;
  window->view = view;
  window->surface = surface;
  window->clientWidth = 320;
  window->clientHeight = 240;
  return true;
}

void CTestHost::CloseCameraWindows(CameraGroup& group) {
  for (int i = 0; i < static_cast<int>(group.InputCount()); ++i) {
    closedTitles.push_back(group.CameraTitle(i));
  }
}

void CTestHost::RetitleCameraWindow(CameraGroup&, int, const std::string& title) { closedTitles.push_back("retitled " + title); }

std::string CTestHost::Text(unsigned id) { return "<" + std::to_string(id) + ">"; }

void CTestHost::ShowMessage(const std::string& text) {
  std::scoped_lock lock(m_lock);
  m_messages.push_back(text);
}

void CTestHost::ReportLine(const std::string& line) {
  std::scoped_lock lock(m_lock);
  m_lines.push_back(line);
  if (std::getenv("HALVARD_ENGINE_TEST_VERBOSE") != nullptr) {
    std::cerr << "output: " << line << "\n";
  }
}

std::vector<std::string> CTestHost::Messages() {
  std::scoped_lock lock(m_lock);
  return m_messages;
}

std::vector<std::string> CTestHost::Lines() {
  std::scoped_lock lock(m_lock);
  return m_lines;
}

std::size_t CTestHost::LineCount() {
  std::scoped_lock lock(m_lock);
  return m_lines.size();
}

void CTestHost::SetTimer(TimerId id, std::uint32_t periodMs, TimerCallback callback) {
  m_timers[id] = Timer{periodMs, std::move(callback)};
}

void CTestHost::KillTimer(TimerId id) { m_timers.erase(id); }

bool CTestHost::FireTimer(TimerId id) {
  const auto it = m_timers.find(id);
  if (it == m_timers.end()) {
    return false;
  }
  const TimerCallback callback = it->second.callback;  // the callback may kill its timer
  callback();
  return true;
}

long CTestHost::Frames(const std::string& title) {
  const auto it = windows.find(title);
  if (it == windows.end() || it->second.surface == nullptr) {
    return 0;
  }
  if (m_countingSurfaces) {
    return static_cast<halvard::media::CCountingSurface*>(it->second.surface)->FrameCount();
  }
  return static_cast<halvard::media::CMemorySurface*>(it->second.surface)->FrameCount();
}

void RegisterFilterComponents() {
  using halvard::testing::LibraryPath;
  using halvard::testing::ProgramPath;
  using halvard::testing::RunCommand;
  using halvard::testing::ShellQuote;
  const auto result = RunCommand(ShellQuote(ProgramPath("halvard-regsvr")) + " " +
                                     ShellQuote(LibraryPath("libZelSplitter.so")) + " " +
                                     ShellQuote(LibraryPath("libZelMotion.so")) + " " +
                                     ShellQuote(LibraryPath("libZelHDSimulation.so")),
                                 true);
  if (result.status != 0) {
    std::cerr << "halvard-regsvr failed: " << result.output << "\n";
  }
}

}  // namespace halvard::engine::testing
