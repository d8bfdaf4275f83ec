#pragma once
/// What the camera engine needs from the windows of the server: camera documents with
/// their frame window and video surface, numbered texts, message boxes, lines for the
/// output pane, window timers, and refreshes of the workspace tree. The main frame
/// implements it; tests implement it with a recorder. The engine never sees a widget.
///
/// Threads: every method is called on the user-interface thread, except ReportLine,
/// which any thread may call (update workers, streaming threads through posted
/// messages); implementations post it to the pane and return at once.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/media/VideoSurface.h"
#include "platform/window/Window.h"

namespace halvard::engine {

class CameraGroup;

/// How a camera window first appears.
enum class CameraWindowShow { Normal, Minimized, Hidden };

/// One camera window as the host opened it.
struct CameraWindow {
  HWND frame = 0;                   ///< receives the motion command 324 (WM_COMMAND)
  HWND view = 0;                    ///< owner of the renderer's window
  IVideoSurface* surface = nullptr; ///< the view's picture surface (host-owned; may be null)
  LONG clientWidth = 320;
  LONG clientHeight = 240;
};

/// A timer that fires on the user-interface thread until killed.
using TimerCallback = std::function<void()>;
/// Identifies a timer: the engine uses the address of the object that owns it.
using TimerId = std::uintptr_t;

class IEngineHost {
 public:
  virtual ~IEngineHost() = default;

  /// Opens the camera document of one input: title "group-input", client area 320x240,
  /// shown as asked. The frame routes command 324 to CameraRoster::OnMotionCommand and a
  /// close by the operator to CameraRoster::OnCameraWindowClosed. False when no window
  /// could be made (the group's start then fails).
  [[nodiscard]] virtual bool OpenCameraWindow(CameraGroup& group, int input, const std::string& title,
                                              CameraWindowShow show, CameraWindow* window) = 0;
  /// Closes every camera document of the group for good (no close-by-operator handling).
  virtual void CloseCameraWindows(CameraGroup& group) = 0;
  /// A new title for an open camera document ("group-input"); nothing when none is open.
  virtual void RetitleCameraWindow(CameraGroup& group, int input, const std::string& title) = 0;
  /// Brings the camera windows to the front (activate-all order) and tiles them
  /// vertically: what command 32939 does. Posted, so it runs after the current command.
  virtual void PostActivateAndTile() = 0;

  /// A numbered text of the resource module ("" when it has none).
  [[nodiscard]] virtual std::string Text(unsigned id) = 0;
  /// A modal message box with OK. It keeps the event loop running.
  virtual void ShowMessage(const std::string& text) = 0;
  /// One line for the output pane's message log (and standard error). Any thread.
  virtual void ReportLine(const std::string& line) = 0;

  /// Arms (or re-arms) a timer with a period in milliseconds.
  virtual void SetTimer(TimerId id, std::uint32_t periodMs, TimerCallback callback) = 0;
  virtual void KillTimer(TimerId id) = 0;

  /// The workspace tree: one group's node rebuilt, or the whole tree.
  virtual void RefreshGroupNode(const CameraGroup& group) = 0;
  virtual void RefreshTree() = 0;

  /// The scheduled-reboot check of a rotation tick. It may stop every group and end the
  /// process; the engine checks the group's state afterwards.
  virtual void CheckScheduledReboot() = 0;

  /// Modal property pages of the capture filter (owner: main window, at 30, 30).
  virtual void ShowPropertyPages(IUnknown* object, const std::string& caption) = 0;

  /// Starts the directory-update worker of a monitored camera (one per start).
  virtual void StartDirectoryUpdate(const std::string& group, const std::string& input) = 0;
};

/// Convenience for the numbered reports.
inline void ReportText(IEngineHost& host, unsigned id) { host.ReportLine(host.Text(id)); }

}  // namespace halvard::engine
