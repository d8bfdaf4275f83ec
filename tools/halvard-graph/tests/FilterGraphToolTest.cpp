// halvard-graph with the system's three video filters, created by class identifier from
// their registrations (made here with halvard-regsvr, as an installation makes them).

#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestSupport.h"

namespace {

using halvard::testing::CommandResult;
using halvard::testing::LibraryPath;
using halvard::testing::ProgramPath;
using halvard::testing::RunCommand;
using halvard::testing::ShellQuote;
using halvard::testing::TempDir;

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
    ++n;
  }
  return n;
}

class FilterGraphToolTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The test process's private registry, inherited by every command below.
    const CommandResult r = RunCommand(ShellQuote(ProgramPath("halvard-regsvr")) + " " +
                                           ShellQuote(LibraryPath("libZelSplitter.so")) + " " +
                                           ShellQuote(LibraryPath("libZelMotion.so")) + " " +
                                           ShellQuote(LibraryPath("libZelHDSimulation.so")),
                                       true);
    ASSERT_EQ(r.status, 0) << r.output;
  }

  std::string Environment() const {
    return "HALVARD_SIMULATED_CARDS=1 HALVARD_V4L2_DIR=" + ShellQuote(m_dir.Path().string()) +
           " HALVARD_SIMULATED_CONTROL=" + ShellQuote(m_dir.File("motion")) + " ";
  }

  CommandResult Graph(const std::string& arguments) {
    return RunCommand(Environment() + ShellQuote(ProgramPath("halvard-graph")) + " " + arguments, true);
  }

  TempDir m_dir;
};

// A card of four cameras, enlarged to 1280 x 960, split per camera, a motion filter on
// every camera; the object of camera 2 moves from the start and goes on moving. A short
// hold exercises holding and watching: continued motion starts new holds silently.
TEST_F(FilterGraphToolTest, MotionOnInputTwoGivesOneMessageFromItsFilterOnly) {
  std::string line = "--frames 96 capture name=card motion=2 ! hdsimulation name=hd level=2 ! "
                     "splitter name=split channels=4 level=2";
  for (int i = 0; i < 4; ++i) {
    const std::string n = std::to_string(i);
    line += (i == 0 ? " ! " : " split. ! ") + std::string("motion name=motion") + n +
            " hold=300 rearm=600000 top=64 block=32 threshold=15 ! count name=in" + n;
  }
  const CommandResult r = Graph(line);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("hd: output size 1280 x 960"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("linked split to motion2: MEDIATYPE_Video MEDIASUBTYPE_YUY2 1280x960"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("motion2: 1280 x 960, 2 bytes per pixel, margins 64 and 0, blocks of 32, threshold 15, "
                          "hold 300 ms, rearm 600000 ms"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(Occurrences(r.output, "motion message from motion2 (command 324) at "), 1) << r.output;
  EXPECT_EQ(Occurrences(r.output, "motion message from"), 1) << r.output;
  EXPECT_NE(r.output.find("motion2: 1 motion message\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("motion0: 0 motion messages"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("in2.In: 24 frames"), std::string::npos) << r.output;
}

// Two episodes of motion on camera 2, started and stopped from another process through
// the cards' control file while the graph runs: one message each. The quiet spell
// between them is longer than hold and re-arm together, with seconds to spare.
TEST_F(FilterGraphToolTest, EachEpisodeOfMotionGivesOneMessage) {
  const std::string graph = ShellQuote(ProgramPath("halvard-graph"));
  const std::string out = ShellQuote(m_dir.File("graph.txt"));
  const std::string script =
      graph + " --motion none\n" + graph +
      " --seconds 14 --quiet capture ! hdsimulation level=2 ! splitter name=split level=2 ! count name=in0 "
      "split. ! count name=in1 split. ! motion name=motion2 hold=500 rearm=1500 top=64 block=32 threshold=15 ! "
      "count name=in2 split. ! count name=in3 > " +
      out + " 2>&1 &\n" +
      "sleep 1.5\n" + graph + " --motion 0:2\nsleep 3\n" + graph + " --motion none\nsleep 5\n" + graph +
      " --motion 0:2\nwait $!\necho \"graph exit $?\"\ncat " + out + "\n";
  const CommandResult r = RunCommand(Environment() + "sh -c " + ShellQuote(script), true);
  EXPECT_EQ(Occurrences(r.output, "motion message from motion2 (command 324) at "), 2) << r.output;
  EXPECT_NE(r.output.find("motion2: 2 motion messages"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("graph exit 0"), std::string::npos) << r.output;
}

TEST_F(FilterGraphToolTest, PropertiesReachTheFilters) {
  // One channel: the splitter hands every frame to its first output.
  CommandResult r = Graph("--frames 8 capture ! splitter name=split channels=1 ! count name=all");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("all.In: 8 frames"), std::string::npos) << r.output;  // four channels would give it 2

  // An RGB24 splitter accepts only RGB24: the card is asked for that instead of YUY2.
  r = Graph("--frames 8 capture ! splitter colour=RGB24 ! count");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("linked capture0 to splitter1: MEDIATYPE_Video MEDIASUBTYPE_RGB24"), std::string::npos)
      << r.output;

  // An explicit size, and the motion geometry read from the scaler's output.
  r = Graph("--frames 4 capture ! scaler name=hd width=704 height=576 ! motion name=m area=0,1:1 block=64 ! count");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("linked hd to m: MEDIATYPE_Video MEDIASUBTYPE_YUY2 704x576"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("m: 704 x 576, 2 bytes per pixel"), std::string::npos) << r.output;
}

TEST_F(FilterGraphToolTest, WrongPropertiesFailWithTheirResultName) {
  struct Case {
    std::string line;
    std::string text;
  };
  const Case cases[] = {
      {"capture ! splitter level=3 ! count", "filter \"splitter1\": level must be 0, 1 or 2: E_INVALIDARG (0x80070057)"},
      {"capture ! splitter size=3 ! count", "property \"size\" is unknown"},
      {"capture ! motion window=3 ! count", "window is always the tool's own message window: E_INVALIDARG"},
      {"capture width=640 height=480 ! motion name=m block=4 top=0 ! count",
       "filter \"m\": the motion parameters were refused (640 x 480, margins 0 and 0, blocks of 4: 19200 blocks, at most "
       "5760): E_INVALIDARG (0x80070057)"},
      {"capture ! motion area=70 block=32 top=16 ! count",
       "area: block 70 is outside the grid of 10 x 7 blocks: E_INVALIDARG"},
      {"hdsimulation name=hd level=2 ! count", "filter \"hd\": level needs the input linked first"},
      {"capture ! hdsimulation width=640 ! count", "give width and height together: E_INVALIDARG"},
  };
  for (const Case& c : cases) {
    const CommandResult r = Graph("--frames 4 " + c.line);
    EXPECT_EQ(r.status, 1) << c.line << "\n" << r.output;
    EXPECT_NE(r.output.find(c.text), std::string::npos) << c.line << "\n" << r.output;
  }

  // A settings store without the registrations: the class is not registered.
  const CommandResult r = RunCommand("HALVARD_REGISTRY=" + ShellQuote(m_dir.File("empty.db")) + " " + Environment() +
                                         ShellQuote(ProgramPath("halvard-graph")) + " --frames 4 capture ! motion ! count",
                                     true);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("halvard-regsvr"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("REGDB_E_CLASSNOTREG (0x80040154)"), std::string::npos) << r.output;
}

}  // namespace
