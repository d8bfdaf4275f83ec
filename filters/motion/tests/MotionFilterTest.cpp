#include "filters/motion/MotionFilter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "filters/tests/FilterTestKit.h"
#include "platform/media/MediaType.h"
#include "platform/time/Time.h"

namespace {

using halvard::motion::NotifyState;
using halvard::testing::CTestSink;
using halvard::testing::CTestSource;
using halvard::testing::Hold;

constexpr LONG kWidth = 64;
constexpr LONG kHeight = 48;

std::vector<BYTE> Yuy2Frame(BYTE luma, int changedBlockColumn = -1) {
  std::vector<BYTE> f(static_cast<std::size_t>(kWidth * kHeight * 2), 128);
  for (LONG y = 0; y < kHeight; ++y) {
    for (LONG x = 0; x < kWidth; ++x) {
      const bool changed = changedBlockColumn >= 0 && y >= 16 && y < 32 && x / 16 == changedBlockColumn;
      f[static_cast<std::size_t>((y * kWidth + x) * 2)] = changed ? 250 : luma;
    }
  }
  return f;
}

MotionParams Params(HWND window, DWORD holdMs = 1000, DWORD rearmMs = 5000) {
  MotionParams p{};
  p.holdPeriodMs = holdMs;
  p.rearmPeriodMs = rearmMs;
  p.notifyWindow = window;
  p.reserved = 77;
  p.width = kWidth;
  p.height = kHeight;
  p.topMargin = 16;
  p.bottomMargin = 0;
  p.bytesPerPixel = 2;
  p.blockSize = 16;
  p.threshold = 15;
  return p;
}

// Source -> motion filter -> sink, running, with a manual clock and a window that counts
// the motion commands it receives.
class MotionGraph : public ::testing::Test {
 protected:
  void SetUp() override {
    objectsBefore = CBaseObject::ObjectsActive();
    window = halvard::window::CreateWindowHandle(
        [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
          if (message == WM_COMMAND && wParam == ID_MOTION_DETECTED && lParam == 0) {
            ++messages;
          }
          return 0;
        },
        &queue);
    HRESULT hr = S_OK;
    filter = Hold(new CMotionFilter(nullptr, &hr));
    ASSERT_EQ(hr, S_OK);
    source = Hold(new CTestSource({halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, kWidth, kHeight)}));
    sink = Hold(new CTestSink());
    ASSERT_EQ(filter->QueryInterface(IID_IMotionDetect, reinterpret_cast<void**>(&detect)), S_OK);
    MotionParams p = Params(window);
    ASSERT_EQ(detect->SetParams(&p), S_OK);
    ASSERT_EQ(source->Pin()->Connect(filter->GetPin(0), nullptr), S_OK);
    ASSERT_EQ(static_cast<CBasePin*>(filter->GetPin(1))->Connect(sink->Pin(), nullptr), S_OK);
    ASSERT_EQ(sink->Run(0), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    ASSERT_EQ(source->Run(0), S_OK);
  }
  void TearDown() override {
    source->Stop();
    filter->Stop();
    sink->Stop();
    source->Pin()->Disconnect();
    filter->GetPin(0)->Disconnect();
    filter->GetPin(1)->Disconnect();
    sink->Pin()->Disconnect();
    detect->Release();
    source->NonDelegatingRelease();
    filter->NonDelegatingRelease();
    sink->NonDelegatingRelease();
    halvard::window::DestroyWindowHandle(window);
    EXPECT_EQ(CBaseObject::ObjectsActive(), objectsBefore);  // every reference returned
  }
  void Push(const std::vector<BYTE>& frame) { ASSERT_EQ(source->Push(frame), S_OK); }
  int Messages() {
    queue.PumpPending();
    return messages;
  }

  LONG objectsBefore = 0;
  halvard::time::CManualClock clock{10000};
  halvard::time::ScopedTimeSource timeSource{clock.Source()};
  halvard::window::CMessageQueue queue;
  HWND window = 0;
  int messages = 0;
  CMotionFilter* filter = nullptr;
  CTestSource* source = nullptr;
  CTestSink* sink = nullptr;
  IMotionDetect* detect = nullptr;
};

TEST_F(MotionGraph, OneMessagePerEpisodeAndSamplesPassUnchanged) {
  const auto still = Yuy2Frame(80);
  const auto moved = Yuy2Frame(80, 2);
  for (int i = 0; i < 6; ++i) {
    Push(still);
  }
  EXPECT_EQ(Messages(), 0);
  Push(still);
  Push(moved);
  Push(still);
  EXPECT_EQ(queue.PendingCount(), 0u);
  Push(moved);  // second moving pair: detection, posted rather than sent
  EXPECT_EQ(queue.PendingCount(), 1u);
  EXPECT_EQ(Messages(), 1);
  EXPECT_EQ(filter->NotifyState(), NotifyState::Holding);

  // While holding nothing is analysed; after it, continued motion holds again silently.
  for (int i = 0; i < 4; ++i) {
    Push(i % 2 ? moved : still);
  }
  clock.Advance(1001);
  Push(still);  // ends the hold
  EXPECT_EQ(filter->NotifyState(), NotifyState::Watching);
  Push(moved);
  Push(still);
  Push(moved);  // the flag survived the hold: this pair reports at once
  EXPECT_EQ(filter->NotifyState(), NotifyState::Holding);
  EXPECT_EQ(Messages(), 1);

  // Quiet for longer than the re-arm period after the hold: idle, then a new episode posts.
  clock.Advance(1001);
  Push(still);
  clock.Advance(5001);
  Push(still);
  Push(still);
  EXPECT_EQ(filter->NotifyState(), NotifyState::Idle);
  for (int i = 0; i < 4; ++i) {
    Push(i % 2 ? moved : still);
  }
  EXPECT_EQ(Messages(), 2);

  std::lock_guard lock(sink->mutex);
  ASSERT_FALSE(sink->received.empty());
  EXPECT_EQ(sink->received.front().data, still);
  EXPECT_EQ(sink->received.back().data, moved);
}

TEST_F(MotionGraph, NoWindowMeansNoMessageButStatesChange) {
  MotionParams p = Params(0);
  ASSERT_EQ(detect->SetParams(&p), S_OK);
  const auto still = Yuy2Frame(80);
  const auto moved = Yuy2Frame(80, 1);
  for (int i = 0; i < 4; ++i) {
    Push(i % 2 ? moved : still);
  }
  EXPECT_EQ(filter->NotifyState(), NotifyState::Holding);
  EXPECT_EQ(Messages(), 0);
}

TEST_F(MotionGraph, ParametersThatDoNotDescribeTheFramesReadNothingAndSaySoOnce) {
  // Claims a taller picture than the connection carries: analysis would read past the
  // sample, so it is skipped, and the first skipped frame posts one fault event.
  halvard::testing::CGraphEvents events;
  events.Attach(filter);
  const auto poster = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter));
  MotionParams p = Params(window);
  p.height = kHeight * 4;
  ASSERT_EQ(detect->SetParams(&p), S_OK);
  const auto still = Yuy2Frame(80);
  const auto moved = Yuy2Frame(80, 3);
  for (int i = 0; i < 8; ++i) {
    Push(i % 2 ? moved : still);
  }
  EXPECT_EQ(Messages(), 0);
  auto faults = events.Take(kEventFrameFault);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0].param1, kFrameFaultMotionGeometry);
  EXPECT_EQ(faults[0].param2, poster);
  // RGB24 parameters on a YUY2 connection: no analysis either; a new configuration
  // reports its own mismatch.
  p = Params(window);
  p.bytesPerPixel = 3;
  ASSERT_EQ(detect->SetParams(&p), S_OK);
  for (int i = 0; i < 8; ++i) {
    Push(i % 2 ? moved : still);
  }
  EXPECT_EQ(Messages(), 0);
  faults = events.Take(kEventFrameFault);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0].param1, kFrameFaultMotionGeometry);
  // A sample shorter than the frame is not read (the sanitizers would notice).
  p = Params(window);
  ASSERT_EQ(detect->SetParams(&p), S_OK);
  std::vector<BYTE> shortMoved(moved.begin(), moved.begin() + kWidth * 2 * 20);
  for (int i = 0; i < 8; ++i) {
    Push(i % 2 ? shortMoved : still);
  }
  EXPECT_EQ(Messages(), 0);
  faults = events.Take(kEventFrameFault);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0].param1, kFrameFaultBufferTooSmall);
  // Every frame passed on all the same; matching frames post nothing.
  for (int i = 0; i < 4; ++i) {
    Push(still);
  }
  EXPECT_TRUE(events.Take(kEventFrameFault).empty());
  std::lock_guard lock(sink->mutex);
  EXPECT_EQ(sink->received.size(), 28u);
}

TEST_F(MotionGraph, ReconnectingReportsAgain) {
  halvard::testing::CGraphEvents events;
  events.Attach(filter);
  MotionParams p = Params(window);
  p.width = kWidth * 2;
  ASSERT_EQ(detect->SetParams(&p), S_OK);
  Push(Yuy2Frame(80));
  Push(Yuy2Frame(80));
  EXPECT_EQ(events.Take(kEventFrameFault).size(), 1u);
  source->Stop();
  filter->Stop();
  sink->Stop();
  ASSERT_EQ(source->Pin()->Disconnect(), S_OK);
  ASSERT_EQ(filter->GetPin(0)->Disconnect(), S_OK);
  ASSERT_EQ(source->Pin()->Connect(filter->GetPin(0), nullptr), S_OK);
  ASSERT_EQ(sink->Run(0), S_OK);
  ASSERT_EQ(filter->Run(0), S_OK);
  ASSERT_EQ(source->Run(0), S_OK);
  Push(Yuy2Frame(80));
  Push(Yuy2Frame(80));
  EXPECT_EQ(events.Take(kEventFrameFault).size(), 1u);
}

TEST_F(MotionGraph, EndOfStreamAndFlushesPassThrough) {
  IPin* input = filter->GetPin(0);
  EXPECT_EQ(input->EndOfStream(), S_OK);
  EXPECT_EQ(input->BeginFlush(), S_OK);
  EXPECT_EQ(input->EndFlush(), S_OK);
  std::lock_guard lock(sink->mutex);
  EXPECT_EQ(sink->endOfStreams, 1);
  EXPECT_EQ(sink->beginFlushes, 1);
  EXPECT_EQ(sink->endFlushes, 1);
}

TEST(MotionFilter, ParametersRoundTripAndRefusals) {
  HRESULT hr = S_OK;
  CMotionFilter* filter = Hold(new CMotionFilter(nullptr, &hr));
  ComPtr<IMotionDetect> detect;
  ASSERT_EQ(filter->QueryInterface(IID_IMotionDetect, detect.PutVoid()), S_OK);
  EXPECT_EQ(detect->GetParams(nullptr), E_POINTER);
  EXPECT_EQ(detect->SetParams(nullptr), E_POINTER);

  MotionParams initial{};
  ASSERT_EQ(detect->GetParams(&initial), S_OK);
  EXPECT_EQ(initial.holdPeriodMs, 180000u);
  EXPECT_EQ(initial.rearmPeriodMs, 900000u);
  EXPECT_EQ(initial.notifyWindow, 0u);
  ASSERT_NE(initial.areaBitmap, nullptr);

  MotionParams set = Params(1234, 60000, 120000);
  ASSERT_EQ(detect->SetParams(&set), S_OK);
  MotionParams got{};
  ASSERT_EQ(detect->GetParams(&got), S_OK);
  set.areaBitmap = initial.areaBitmap;
  EXPECT_EQ(std::memcmp(&got, &set, sizeof got), 0);

  MotionParams tooFine = Params(99);
  tooFine.width = 640;
  tooFine.height = 480;
  tooFine.blockSize = 4;  // 18560 blocks
  EXPECT_EQ(detect->SetParams(&tooFine), E_INVALIDARG);
  ASSERT_EQ(detect->GetParams(&got), S_OK);
  EXPECT_EQ(got.notifyWindow, 1234u);  // nothing taken
  EXPECT_EQ(got.blockSize, 16);
  EXPECT_EQ(got.areaBitmap, initial.areaBitmap);

  // Field 11 is pointer-sized and follows the eleven 32-bit fields.
  static_assert(sizeof(MotionParams::areaBitmap) == sizeof(void*));
  static_assert(offsetof(MotionParams, threshold) == 40);

  ComPtr<IBaseFilter> base;
  ASSERT_EQ(detect->QueryInterface(IID_IBaseFilter, base.PutVoid()), S_OK);
  base.Reset();
  detect.Reset();
  filter->NonDelegatingRelease();
}

TEST(MotionFilter, AcceptsYuy2AndRgb24WithTheirBitCountsOnly) {
  HRESULT hr = S_OK;
  CMotionFilter* filter = Hold(new CMotionFilter(nullptr, &hr));
  CBasePin* input = filter->GetPin(0);
  CBasePin* output = filter->GetPin(1);
  EXPECT_EQ(input->PinName(), L"Input");
  EXPECT_EQ(output->PinName(), L"Output");
  auto yuy2 = halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240);
  auto rgb24 = halvard::media::MakeVideoType(MEDIASUBTYPE_RGB24, 320, 240);
  auto rgb32 = halvard::media::MakeVideoType(MEDIASUBTYPE_RGB32, 320, 240);
  EXPECT_EQ(filter->CheckInputType(&yuy2), S_OK);
  EXPECT_EQ(filter->CheckInputType(&rgb24), S_OK);
  EXPECT_EQ(filter->CheckInputType(&rgb32), VFW_E_TYPE_NOT_ACCEPTED);
  auto badCount = rgb24;
  reinterpret_cast<VIDEOINFOHEADER*>(badCount.Format())->bmiHeader.biBitCount = 16;
  EXPECT_EQ(filter->CheckInputType(&badCount), VFW_E_TYPE_NOT_ACCEPTED);
  auto audio = yuy2;
  audio.SetType(&MEDIATYPE_Audio);
  EXPECT_EQ(filter->CheckInputType(&audio), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType noFormat(&MEDIATYPE_Video);
  noFormat.SetSubtype(&MEDIASUBTYPE_YUY2);
  EXPECT_EQ(filter->CheckInputType(&noFormat), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(input->QueryAccept(&yuy2), S_OK);
  EXPECT_EQ(input->QueryAccept(&rgb32), S_FALSE);
  filter->NonDelegatingRelease();
}

}  // namespace
