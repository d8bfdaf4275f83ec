#include "server/ptz/SerialPort.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "server/ptz/tests/PseudoTerminal.h"

namespace halvard::ptz {
namespace {

using testing::Bytes;
using testing::CPseudoTerminal;

TEST(SerialPortTest, LineSettingsArriveAndFollowTheNextOpen) {
  CPseudoTerminal line(1);
  ASSERT_TRUE(line.Ok());
  CSerialPort port;
  EXPECT_TRUE(port.configure(1, 9600, kNoParity, kOneStopBit, 8, Handshake::None));
  EXPECT_EQ(port.PortName(), "COM1");
  ASSERT_TRUE(port.open());
  EXPECT_EQ(port.DevicePath(), line.SlavePath());

  termios tio = line.Settings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_TRUE(port.close());
  EXPECT_FALSE(port.IsOpen());

  // A new speed takes effect at the next opening; other settings by their codes (a
  // pseudo-terminal always reports 8 bits without parity, so those are not seen here).
  (void)port.configure(1, 2400, kEvenParity, kTwoStopBits, 7, Handshake::Hardware);
  ASSERT_TRUE(port.open());
  tio = line.Settings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B2400));
  EXPECT_EQ(tio.c_cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CSTOPB | CRTSCTS));
  EXPECT_TRUE(port.close());
}

TEST(SerialPortTest, WritesEveryByteValueUnchangedAndOnlyTheLowEightBitsOfTheLength) {
  CPseudoTerminal line(1);
  ASSERT_TRUE(line.Ok());
  CSerialPort port;
  (void)port.configure(1, 2400, kNoParity, kOneStopBit, 8, Handshake::None);
  ASSERT_TRUE(port.open());

  // Bytes a terminal would translate or swallow if the line were not raw.
  const std::vector<BYTE> tricky = Bytes({0x00, 0x0A, 0x0D, 0x03, 0x04, 0x11, 0x13, 0x1A, 0x7F, 0xFF});
  EXPECT_TRUE(port.write(tricky.data(), static_cast<DWORD>(tricky.size())));
  EXPECT_EQ(line.Read(tricky.size()), tricky);

  std::vector<BYTE> big(300, 0x55);
  EXPECT_TRUE(port.write(big.data(), 256));  // taken as 0
  EXPECT_TRUE(line.ReadAvailable().empty());
  EXPECT_TRUE(port.write(big.data(), 256 + 7));  // taken as 7
  EXPECT_EQ(line.Read(7), std::vector<BYTE>(7, 0x55));
  EXPECT_TRUE(port.close());

  // Closed: nothing to write to, nothing to close.
  EXPECT_FALSE(port.write(big.data(), 7));
  EXPECT_FALSE(port.write(big.data(), 0));
  EXPECT_FALSE(port.close());
}

TEST(SerialPortTest, MissingPortPrintsOneLineAndTheWriteFails) {
  ::setenv("HALVARD_COM3", "/nonexistent/halvard-tty", 1);
  CSerialPort port;
  (void)port.configure(3, 2400, kNoParity, kOneStopBit, 8, Handshake::None);
  const BYTE frame[7] = {0xFF, 0x01, 0, 0, 0, 0, 0x01};

  ::testing::internal::CaptureStdout();
  const bool opened = port.open();
  const bool written = port.write(frame, 7);
  const bool closed = port.close();
  const std::string output = ::testing::internal::GetCapturedStdout();
  ::unsetenv("HALVARD_COM3");

  EXPECT_FALSE(opened);
  EXPECT_FALSE(written);
  EXPECT_FALSE(closed);
  EXPECT_EQ(output, "COM open failed: Port=COM3 Error=2 - No such file or directory\n");
}

TEST(SerialPortTest, DeviceThatIsNotALineFailsConfigurationButStaysOpenUntilClose) {
  ::setenv("HALVARD_COM2", "/dev/null", 1);
  CSerialPort port;
  (void)port.configure(2, 2400, kNoParity, kOneStopBit, 8, Handshake::None);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(port.open());
  const std::string output = ::testing::internal::GetCapturedStdout();
  ::unsetenv("HALVARD_COM2");
  EXPECT_EQ(output, "GetCommState failed: Port=COM2 Error=25\n");
  EXPECT_TRUE(port.IsOpen());
  EXPECT_TRUE(port.close());
}

TEST(SerialPortTest, SettingsTheLineCannotTakeAreRefused) {
  CPseudoTerminal line(1);
  ASSERT_TRUE(line.Ok());
  CSerialPort port;
  (void)port.configure(1, 12345, kNoParity, kOneStopBit, 8, Handshake::None);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(port.open());
  EXPECT_TRUE(port.close());
  (void)port.configure(1, 2400, kNoParity, kOne5StopBits, 8, Handshake::None);
  EXPECT_FALSE(port.open());
  EXPECT_TRUE(port.close());
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(output, "SetCommState failed: Port=COM1 Error = 22\nSetCommState failed: Port=COM1 Error = 22\n");
}

}  // namespace
}  // namespace halvard::ptz
