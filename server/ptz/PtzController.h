#pragma once
/// The camera-head controller: builds Pelco D frames and sends them over the camera's
/// serial port. One controller lives in each camera document.
///
/// A frame is 7 bytes: 0xFF, address, command 1, command 2, data 1, data 2, and the sum
/// of bytes 1 to 5 modulo 256. Every command opens the port, writes its frame (panTilt
/// may write two), and closes the port again; serial failures are reported only by
/// the port's diagnostic line and the command still returns true.
///
/// Threads: the user-interface thread only; no locking.

#include <array>
#include <string_view>

#include "platform/base/WinTypes.h"
#include "server/ptz/SerialPort.h"

namespace halvard::ptz {

/// Command 2 of the zoom and focus commands.
inline constexpr BYTE kZoomTele = 0x20;
inline constexpr BYTE kZoomWide = 0x40;
inline constexpr BYTE kFocusFar = 0x80;
/// The focus code that sends Focus near (command 1 = 0x01).
inline constexpr int kFocusNear = 1;

/// Image-adjustment modes of the five automatic-mode commands.
inline constexpr int kModeAuto = 0;
inline constexpr int kModeOn = 1;
inline constexpr int kModeOff = 2;

/// Preset numbers the heads take.
inline constexpr int kFirstPreset = 1;
inline constexpr int kLastPreset = 127;

using PelcoFrame = std::array<BYTE, 7>;

/// The frame for (address, command 1, command 2, data 1, data 2) with its checksum.
[[nodiscard]] PelcoFrame BuildPelcoFrame(BYTE address, BYTE command1, BYTE command2, BYTE data1, BYTE data2);

class CPtzController {
 public:
  /// Configures the port 8 data bits, no parity, one stop bit, no handshake at
  /// `baudRate`, and keeps the address (its low 8 bits). Always true.
  bool configure(int portNumber, DWORD baudRate, DWORD address);

  /// Stop all motion.
  bool stop();
  /// command2 0x20 zooms tele, 0x40 wide.
  bool zoom(BYTE command2);
  /// Code 1 sends Focus near; any other code is sent as command 2 (0x80: Focus far).
  bool focus(int code);
  /// Pan and tilt toward (x, y), each -1 to 1, x to the right, y downwards; speeds are
  /// 63 times the offset, truncated toward zero. Near the vertical axis (|x| <= 0.01)
  /// or steeper than 1.732 it tilts only, flatter than 0.5 it pans only, and in between
  /// it writes the pan frame and then the tilt frame in one opening. Offsets beyond
  /// the range are taken as the edge and a NaN as 0, so a speed never exceeds 63.
  bool panTilt(float x, float y);
  /// Go to / store preset n (1 to 127). False, with nothing sent, for other numbers.
  bool gotoPreset(int n);
  bool setPreset(int n);
  /// Automatic modes, m = mode index (0 AUTO, 1 ON, 2 OFF).
  bool setAutoFocus(int m);
  bool setAutoIris(int m);
  bool setAutoGainControl(int m);
  bool setBacklightCompensation(int m);
  bool setAutoWhiteBalance(int m);

  [[nodiscard]] BYTE Address() const { return m_address; }
  [[nodiscard]] const CSerialPort& Port() const { return m_port; }
  /// The last frame built.
  [[nodiscard]] const PelcoFrame& Frame() const { return m_frame; }

 private:
  void Build(BYTE command1, BYTE command2, BYTE data1, BYTE data2);
  void WriteFrame();
  bool SendOne(BYTE command1, BYTE command2, BYTE data1, BYTE data2);

  PelcoFrame m_frame{};
  CSerialPort m_port;
  BYTE m_address = 1;
};

/// Binds a camera document's controller to the camera's settings: reads "Input PTZ"
/// and, when it is set, configures the controller with port "PTZ Com" + 1, the speed
/// that "PTZ bpp" selects (an index past the list selects 2400) and "PTZ Address".
/// Returns the "Input PTZ" flag, which the document keeps as its pan-tilt-zoom flag.
bool ConfigureFromSettings(CPtzController& controller, std::string_view group, std::string_view input);

}  // namespace halvard::ptz
