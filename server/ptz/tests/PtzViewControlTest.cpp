#include "server/ptz/PtzViewControl.h"

#include <gtest/gtest.h>

#include <vector>

#include "server/ptz/tests/PseudoTerminal.h"

namespace halvard::ptz {
namespace {

using testing::Bytes;
using testing::CPseudoTerminal;

const std::vector<BYTE> kStop = Bytes({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01});

// Records each pause and what had reached the line when it began.
struct PauseRecorder {
  CPseudoTerminal* line;
  std::vector<int> pauses;
  std::vector<std::vector<BYTE>> seenBefore;
  SleepFunction Function() {
    return [this](int ms) {
      pauses.push_back(ms);
      seenBefore.push_back(line->Read(7));
    };
  }
};

class PtzViewControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_line.Ok());
    (void)m_controller.configure(1, 2400, 1);
  }
  CPseudoTerminal m_line{1};
  CPtzController m_controller;
  PauseRecorder m_recorder{&m_line, {}, {}};
  CPtzViewControl m_view{m_recorder.Function()};
};

TEST_F(PtzViewControlTest, WheelNotchZoomsPausesHalfTheDeltaAndStops) {
  EXPECT_TRUE(m_view.OnMouseWheel(&m_controller, 120, LeftButton::Released));
  ASSERT_EQ(m_recorder.pauses, std::vector<int>{60});
  EXPECT_EQ(m_recorder.seenBefore[0], Bytes({0xFF, 0x01, 0x00, 0x20, 0x00, 0x00, 0x21}));
  EXPECT_EQ(m_line.Read(7), kStop);

  EXPECT_TRUE(m_view.OnMouseWheel(&m_controller, -240, LeftButton::Released));
  EXPECT_EQ(m_recorder.pauses.back(), 120);
  EXPECT_EQ(m_recorder.seenBefore.back(), Bytes({0xFF, 0x01, 0x00, 0x40, 0x00, 0x00, 0x41}));
  EXPECT_EQ(m_line.Read(7), kStop);

  // A zero delta only stops.
  EXPECT_TRUE(m_view.OnMouseWheel(&m_controller, 0, LeftButton::Released));
  EXPECT_EQ(m_recorder.pauses.size(), 2u);
  EXPECT_EQ(m_line.Read(7), kStop);
}

TEST_F(PtzViewControlTest, WheelWithTheButtonHeldFocusesWithoutStopping) {
  EXPECT_TRUE(m_view.OnMouseWheel(&m_controller, 120, LeftButton::Held));
  EXPECT_TRUE(m_view.OnMouseWheel(&m_controller, -120, LeftButton::Held));
  EXPECT_TRUE(m_view.OnMouseWheel(&m_controller, 0, LeftButton::Held));
  EXPECT_EQ(m_line.Read(14), Bytes({0xFF, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02,  //
                                    0xFF, 0x01, 0x00, 0x80, 0x00, 0x00, 0x81}));
  EXPECT_TRUE(m_recorder.pauses.empty());
}

TEST_F(PtzViewControlTest, PressPansTowardThePointerAndReleaseStops) {
  // 640 x 480 view: (640, 240) is the right edge on the horizontal axis.
  EXPECT_TRUE(m_view.OnMouseMove(&m_controller, 640, 240, 640, 480));
  EXPECT_TRUE(m_view.OnLeftButtonDown(&m_controller, 640, 240, 640, 480));
  EXPECT_TRUE(m_view.Dragging());
  EXPECT_EQ(m_view.Cursor().kind, CursorKind::Pressed);
  EXPECT_EQ(m_view.Cursor().direction, kDirectionRight);
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42}));

  EXPECT_TRUE(m_view.OnLeftButtonUp(&m_controller));
  EXPECT_FALSE(m_view.Dragging());
  EXPECT_EQ(m_view.Cursor().kind, CursorKind::Hover);
  EXPECT_EQ(m_line.Read(7), kStop);

  // Upper-left quarter point: 45 degrees, pan left and tilt up at speed 31.
  EXPECT_TRUE(m_view.OnLeftButtonDown(&m_controller, 160, 120, 640, 480));
  EXPECT_EQ(m_line.Read(14), Bytes({0xFF, 0x01, 0x00, 0x04, 0x1F, 0x00, 0x24,  //
                                    0xFF, 0x01, 0x00, 0x08, 0x00, 0x1F, 0x28}));
}

TEST_F(PtzViewControlTest, WithoutAControllerNothingIsHandled) {
  EXPECT_FALSE(m_view.OnMouseMove(nullptr, 0, 0, 640, 480));
  EXPECT_FALSE(m_view.OnLeftButtonDown(nullptr, 0, 0, 640, 480));
  EXPECT_FALSE(m_view.OnLeftButtonUp(nullptr));
  EXPECT_FALSE(m_view.OnMouseWheel(nullptr, 120, LeftButton::Released));
  EXPECT_FALSE(m_view.Dragging());
  EXPECT_EQ(m_view.Cursor().kind, CursorKind::Default);
  EXPECT_EQ(m_view.Cursor().direction, kDirectionNone);
  EXPECT_TRUE(m_line.ReadAvailable().empty());
  EXPECT_TRUE(m_recorder.pauses.empty());
}

TEST(PtzDirectionTest, PointerPositionsGiveTheEightDirections) {
  struct Case {
    int x, y, expected;
  };
  // 200 x 200 view, centre (100, 100).
  const Case cases[] = {
      {200, 100, kDirectionRight}, {200, 0, kDirectionUpRight},  {100, 0, kDirectionUp},
      {0, 0, kDirectionUpLeft},    {0, 100, kDirectionLeft},     {0, 200, kDirectionDownLeft},
      {100, 200, kDirectionDown},  {200, 200, kDirectionDownRight},
      {100, 100, kDirectionDown},  // the centre itself
  };
  for (const Case& c : cases) {
    const ViewOffset offset = OffsetFromCentre(c.x, c.y, 200, 200);
    EXPECT_EQ(DirectionIndex(offset.x, -offset.y), c.expected) << c.x << "," << c.y;
  }
}

TEST(PtzDirectionTest, SectorsTurnAtTheirThresholds) {
  // Near the vertical axis only the sign of u counts.
  EXPECT_EQ(DirectionIndex(0.01f, 0.0001f), kDirectionUp);
  EXPECT_EQ(DirectionIndex(-0.01f, -0.0001f), kDirectionDown);
  // The cursor turns at 0.57, not at the 0.5 of the pan-tilt rule.
  EXPECT_EQ(DirectionIndex(1.0f, 0.55f), kDirectionRight);
  EXPECT_EQ(DirectionIndex(1.0f, 0.57f), kDirectionUpRight);
  EXPECT_EQ(DirectionIndex(-1.0f, -0.57f), kDirectionLeft);
  EXPECT_EQ(DirectionIndex(-1.0f, -0.58f), kDirectionDownLeft);
  // A slope of exactly 1.732 already points up, though it pans and tilts.
  EXPECT_EQ(DirectionIndex(0.5f, 0.8659f), kDirectionUpRight);
  EXPECT_EQ(DirectionIndex(0.5f, 0.866f), kDirectionUp);
  EXPECT_EQ(DirectionIndex(-0.5f, -0.8661f), kDirectionDown);
}

TEST(PtzDirectionTest, DegenerateViewsGiveTheCentre) {
  const ViewOffset offset = OffsetFromCentre(0, 0, 1, 0);
  EXPECT_EQ(offset.x, 0.0f);
  EXPECT_EQ(offset.y, 0.0f);
}

}  // namespace
}  // namespace halvard::ptz
