// "Motion Detection": the stored values on opening, the always-disabled mail row and the
// always-written event file, the area drawn with the pointer and stored as 720 bytes,
// the sound file check and its test button.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "server/settings/Settings.h"
#include "server/ui/dialogs/MotionDetectionDialog.h"
#include "server/ui/dialogs/MotionMarkEditor.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

class MotionDetection : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    s::kDataResolution.Write("G", 0);  // 320 x 240: a grid of 10 x 7 blocks of 32
  }
  std::unique_ptr<CMotionDetectionDialog> Open(QImage still = {}) {
    auto dialog = std::make_unique<CMotionDetectionDialog>(testing::ModuleText, "G", "C", std::move(still));
    testing::RecordMessages(*dialog, messages);
    dialog->SetSoundPlayer([this](const std::string& path) {
      played.push_back(path);
      return std::filesystem::exists(path);
    });
    return dialog;
  }
  template <class W>
  static W* Field(QWidget& dialog, const char* name) {
    return dialog.findChild<W*>(name);
  }
  static void Drag(CMotionMarkEditor& editor, QPoint fromBlock, QPoint toBlock) {
    const QPoint from = editor.CentreOf(fromBlock.x(), fromBlock.y());
    const QPoint to = editor.CentreOf(toBlock.x(), toBlock.y());
    QTest::mousePress(&editor, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 8; ++step) {
      QTest::mouseMove(&editor, from + (to - from) * step / 8);
    }
    QTest::mouseRelease(&editor, Qt::LeftButton, {}, to);
  }

  halvard::testing::ScopedRegistry registry;
  halvard::testing::TempDir files;
  std::vector<std::string> messages;
  std::vector<std::string> played;
};

TEST_F(MotionDetection, OpensOnTheDefaultsWithTheFixedRowsAsTheyMustBe) {
  auto dialog = Open();
  const MotionValues values = dialog->Values();
  EXPECT_FALSE(values.detection);
  EXPECT_EQ(Field<QComboBox>(*dialog, "size")->count(), 3);
  EXPECT_EQ(Field<QComboBox>(*dialog, "size")->currentIndex(), 1);
  EXPECT_EQ(Field<QComboBox>(*dialog, "brightness")->count(), 5);
  EXPECT_EQ(Field<QComboBox>(*dialog, "brightness")->currentIndex(), 2);
  EXPECT_EQ(Field<QComboBox>(*dialog, "hold")->currentText().toStdString(), "2 minutes");
  EXPECT_EQ(Field<QComboBox>(*dialog, "hold")->itemText(0).toStdString(), "1 minute");
  EXPECT_EQ(Field<QComboBox>(*dialog, "hold")->itemText(4).toStdString(), "10 minutes");
  EXPECT_EQ(Field<QComboBox>(*dialog, "rearm")->count(), 3);
  EXPECT_EQ(Field<QComboBox>(*dialog, "rearm")->currentIndex(), 0);
  EXPECT_FALSE(Field<QLineEdit>(*dialog, "email")->isEnabled());
  EXPECT_FALSE(Field<QPushButton>(*dialog, "testEmail")->isEnabled());
  EXPECT_TRUE(Field<QCheckBox>(*dialog, "eventFile")->isChecked());
  EXPECT_FALSE(Field<QCheckBox>(*dialog, "eventFile")->isEnabled());
  // Nothing stored: every block of the grid is watched, and nothing else.
  const CMotionMark& mark = dialog->Editor().Mark();
  EXPECT_EQ(mark.Columns(), 10);
  EXPECT_EQ(mark.Rows(), 7);
  EXPECT_TRUE(mark.IsMarked(0, 0));
  EXPECT_TRUE(mark.IsMarked(9, 6));
  EXPECT_EQ(mark.Bytes().size(), 720u);
  EXPECT_EQ(mark.Bytes()[70 / 8] >> (70 % 8), 0) << "no bit past the grid";

  // OK without a change writes nothing.
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(testing::StoredValues(s::CameraKeyPath("G", "C")).empty());
}

TEST_F(MotionDetection, ADrawnAreaRoundTripsThroughTheStoredMark) {
  {
    auto dialog = Open();
    Field<QPushButton>(*dialog, "clearAll")->click();
    Drag(dialog->Editor(), {1, 1}, {3, 1});
    Drag(dialog->Editor(), {2, 4}, {2, 5});
    dialog->reject();
  }
  EXPECT_TRUE(testing::StoredValues(s::CameraKeyPath("G", "C")).empty()) << "Cancel stores nothing";

  auto dialog = Open();
  Field<QPushButton>(*dialog, "clearAll")->click();
  Drag(dialog->Editor(), {1, 1}, {3, 1});
  Drag(dialog->Editor(), {2, 4}, {2, 5});
  // A press on a marked block clears, and the drag goes on clearing.
  Drag(dialog->Editor(), {3, 1}, {3, 1});
  Field<QCheckBox>(*dialog, "detection")->setChecked(true);
  dialog->accept();
  ASSERT_EQ(dialog->result(), QDialog::Accepted);
  std::vector<BYTE> stored(720);
  ASSERT_TRUE(s::ReadBin(s::CameraKeyPath("G", "C"), s::kMotionMarkName, stored));
  std::vector<int> bits;
  for (int bit = 0; bit < 720 * 8; ++bit) {
    if ((stored[static_cast<std::size_t>(bit / 8)] >> (bit % 8) & 1) != 0) {
      bits.push_back(bit);
    }
  }
  // Block (c, r) is bit c + r x 10.
  EXPECT_EQ(bits, (std::vector<int>{11, 12, 42, 52}));
  EXPECT_EQ(s::kInputMotionDetection.Read("G", "C"), 1u);

  auto again = Open();
  EXPECT_TRUE(again->Editor().Mark().IsMarked(1, 1));
  EXPECT_FALSE(again->Editor().Mark().IsMarked(3, 1));
  EXPECT_TRUE(again->Editor().Mark().IsMarked(2, 5));
  Field<QPushButton>(*again, "markAll")->click();
  EXPECT_TRUE(again->Editor().Mark().IsMarked(9, 6));
}

TEST_F(MotionDetection, AnotherBlockSizeKeepsTheMarkedPartOfThePicture) {
  auto dialog = Open();
  Field<QPushButton>(*dialog, "clearAll")->click();
  Drag(dialog->Editor(), {0, 0}, {0, 0});  // the top left 32 x 32 block
  Field<QComboBox>(*dialog, "size")->setCurrentIndex(2);  // blocks of 16
  const CMotionMark& mark = dialog->Editor().Mark();
  EXPECT_EQ(mark.Columns(), 20);
  EXPECT_EQ(mark.Rows(), 14);
  EXPECT_TRUE(mark.IsMarked(0, 0));
  EXPECT_TRUE(mark.IsMarked(1, 1));
  EXPECT_FALSE(mark.IsMarked(2, 0));
  EXPECT_FALSE(mark.IsMarked(0, 2));
}

TEST_F(MotionDetection, TheSoundFileMustExistAndTheTestPlaysIt) {
  const std::string wave = files.File("alarm.wav");
  std::ofstream(wave) << "RIFF";
  auto dialog = Open();
  Field<QCheckBox>(*dialog, "sound")->setChecked(true);
  Field<QLineEdit>(*dialog, "soundFile")->setText(QString::fromStdString(files.File("missing.wav")));
  dialog->accept();
  EXPECT_NE(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(messages, (std::vector<std::string>{testing::ModuleText(kIdsSoundFileInvalid)}));
  EXPECT_TRUE(testing::StoredValues(s::CameraKeyPath("G", "C")).empty());

  Field<QPushButton>(*dialog, "testSound")->click();
  EXPECT_EQ(played, (std::vector<std::string>{files.File("missing.wav")}));
  EXPECT_EQ(messages.back(), testing::ModuleText(4334) + " " + files.File("missing.wav"));

  Field<QLineEdit>(*dialog, "soundFile")->setText(QString::fromStdString(wave));
  Field<QPushButton>(*dialog, "testSound")->click();
  EXPECT_EQ(played.back(), wave);
  messages.clear();
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(s::kMotionSound.Read("G", "C"), 1u);
  EXPECT_EQ(s::ReadMotionSoundFile("G", "C"), wave);
}

TEST_F(MotionDetection, RendersOffscreenOverGreyAndOverAStill) {
  auto dialog = Open();
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(*dialog, "motion-detection")));
  QImage still(320, 240, QImage::Format_RGB888);
  still.fill(QColor(40, 90, 160));
  auto withStill = Open(still);
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(*withStill, "motion-detection-still")));
}

}  // namespace
}  // namespace halvard::ui::dialogs
