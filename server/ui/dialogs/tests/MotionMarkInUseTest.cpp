// A running camera reports motion only inside the area marked with the dialog's marking
// editor: the simulated card's lane camera (input 2) has its moving object in the
// middle fifth of the picture, from half its width to seven tenths.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include <QCheckBox>
#include <QTest>

#include "platform/capture/CardState.h"
#include "server/engine/tests/EngineTestFixture.h"
#include "server/settings/Settings.h"
#include "server/ui/dialogs/MotionDetectionDialog.h"
#include "server/ui/dialogs/MotionMarkEditor.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

constexpr const char* kGroup = "BT878 Capture 0";
constexpr const char* kInput = "Input 2";

class MotionMarkInUse : public engine::testing::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    testing::App();
    engine::testing::RegisterFilterComponents();
  }
  // Opens "Motion Detection", switches detection on, clears the marking and clicks every
  // block whose centre lies between the two fractions of the picture's width; OK.
  void MarkColumns(double from, double to) {
    CMotionDetectionDialog dialog(testing::ModuleText, kGroup, kInput, QImage());
    dialog.findChild<QCheckBox*>("detection")->setChecked(true);
    dialog.adjustSize();
    CMotionMarkEditor& editor = dialog.Editor();
    editor.ClearAll();
    int columns = 0;
    while (editor.BlockAt(editor.CentreOf(columns, 0)) == QPoint(columns, 0)) {
      ++columns;
    }
    int rows = 0;
    while (editor.BlockAt(editor.CentreOf(0, rows)) == QPoint(0, rows)) {
      ++rows;
    }
    ASSERT_GT(columns, 4);
    ASSERT_GT(rows, 2);
    for (int c = 0; c < columns; ++c) {
      const double centre = (c + 0.5) / columns;
      for (int r = 0; r < rows && centre >= from && centre < to; ++r) {
        QTest::mouseClick(&editor, Qt::LeftButton, {}, editor.CentreOf(c, r));
      }
    }
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
  }
  // Runs the group for `seconds` (less when motion is reported) and returns the motion
  // lines of the camera.
  std::size_t MotionLinesWithin(double seconds) {
    engine::CameraRoster& r = MakeRoster();
    engine::CameraGroup* group = r.FindGroup(kGroup);
    EXPECT_NE(group, nullptr);
    if (group == nullptr || !r.StartGroup(*group)) {
      ADD_FAILURE() << ::testing::PrintToString(host->Messages());
      return 0;
    }
    const auto count = [this] {
      std::size_t n = 0;
      for (const std::string& line : host->Lines()) {
        n += line.find("<177>") != std::string::npos ? 1 : 0;
      }
      return n;
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (count() == 0 && std::chrono::steady_clock::now() < until) {
      (void)host->Queue().PumpOne(20);
    }
    r.StopGroup(*group);
    return count();
  }
};

TEST_F(MotionMarkInUse, OnlyTheMarkedAreaReportsMotion) {
  halvard::capture::SetSimulatedMotion(0, 2, true);
  MarkColumns(0.0, 0.4);  // left of the lane
  ASSERT_EQ(s::ReadMotionMark(kGroup, kInput).size(), 720u);
  EXPECT_EQ(MotionLinesWithin(8.0), 0u);

  MarkColumns(0.5, 0.7);  // the lane itself
  EXPECT_GE(MotionLinesWithin(15.0), 1u);
}

}  // namespace
}  // namespace halvard::ui::dialogs
