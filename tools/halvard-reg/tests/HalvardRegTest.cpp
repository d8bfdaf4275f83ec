#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/base/Text.h"
#include "platform/registry/Registry.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"
#include "tools/halvard-reg/RegText.h"

using halvard::testing::RunCommand;
using halvard::testing::ShellQuote;

namespace {

void Raw(HKEY root, const std::string& path, const std::string& name, DWORD type, std::vector<BYTE> data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(root, path, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, name, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
  RegCloseKey(key);
}

void FillAwkwardStore() {
  const std::string sys = "Software\\Tesmark\\Halvard Surveillance Server\\System";
  Raw(HKEY_LOCAL_MACHINE, sys, "Boot Auto Start", REG_DWORD, {1, 0, 0, 0});
  Raw(HKEY_LOCAL_MACHINE, sys, "Zero DWORD", REG_DWORD, {});
  Raw(HKEY_LOCAL_MACHINE, sys, "Short DWORD", REG_DWORD, {7, 8});
  Raw(HKEY_LOCAL_MACHINE, sys, "Quotes \"and\" \\slashes\\", REG_SZ,
      halvard::text::ToWideBytes("C:\\Archive\\\"x\"\nline two \xC3\xA9\xF0\x9F\x93\xB7"));
  Raw(HKEY_LOCAL_MACHINE, sys, "", REG_SZ, halvard::text::ToWideBytes("default value"));
  Raw(HKEY_LOCAL_MACHINE, sys, "No terminator", REG_SZ, {'a', 0, 'b', 0});
  Raw(HKEY_LOCAL_MACHINE, sys, "Control", REG_SZ, halvard::text::ToWideBytes(std::string("bell\x07", 5)));
  Raw(HKEY_LOCAL_MACHINE, sys, "Empty binary", REG_BINARY, {});
  Raw(HKEY_LOCAL_MACHINE, sys, "Quad", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
  std::vector<BYTE> mark(720);
  for (std::size_t i = 0; i < mark.size(); ++i) {
    mark[i] = static_cast<BYTE>(i * 7);
  }
  Raw(HKEY_LOCAL_MACHINE, "Software\\Tesmark\\Halvard Surveillance Server\\Camera Group\\G\\Input 0", "Motion Mark",
      REG_BINARY, mark);
  HKEY empty = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE,
                           "Software\\Tesmark\\Halvard Surveillance Server\\Camera Group\\G\\Input 0\\2026-12-07\\"
                           "BT878 Capture 0-Input 0 MON DEC 07 2026 20-10-33.wmv",
                           &empty),
            ERROR_SUCCESS);
  RegCloseKey(empty);
  Raw(HKEY_CURRENT_USER, "Software\\Tesmark\\Halvard\\Workspace", "Width", REG_DWORD, {200, 0, 0, 0});
}

std::string ExportAll() {
  std::string text;
  std::string error;
  EXPECT_TRUE(halvard::regtext::Export("", &text, &error)) << error;
  return text;
}

}  // namespace

TEST(RegText, ExportImportRoundTripIsExact) {
  std::string first;
  {
    halvard::testing::ScopedRegistry store;
    FillAwkwardStore();
    first = ExportAll();
  }
  EXPECT_NE(first.find("\"Zero DWORD\"=hex(4):\n"), std::string::npos) << first;
  EXPECT_NE(first.find("\"No terminator\"=hex(1):61,00,62,00\n"), std::string::npos);
  EXPECT_NE(first.find("@=\"default value\"\n"), std::string::npos);
  EXPECT_NE(first.find("\"Boot Auto Start\"=dword:00000001\n"), std::string::npos);
  EXPECT_NE(first.find("[HKEY_CURRENT_USER\\Software\\Tesmark\\Halvard\\Workspace]"), std::string::npos);

  halvard::testing::ScopedRegistry fresh;
  std::string error;
  ASSERT_TRUE(halvard::regtext::Import(first, &error)) << error;
  EXPECT_EQ(ExportAll(), first);
  // Sizes and types survive, not only the text.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Tesmark\\Halvard Surveillance Server\\System", 0, KEY_READ,
                         &key),
            ERROR_SUCCESS);
  DWORD type = 0;
  DWORD size = 99;
  ASSERT_EQ(RegQueryValueEx(key, "Zero DWORD", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 0u);
  RegCloseKey(key);
}

TEST(RegText, ImportWithAnErrorChangesNothing) {
  halvard::testing::ScopedRegistry store;
  FillAwkwardStore();
  const std::string before = ExportAll();
  const std::string bad = std::string(halvard::regtext::kHeader) +
                          "\n\n[HKEY_LOCAL_MACHINE\\Software\\New]\n\"a\"=dword:00000001\n\"b\"=dword:12\n";
  std::string error;
  EXPECT_FALSE(halvard::regtext::Import(bad, &error));
  EXPECT_EQ(error.rfind("line 5:", 0), 0u) << error;
  EXPECT_EQ(ExportAll(), before);

  for (const std::string& text :
       {std::string("not a header\n"), std::string(halvard::regtext::kHeader) + "\n\"v\"=dword:00000001\n",
        std::string(halvard::regtext::kHeader) + "\n[HKEY_NOWHERE\\x]\n",
        std::string(halvard::regtext::kHeader) + "\n[HKLM\\a]\n\"v\"=hex:1,2\n",
        std::string(halvard::regtext::kHeader) + "\n[HKLM\\a]\n\"v=\"x\"\n",
        std::string(halvard::regtext::kHeader) + "\n[HKLM\\a\\\\b]\n", std::string()}) {
    EXPECT_FALSE(halvard::regtext::Import(text, &error)) << text;
  }
  EXPECT_EQ(ExportAll(), before);
}

class HalvardRegTool : public ::testing::Test {
 protected:
  std::string Tool(const std::string& args) {
    return ShellQuote(halvard::testing::ProgramPath("halvard-reg")) + " " + args;
  }
  halvard::testing::ScopedRegistry m_store;  // the tool inherits $HALVARD_REGISTRY
};

TEST_F(HalvardRegTool, SettingsOfACameraMarkEveryDefault) {
  const std::string group = "HKLM\\Software\\Tesmark\\Halvard Surveillance Server\\Camera Group\\BT878 Capture 1";
  auto r = RunCommand(Tool("set " + ShellQuote(group) + " 'Card Friendly Name' sz 'BT878 Capture 1'"), true);
  ASSERT_EQ(r.status, 0) << r.output;
  r = RunCommand(Tool("settings 'BT878 Capture 1' 'Input 2'"), true);
  ASSERT_EQ(r.status, 0) << r.output;
  std::istringstream lines(r.output);
  std::string line;
  int rows = 0;
  bool port = false;
  while (std::getline(lines, line)) {
    if (line.find(" DWORD ") == std::string::npos && line.find(" SZ ") == std::string::npos &&
        line.find(" BIN ") == std::string::npos) {
      continue;
    }
    ++rows;
    EXPECT_TRUE(line.ends_with(" default")) << line;  // nothing of the camera is stored
    if (line.starts_with("Internet Port ")) {
      port = line.find(" 10006 ") != std::string::npos;
    }
  }
  EXPECT_TRUE(port) << r.output;
  EXPECT_EQ(rows, 49);  // the whole camera table, families listed only where stored

  ASSERT_EQ(RunCommand(Tool("set " + ShellQuote(group + "\\Input 2") + " 'Video Bitrate' dword 0x100")).status, 0);
  r = RunCommand(Tool("settings 'BT878 Capture 1' 'Input 2'"));
  EXPECT_NE(r.output.find("256"), std::string::npos);
  EXPECT_NE(r.output.find("stored (default 400)"), std::string::npos) << r.output;
}

TEST_F(HalvardRegTool, QuerySetDeleteExportImport) {
  const std::string key = ShellQuote("HKCU\\Software\\Probe");
  ASSERT_EQ(RunCommand(Tool("set " + key + " Count dword 42")).status, 0);
  ASSERT_EQ(RunCommand(Tool("set " + key + " Bytes binary 'de ad,be:ef'")).status, 0);
  ASSERT_EQ(RunCommand(Tool("set " + key + " '' sz hello")).status, 0);
  auto r = RunCommand(Tool("query " + key + " Count"));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("REG_DWORD  4 bytes  42"), std::string::npos) << r.output;
  r = RunCommand(Tool("query " + key));
  EXPECT_NE(r.output.find("hex:de,ad,be,ef"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("@  REG_SZ"), std::string::npos) << r.output;

  halvard::testing::TempDir dir;
  const std::string file = dir.File("store.txt");
  ASSERT_EQ(RunCommand(Tool("export " + ShellQuote(file))).status, 0);
  ASSERT_EQ(RunCommand(Tool("delete " + key + " Count")).status, 0);
  EXPECT_EQ(RunCommand(Tool("query " + key + " Count")).status, 1);
  ASSERT_EQ(RunCommand(Tool("import " + ShellQuote(file))).status, 0);
  EXPECT_EQ(RunCommand(Tool("query " + key + " Count")).status, 0);
  ASSERT_EQ(RunCommand(Tool("delete " + key)).status, 0);
  EXPECT_EQ(RunCommand(Tool("query " + key)).status, 1);
}

TEST_F(HalvardRegTool, BadInputGetsAClearErrorAndChangesNothing) {
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"", 2, "usage"},
      {"frobnicate", 2, "unknown command"},
      {"set 'HKLM\\Software\\X' v dword 12abc", 1, "not a 32-bit number"},
      {"set 'HKLM\\Software\\X' v dword 4294967296", 1, "not a 32-bit number"},
      {"set 'HKLM\\Software\\X' v binary abc", 1, "hexadecimal"},
      {"set 'HKLM\\Software\\X' v qword 1", 2, "unknown type"},
      {"set 'HKXX\\Software\\X' v sz a", 1, "unknown root"},
      {"set 'HKLM\\Software\\\\X' v sz a", 1, "ERROR_INVALID_PARAMETER"},
      {"query 'HKLM\\Software\\Missing'", 1, "ERROR_FILE_NOT_FOUND"},
      {"delete 'HKLM'", 1, "root key cannot be deleted"},
      {"import /nonexistent/file", 1, "cannot read"},
      {"export /nonexistent/dir/file", 1, "cannot write"},
      {"settings a b c", 2, "settings takes"},
  };
  for (const Case& c : cases) {
    const auto r = RunCommand(Tool(c.args), true);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
  }
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\X", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}
