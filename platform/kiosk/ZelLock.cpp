#include "platform/kiosk/ZelLock.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace halvard::kiosk {

namespace {

// The full-screen window. Input reaches it through the grab and is handed on to the
// modal window of the application (the password prompt).
class CKioskWindow final : public QWidget {
 public:
  CKioskWindow() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("HalvardKioskWindow");
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::ArrowCursor);
    // The prompt is usually shown after the kiosk is on: every modal window that
    // appears while the kiosk window is up is kept above it.
    qApp->installEventFilter(this);
  }
  ~CKioskWindow() override { qApp->removeEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
  }

  void keyPressEvent(QKeyEvent* event) override { Forward(event); }
  void keyReleaseEvent(QKeyEvent* event) override { Forward(event); }
  void mousePressEvent(QMouseEvent* event) override { ForwardMouse(event); }
  void mouseReleaseEvent(QMouseEvent* event) override { ForwardMouse(event); }
  void mouseDoubleClickEvent(QMouseEvent* event) override { ForwardMouse(event); }
  void mouseMoveEvent(QMouseEvent* event) override { ForwardMouse(event); }

 private:
  // The window whose controls may be used while the kiosk holds the input.
  static QWidget* Prompt() {
    QWidget* modal = QApplication::activeModalWidget();
    return modal != nullptr && modal->isVisible() ? modal : nullptr;
  }

  static void Forward(QKeyEvent* event) {
    event->accept();  // swallowed unless the prompt takes it
    QWidget* prompt = Prompt();
    if (prompt == nullptr) {
      return;
    }
    QWidget* target = prompt->focusWidget() != nullptr ? prompt->focusWidget() : prompt;
    QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->nativeScanCode(),
                   event->nativeVirtualKey(), event->nativeModifiers(), event->text(), event->isAutoRepeat(),
                   static_cast<quint16>(event->count()));
    QCoreApplication::sendEvent(target, &copy);
  }

  static void ForwardMouse(QMouseEvent* event) {
    event->accept();
    QWidget* prompt = Prompt();
    if (prompt == nullptr) {
      return;
    }
    const QPointF global = event->globalPosition();
    const QPoint inPrompt = prompt->mapFromGlobal(global.toPoint());
    if (!prompt->rect().contains(inPrompt)) {
      return;  // outside the prompt: the click goes nowhere
    }
    QWidget* target = prompt->childAt(inPrompt);
    if (target == nullptr) {
      target = prompt;
    }
    if (event->type() == QEvent::MouseButtonPress && target->focusPolicy() & Qt::ClickFocus) {
      target->setFocus(Qt::MouseFocusReason);
    }
    QMouseEvent copy(event->type(), QPointF(target->mapFromGlobal(global.toPoint())), global, event->button(),
                     event->buttons(), event->modifiers());
    QCoreApplication::sendEvent(target, &copy);
  }
};

struct Kiosk {
  KioskState state;
  QPointer<CKioskWindow> window;
  /// The prompt whose own window holds the pointer grab, if any.
  QPointer<QWidget> pointerPrompt;
  /// Attempts left to move the pointer grab to a prompt that is not mapped yet.
  int pointerRetries = 0;
};

Kiosk& TheKiosk() {
  static Kiosk kiosk;
  return kiosk;
}

// Keeps a window of the application (the prompt) above the kiosk window: window
// managers keep a transient window above its parent.
void KeepAbove(QWidget* window) {
  QWidget* kiosk = TheKiosk().window.data();
  if (kiosk == nullptr || window == kiosk) {
    return;
  }
  if (window->windowHandle() != nullptr && kiosk->windowHandle() != nullptr) {
    window->windowHandle()->setTransientParent(kiosk->windowHandle());
  }
  window->raise();
  window->activateWindow();
}

void ReleasePointer(Kiosk& k) {
  if (k.pointerPrompt != nullptr && k.pointerPrompt->windowHandle() != nullptr) {
    k.pointerPrompt->windowHandle()->setMouseGrabEnabled(false);
  }
  k.pointerPrompt = nullptr;
  if (k.window != nullptr) {
    k.window->releaseMouse();
  }
  k.state.pointerOnPrompt = false;
}

// Places the pointer grab: on the prompt's own window while a prompt is up (clicks
// there reach its controls, whereas clicks delivered to the kiosk window would be
// dropped as blocked by the modal prompt), else on the kiosk window. False when the
// prompt's window cannot take the grab yet (not mapped); the kiosk window then keeps it.
bool PlacePointerGrab() {
  Kiosk& k = TheKiosk();
  if (!k.state.grabbing || k.window == nullptr) {
    return true;
  }
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal != k.window && modal->isVisible() && modal->windowHandle() != nullptr) {
    if (k.pointerPrompt == modal) {
      return true;
    }
    k.window->releaseMouse();  // a client holds one pointer grab at a time
    if (modal->windowHandle()->setMouseGrabEnabled(true)) {
      k.pointerPrompt = modal;
      k.state.pointerOnPrompt = true;
      return true;
    }
    k.window->grabMouse();
    return false;
  }
  if (k.pointerPrompt != nullptr) {
    ReleasePointer(k);
  }
  if (QWidget::mouseGrabber() != k.window) {
    k.window->grabMouse();
  }
  return true;
}

// Retries PlacePointerGrab for a while: a prompt that has just been shown is mapped
// by the display server a little later.
void RetryPointerGrab() {
  Kiosk& k = TheKiosk();
  if (k.window == nullptr || PlacePointerGrab() || k.pointerRetries <= 0) {
    k.pointerRetries = 0;
    return;
  }
  --k.pointerRetries;
  QTimer::singleShot(100, k.window.data(), [] { RetryPointerGrab(); });
}

bool CKioskWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == this || !watched->isWidgetType() || !isVisible()) {
    return false;
  }
  auto* widget = static_cast<QWidget*>(watched);
  if (event->type() == QEvent::Show && widget->isWindow() && widget->isModal()) {
    KeepAbove(widget);
    TheKiosk().pointerRetries = 20;
    QTimer::singleShot(0, this, [] { RetryPointerGrab(); });
  } else if (event->type() == QEvent::Hide && widget == TheKiosk().pointerPrompt) {
    // The prompt went away while the kiosk holds on: the kiosk window takes the
    // pointer back.
    QTimer::singleShot(0, this, [] { (void)PlacePointerGrab(); });
  }
  return false;
}

bool OnUiThread() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  return app != nullptr && QThread::currentThread() == app->thread();
}

void Update() {
  Kiosk& k = TheKiosk();
  KioskState& s = k.state;
  const bool grabWanted = s.altTabDisabled || s.ctrlAltDelDisabled || s.taskSwitchingDisabled;
  const bool windowWanted = grabWanted || s.startButtonHidden || s.taskbarHidden;

  if (!windowWanted) {
    if (k.window != nullptr) {
      ReleasePointer(k);
      k.window->releaseKeyboard();
      k.window->hide();
      // Later: the last unlock usually arrives inside one of the window's own input
      // handlers (the forwarded Return or click).
      k.window->deleteLater();
      k.window = nullptr;
    }
    s.windowShown = false;
    s.grabbing = false;
    return;
  }

  if (k.window == nullptr) {
    k.window = new CKioskWindow;
  }
  CKioskWindow* w = k.window.data();
  if (!w->isVisible()) {
    // The screen the application works on (its active window), else the primary one.
    QScreen* screen = QApplication::activeWindow() != nullptr ? QApplication::activeWindow()->screen()
                                                               : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
      w->setGeometry(screen->geometry());
    }
    w->showFullScreen();
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != w) {
      KeepAbove(modal);
    }
  }
  s.windowShown = true;

  if (grabWanted && !s.grabbing) {
    w->grabKeyboard();
    s.grabbing = true;
    k.pointerRetries = 20;
    RetryPointerGrab();
  } else if (!grabWanted && s.grabbing) {
    ReleasePointer(k);
    w->releaseKeyboard();
    s.grabbing = false;
  }
}

BOOL Set(bool KioskState::*field, bool locked) {
  if (!OnUiThread()) {
    return FALSE;
  }
  TheKiosk().state.*field = locked;
  Update();
  return TRUE;
}

}  // namespace

KioskState State() { return TheKiosk().state; }

QWidget* Window() { return TheKiosk().window.data(); }

}  // namespace halvard::kiosk

using halvard::kiosk::KioskState;

extern "C" {

BOOL StartButton_Show_Hide(int show) { return halvard::kiosk::Set(&KioskState::startButtonHidden, show == 0); }

BOOL Taskbar_Show_Hide(int show) { return halvard::kiosk::Set(&KioskState::taskbarHidden, show == 0); }

BOOL AltTab2_Enable_Disable(int /*reserved*/, int enable) {
  return halvard::kiosk::Set(&KioskState::altTabDisabled, enable == 0);
}

BOOL CtrlAltDel_Enable_Disable(int enable) { return halvard::kiosk::Set(&KioskState::ctrlAltDelDisabled, enable == 0); }

BOOL TaskSwitching_Enable_Disable(int enable) {
  return halvard::kiosk::Set(&KioskState::taskSwitchingDisabled, enable == 0);
}

}
