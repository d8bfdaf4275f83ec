#pragma once
/// Mouse control of a camera head from the live camera view: click and hold to pan and
/// tilt toward the pointer, the wheel to zoom (or to focus while the left button is
/// held), and a direction cursor that follows the pointer. The view binds its mouse
/// events to one CPtzViewControl and shows the cursor that CursorChoice names.
///
/// Every handler takes the camera's controller, or null when the camera's
/// pan-tilt-zoom control is off; with null the handler does nothing and returns false
/// so that the view does its default processing.
///
/// Threads: the user-interface thread only. The wheel's pause blocks that thread for
/// as long as the zoom motion lasts.

#include <functional>

#include "server/ptz/PtzController.h"

namespace halvard::ptz {

/// Blocks the calling thread for the given milliseconds. Tests pass a recorder.
using SleepFunction = std::function<void(int ms)>;
/// std::this_thread::sleep_for.
void SleepMs(int ms);

/// Directions, counter-clockwise from the right.
enum ViewDirection : int {
  kDirectionNone = -1,
  kDirectionRight = 0,
  kDirectionUpRight = 1,
  kDirectionUp = 2,
  kDirectionUpLeft = 3,
  kDirectionLeft = 4,
  kDirectionDownLeft = 5,
  kDirectionDown = 6,
  kDirectionDownRight = 7,
};

/// Offset of a client position from the centre (width / 2, height / 2, integer
/// halving), as fractions of the half sizes: x to the right, y downwards. An axis
/// whose half size is 0 gives 0.
struct ViewOffset {
  float x;
  float y;
};
[[nodiscard]] ViewOffset OffsetFromCentre(int mouseX, int mouseY, int width, int height);

/// Direction of an offset (x to the right, u upwards): within 0.01 of the vertical axis
/// up or down; otherwise by the signed slope u / |x| against -1.732, -0.57, 0.57, 1.732.
[[nodiscard]] int DirectionIndex(float x, float u);

enum class CursorKind { Default, Hover, Pressed };
struct CursorChoice {
  CursorKind kind;
  int direction;  ///< kDirectionNone with CursorKind::Default
};

enum class LeftButton { Released, Held };

class CPtzViewControl {
 public:
  explicit CPtzViewControl(SleepFunction sleep = SleepMs);

  /// Sets dragging and pans/tilts toward the pointer.
  bool OnLeftButtonDown(CPtzController* controller, int mouseX, int mouseY, int width, int height);
  /// Clears dragging and stops the head.
  bool OnLeftButtonUp(CPtzController* controller);
  /// Recomputes the direction; sends nothing.
  bool OnMouseMove(CPtzController* controller, int mouseX, int mouseY, int width, int height);
  /// Signed wheel delta. With the left button held: focus near (delta > 0) or far
  /// (delta < 0), no stop. Without: zoom tele (> 0) or wide (< 0), a pause of
  /// |delta| / 2 ms, then stop; a zero delta sends only the stop.
  bool OnMouseWheel(CPtzController* controller, int delta, LeftButton button);

  /// The cursor to show: the default one until a direction is known, then the pressed
  /// cursor of the direction while dragging, the hover cursor when not.
  [[nodiscard]] CursorChoice Cursor() const;
  [[nodiscard]] int Direction() const { return m_direction; }
  [[nodiscard]] bool Dragging() const { return m_dragging; }

 private:
  SleepFunction m_sleep;
  int m_direction = kDirectionNone;
  bool m_dragging = false;
};

}  // namespace halvard::ptz
