#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

using halvard::testing::CommandResult;
using halvard::testing::ProgramPath;
using halvard::testing::RunCommand;
using halvard::testing::ShellQuote;
using halvard::testing::TempDir;

class GraphToolTest : public ::testing::Test {
 protected:
  // Runs halvard-graph with cards simulated cards and no real devices.
  CommandResult Graph(const std::string& arguments, int cards = 1) {
    const std::string env = "HALVARD_SIMULATED_CARDS=" + std::to_string(cards) +
                            " HALVARD_V4L2_DIR=" + ShellQuote(m_dir.Path().string()) +
                            " HALVARD_SIMULATED_CONTROL=" + ShellQuote(m_dir.File("motion")) + " ";
    return RunCommand(env + ShellQuote(ProgramPath("halvard-graph")) + " " + arguments, true);
  }

  TempDir m_dir;
};

TEST_F(GraphToolTest, HundredFramesOfOneCardGiveTwentyFivePerInput) {
  const CommandResult r = Graph("--frames 100 capture device='BT878 Capture 0' name=card ! count name=sink");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("card.Capture: 100 frames (channel 0: 25, channel 1: 25, channel 2: 25, channel 3: 25)"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("sink.In: 100 frames (channel 0: 25, channel 1: 25, channel 2: 25, channel 3: 25)"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("event EC_COMPLETE"), std::string::npos) << r.output;
}

TEST_F(GraphToolTest, TwoInputsDisabledThroughTheCardLibrary) {
  const CommandResult r =
      Graph("--frames 100 --quiet 'BT878 Capture 1' name=card disable=1,3 format=RGB24 ! count name=sink", 2);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("sink.In: 100 frames (channel 0: 50, channel 2: 50)"), std::string::npos) << r.output;
}

TEST_F(GraphToolTest, FailuresNameTheirResultCode) {
  CommandResult r = Graph("--frames 4 capture device='BT878 Capture 5' ! count");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("VFW_E_NOT_FOUND (0x80040216)"), std::string::npos) << r.output;

  r = Graph("--frames 4 capture ! count", 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("VFW_E_NO_CAPTURE_HARDWARE (0x80040275)"), std::string::npos) << r.output;

  r = Graph("--frames 4 'BT878 Capture 0' width=720 height=576 ! count");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("VFW_E_INVALIDMEDIATYPE"), std::string::npos) << r.output;

  r = Graph("--frames 4 'BT878 Capture 0' colour=1 ! count");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("E_INVALIDARG"), std::string::npos) << r.output;

  r = Graph("--frames 4 rawsrc location=" + ShellQuote(m_dir.File("missing.yuv")) + " ! count");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("0x80070002"), std::string::npos) << r.output;

  r = Graph("--frames 4 nosuchfilter ! count");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("no filter alias or device is called \"nosuchfilter\""), std::string::npos) << r.output;

  r = Graph("count ! ! count");
  EXPECT_EQ(r.status, 2);
  r = Graph("--frames 0 count");
  EXPECT_EQ(r.status, 2);
}

TEST_F(GraphToolTest, RawFramesGoThroughUnchanged) {
  // Three 320 x 240 YUY2 frames whose first bytes are 0, 1, 2.
  const std::size_t frameBytes = 320 * 240 * 2;
  std::vector<char> data(3 * frameBytes);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<char>((i * 7) % 251);
  }
  for (int f = 0; f < 3; ++f) {
    data[static_cast<std::size_t>(f) * frameBytes] = static_cast<char>(f);
  }
  std::ofstream(m_dir.File("in.yuv"), std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));

  const CommandResult r = Graph("rawsrc location=" + ShellQuote(m_dir.File("in.yuv")) +
                                " rate=0 name=src ! rawsink name=sink location=" + ShellQuote(m_dir.File("out.yuv")));
  ASSERT_EQ(r.status, 0) << r.output;
  std::ifstream in(m_dir.File("out.yuv"), std::ios::binary);
  const std::vector<char> out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(out == data);
  EXPECT_NE(r.output.find("sink.In: 3 frames (channel 0: 1, channel 1: 1, channel 2: 1)"), std::string::npos)
      << r.output;
}

TEST_F(GraphToolTest, CardThroughTeeToRendererAndRawSink) {
  const CommandResult r = Graph("--frames 12 capture name=card ! tee name=t ! rawsink name=file location=" +
                                ShellQuote(m_dir.File("tee.yuv")) + " t. ! renderer name=screen");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("file.In: 12 frames (channel 0: 3, channel 1: 3, channel 2: 3, channel 3: 3)"),
            std::string::npos)
      << r.output;
  std::ifstream in(m_dir.File("tee.yuv"), std::ios::binary | std::ios::ate);
  EXPECT_EQ(static_cast<std::size_t>(in.tellg()), 12u * 320 * 240 * 2);
}

TEST_F(GraphToolTest, MotionSetReachesTheControlFile) {
  const CommandResult r = Graph("--motion '0:2 1:0'");
  ASSERT_EQ(r.status, 0) << r.output;
  std::ifstream in(m_dir.File("motion"));
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "0:2 1:0");
}

TEST_F(GraphToolTest, ListsDevicesAndClasses) {
  const CommandResult r = Graph("--list", 2);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("\"BT878 Capture 1\" simulated:1"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("{8D4FEFBC-97A8-45BE-979D-55CB6F696531}"), std::string::npos) << r.output;
}

}  // namespace

namespace {

TEST_F(GraphToolTest, RecordingDecodedAndCounted) {
  const std::string file = m_dir.File("13H-00M-00S.wmv");
  ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=30 -f lavfi -i sine=r=8000 -t 2 "
                       "-c:v wmv1 -c:a wmav2 -f asf " + ShellQuote(file))
                .status,
            0);
  CommandResult r = Graph("--quiet filesrc location=" + ShellQuote(file) +
                          " ! wmfdemux name=demux ! decoder ! count name=sink");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("sink.In: 60 frames"), std::string::npos) << r.output;

  // The direct route, and a file that is not a recording.
  r = Graph("--quiet filedemux location=" + ShellQuote(file) + " name=demux ! decoder ! count name=sink");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("sink.In: 60 frames"), std::string::npos) << r.output;
  std::ofstream(m_dir.File("empty.wmv")).close();
  r = Graph("filesrc location=" + ShellQuote(m_dir.File("empty.wmv")) + " ! wmfdemux ! decoder ! count");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("VFW_E_INVALID_FILE_FORMAT"), std::string::npos) << r.output;
}

}  // namespace
