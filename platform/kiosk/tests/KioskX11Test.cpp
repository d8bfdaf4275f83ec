// The kiosk on a real X server (Xvfb): the grab keeps other clients (the window
// manager's Alt+Tab among them) from the keyboard, and the prompt stays usable with
// keys and clicks made through the XTest extension. Skipped where Xvfb or the XTest
// library is missing.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <string>

#include "platform/kiosk/ZelLock.h"

extern char** environ;

namespace {

// The few Xlib and XTest calls the test makes, bound at run time so that the build
// needs neither library.
struct X11 {
  using Display = void;
  void* xlib = nullptr;
  void* xtst = nullptr;
  Display* (*OpenDisplay)(const char*) = nullptr;
  int (*CloseDisplay)(Display*) = nullptr;
  int (*Flush)(Display*) = nullptr;
  unsigned char (*KeysymToKeycode)(Display*, unsigned long) = nullptr;
  unsigned long (*DefaultRootWindow)(Display*) = nullptr;
  int (*GrabKeyboard)(Display*, unsigned long, int, int, int, unsigned long) = nullptr;
  int (*UngrabKeyboard)(Display*, unsigned long) = nullptr;
  int (*FakeKeyEvent)(Display*, unsigned, int, unsigned long) = nullptr;
  int (*FakeButtonEvent)(Display*, unsigned, int, unsigned long) = nullptr;
  int (*FakeMotionEvent)(Display*, int, int, int, unsigned long) = nullptr;

  bool Load() {
    xlib = dlopen("libX11.so.6", RTLD_NOW);
    xtst = dlopen("libXtst.so.6", RTLD_NOW);
    if (xlib == nullptr || xtst == nullptr) {
      return false;
    }
    OpenDisplay = reinterpret_cast<decltype(OpenDisplay)>(dlsym(xlib, "XOpenDisplay"));
    CloseDisplay = reinterpret_cast<decltype(CloseDisplay)>(dlsym(xlib, "XCloseDisplay"));
    Flush = reinterpret_cast<decltype(Flush)>(dlsym(xlib, "XFlush"));
    KeysymToKeycode = reinterpret_cast<decltype(KeysymToKeycode)>(dlsym(xlib, "XKeysymToKeycode"));
    DefaultRootWindow = reinterpret_cast<decltype(DefaultRootWindow)>(dlsym(xlib, "XDefaultRootWindow"));
    GrabKeyboard = reinterpret_cast<decltype(GrabKeyboard)>(dlsym(xlib, "XGrabKeyboard"));
    UngrabKeyboard = reinterpret_cast<decltype(UngrabKeyboard)>(dlsym(xlib, "XUngrabKeyboard"));
    FakeKeyEvent = reinterpret_cast<decltype(FakeKeyEvent)>(dlsym(xtst, "XTestFakeKeyEvent"));
    FakeButtonEvent = reinterpret_cast<decltype(FakeButtonEvent)>(dlsym(xtst, "XTestFakeButtonEvent"));
    FakeMotionEvent = reinterpret_cast<decltype(FakeMotionEvent)>(dlsym(xtst, "XTestFakeMotionEvent"));
    return OpenDisplay && CloseDisplay && Flush && KeysymToKeycode && DefaultRootWindow && GrabKeyboard &&
           UngrabKeyboard && FakeKeyEvent && FakeButtonEvent && FakeMotionEvent;
  }
};

// An Xvfb of its own, on the display number the server picks.
class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (pipe(fds) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>("Xvfb"), const_cast<char*>("-displayfd"), const_cast<char*>("3"),
                    const_cast<char*>("-screen"), const_cast<char*>("0"), const_cast<char*>("1024x768x24"),
                    const_cast<char*>("-nolisten"), const_cast<char*>("tcp"), nullptr};
    const int rc = posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      m_pid = -1;
      close(fds[0]);
      return;
    }
    char buffer[32] = {};
    std::size_t got = 0;
    while (got < sizeof buffer - 1) {
      const ssize_t n = read(fds[0], buffer + got, sizeof buffer - 1 - got);
      if (n <= 0) {
        break;
      }
      got += static_cast<std::size_t>(n);
      if (buffer[got - 1] == '\n') {
        break;
      }
    }
    close(fds[0]);
    if (got > 1) {
      m_display = ":" + std::string(buffer, got - 1);
    }
  }
  ~Xvfb() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      int status = 0;
      waitpid(m_pid, &status, 0);
    }
  }
  [[nodiscard]] const std::string& Display() const { return m_display; }

 private:
  pid_t m_pid = -1;
  std::string m_display;
};

constexpr int kGrabSuccess = 0;
constexpr int kAlreadyGrabbed = 1;
constexpr int kGrabModeAsync = 1;

TEST(KioskOnX11, TheGrabKeepsOtherClientsOutAndThePromptUsable) {
  X11 x;
  if (!x.Load()) {
    GTEST_SKIP() << "libX11 or libXtst is not installed";
  }
  Xvfb server;
  if (server.Display().empty()) {
    GTEST_SKIP() << "Xvfb is not installed";
  }
  setenv("DISPLAY", server.Display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  int argc = 1;
  char name[] = "kiosk_tests";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  X11::Display* other = x.OpenDisplay(server.Display().c_str());
  ASSERT_NE(other, nullptr);

  QWidget main;
  main.resize(400, 300);
  main.show();
  QDialog prompt(&main);
  prompt.setWindowModality(Qt::ApplicationModal);
  auto* box = new QLineEdit(&prompt);
  auto* ok = new QPushButton("OK", &prompt);
  ok->setDefault(true);
  auto* layout = new QVBoxLayout(&prompt);
  layout->addWidget(box);
  layout->addWidget(ok);
  int accepted = 0;
  QObject::connect(ok, &QPushButton::clicked, &prompt, [&] {
    if (box->text() == "Secret") {
      ++accepted;
      StartButton_Show_Hide(1);
      Taskbar_Show_Hide(1);
      AltTab2_Enable_Disable(0, 1);
      CtrlAltDel_Enable_Disable(1);
      TaskSwitching_Enable_Disable(1);
      prompt.accept();
    }
  });
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));

  // The lock as it opens: kiosk on, then the prompt.
  StartButton_Show_Hide(0);
  Taskbar_Show_Hide(0);
  AltTab2_Enable_Disable(0, 0);
  CtrlAltDel_Enable_Disable(0);
  TaskSwitching_Enable_Disable(0);
  prompt.show();
  box->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&prompt));
  ASSERT_TRUE(QTest::qWaitFor([] { return halvard::kiosk::State().pointerOnPrompt; }, 5000));

  // No other client gets the keyboard while the kiosk holds it.
  EXPECT_EQ(x.GrabKeyboard(other, x.DefaultRootWindow(other), 0, kGrabModeAsync, kGrabModeAsync, 0), kAlreadyGrabbed);

  const auto press = [&](unsigned long keysym, bool shift = false) {
    const unsigned shiftCode = x.KeysymToKeycode(other, 0xffe1);
    if (shift) {
      x.FakeKeyEvent(other, shiftCode, 1, 0);
    }
    const unsigned code = x.KeysymToKeycode(other, keysym);
    x.FakeKeyEvent(other, code, 1, 0);
    x.FakeKeyEvent(other, code, 0, 0);
    if (shift) {
      x.FakeKeyEvent(other, shiftCode, 0, 0);
    }
    x.Flush(other);
  };
  press('s');
  press('e');
  press(0xff0d);  // Return: OK with the wrong password
  QTest::qWait(300);
  EXPECT_EQ(box->text(), "se");
  EXPECT_TRUE(prompt.isVisible());
  EXPECT_EQ(accepted, 0);

  box->clear();
  press('s', true);
  for (const char c : std::string("ecret")) {
    press(static_cast<unsigned long>(c));
  }
  QTest::qWait(300);
  EXPECT_EQ(box->text(), "Secret");
  // A click on OK.
  const QPoint onOk = ok->mapToGlobal(ok->rect().center());
  x.FakeMotionEvent(other, -1, onOk.x(), onOk.y(), 0);
  x.FakeButtonEvent(other, 1, 1, 0);
  x.FakeButtonEvent(other, 1, 0, 0);
  x.Flush(other);
  EXPECT_TRUE(QTest::qWaitFor([&] { return accepted == 1; }, 3000));
  QTest::qWait(200);

  // The desktop is free again.
  EXPECT_FALSE(halvard::kiosk::State().grabbing);
  EXPECT_EQ(x.GrabKeyboard(other, x.DefaultRootWindow(other), 0, kGrabModeAsync, kGrabModeAsync, 0), kGrabSuccess);
  x.UngrabKeyboard(other, 0);
  x.CloseDisplay(other);
}

}  // namespace
