#pragma once
/// The serial line to camera heads: a port named by number, opened with fixed line
/// settings, written to, and closed again. The port is never held between commands, so
/// several cameras can share one line and other programs may use it in between.
///
/// Port n is called "COM<n>". Its device is the one named by the environment variable
/// HALVARD_COM<n> when that is set and not empty (a USB adapter, or a test's
/// pseudo-terminal), else /dev/ttyS<n-1>.
///
/// The line settings keep their Windows codes: parity 0 none, 1 odd, 2 even, 3 mark,
/// 4 space; stop bits 0 one, 2 two (1, one and a half, has no termios form and fails the
/// configuration). They become termios settings at every `open`:
///   - raw 8-bit line: no echo, no canonical input, no signals, no character
///     translation, no output processing, NUL and break bytes kept;
///   - CLOCAL and CREAD set: the modem lines never block an open or a write;
///   - hardware handshake sets CRTSCTS (termios has no separate DSR flow control);
///     XON/XOFF off in both directions;
///   - DTR raised (TIOCMBIS); devices without modem lines, such as pseudo-terminals,
///     have no DTR and are used as they are;
///   - reads return at once with what has arrived (VMIN 0, VTIME 0), the nearest to a
///     1 ms total read time-out; writes block until the bytes are handed to the line and
///     drained (the unlimited write time-out).
/// While open the device is exclusive (TIOCEXCL), the counterpart of opening without
/// sharing; the exclusion is lifted again by `close`.
///
/// Failures are reported only by one line on standard output, with the port name, the
/// errno value and its strerror text:
///   "COM open failed: Port=%s Error=%d - %s"
///   "GetCommState failed: Port=%s Error=%d"
///   "SetCommState failed: Port=%s Error = %d"
///   "GetCommTimeouts failed: Port=%s Error = %d"
///   "SetCommTimeouts failed: Port=%s Error = %d"
///
/// Threads: one object is used by one thread at a time (the user-interface thread);
/// there is no locking.

#include <string>

#include "platform/base/WinTypes.h"

namespace halvard::ptz {

/// Windows parity codes.
inline constexpr BYTE kNoParity = 0;
inline constexpr BYTE kOddParity = 1;
inline constexpr BYTE kEvenParity = 2;
inline constexpr BYTE kMarkParity = 3;
inline constexpr BYTE kSpaceParity = 4;
/// Windows stop-bit codes.
inline constexpr BYTE kOneStopBit = 0;
inline constexpr BYTE kOne5StopBits = 1;
inline constexpr BYTE kTwoStopBits = 2;

enum class Handshake { None, Hardware };

/// The device that stands for port n: $HALVARD_COM<n> when set and not empty, else
/// /dev/ttyS<n-1>.
[[nodiscard]] std::string SerialDevicePath(int portNumber);

class CSerialPort {
 public:
  CSerialPort() = default;
  /// Closes the port if a client left it open.
  ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  /// Stores the line settings and formats the port name "COM<portNumber>". Always
  /// true; the settings are checked by the next `open`.
  bool configure(int portNumber, DWORD baudRate, BYTE parity, BYTE stopBits, BYTE dataBits,
                 Handshake handshake);

  /// Opens the device and applies the line settings and time-outs. True when the port
  /// is open and fully configured. A port that opened but could not be configured stays
  /// open until `close`. An already open port is closed first.
  bool open();

  /// Writes the low 8 bits of `length` bytes (at most 255) in one system call. True
  /// only when the call succeeds and writes exactly that many; a length of 0 (or 256)
  /// writes nothing and succeeds on an open port. False when the port is not open.
  bool write(const BYTE* buffer, DWORD length);

  /// Closes the device. False when no device was open or the system call failed.
  bool close();

  [[nodiscard]] const std::string& PortName() const { return m_portName; }
  [[nodiscard]] const std::string& DevicePath() const { return m_devicePath; }
  [[nodiscard]] DWORD BaudRate() const { return m_baudRate; }
  [[nodiscard]] bool IsOpen() const { return m_fd >= 0; }

 private:
  bool ApplyLineSettings();
  bool ApplyTimeouts();

  int m_portNumber = 0;
  std::string m_portName;
  DWORD m_baudRate = 0;
  BYTE m_parity = kNoParity;
  BYTE m_dataBits = 8;
  BYTE m_stopBits = kOneStopBit;
  Handshake m_handshake = Handshake::None;
  int m_fd = -1;
  std::string m_devicePath;
  bool m_openOk = false;
};

}  // namespace halvard::ptz
