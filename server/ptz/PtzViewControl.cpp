#include "server/ptz/PtzViewControl.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>
#include <utility>

namespace halvard::ptz {
namespace {

constexpr float kAxisBand = 0.01f;
// The cursor sectors use 0.57 where the pan-tilt rule uses 0.5, so near that slope the
// cursor and the frames sent may disagree; both are kept as the heads' users know them.
constexpr float kSectorBounds[4] = {-1.732f, -0.57f, 0.57f, 1.732f};
constexpr int kRightHalf[5] = {kDirectionDown, kDirectionDownRight, kDirectionRight, kDirectionUpRight,
                               kDirectionUp};
constexpr int kLeftHalf[5] = {kDirectionDown, kDirectionDownLeft, kDirectionLeft, kDirectionUpLeft,
                              kDirectionUp};

float Fraction(int position, int size) {
  const int centre = size / 2;
  if (centre == 0) {
    return 0.0f;
  }
  return static_cast<float>(position - centre) / static_cast<float>(centre);
}

}  // namespace

void SleepMs(int ms) {
  if (ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

ViewOffset OffsetFromCentre(int mouseX, int mouseY, int width, int height) {
  return {Fraction(mouseX, width), Fraction(mouseY, height)};
}

int DirectionIndex(float x, float u) {
  if (x >= -kAxisBand && x <= kAxisBand) {
    return u > 0.0f ? kDirectionUp : kDirectionDown;
  }
  const float s = u / std::fabs(x);
  int sector = 4;
  for (int i = 0; i < 4; ++i) {
    if (s < kSectorBounds[i]) {
      sector = i;
      break;
    }
  }
  return x > 0.0f ? kRightHalf[sector] : kLeftHalf[sector];
}

CPtzViewControl::CPtzViewControl(SleepFunction sleep) : m_sleep(std::move(sleep)) {
  if (!m_sleep) {
    m_sleep = SleepMs;
  }
}

bool CPtzViewControl::OnLeftButtonDown(CPtzController* controller, int mouseX, int mouseY, int width,
                                       int height) {
  if (controller == nullptr) {
    return false;
  }
  m_dragging = true;
  const ViewOffset offset = OffsetFromCentre(mouseX, mouseY, width, height);
  (void)controller->panTilt(offset.x, offset.y);
  return true;
}

bool CPtzViewControl::OnLeftButtonUp(CPtzController* controller) {
  if (controller == nullptr) {
    return false;
  }
  m_dragging = false;
  (void)controller->stop();
  return true;
}

bool CPtzViewControl::OnMouseMove(CPtzController* controller, int mouseX, int mouseY, int width, int height) {
  if (controller == nullptr) {
    return false;
  }
  const ViewOffset offset = OffsetFromCentre(mouseX, mouseY, width, height);
  m_direction = DirectionIndex(offset.x, -offset.y);
  return true;
}

bool CPtzViewControl::OnMouseWheel(CPtzController* controller, int delta, LeftButton button) {
  if (controller == nullptr) {
    return false;
  }
  if (button == LeftButton::Held) {
    // The button's release sends the stop.
    if (delta > 0) {
      (void)controller->focus(kFocusNear);
    } else if (delta < 0) {
      (void)controller->focus(kFocusFar);
    }
    return true;
  }
  if (delta != 0) {
    (void)controller->zoom(delta > 0 ? kZoomTele : kZoomWide);
    m_sleep(static_cast<int>(std::llabs(static_cast<long long>(delta)) / 2));
  }
  (void)controller->stop();
  return true;
}

CursorChoice CPtzViewControl::Cursor() const {
  if (m_direction == kDirectionNone) {
    return {CursorKind::Default, kDirectionNone};
  }
  return {m_dragging ? CursorKind::Pressed : CursorKind::Hover, m_direction};
}

}  // namespace halvard::ptz
