// Every numbered text the server's code asks for is in the resource module. The numbers
// are collected from the sources (the kIds... and kText... constants of the server and
// its windows, with the ranges their comments name; the numbers the engine passes to
// Text() in place; and the menu label table), so a
// text added to the code without its string fails here.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <QRegularExpression>

#include "resources/ZelRes.h"
#include "server/ui/Commands.h"

namespace halvard::ui::dialogs {
namespace {

namespace fs = std::filesystem;

struct TextUse {
  unsigned id;
  std::string where;
};

std::vector<TextUse> NumberedTextsOfTheSources() {
  // QT_TESTCASE_SOURCEDIR is this folder (server/ui/dialogs).
  const fs::path server = fs::path(QT_TESTCASE_SOURCEDIR).parent_path().parent_path();
  // "constexpr UINT kIdsName = 4507;  // 4507 .. 4513" and "kTextName = 2100;".
  static const QRegularExpression constant(
      R"(constexpr\s+(?:UINT|unsigned)\s+(k(?:Ids|Text)\w+)\s*=\s*(\d+)\s*;(?:[ \t]*//[^\n]*?(\d+)\s*\.\.\s*(\d+))?)");
  // "host.Text(2003)": a number asked for in place.
  static const QRegularExpression literal(R"(\bText(?:Of)?\((?:\w+,\s*)?(\d{3,5})\))");
  std::vector<TextUse> uses;
  for (const auto& entry : fs::recursive_directory_iterator(server)) {
    const fs::path& path = entry.path();
    if (!entry.is_regular_file() || (path.extension() != ".h" && path.extension() != ".cpp") ||
        path.string().find("/tests/") != std::string::npos) {
      continue;
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const QString source = QString::fromStdString(text.str());
    const std::string file = fs::relative(path, server).string();
    for (auto it = constant.globalMatch(source); it.hasNext();) {
      const QRegularExpressionMatch m = it.next();
      const unsigned first = m.captured(2).toUInt();
      unsigned last = first;
      if (m.hasCaptured(3) && m.captured(3).toUInt() == first) {
        last = m.captured(4).toUInt();
      }
      for (unsigned id = first; id <= last; ++id) {
        uses.push_back({id, file + " " + m.captured(1).toStdString()});
      }
    }
    for (auto it = literal.globalMatch(source); it.hasNext();) {
      uses.push_back({it.next().captured(1).toUInt(), file});
    }
  }
  return uses;
}

TEST(ResourceTexts, EveryNumberedTextTheCodeAsksForIsInTheModule) {
  const std::vector<TextUse> uses = NumberedTextsOfTheSources();
  // The scan finds the constants of every layer that shows text (a broken pattern that
  // finds nothing must not pass).
  std::set<std::string> folders;
  for (const TextUse& use : uses) {
    folders.insert(use.where.substr(0, use.where.find('/')));
  }
  EXPECT_GT(uses.size(), 300u);
  for (const char* folder : {"ui", "engine"}) {
    EXPECT_TRUE(folders.count(folder)) << folder;
  }
  for (const TextUse& use : uses) {
    const char* text = ZelResLoadString(use.id);
    EXPECT_TRUE(text != nullptr && *text != '\0') << use.id << " (" << use.where << ") is not in the resource module";
  }
}

TEST(ResourceTexts, EveryMenuCommandHasItsLabel) {
  for (UINT command = 1; command < 65536; ++command) {
    const UINT label = MenuLabelId(command);
    if (label != 0) {
      const char* text = ZelResLoadString(label);
      EXPECT_TRUE(text != nullptr && *text != '\0') << "label " << label << " of command " << command;
    }
  }
}

}  // namespace
}  // namespace halvard::ui::dialogs
