// The camera view's surface: the streaming thread only keeps the newest picture, the
// view converts when it paints and never while it is hidden; the frame routes the
// motion command and hides on the operator's close.

#include <gtest/gtest.h>

#include <thread>

#include <QElapsedTimer>

#include "platform/media/Uuids.h"
#include "server/ui/Commands.h"
#include "server/ui/QtDispatcher.h"
#include "server/ui/QtVideoSurface.h"
#include "server/ui/VMDoc.h"
#include "server/ui/VMFrame.h"
#include "server/ui/VMView.h"
#include "server/ui/tests/UiTestSupport.h"

namespace halvard::ui {
namespace {

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
}

/// A YUY2 picture of one luma level (neutral chroma).
std::vector<BYTE> Yuy2(LONG width, LONG height, BYTE luma) {
  std::vector<BYTE> bytes(static_cast<std::size_t>(width * height * 2));
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    bytes[i] = luma;
    bytes[i + 1] = 128;
  }
  return bytes;
}

VideoFrameView ViewOf(const std::vector<BYTE>& bytes, LONG width, LONG height) {
  return VideoFrameView{bytes.data(), width * 2, width, height, MEDIASUBTYPE_YUY2, false, -1};
}

class COwner final : public ICameraDocumentOwner {
 public:
  void OnCameraMotion(CVMDoc&) override { ++motions; }
  void OnCameraClosedByOperator(CVMDoc&) override { ++closes; }
  void OnCameraCommand(CVMDoc&, unsigned) override {}
  std::string DocumentText(unsigned id) override { return testing::ModuleText(id); }
  int motions = 0;
  int closes = 0;
};

class VideoSurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    previous = window::SetDefaultDispatcher(&dispatcher);
  }
  void TearDown() override { window::SetDefaultDispatcher(previous); }
  CQtDispatcher dispatcher;
  window::IMessageDispatcher* previous = nullptr;
};

TEST_F(VideoSurfaceTest, OnlyTheNewestPictureIsConvertedAndOnlyWhenTaken) {
  CQtVideoSurface* surface = CQtVideoSurface::Create(0);
  ASSERT_NE(surface, nullptr);
  QImage image;
  EXPECT_FALSE(surface->TakeNewest(&image));
  std::thread streaming([surface] {
    for (int i = 0; i < 20; ++i) {
      const auto bytes = Yuy2(8, 4, static_cast<BYTE>(i == 19 ? 235 : 16));
      EXPECT_EQ(surface->Present(ViewOf(bytes, 8, 4)), S_OK);
    }
  });
  streaming.join();
  EXPECT_EQ(surface->PresentedCount(), 20);
  EXPECT_EQ(surface->ConvertedCount(), 0) << "the streaming thread converts nothing";
  ASSERT_TRUE(surface->TakeNewest(&image));
  EXPECT_EQ(surface->ConvertedCount(), 1);
  EXPECT_EQ(image.size(), QSize(8, 4));
  EXPECT_GT(qGray(image.pixel(3, 2)), 240) << "the last picture, not an earlier one";
  EXPECT_FALSE(surface->TakeNewest(&image)) << "nothing new since";

  // Bad pictures are refused without touching the kept one.
  const auto bytes = Yuy2(8, 4, 16);
  VideoFrameView bad = ViewOf(bytes, 8, 4);
  bad.subtype = GUID{};
  EXPECT_EQ(surface->Present(bad), E_INVALIDARG);
  bad = ViewOf(bytes, 0, 4);
  EXPECT_EQ(surface->Present(bad), E_INVALIDARG);
  bad.data = nullptr;
  EXPECT_EQ(surface->Present(bad), E_POINTER);
  surface->NonDelegatingRelease();
}

TEST_F(VideoSurfaceTest, AHiddenViewConvertsNothingAndPaintsTheNewestWhenShown) {
  COwner owner;
  CVMDoc doc(owner, nullptr, 0, "Card A", "Input 0");
  CVMView view(doc);
  view.resize(CVMView::kInitialWidth, CVMView::kInitialHeight);
  CQtVideoSurface* surface = view.Surface();
  std::thread streaming([surface] {
    for (int i = 0; i < 10; ++i) {
      const auto bytes = Yuy2(32, 24, static_cast<BYTE>(i == 9 ? 235 : 16));
      (void)surface->Present(ViewOf(bytes, 32, 24));
    }
  });
  streaming.join();
  Pump(50);
  EXPECT_EQ(view.ConvertedCount(), 0);
  view.show();
  Pump(100);
  EXPECT_EQ(view.ConvertedCount(), 1);
  const QImage shown = view.grab().toImage();
  EXPECT_GT(qGray(shown.pixel(shown.width() / 2, shown.height() / 2)), 240);
  // While shown, new pictures are converted again.
  const auto bytes = Yuy2(32, 24, 16);
  (void)surface->Present(ViewOf(bytes, 32, 24));
  Pump(100);
  EXPECT_EQ(view.ConvertedCount(), 2);
}

TEST_F(VideoSurfaceTest, FrameRoutesMotionAndHidesOnTheOperatorsClose) {
  COwner owner;
  CVMDoc doc(owner, nullptr, 2, "Card A", "Input 2");
  CVMFrame frame(doc, "Card A-Input 2");
  frame.show();
  EXPECT_EQ(frame.windowTitle().toStdString(), "Card A-Input 2");
  // From the filter's streaming thread.
  std::thread([&frame] { PostMessage(frame.Handle(), WM_COMMAND, MAKEWPARAM(kCmdMotion, 0), 0); }).join();
  PostMessage(frame.Handle(), WM_COMMAND, MAKEWPARAM(kCmdMotion + 1, 0), 0);
  Pump(50);
  EXPECT_EQ(owner.motions, 1);
  frame.close();
  EXPECT_FALSE(frame.isVisible());
  EXPECT_EQ(owner.closes, 1);
  frame.SetClosingForGood();
  frame.show();
  frame.close();
  EXPECT_EQ(owner.closes, 1) << "a close for good is not the operator's";
}

}  // namespace
}  // namespace halvard::ui
