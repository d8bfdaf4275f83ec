#include "server/ptz/PtzController.h"

#include <cmath>

#include "server/settings/Settings.h"

namespace halvard::ptz {
namespace {

constexpr BYTE kPanRight = 0x02;
constexpr BYTE kPanLeft = 0x04;
constexpr BYTE kTiltUp = 0x08;
constexpr BYTE kTiltDown = 0x10;
constexpr BYTE kSetPreset = 0x03;
constexpr BYTE kGotoPreset = 0x07;
constexpr BYTE kAutoFocus = 0x2B;
constexpr BYTE kAutoIris = 0x2D;
constexpr BYTE kAutoGainControl = 0x2F;
constexpr BYTE kBacklightCompensation = 0x31;
constexpr BYTE kAutoWhiteBalance = 0x33;

constexpr int kMaxSpeed = 63;
// The pan-tilt rule works in float, like its arguments, so that a ratio given as
// exactly 0.5 or 1.732 meets the bound of the same type.
constexpr float kAxisBand = 0.01f;
constexpr float kPanOnlyBelow = 0.5f;
constexpr float kTiltOnlyAbove = 1.732f;

float Bounded(float v) {
  if (std::isnan(v)) {
    return 0.0f;
  }
  return v < -1.0f ? -1.0f : (v > 1.0f ? 1.0f : v);
}

}  // namespace

PelcoFrame BuildPelcoFrame(BYTE address, BYTE command1, BYTE command2, BYTE data1, BYTE data2) {
  const unsigned sum = unsigned{address} + command1 + command2 + data1 + data2;
  return {0xFF, address, command1, command2, data1, data2, static_cast<BYTE>(sum & 0xFFu)};
}

bool CPtzController::configure(int portNumber, DWORD baudRate, DWORD address) {
  (void)m_port.configure(portNumber, baudRate, kNoParity, kOneStopBit, 8, Handshake::None);
  m_address = static_cast<BYTE>(address & 0xFFu);
  return true;
}

void CPtzController::Build(BYTE command1, BYTE command2, BYTE data1, BYTE data2) {
  m_frame = BuildPelcoFrame(m_address, command1, command2, data1, data2);
}

void CPtzController::WriteFrame() { (void)m_port.write(m_frame.data(), static_cast<DWORD>(m_frame.size())); }

bool CPtzController::SendOne(BYTE command1, BYTE command2, BYTE data1, BYTE data2) {
  (void)m_port.open();
  Build(command1, command2, data1, data2);
  WriteFrame();
  (void)m_port.close();
  return true;
}

bool CPtzController::stop() { return SendOne(0x00, 0x00, 0, 0); }

bool CPtzController::zoom(BYTE command2) { return SendOne(0x00, command2, 0, 0); }

bool CPtzController::focus(int code) {
  if (code == kFocusNear) {
    return SendOne(0x01, 0x00, 0, 0);
  }
  return SendOne(0x00, static_cast<BYTE>(code & 0xFF), 0, 0);
}

bool CPtzController::panTilt(float x, float y) {
  x = Bounded(x);
  y = Bounded(y);
  const int p = static_cast<int>(x * kMaxSpeed);
  const int t = static_cast<int>(y * kMaxSpeed);

  bool pan = false;
  bool tilt = false;
  if (x >= -kAxisBand && x <= kAxisBand) {
    tilt = true;
  } else {
    const float r = std::fabs(y / x);
    if (r < kPanOnlyBelow) {
      pan = true;
    } else if (r <= kTiltOnlyAbove) {
      pan = true;
      tilt = true;
    } else {
      tilt = true;
    }
  }

  (void)m_port.open();
  if (pan) {
    if (p >= 0) {
      Build(0x00, kPanRight, static_cast<BYTE>(p), 0);
    } else {
      Build(0x00, kPanLeft, static_cast<BYTE>(-p), 0);
    }
    WriteFrame();
  }
  if (tilt) {
    if (t >= 0) {
      Build(0x00, kTiltDown, 0, static_cast<BYTE>(t));
    } else {
      Build(0x00, kTiltUp, 0, static_cast<BYTE>(-t));
    }
    WriteFrame();
  }
  (void)m_port.close();
  return true;
}

bool CPtzController::gotoPreset(int n) {
  if (n < kFirstPreset || n > kLastPreset) {
    return false;
  }
  return SendOne(0x00, kGotoPreset, 0, static_cast<BYTE>(n));
}

bool CPtzController::setPreset(int n) {
  if (n < kFirstPreset || n > kLastPreset) {
    return false;
  }
  return SendOne(0x00, kSetPreset, 0, static_cast<BYTE>(n));
}

bool CPtzController::setAutoFocus(int m) { return SendOne(0x00, kAutoFocus, 0, static_cast<BYTE>(m & 0xFF)); }
bool CPtzController::setAutoIris(int m) { return SendOne(0x00, kAutoIris, 0, static_cast<BYTE>(m & 0xFF)); }
bool CPtzController::setAutoGainControl(int m) {
  return SendOne(0x00, kAutoGainControl, 0, static_cast<BYTE>(m & 0xFF));
}
bool CPtzController::setBacklightCompensation(int m) {
  return SendOne(0x00, kBacklightCompensation, 0, static_cast<BYTE>(m & 0xFF));
}
bool CPtzController::setAutoWhiteBalance(int m) {
  return SendOne(0x00, kAutoWhiteBalance, 0, static_cast<BYTE>(m & 0xFF));
}

bool ConfigureFromSettings(CPtzController& controller, std::string_view group, std::string_view input) {
  namespace st = halvard::settings;
  if (st::kInputPtz.Read(group, input) == 0) {
    return false;
  }
  const DWORD port = st::kPtzCom.Read(group, input) + 1;
  const DWORD baud = st::Lookup(st::kSerialSpeeds, st::kPtzBpp.Read(group, input), st::kPtzBpp.def);
  (void)controller.configure(static_cast<int>(port), baud, st::kPtzAddress.Read(group, input));
  return true;
}

}  // namespace halvard::ptz
