// "Intelligent Detail Enhancement (IDE)": the group's level on opening, OK writing it
// only when changed, a stored level the dialog does not offer kept as it is.

#include <gtest/gtest.h>

#include <filesystem>

#include <QRadioButton>

#include "server/settings/Settings.h"
#include "server/ui/dialogs/ImageEnhancementDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

TEST(ImageEnhancement, OpensOnTheGroupsLevelAndOkWritesOnlyAChange) {
  testing::App();
  halvard::testing::ScopedRegistry registry;
  {
    CImageEnhancementDialog dialog(testing::ModuleText, "G");
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Intelligent Detail Enhancement (IDE)");
    EXPECT_TRUE(dialog.findChild<QRadioButton*>("level0")->isChecked());
    dialog.findChild<QRadioButton*>("level2")->setChecked(true);
    dialog.reject();
  }
  EXPECT_TRUE(testing::StoredValues(s::GroupKeyPath("G")).empty());
  {
    CImageEnhancementDialog dialog(testing::ModuleText, "G");
    dialog.accept();  // unchanged: nothing written
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
  EXPECT_TRUE(testing::StoredValues(s::GroupKeyPath("G")).empty());
  {
    CImageEnhancementDialog dialog(testing::ModuleText, "G");
    dialog.findChild<QRadioButton*>("level1")->setChecked(true);
    dialog.accept();
  }
  EXPECT_EQ(testing::StoredValues(s::GroupKeyPath("G")), (std::vector<std::string>{"Card IDE Level"}));
  EXPECT_EQ(s::kCardIdeLevel.Read("G"), 1u);

  s::kCardIdeLevel.Write("G", 7);
  CImageEnhancementDialog dialog(testing::ModuleText, "G");
  EXPECT_TRUE(dialog.findChild<QRadioButton*>("levelStored")->isChecked());
  EXPECT_EQ(dialog.Level(), 7u);
  dialog.accept();
  EXPECT_EQ(s::kCardIdeLevel.Read("G"), 7u);
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(dialog, "image-enhancement")));
}

}  // namespace
}  // namespace halvard::ui::dialogs
