#pragma once
/// The "Motion Mark" editor: the camera's still picture with the block grid over it;
/// a press on a block marks it (or clears it when it was marked) and dragging carries
/// the same choice over every block the pointer crosses.
///
/// Threads: the user-interface thread.

#include <QImage>
#include <QWidget>

#include "server/ui/dialogs/MotionPage.h"

namespace halvard::engine {
class CameraGroup;
}

namespace halvard::ui::dialogs {

/// The current picture of a running camera's snapshot filter; a null image when the
/// group is stopped, the input has no snapshot filter or no picture has passed yet.
[[nodiscard]] QImage CameraStill(const engine::CameraGroup* group, int input);

class CMotionMarkEditor final : public QWidget {
 public:
  /// The grid over a picture of the camera's size; `still` fills it (a grey field when
  /// null). The picture is shown at most 640 pixels wide, keeping its proportions.
  CMotionMarkEditor(CMotionMark mark, int pictureWidth, int pictureHeight, QImage still, QWidget* parent = nullptr);

  [[nodiscard]] const CMotionMark& Mark() const { return m_mark; }
  void SetMark(CMotionMark mark);
  void MarkAll();
  void ClearAll();
  /// The block under a point of the widget (column, row; -1 outside the grid).
  [[nodiscard]] QPoint BlockAt(QPoint position) const;
  /// The widget point at the centre of a block (for tests and keyboard users).
  [[nodiscard]] QPoint CentreOf(int column, int row) const;

  [[nodiscard]] QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  [[nodiscard]] double Scale() const;
  void Apply(QPoint position);

  CMotionMark m_mark;
  QImage m_still;
  int m_pictureWidth;
  int m_pictureHeight;
  bool m_dragging = false;
  bool m_dragMarks = true;
};

}  // namespace halvard::ui::dialogs
