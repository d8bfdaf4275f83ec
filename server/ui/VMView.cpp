#include "server/ui/VMView.h"

#include <array>
#include <cmath>

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>

#include "server/ui/QtVideoSurface.h"
#include "server/ui/VMDoc.h"
#include "server/ui/WorkspaceModel.h"

namespace halvard::ui {

namespace {

/// An arrow toward one of the eight directions (0 = right, counter-clockwise), outlined
/// while hovering and filled while the head moves.
QCursor DirectionCursor(int direction, bool pressed) {
  static std::array<QCursor, 16> cache;
  static std::array<bool, 16> made{};
  const std::size_t slot = static_cast<std::size_t>(direction) * 2 + (pressed ? 1 : 0);
  if (slot >= cache.size()) {
    return QCursor(Qt::ArrowCursor);
  }
  if (!made[slot]) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(16, 16);
    p.rotate(-45.0 * direction);  // screen y grows downwards
    QPainterPath arrow;
    arrow.moveTo(14, 0);
    arrow.lineTo(2, -9);
    arrow.lineTo(2, -4);
    arrow.lineTo(-12, -4);
    arrow.lineTo(-12, 4);
    arrow.lineTo(2, 4);
    arrow.lineTo(2, 9);
    arrow.closeSubpath();
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(pressed ? QColor(Qt::white) : QColor(255, 255, 255, 60));
    p.drawPath(arrow);
    p.end();
    cache[slot] = QCursor(pixmap, 16, 16);
    made[slot] = true;
  }
  return cache[slot];
}

}  // namespace

CVMView::CVMView(CVMDoc& doc, QWidget* parent) : QWidget(parent), m_doc(doc) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  m_hwnd = window::CreateWindowHandle([this](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == kMsgPictureReady) {
      OnPictureReady();
    }
    return 0;
  });
  m_surface = CQtVideoSurface::Create(m_hwnd);
  m_sinceConversion.start();
}

CVMView::~CVMView() {
  window::DestroyWindowHandle(m_hwnd);
  if (m_surface != nullptr) {
    // The renderer may hold the surface a little longer; it no longer reaches us.
    m_surface->Detach();
    m_surface->NonDelegatingRelease();
  }
}

long CVMView::ConvertedCount() const { return m_surface != nullptr ? m_surface->ConvertedCount() : 0; }

bool CVMView::IsOnScreen() const {
  if (!isVisible()) {
    return false;
  }
  for (const QWidget* w = this; w != nullptr; w = w->parentWidget()) {
    if (w->isMinimized()) {
      return false;
    }
  }
  return !visibleRegion().isEmpty();
}

void CVMView::OnPictureReady() {
  // Off screen the picture waits: the surface posts no further notice until it is
  // taken, and showing or uncovering the view paints it.
  if (!IsOnScreen()) {
    return;
  }
  // At most one conversion per screen refresh.
  const qreal hz = screen() != nullptr && screen()->refreshRate() > 1.0 ? screen()->refreshRate() : 60.0;
  const qint64 intervalMs = static_cast<qint64>(1000.0 / hz);
  const qint64 elapsed = m_sinceConversion.elapsed();
  if (elapsed >= intervalMs) {
    update();
  } else if (!m_delayedUpdate) {
    m_delayedUpdate = true;
    QTimer::singleShot(static_cast<int>(intervalMs - elapsed), this, [this] {
      m_delayedUpdate = false;
      update();
    });
  }
}

void CVMView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  update();
}

void CVMView::paintEvent(QPaintEvent*) {
  if (m_surface != nullptr && m_surface->TakeNewest(&m_picture)) {
    m_sinceConversion.restart();
  }
  QPainter painter(this);
  if (m_picture.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  painter.drawImage(rect(), m_picture);
}

void CVMView::ShowPtzCursor() {
  const ptz::CursorChoice choice = m_ptz.Cursor();
  if (choice.kind == ptz::CursorKind::Default || choice.direction == ptz::kDirectionNone) {
    unsetCursor();
  } else {
    setCursor(DirectionCursor(choice.direction, choice.kind == ptz::CursorKind::Pressed));
  }
}

void CVMView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton &&
      m_ptz.OnLeftButtonDown(m_doc.PtzController(), event->position().toPoint().x(),
                             event->position().toPoint().y(), width(), height())) {
    ShowPtzCursor();
    return;
  }
  QWidget::mousePressEvent(event);
}

void CVMView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && m_ptz.OnLeftButtonUp(m_doc.PtzController())) {
    ShowPtzCursor();
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

void CVMView::mouseMoveEvent(QMouseEvent* event) {
  if (m_ptz.OnMouseMove(m_doc.PtzController(), event->position().toPoint().x(), event->position().toPoint().y(),
                        width(), height())) {
    ShowPtzCursor();
    return;
  }
  unsetCursor();
  QWidget::mouseMoveEvent(event);
}

void CVMView::wheelEvent(QWheelEvent* event) {
  const ptz::LeftButton button =
      (event->buttons() & Qt::LeftButton) != 0 ? ptz::LeftButton::Held : ptz::LeftButton::Released;
  if (m_ptz.OnMouseWheel(m_doc.PtzController(), event->angleDelta().y(), button)) {
    event->accept();
    return;
  }
  QWidget::wheelEvent(event);
}

void CVMView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  for (const MenuEntry& entry : CameraWindowMenu()) {
    if (entry.IsSeparator()) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QString::fromStdString(m_doc.Owner().DocumentText(entry.label)));
    const UINT command = entry.command;
    connect(action, &QAction::triggered, this, [this, command] { m_doc.Owner().OnCameraCommand(m_doc, command); });
  }
  menu.exec(event->globalPos());
}

}  // namespace halvard::ui
