#include <gtest/gtest.h>

#include "tools/halvard-graph/GraphLine.h"

namespace halvard::graphtool {
namespace {

GraphSpec Parse(const std::string& line) {
  std::vector<std::string> words;
  std::string error;
  EXPECT_TRUE(SplitWords(line, &words, &error)) << error;
  GraphSpec spec;
  EXPECT_TRUE(ParseGraphLine(words, &spec, &error)) << line << ": " << error;
  return spec;
}

std::string ParseError(const std::string& line) {
  std::vector<std::string> words;
  std::string error;
  if (!SplitWords(line, &words, &error)) {
    return error;
  }
  GraphSpec spec;
  EXPECT_FALSE(ParseGraphLine(words, &spec, &error)) << line;
  return error;
}

TEST(GraphLine, ChainWithPropertiesAndQuotedWords) {
  const GraphSpec s = Parse("capture device=\"BT878 Capture 0\" width=320 ! tee name=t ! renderer");
  ASSERT_EQ(s.filters.size(), 3u);
  EXPECT_EQ(s.filters[0].factory, "capture");
  ASSERT_EQ(s.filters[0].properties.size(), 2u);
  EXPECT_EQ(s.filters[0].properties[0], (std::pair<std::string, std::string>{"device", "BT878 Capture 0"}));
  EXPECT_EQ(s.filters[1].name, "t");
  EXPECT_TRUE(s.filters[1].properties.empty());
  ASSERT_EQ(s.links.size(), 2u);
  EXPECT_EQ(s.links[0].from, 0u);
  EXPECT_EQ(s.links[0].to, 1u);
  EXPECT_EQ(s.links[1].from, 1u);
  EXPECT_EQ(s.links[1].to, 2u);
}

TEST(GraphLine, NamedBranchesAndPins) {
  const GraphSpec s = Parse("'BT878 Capture 1'!tee name=t ! count t.Preview ! renderer  rawsrc ! t2. count name=t2");
  ASSERT_EQ(s.filters.size(), 6u);
  EXPECT_EQ(s.filters[0].factory, "BT878 Capture 1");
  ASSERT_EQ(s.links.size(), 4u);
  EXPECT_EQ(s.links[1].from, 1u);  // tee -> count
  EXPECT_EQ(s.links[1].to, 2u);
  EXPECT_EQ(s.links[2].from, 1u);  // t.Preview -> renderer
  EXPECT_EQ(s.links[2].fromPin, "Preview");
  EXPECT_EQ(s.links[2].to, 3u);
  EXPECT_EQ(s.links[3].from, 4u);  // rawsrc -> the count named later
  EXPECT_EQ(s.links[3].to, 5u);
  EXPECT_EQ(s.links[3].toPin, "");
}

TEST(GraphLine, ClassIdentifiersAndDottedDeviceNames) {
  const GraphSpec s = Parse("{B1C4CADD-7820-4434-8DA1-9177F110EDA1} ! \"USB2.0 Camera\" ! rawsink location=out.yuv");
  ASSERT_EQ(s.filters.size(), 3u);
  EXPECT_EQ(s.filters[1].factory, "USB2.0 Camera");
  EXPECT_EQ(s.filters[2].properties[0].second, "out.yuv");
}

TEST(GraphLine, SyntaxErrorsAreReported) {
  EXPECT_EQ(ParseError(""), "line: no filters");
  EXPECT_EQ(ParseError("! tee"), "line: \"!\" before the first filter");
  EXPECT_EQ(ParseError("tee ! ! count"), "line: \"!\" twice in a row");
  EXPECT_EQ(ParseError("tee !"), "line: \"!\" at the end");
  EXPECT_EQ(ParseError("width=3 tee"), "line: property \"width=3\" does not follow a filter");
  EXPECT_EQ(ParseError("tee ! x."), "line: no filter is named \"x\"");
  EXPECT_EQ(ParseError("tee name=a count name=a"), "line: two filters are named \"a\"");
  EXPECT_EQ(ParseError("tee name=a ! a."), "line: a filter cannot be linked to itself");
  EXPECT_EQ(ParseError("capture device=\"open"), "line: unclosed quote");
}

TEST(GraphLine, JoinedArgumentsParseAsWritten) {
  const std::string line = JoinArguments({"capture", "device=BT878 Capture 0", "!", "BT878 Capture 1", "!", "count"});
  EXPECT_EQ(line, "capture device=\"BT878 Capture 0\" ! \"BT878 Capture 1\" ! count");
  const GraphSpec s = Parse(line);
  EXPECT_EQ(s.filters[0].properties[0].second, "BT878 Capture 0");
  EXPECT_EQ(s.filters[1].factory, "BT878 Capture 1");
}

}  // namespace
}  // namespace halvard::graphtool
