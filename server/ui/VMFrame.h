#pragma once
/// The frame of a camera document: a document window of the main frame's document area
/// with the camera view inside. It owns the window handle the motion filter posts its
/// command (324) to. Closing it by hand only hides it and tells the document's owner;
/// the group's stop closes it for good.

#include <QMdiSubWindow>

#include "platform/window/Window.h"

namespace halvard::ui {

class CVMDoc;
class CVMView;

/// Threads: the user-interface thread only; the handle's messages arrive there.
class CVMFrame final : public QMdiSubWindow {
 public:
  /// Makes the view and sizes the frame so that the view's client area is 320 x 240.
  CVMFrame(CVMDoc& doc, const QString& title, QWidget* parent = nullptr);
  ~CVMFrame() override;
  CVMFrame(const CVMFrame&) = delete;
  CVMFrame& operator=(const CVMFrame&) = delete;

  [[nodiscard]] HWND Handle() const { return m_hwnd; }
  [[nodiscard]] CVMView* View() const { return m_view; }
  [[nodiscard]] CVMDoc& Document() const { return m_doc; }
  /// From now on a close really closes (group stop).
  void SetClosingForGood() { m_closingForGood = true; }
  [[nodiscard]] bool ClosingForGood() const { return m_closingForGood; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  CVMDoc& m_doc;
  CVMView* m_view = nullptr;
  HWND m_hwnd = 0;
  bool m_closingForGood = false;
};

}  // namespace halvard::ui
