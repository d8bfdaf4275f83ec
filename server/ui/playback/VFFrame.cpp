#include "server/ui/playback/VFFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QPointer>

#include "server/ui/Commands.h"
#include "server/ui/playback/VFDoc.h"
#include "server/ui/playback/VFView.h"

namespace halvard::ui::playback {

CVFFrame::CVFFrame(CVFDoc& doc, const QString& title, QWidget* parent) : QMdiSubWindow(parent), m_doc(doc) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(title);
  m_view = new CVFView(doc, this);
  setWidget(m_view);
  auto* save = new QAction(this);
  save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  save->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(save, &QAction::triggered, this, [this] { RunCommand(kCmdPlayerSavePicture); });
  addAction(save);
}

CVFFrame::~CVFFrame() = default;

void CVFFrame::RunCommand(UINT command) {
  if (m_closed) {
    return;
  }
  if (command == kCmdPlayerPlay) {
    setWindowTitle(QString::fromStdString(m_doc.Path()));
  }
  if (!m_doc.RunCommand(command)) {
    m_doc.Owner().OnPlaybackCommand(m_doc, command);
  }
  if (command == kCmdPlayerPlay) {
    m_view->UpdateSlider();
    if (QWidget* top = window(); top != nullptr) {
      top->update();
    }
  }
}

void CVFFrame::PostCommand(UINT command) {
  QPointer<CVFFrame> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, command] {
        if (self) {
          self->RunCommand(command);
        }
      },
      Qt::QueuedConnection);
}

void CVFFrame::FitToPicture(QSize picture) {
  const QSize client = m_view->ClientSizeFor(picture);
  m_view->SetPreferredSize(client);
  // The border is what the frame adds around its widget as the style draws it now.
  const QSize border = isVisible() ? size() - m_view->size() : sizeHint() - m_view->sizeHint();
  resize(client + border.expandedTo(QSize(0, 0)));
}

void CVFFrame::closeEvent(QCloseEvent* event) {
  if (!m_closed) {
    m_closed = true;
    m_doc.Close();
    m_doc.Owner().OnPlaybackClosed(m_doc);
  }
  QMdiSubWindow::closeEvent(event);
}

}  // namespace halvard::ui::playback
