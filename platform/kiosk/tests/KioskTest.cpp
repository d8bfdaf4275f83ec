#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QWidget>

#include "platform/kiosk/ZelLock.h"

using halvard::kiosk::State;
using halvard::kiosk::Window;

namespace {

TEST(Kiosk, WithoutAnApplicationNothingHappens) {
  EXPECT_EQ(StartButton_Show_Hide(0), FALSE);
  EXPECT_EQ(TaskSwitching_Enable_Disable(0), FALSE);
  EXPECT_FALSE(State().startButtonHidden);
  EXPECT_EQ(Window(), nullptr);
}

TEST(Kiosk, TheWindowCoversTheScreenWhileAnythingIsLockedAndGrabsWhileSwitchingIsBlocked) {
  // Tests never need a display; the runner's environment may not say so.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  int argc = 1;
  char name[] = "kiosk_tests";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  EXPECT_EQ(Taskbar_Show_Hide(0), TRUE);
  QWidget* window = Window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isFullScreen());
  EXPECT_EQ(window->geometry(), QGuiApplication::primaryScreen()->geometry());
  EXPECT_FALSE(State().grabbing);
  EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);

  EXPECT_EQ(AltTab2_Enable_Disable(0, 0), TRUE);
  EXPECT_EQ(CtrlAltDel_Enable_Disable(0), TRUE);
  EXPECT_TRUE(State().grabbing);
  EXPECT_EQ(QWidget::keyboardGrabber(), window);
  EXPECT_EQ(QWidget::mouseGrabber(), window);

  // The grab holds until every kind of switching is allowed again.
  EXPECT_EQ(AltTab2_Enable_Disable(0, 1), TRUE);
  EXPECT_EQ(QWidget::keyboardGrabber(), window);
  EXPECT_EQ(CtrlAltDel_Enable_Disable(1), TRUE);
  EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  EXPECT_TRUE(State().windowShown);

  EXPECT_EQ(Taskbar_Show_Hide(1), TRUE);
  EXPECT_EQ(Window(), nullptr);
  EXPECT_FALSE(State().windowShown);
}

TEST(Kiosk, BlockingTaskSwitchingAloneStillNeedsTheWindow) {
  // Tests never need a display; the runner's environment may not say so.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  int argc = 1;
  char name[] = "kiosk_tests";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  EXPECT_EQ(TaskSwitching_Enable_Disable(0), TRUE);
  ASSERT_NE(Window(), nullptr);
  EXPECT_EQ(QWidget::keyboardGrabber(), Window());
  EXPECT_EQ(TaskSwitching_Enable_Disable(1), TRUE);
  EXPECT_EQ(Window(), nullptr);
}

}  // namespace
