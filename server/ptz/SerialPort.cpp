#include "server/ptz/SerialPort.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace halvard::ptz {
namespace {

struct SpeedRow {
  DWORD baud;
  speed_t speed;
};

// Every speed termios can express; the controller only uses 1200 to 19200.
constexpr SpeedRow kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

bool SpeedOf(DWORD baud, speed_t& speed) {
  for (const SpeedRow& row : kSpeeds) {
    if (row.baud == baud) {
      speed = row.speed;
      return true;
    }
  }
  return false;
}

// Diagnostics go to standard output, flushed at once so that they keep their order
// with anything else the process prints.
void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Format(const char* format, const std::string& port, int error) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, port.c_str(), error);
  return buffer;
}

}  // namespace

std::string SerialDevicePath(int portNumber) {
  const std::string variable = "HALVARD_COM" + std::to_string(portNumber);
  if (const char* device = std::getenv(variable.c_str()); device != nullptr && *device != '\0') {
    return device;
  }
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

CSerialPort::~CSerialPort() {
  if (m_fd >= 0) {
    (void)close();
  }
}

bool CSerialPort::configure(int portNumber, DWORD baudRate, BYTE parity, BYTE stopBits, BYTE dataBits,
                            Handshake handshake) {
  m_portNumber = portNumber;
  m_portName = "COM" + std::to_string(portNumber);
  m_baudRate = baudRate;
  m_parity = parity;
  m_stopBits = stopBits;
  m_dataBits = dataBits;
  m_handshake = handshake;
  return true;
}

bool CSerialPort::open() {
  if (m_fd >= 0) {
    (void)close();
  }
  m_openOk = true;
  m_devicePath = SerialDevicePath(m_portNumber);

  // O_NONBLOCK only for the open itself, so that a line without carrier does not hold
  // it; writes are synchronous afterwards.
  m_fd = ::open(m_devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0) {
    const int error = errno;
    m_openOk = false;
    const char* text = std::strerror(error);
    if (text != nullptr && *text != '\0') {
      PrintLine("COM open failed: Port=" + m_portName + " Error=" + std::to_string(error) + " - " + text);
    } else {
      PrintLine("COM open failed: Port=" + m_portName + " Error=" + std::to_string(error) + " ");
    }
    return false;
  }
  // Exclusive use while open; refused by devices that are not terminals, which the
  // configuration below reports.
  (void)::ioctl(m_fd, TIOCEXCL);
  const int flags = ::fcntl(m_fd, F_GETFL);
  if (flags >= 0) {
    (void)::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
  }

  m_openOk = ApplyLineSettings() && ApplyTimeouts();
  return m_openOk;
}

bool CSerialPort::ApplyLineSettings() {
  termios tio{};
  if (::tcgetattr(m_fd, &tio) != 0) {
    PrintLine(Format("GetCommState failed: Port=%s Error=%d", m_portName, errno));
    return false;
  }

  int error = 0;
  speed_t speed = B0;
  if (!SpeedOf(m_baudRate, speed)) {
    error = EINVAL;
  }

  tcflag_t size = 0;
  switch (m_dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: error = EINVAL; break;
  }

  tcflag_t parity = 0;
  switch (m_parity) {
    case kNoParity: break;
    case kOddParity: parity = PARENB | PARODD; break;
    case kEvenParity: parity = PARENB; break;
    case kMarkParity: parity = PARENB | PARODD | CMSPAR; break;
    case kSpaceParity: parity = PARENB | CMSPAR; break;
    default: error = EINVAL; break;
  }

  tcflag_t stop = 0;
  switch (m_stopBits) {
    case kOneStopBit: break;
    case kTwoStopBits: stop = CSTOPB; break;
    default: error = EINVAL; break;  // one and a half stop bits do not exist here
  }

  if (error != 0) {
    PrintLine(Format("SetCommState failed: Port=%s Error = %d", m_portName, error));
    return false;
  }

  // Binary line without any translation (the framing bytes include 0x00, 0x11, 0x13).
  // INPCK (parity checking on input) keeps the value read from the port.
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= size | parity | stop | CLOCAL | CREAD;
  if (m_handshake == Handshake::Hardware) {
    tio.c_cflag |= CRTSCTS;
  }
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) {
    PrintLine(Format("SetCommState failed: Port=%s Error = %d", m_portName, errno));
    return false;
  }
  // tcsetattr succeeds when any part was applied; the speed is the part a driver may
  // refuse.
  termios check{};
  if (::tcgetattr(m_fd, &check) != 0 || cfgetospeed(&check) != speed) {
    PrintLine(Format("SetCommState failed: Port=%s Error = %d", m_portName, EINVAL));
    return false;
  }

  int dtr = TIOCM_DTR;
  (void)::ioctl(m_fd, TIOCMBIS, &dtr);
  return true;
}

bool CSerialPort::ApplyTimeouts() {
  termios tio{};
  if (::tcgetattr(m_fd, &tio) != 0) {
    PrintLine(Format("GetCommTimeouts failed: Port=%s Error = %d", m_portName, errno));
    return false;
  }
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) {
    PrintLine(Format("SetCommTimeouts failed: Port=%s Error = %d", m_portName, errno));
    return false;
  }
  return true;
}

bool CSerialPort::write(const BYTE* buffer, DWORD length) {
  const std::size_t count = length & 0xFFu;
  if (m_fd < 0) {
    return false;
  }
  if (count == 0) {
    return true;
  }
  if (buffer == nullptr) {
    return false;
  }
  ssize_t written = -1;
  do {
    written = ::write(m_fd, buffer, count);
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(count)) {
    return false;
  }
  // Synchronous like the unlimited write time-out: the bytes are on the line when this
  // returns, so a following pause measures the motion, not the output queue.
  (void)::tcdrain(m_fd);
  return true;
}

bool CSerialPort::close() {
  if (m_fd < 0) {
    return false;
  }
  (void)::ioctl(m_fd, TIOCNXCL);
  const int result = ::close(m_fd);
  m_fd = -1;
  return result == 0;
}

}  // namespace halvard::ptz
