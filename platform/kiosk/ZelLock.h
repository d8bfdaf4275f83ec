#pragma once
/// The kiosk library: keeps the workstation's desktop out of reach while the server's
/// desktop lock is up.
///
/// The five operations keep their documented names and integer arguments (1 = show or
/// enable, 0 = hide or disable). On this desktop they drive one full-screen kiosk
/// window on the primary screen:
/// - hiding the Start button or the taskbar shows the kiosk window, frameless and
///   above the other windows, which covers the panels (where the window manager lets
///   a full-screen window lie above its panels);
/// - disabling Alt+Tab, Ctrl+Alt+Del or task switching makes the kiosk window grab the
///   keyboard and the pointer, so no key reaches the window manager (no Alt+Tab, no
///   desktop shortcut) and no click reaches the panels or other programs. Key presses
///   are handed on to the focus widget of the application's modal window (the
///   password prompt). While such a prompt is up, its own window holds the pointer
///   grab, so clicks reach its controls and nothing else; where the platform cannot
///   grab (offscreen), the kiosk window keeps the pointer and hands clicks inside the
///   prompt to the widget under the pointer.
/// The window stays up while any of the five is in its locked state; the grab while
/// any of the last three is. Limits of the platform: a virtual-terminal switch
/// (Ctrl+Alt+F1..) is handled by the X server and the kernel and cannot be blocked by
/// a program; under Wayland, clients cannot grab the keyboard or pointer at all.
///
/// Thread: the Qt user-interface thread, with a QApplication. Called without one, or
/// from another thread, the operations do nothing and return FALSE; otherwise TRUE.

#include "platform/base/WinTypes.h"

extern "C" {
BOOL StartButton_Show_Hide(int show);
BOOL Taskbar_Show_Hide(int show);
/// The first argument is reserved (0).
BOOL AltTab2_Enable_Disable(int reserved, int enable);
BOOL CtrlAltDel_Enable_Disable(int enable);
BOOL TaskSwitching_Enable_Disable(int enable);
}

class QWidget;

namespace halvard::kiosk {

/// What the kiosk holds, for tests and diagnostics.
struct KioskState {
  bool startButtonHidden = false;
  bool taskbarHidden = false;
  bool altTabDisabled = false;
  bool ctrlAltDelDisabled = false;
  bool taskSwitchingDisabled = false;
  /// The kiosk window is shown.
  bool windowShown = false;
  /// The kiosk window holds the keyboard grab, and the pointer grab is held too.
  bool grabbing = false;
  /// The pointer grab is held by the prompt's own window rather than the kiosk window.
  bool pointerOnPrompt = false;
};

[[nodiscard]] KioskState State();

/// The kiosk window while it exists (null otherwise). Not owned by the caller.
[[nodiscard]] QWidget* Window();

}  // namespace halvard::kiosk
