// What every dialog shares: texts with their numbers put in, field names for messages,
// and the changes written together or not at all.

#include <gtest/gtest.h>

#include "platform/registry/Registry.h"
#include "server/settings/Settings.h"
#include "server/ui/dialogs/DialogBase.h"
#include "server/ui/dialogs/SettingsChanges.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

TEST(DialogTexts, NumbersArePutInByHandAndLabelsLoseTheirMnemonics) {
  EXPECT_EQ(FormatText("%s must be a whole number from %ld to %ld.", {"Frame Rate", "1", "60"}),
            "Frame Rate must be a whole number from 1 to 60.");
  EXPECT_EQ(FormatText("%d minutes", {"10"}), "10 minutes");
  // A text with fewer markers than numbers, or a stray percent sign, is never a format.
  EXPECT_EQ(FormatText("100% %d", {"5", "6"}), "100% 5");
  EXPECT_EQ(FormatText("%d and %d", {"1"}), "1 and %d");
  EXPECT_EQ(FieldName("&Bitrate (Kbps):"), "Bitrate (Kbps)");
  EXPECT_EQ(FieldName("Access && Privacy"), "Access & Privacy");
  EXPECT_EQ(FieldName("Sa&mple Rate: "), "Sample Rate");
}

TEST(SettingsChanges, EveryWriteLandsInOneTransactionAndNothingBeginsWhenEmpty) {
  halvard::testing::ScopedRegistry registry;
  CSettingsChanges none;
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(none.Commit(), ERROR_SUCCESS);

  CSettingsChanges changes;
  changes.Add("Video Bitrate", [] { s::kVideoBitrate.Write("G", "C", 600); });
  changes.Add("Video File Length", [] { s::kVideoFileLength.Write("G", 3); });
  EXPECT_EQ(changes.Names(), (std::vector<std::string>{"Video Bitrate", "Video File Length"}));
  EXPECT_EQ(changes.Commit(), ERROR_SUCCESS);
  EXPECT_EQ(s::kVideoBitrate.Read("G", "C"), 600u);
  EXPECT_EQ(s::kVideoFileLength.Read("G"), 3u);
}

}  // namespace
}  // namespace halvard::ui::dialogs
