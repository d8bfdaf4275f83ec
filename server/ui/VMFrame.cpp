#include "server/ui/VMFrame.h"

#include <QCloseEvent>
#include <QEvent>

#include "server/ui/Commands.h"
#include "server/ui/VMDoc.h"
#include "server/ui/VMView.h"

namespace halvard::ui {

CVMFrame::CVMFrame(CVMDoc& doc, const QString& title, QWidget* parent) : QMdiSubWindow(parent), m_doc(doc) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(title);
  m_view = new CVMView(doc, this);
  setWidget(m_view);
  m_view->resize(CVMView::kInitialWidth, CVMView::kInitialHeight);
  adjustSize();
  m_hwnd = window::CreateWindowHandle([this](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
    if (message == WM_COMMAND && LOWORD(wParam) == kCmdMotion) {
      m_doc.Owner().OnCameraMotion(m_doc);
    }
    return 0;
  });
}

CVMFrame::~CVMFrame() { window::DestroyWindowHandle(m_hwnd); }

void CVMFrame::closeEvent(QCloseEvent* event) {
  if (m_closingForGood) {
    QMdiSubWindow::closeEvent(event);
    return;
  }
  // The operator's close: the recording goes on, so the window only disappears.
  event->ignore();
  hide();
  m_doc.Owner().OnCameraClosedByOperator(m_doc);
}

void CVMFrame::changeEvent(QEvent* event) {
  QMdiSubWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && !isMinimized() && m_view != nullptr) {
    m_view->update();  // the picture waited while minimised
  }
}

}  // namespace halvard::ui
