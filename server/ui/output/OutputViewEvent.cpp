#include "server/ui/output/OutputViewEvent.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "platform/time/Time.h"
#include "server/settings/Settings.h"
#include "server/ui/output/EventMatrixPainter.h"
#include "server/ui/output/EventMatrixPropertiesDialog.h"

namespace halvard::ui {

COutputViewEvent::COutputViewEvent(TextSource texts, std::shared_ptr<IEventSource> source, QWidget* parent)
    : QAbstractScrollArea(parent), m_texts(std::move(texts)), m_source(std::move(source)), m_font(EventMatrixFont()) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  setFocusPolicy(Qt::StrongFocus);
  UpdateScrollBars();
}

COutputViewEvent::~COutputViewEvent() = default;

void COutputViewEvent::Reload() {
  const std::vector<CameraName> cameras = m_cameras ? m_cameras() : std::vector<CameraName>{};
  if (m_source) {
    m_matrix.Load(cameras, *m_source, halvard::time::WallClockNow());
  }
  m_matrix.Layout(viewport()->height());
  UpdateScrollBars();
  viewport()->update();
}

bool COutputViewEvent::OnCommand(UINT command) {
  if (command == kCommandReloadEventMatrix) {
    Reload();
    return true;
  }
  return false;
}

void COutputViewEvent::ShowProperties() {
  const DWORD stored = settings::kEmTimeResolution.Read();
  const DWORD original = stored < CEventMatrix::kResolutionCount ? stored : settings::kEmTimeResolution.def;
  CEventMatrixPropertiesDialog dialog(m_texts, original, this);
  const bool accepted = dialog.exec() == QDialog::Accepted;
  settings::kEmTimeResolution.Write(accepted ? dialog.SelectedIndex() : original);
  Reload();
}

QPoint COutputViewEvent::ScrollPosition() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void COutputViewEvent::ScrollTo(int x, int y) {
  horizontalScrollBar()->setValue(x);
  verticalScrollBar()->setValue(y);
}

void COutputViewEvent::UpdateScrollBars() {
  const QSize page = viewport()->size();
  // int positions cover the widest matrix (kCellWidth x cell count stays below 2^31).
  horizontalScrollBar()->setRange(0, std::max(0, m_matrix.TotalWidth() - page.width()));
  horizontalScrollBar()->setPageStep(m_matrix.PageWidth());
  horizontalScrollBar()->setSingleStep(m_matrix.LineWidth());
  verticalScrollBar()->setRange(0, std::max(0, m_matrix.TotalHeight() - page.height()));
  verticalScrollBar()->setPageStep(m_matrix.PageHeight());
  verticalScrollBar()->setSingleStep(m_matrix.LineHeight());
}

QPoint COutputViewEvent::ToLogical(const QPoint& viewportPoint) const { return viewportPoint + ScrollPosition(); }

void COutputViewEvent::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(viewport());
  const QPoint origin = ScrollPosition();
  painter.translate(-origin);
  PaintEventMatrix(painter, m_matrix, QRect(origin, viewport()->size()), m_font);
}

void COutputViewEvent::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (viewport()->height() > 0) {
    m_matrix.Layout(viewport()->height());
  }
  UpdateScrollBars();
}

void COutputViewEvent::scrollContentsBy(int /*dx*/, int /*dy*/) {
  // Row labels stay at the left edge, so a sideways scroll changes every pixel.
  viewport()->update();
}

void COutputViewEvent::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    if (m_matrix.Click(ToLogical(event->position().toPoint()).x())) {
      viewport()->update();
    }
    event->accept();
    return;
  }
  QAbstractScrollArea::mousePressEvent(event);
}

void COutputViewEvent::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mouseDoubleClickEvent(event);
    return;
  }
  const QPoint logical = ToLogical(event->position().toPoint());
  if (const auto request = m_matrix.DoubleClick(logical.x(), logical.y()); request && m_play) {
    m_play(*request);
  }
  event->accept();
}

void COutputViewEvent::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* properties = menu.addAction(QString::fromStdString(TextOf(m_texts, kTextMenuProperties)));
  properties->setStatusTip(QString::fromStdString(TextOf(m_texts, kTextPropertiesPrompt)));
  QAction* reload = menu.addAction(QString::fromStdString(TextOf(m_texts, kTextMenuReload)));
  reload->setStatusTip(QString::fromStdString(TextOf(m_texts, kTextReloadPrompt)));
  // The menu key gives no mouse position: open at the cursor's place in view.
  const QPoint at = event->reason() == QContextMenuEvent::Keyboard
                        ? viewport()->mapToGlobal(
                              QPoint(std::clamp(m_matrix.CursorX() - ScrollPosition().x(), 0, viewport()->width()),
                                     static_cast<int>(m_matrix.RowHeight())))
                        : event->globalPos();
  // The action is taken from its signal too: a trigger that does not come from the
  // menu's own event loop (accessibility, tests) is not what exec() returns.
  QAction* chosen = nullptr;
  connect(&menu, &QMenu::triggered, this, [&chosen](QAction* action) { chosen = action; });
  if (QAction* returned = menu.exec(at)) {
    chosen = returned;
  }
  if (chosen == properties) {
    ShowProperties();
  } else if (chosen == reload) {
    Reload();
  }
}

}  // namespace halvard::ui
