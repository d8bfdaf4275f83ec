#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>

#include "platform/com/Com.h"

namespace {

using halvard::com::FormatGuid;
using halvard::com::ParseGuid;
using halvard::com::ResultName;

HALVARD_DEFINE_GUID(kSample, 0x8A1650A2, 0x3AA9, 0x477A, 0xA2, 0x1F, 0x79, 0x05, 0xBF, 0x40, 0x43, 0x11);

TEST(Guid, FormatsUpperCaseWithBracesAndParsesBack) {
  EXPECT_EQ(FormatGuid(kSample), "{8A1650A2-3AA9-477A-A21F-7905BF404311}");
  EXPECT_EQ(FormatGuid(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
  const GUID extremes{0xFFFFFFFF, 0xFFFF, 0x0001, {0x00, 0xFF, 0x10, 0x01, 0x80, 0x7F, 0xAB, 0xCD}};
  for (const GUID& g : {kSample, GUID_NULL, extremes, IID_IClassFactory}) {
    GUID back{};
    ASSERT_TRUE(ParseGuid(FormatGuid(g), &back)) << FormatGuid(g);
    EXPECT_EQ(back, g);
  }
  GUID lower{};
  ASSERT_TRUE(ParseGuid("{8a1650a2-3aa9-477a-a21f-7905bf404311}", &lower));
  EXPECT_EQ(lower, kSample);
}

TEST(Guid, RefusesAnythingButTheBracedFormAndClearsTheResult) {
  const char* const bad[] = {
      "8A1650A2-3AA9-477A-A21F-7905BF404311",      // no braces
      "{8A1650A2-3AA9-477A-A21F-7905BF404311",     // closing brace missing
      "(8A1650A2-3AA9-477A-A21F-7905BF404311)",    // wrong brackets
      "{8A1650A2-3AA9-477A-A21F-7905BF40431}",     // one digit short
      "{8A1650A2-3AA9-477A-A21F-7905BF4043111}",   // one digit too many
      "{8A1650A2-3AA9-477A-A21F-7905BF404311} ",   // trailing blank
      "{8A1650AG-3AA9-477A-A21F-7905BF404311}",    // G is no digit
      "{8A1650A2-3AA9-477A-A21F-7905BF40431 }",    // blank inside
      "{8A1650A2+3AA9-477A-A21F-7905BF404311}",    // separator
      "{8A1650A-23AA9-477A-A21F-7905BF404311}",    // dash moved
      "{8A1650A2-3AA9-477A-A21F7-905BF404311}",    // dash moved in the last group
      "{-8A1650A2-3AA9-477A-A21F-7905BF40431}",    // sign
      "",
  };
  for (const char* text : bad) {
    GUID g = kSample;
    EXPECT_FALSE(ParseGuid(text, &g)) << text;
    EXPECT_EQ(g, GUID_NULL) << text;
  }
  EXPECT_FALSE(ParseGuid("{8A1650A2-3AA9-477A-A21F-7905BF404311}", nullptr));
}

TEST(Guid, HashAndOrderSeparateDistinctGuids) {
  const GUID other{kSample.Data1, kSample.Data2, kSample.Data3, {0xA2, 0x1F, 0x79, 0x05, 0xBF, 0x40, 0x43, 0x12}};
  EXPECT_NE(kSample, other);
  EXPECT_TRUE((kSample < other) != (other < kSample));
  EXPECT_NE(halvard::com::GuidHash()(kSample), halvard::com::GuidHash()(other));
}

// Every result code the header declares has its own name, so that no diagnostic
// prints a bare number for a code the system knows.
TEST(ResultName, NamesEveryCodeOfTheHeader) {
  std::ifstream header(HALVARD_COM_HEADER);
  ASSERT_TRUE(header.good()) << HALVARD_COM_HEADER;
  // Lines of the form "constexpr HRESULT NAME = VALUE;" or "= MAKE_HRESULT_CODE(VALUE);".
  std::map<std::uint32_t, std::set<std::string>> names;
  const std::string prefix = "constexpr HRESULT ";
  std::string line;
  while (std::getline(header, line)) {
    const auto equals = line.find(" = ");
    if (!line.starts_with(prefix) || equals == std::string::npos) {
      continue;
    }
    const std::string name = line.substr(prefix.size(), equals - prefix.size());
    std::string value = line.substr(equals + 3);
    if (value.starts_with("MAKE_HRESULT_CODE(")) {
      value = value.substr(std::string("MAKE_HRESULT_CODE(").size());
    }
    names[static_cast<std::uint32_t>(std::stoul(value, nullptr, 0))].insert(name);
  }
  ASSERT_GE(names.size(), 80u);  // the pattern really matched the declarations
  for (const auto& [value, codeNames] : names) {
    const std::string name = ResultName(static_cast<HRESULT>(value));
    EXPECT_TRUE(codeNames.count(name) == 1) << "0x" << std::hex << value << " is named " << name;
  }
  // The shared value gets the media pipeline's name.
  EXPECT_EQ(ResultName(SELFREG_E_CLASS), "VFW_E_INVALIDSUBTYPE");
  EXPECT_EQ(ResultName(NS_E_VIDEO_CODEC_NOT_INSTALLED), "NS_E_VIDEO_CODEC_NOT_INSTALLED");
  EXPECT_EQ(ResultName(static_cast<HRESULT>(0x80041234)), "0x80041234");
  EXPECT_EQ(ResultName(2), "0x00000002");
  EXPECT_EQ(ResultName(HRESULT_FROM_WIN32(5)), "E_ACCESSDENIED");
}

}  // namespace
