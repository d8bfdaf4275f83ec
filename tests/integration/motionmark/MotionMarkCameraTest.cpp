// The area an operator draws in the Motion Detection dialog is the area a running camera
// watches: motion outside the marked blocks raises nothing, motion inside raises one
// event. The simulated card's third camera has an object that drives up and down a lane
// in columns 160 to 223 of its 320 x 240 picture (blocks 5 and 6 of the 32-pixel grid).
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include <chrono>
#include <functional>

#include "platform/capture/CardState.h"
#include "server/engine/tests/EngineTestFixture.h"
#include "server/ui/dialogs/MotionDetectionDialog.h"
#include "server/ui/dialogs/MotionMarkEditor.h"
#include "server/ui/tests/UiTestSupport.h"

namespace halvard::engine::testing {
namespace {

namespace s = halvard::settings;
using halvard::ui::dialogs::CameraStill;
using halvard::ui::dialogs::CMotionDetectionDialog;
using halvard::ui::dialogs::CMotionMarkEditor;

constexpr const char* kGroup = "BT878 Capture 0";
constexpr const char* kInput = "Input 2";
constexpr int kInputIndex = 2;

class MotionMarkCamera : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    halvard::ui::testing::App();
    RegisterFilterComponents();
    s::kDataResolution.Write(kGroup, 0);  // 320 x 240: 10 x 7 blocks of 32
    s::kInputMotionDetection.Write(kGroup, kInput, 1);
    halvard::capture::SetSimulatedMotion(0, kInputIndex, true);
  }
  bool RunUntil(const std::function<bool()>& done, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && std::chrono::steady_clock::now() < until) {
      (void)host->Queue().PumpOne(20);
    }
    return done();
  }
  void RunFor(double seconds) {
    (void)RunUntil([] { return false; }, seconds);
  }
  CameraGroup& Group() { return *roster->FindGroup(kGroup); }
  [[nodiscard]] std::size_t MotionLines() const {
    std::size_t n = 0;
    for (const std::string& line : host->Lines()) {
      n += line.find(std::string(kGroup) + "-" + kInput) != std::string::npos &&
           line.find("<177>") != std::string::npos;
    }
    return n;
  }
  /// Opens the dialog over the running camera's picture, as its context menu does,
  /// clears the grid, drags down every row of the given columns, and presses OK.
  void DrawColumns(int firstColumn, int lastColumn) {
    const QImage still = CameraStill(&Group(), kInputIndex);
    ASSERT_FALSE(still.isNull()) << "the running camera's snapshot gives its picture";
    CMotionDetectionDialog dialog(halvard::ui::testing::ModuleText, kGroup, kInput, still);
    CMotionMarkEditor& editor = dialog.Editor();
    ASSERT_EQ(editor.Mark().Columns(), 10);
    ASSERT_EQ(editor.Mark().Rows(), 7);
    dialog.findChild<QPushButton*>("clearAll")->click();
    for (int column = firstColumn; column <= lastColumn; ++column) {
      const QPoint from = editor.CentreOf(column, 0);
      const QPoint to = editor.CentreOf(column, 6);
      QTest::mousePress(&editor, Qt::LeftButton, {}, from);
      for (int step = 1; step <= 12; ++step) {
        QTest::mouseMove(&editor, from + (to - from) * step / 12);
      }
      QTest::mouseRelease(&editor, Qt::LeftButton, {}, to);
    }
    for (int column = 0; column < 10; ++column) {
      for (int row = 0; row < 7; ++row) {
        ASSERT_EQ(editor.Mark().IsMarked(column, row), column >= firstColumn && column <= lastColumn)
            << column << "," << row;
      }
    }
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
  }
  /// The mark applies from the next start of the group.
  void Restart() {
    roster->StopGroup(Group());
    ASSERT_TRUE(roster->StartGroup(Group())) << ::testing::PrintToString(host->Lines());
  }
};

TEST_F(MotionMarkCamera, OnlyMotionInsideTheDrawnAreaIsReported) {
  CameraRoster& cameras = MakeRoster(true);
  ASSERT_TRUE(cameras.StartGroup(Group()));
  // With nothing stored the whole grid is watched: the moving object is seen.
  ASSERT_TRUE(RunUntil([&] { return MotionLines() == 1; }, 15.0)) << ::testing::PrintToString(host->Lines());

  // The left three columns only: the lane is outside, and the object keeps moving there
  // for several crossings without a single event.
  DrawColumns(0, 2);
  Restart();
  ASSERT_TRUE(RunUntil([&] { return host->Frames(std::string(kGroup) + "-" + kInput) > 0; }, 10.0));
  const auto frames = host->Frames(std::string(kGroup) + "-" + kInput);
  RunFor(6.0);
  EXPECT_GT(host->Frames(std::string(kGroup) + "-" + kInput), frames + 20) << "the camera kept running";
  EXPECT_EQ(MotionLines(), 1u) << ::testing::PrintToString(host->Lines());

  // The lane's two columns: the next episode is reported.
  DrawColumns(5, 6);
  Restart();
  EXPECT_TRUE(RunUntil([&] { return MotionLines() == 2; }, 15.0)) << ::testing::PrintToString(host->Lines());
  roster->StopGroup(Group());
}

}  // namespace
}  // namespace halvard::engine::testing
