#include "server/ptz/PtzController.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <limits>
#include <vector>

#include "server/ptz/tests/PseudoTerminal.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace halvard::ptz {
namespace {

using testing::Bytes;
using testing::CPseudoTerminal;

class PtzControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_line.Ok());
    (void)m_controller.configure(1, 2400, 1);
  }
  CPseudoTerminal m_line{1};
  CPtzController m_controller;
};

TEST(PelcoFrameTest, ChecksumIsTheSumOfBytesOneToFiveModulo256) {
  const PelcoFrame frame = BuildPelcoFrame(0xFF, 0x00, 0x07, 0x00, 0x7F);
  EXPECT_EQ(std::vector<BYTE>(frame.begin(), frame.end()), Bytes({0xFF, 0xFF, 0x00, 0x07, 0x00, 0x7F, 0x85}));
}

TEST_F(PtzControllerTest, StopAndGoToPresetOnTheWire) {
  EXPECT_TRUE(m_controller.stop());
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
  EXPECT_TRUE(m_controller.gotoPreset(3));
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x07, 0x00, 0x03, 0x0B}));
  EXPECT_FALSE(m_controller.Port().IsOpen());  // every command closes the port again
  // The line runs at the configured speed.
  termios tio = m_line.Settings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B2400));
}

TEST_F(PtzControllerTest, EveryCommandHasItsFrame) {
  (void)m_controller.zoom(kZoomTele);
  (void)m_controller.zoom(kZoomWide);
  (void)m_controller.focus(kFocusNear);
  (void)m_controller.focus(kFocusFar);
  (void)m_controller.setPreset(3);
  (void)m_controller.setAutoFocus(kModeOff);
  (void)m_controller.setAutoIris(kModeOn);
  (void)m_controller.setAutoGainControl(kModeOn);
  (void)m_controller.setBacklightCompensation(kModeOn);
  (void)m_controller.setAutoWhiteBalance(kModeOn);
  const std::vector<BYTE> expected = Bytes({
      0xFF, 0x01, 0x00, 0x20, 0x00, 0x00, 0x21,  // zoom tele
      0xFF, 0x01, 0x00, 0x40, 0x00, 0x00, 0x41,  // zoom wide
      0xFF, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02,  // focus near
      0xFF, 0x01, 0x00, 0x80, 0x00, 0x00, 0x81,  // focus far
      0xFF, 0x01, 0x00, 0x03, 0x00, 0x03, 0x07,  // set preset 3
      0xFF, 0x01, 0x00, 0x2B, 0x00, 0x02, 0x2E,  // auto focus OFF
      0xFF, 0x01, 0x00, 0x2D, 0x00, 0x01, 0x2F,  // auto iris ON
      0xFF, 0x01, 0x00, 0x2F, 0x00, 0x01, 0x31,  // gain control ON
      0xFF, 0x01, 0x00, 0x31, 0x00, 0x01, 0x33,  // backlight compensation ON
      0xFF, 0x01, 0x00, 0x33, 0x00, 0x01, 0x35,  // white balance ON
  });
  EXPECT_EQ(m_line.Read(expected.size()), expected);
}

TEST_F(PtzControllerTest, PresetsOutsideOneTo127AreNotSent) {
  EXPECT_FALSE(m_controller.gotoPreset(0));
  EXPECT_FALSE(m_controller.gotoPreset(128));
  EXPECT_FALSE(m_controller.setPreset(255));
  EXPECT_TRUE(m_controller.gotoPreset(127));
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x07, 0x00, 0x7F, 0x87}));
}

TEST_F(PtzControllerTest, PanTiltFollowsTheRatioRule) {
  const std::vector<BYTE> panRight63 = Bytes({0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42});
  // Edge of the view, right of the centre: pan only at full speed.
  (void)m_controller.panTilt(1.0f, 0.0f);
  EXPECT_EQ(m_line.Read(7), panRight63);

  // Within 0.01 of the vertical axis: tilt only, however small y is.
  (void)m_controller.panTilt(0.005f, -0.9f);
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x08, 0x00, 0x38, 0x41}));
  (void)m_controller.panTilt(0.005f, 0.0f);
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x10, 0x00, 0x00, 0x11}));

  // 45 degrees: pan then tilt, in one opening.
  (void)m_controller.panTilt(0.5f, -0.5f);
  EXPECT_EQ(m_line.Read(14), Bytes({0xFF, 0x01, 0x00, 0x02, 0x1F, 0x00, 0x22,  //
                                    0xFF, 0x01, 0x00, 0x08, 0x00, 0x1F, 0x28}));

  // Ratio exactly 0.5 is already two frames (to the left: speeds truncate toward 0).
  (void)m_controller.panTilt(-0.5f, 0.25f);
  EXPECT_EQ(m_line.Read(14), Bytes({0xFF, 0x01, 0x00, 0x04, 0x1F, 0x00, 0x24,  //
                                    0xFF, 0x01, 0x00, 0x10, 0x00, 0x0F, 0x20}));
  // Just below 0.5: pan only.
  (void)m_controller.panTilt(0.5f, 0.249f);
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x02, 0x1F, 0x00, 0x22}));

  // Ratio exactly 1.732 is still two frames; just above it tilt only.
  (void)m_controller.panTilt(0.5f, 0.866f);
  EXPECT_EQ(m_line.Read(14), Bytes({0xFF, 0x01, 0x00, 0x02, 0x1F, 0x00, 0x22,  //
                                    0xFF, 0x01, 0x00, 0x10, 0x00, 0x36, 0x47}));
  (void)m_controller.panTilt(0.5f, 0.8661f);
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x10, 0x00, 0x36, 0x47}));

  // A small offset truncates to speed 0.
  (void)m_controller.panTilt(0.012f, 0.0f);
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x02, 0x00, 0x00, 0x03}));
}

TEST_F(PtzControllerTest, OffsetsBeyondTheViewNeverExceedFullSpeed) {
  (void)m_controller.panTilt(7.0f, 0.0f);
  (void)m_controller.panTilt(-std::numeric_limits<float>::infinity(), 0.0f);
  (void)m_controller.panTilt(std::nanf(""), std::nanf(""));
  EXPECT_EQ(m_line.Read(21), Bytes({0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42,  //
                                    0xFF, 0x01, 0x00, 0x04, 0x3F, 0x00, 0x44,  //
                                    0xFF, 0x01, 0x00, 0x10, 0x00, 0x00, 0x11}));
}

TEST(PtzControllerPortTest, CommandsToAMissingPortPrintOnlyTheOpenFailure) {
  ::setenv("HALVARD_COM4", "/nonexistent/halvard-tty", 1);
  CPtzController controller;
  (void)controller.configure(4, 2400, 1);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(controller.stop());
  EXPECT_TRUE(controller.panTilt(0.5f, 0.5f));
  const std::string output = ::testing::internal::GetCapturedStdout();
  ::unsetenv("HALVARD_COM4");
  EXPECT_EQ(output,
            "COM open failed: Port=COM4 Error=2 - No such file or directory\n"
            "COM open failed: Port=COM4 Error=2 - No such file or directory\n");
}

TEST(PtzControllerPortTest, CameraSettingsConfigureTheController) {
  halvard::testing::ScopedRegistry registry;
  CPseudoTerminal line(2);
  ASSERT_TRUE(line.Ok());
  namespace st = halvard::settings;
  CPtzController controller;
  EXPECT_FALSE(ConfigureFromSettings(controller, "Card A", "Door"));

  st::kInputPtz.Write("Card A", "Door", 1);
  st::kPtzCom.Write("Card A", "Door", 1);  // port 2
  st::kPtzBpp.Write("Card A", "Door", 3);  // 9600
  st::kPtzAddress.Write("Card A", "Door", 5);
  EXPECT_TRUE(ConfigureFromSettings(controller, "Card A", "Door"));
  EXPECT_EQ(controller.Port().PortName(), "COM2");
  (void)controller.stop();
  EXPECT_EQ(line.Read(7), Bytes({0xFF, 0x05, 0x00, 0x00, 0x00, 0x00, 0x05}));
  termios tio = line.Settings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));

  // A speed index past the list falls back to 2400.
  st::kPtzBpp.Write("Card A", "Door", 9);
  EXPECT_TRUE(ConfigureFromSettings(controller, "Card A", "Door"));
  EXPECT_EQ(controller.Port().BaudRate(), 2400u);
}

}  // namespace
}  // namespace halvard::ptz
