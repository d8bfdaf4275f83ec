#pragma once
/// The camera view: shows the newest picture of its surface and drives the camera head
/// with the mouse and the wheel when the camera's pan-tilt-zoom control is on.

#include <QElapsedTimer>
#include <QImage>
#include <QWidget>

#include "platform/window/Window.h"
#include "server/ptz/PtzViewControl.h"

namespace halvard::ui {

class CVMDoc;
class CQtVideoSurface;

/// Threads: the user-interface thread only (the surface's Present is the one call on
/// the streaming thread, and it only posts to this view's handle).
class CVMView final : public QWidget {
 public:
  /// Client size of a new camera view.
  static constexpr int kInitialWidth = 320;
  static constexpr int kInitialHeight = 240;

  explicit CVMView(CVMDoc& doc, QWidget* parent = nullptr);
  ~CVMView() override;
  CVMView(const CVMView&) = delete;
  CVMView& operator=(const CVMView&) = delete;

  /// The handle that owns the renderer's window and receives the picture notices.
  [[nodiscard]] HWND Handle() const { return m_hwnd; }
  /// The surface the renderer presents to (owned by the view; AddRef to keep it).
  [[nodiscard]] CQtVideoSurface* Surface() const { return m_surface; }
  /// Pictures converted for painting so far (benchmarks and tests).
  [[nodiscard]] long ConvertedCount() const;

  [[nodiscard]] QSize sizeHint() const override { return {kInitialWidth, kInitialHeight}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void OnPictureReady();
  [[nodiscard]] bool IsOnScreen() const;
  void ShowPtzCursor();

  CVMDoc& m_doc;
  HWND m_hwnd = 0;
  CQtVideoSurface* m_surface = nullptr;
  QImage m_picture;
  ptz::CPtzViewControl m_ptz;
  QElapsedTimer m_sinceConversion;
  bool m_delayedUpdate = false;
};

}  // namespace halvard::ui
