#include "filters/splitter/SplitterFilter.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "filters/tests/FilterTestKit.h"
#include "platform/media/MediaType.h"

namespace {

using halvard::testing::CTestSink;
using halvard::testing::CTestSource;
using halvard::testing::Hold;

constexpr LONG kWidth = 160;
constexpr LONG kHeight = 48;

std::vector<BYTE> Frame(int bytesPerPixel, BYTE first, BYTE value = 100) {
  std::vector<BYTE> f(static_cast<std::size_t>(kWidth * kHeight * bytesPerPixel), value);
  f[0] = first;
  return f;
}

// A splitter with a source and any number of sinks on its outputs.
class SplitterTest : public ::testing::Test {
 protected:
  void SetUp() override { objectsBefore = CBaseObject::ObjectsActive(); }
  void Build(SplitterConfig config, const GUID& subtype = MEDIASUBTYPE_YUY2) {
    HRESULT hr = S_OK;
    filter = Hold(new CSplitterFilter(nullptr, &hr));
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(filter->SetConfig(&config), S_OK);
    source = Hold(new CTestSource({halvard::media::MakeVideoType(subtype, kWidth, kHeight)}));
  }
  HRESULT ConnectInput() { return source->Pin()->Connect(filter->GetPin(0), nullptr); }
  CTestSink* ConnectSink(int output) {
    auto* sink = Hold(new CTestSink());
    sinks.push_back(sink);
    EXPECT_EQ(static_cast<CBasePin*>(filter->GetPin(1 + output))->Connect(sink->Pin(), nullptr), S_OK);
    return sink;
  }
  void Run() {
    for (auto* sink : sinks) {
      ASSERT_EQ(sink->Run(0), S_OK);
    }
    ASSERT_EQ(filter->Run(0), S_OK);
    ASSERT_EQ(source->Run(0), S_OK);
  }
  static std::size_t Count(CTestSink* sink) {
    std::lock_guard lock(sink->mutex);
    return sink->received.size();
  }
  void TearDown() override {
    if (filter == nullptr) {
      return;
    }
    source->Stop();
    filter->Stop();
    for (auto* sink : sinks) {
      sink->Stop();
    }
    source->Pin()->Disconnect();
    for (int i = 0; i < filter->GetPinCount(); ++i) {
      filter->GetPin(i)->Disconnect();
    }
    for (auto* sink : sinks) {
      sink->Pin()->Disconnect();
      sink->NonDelegatingRelease();
    }
    source->NonDelegatingRelease();
    filter->NonDelegatingRelease();
    EXPECT_EQ(CBaseObject::ObjectsActive(), objectsBefore);
  }

  LONG objectsBefore = 0;
  CSplitterFilter* filter = nullptr;
  CTestSource* source = nullptr;
  std::vector<CTestSink*> sinks;
};

TEST_F(SplitterTest, ConfigurationAndInitialPins) {
  HRESULT hr = S_OK;
  filter = Hold(new CSplitterFilter(nullptr, &hr));
  source = Hold(new CTestSource({}));
  SplitterConfig config{};
  EXPECT_EQ(filter->GetConfig(nullptr), E_POINTER);
  EXPECT_EQ(filter->SetConfig(nullptr), E_POINTER);
  ASSERT_EQ(filter->GetConfig(&config), S_OK);
  EXPECT_EQ(config.channelCount, 4);
  EXPECT_EQ(config.colourFormat, 0);
  EXPECT_EQ(config.enhancementLevel, 0);
  ASSERT_EQ(filter->GetPinCount(), 5);
  EXPECT_EQ(filter->GetPin(0)->PinName(), L"Input");
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(filter->GetPin(i)->PinName(), L"Output" + std::to_wstring(i));
    EXPECT_EQ(filter->GetPin(i)->Direction(), PINDIR_OUTPUT);
  }
  ComPtr<ISplitterConfig> configInterface;
  ASSERT_EQ(filter->QueryInterface(IID_ISplitterConfig, configInterface.PutVoid()), S_OK);
  const SplitterConfig rgb{2, 1, 2};
  EXPECT_EQ(configInterface->SetConfig(&rgb), S_OK);
  ASSERT_EQ(configInterface->GetConfig(&config), S_OK);
  EXPECT_EQ(config.channelCount, 2);
  EXPECT_EQ(config.colourFormat, 1);
  EXPECT_EQ(config.enhancementLevel, 2);
  configInterface.Reset();
  // Outputs refuse every type while the input is unconnected.
  auto yuy2 = halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, kWidth, kHeight);
  EXPECT_EQ(filter->GetPin(1)->CheckMediaType(&yuy2), VFW_E_NOT_CONNECTED);
  IEnumMediaTypes* types = nullptr;
  EXPECT_EQ(filter->GetPin(1)->EnumMediaTypes(&types), VFW_E_NOT_CONNECTED);
}

TEST_F(SplitterTest, FramesItCannotHandleSaySoOncePerKind) {
  Build({4, 0, 2});
  // 162 is not a width the enhancement takes (sides must divide by 4).
  source->types = {halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, 162, kHeight)};
  ASSERT_EQ(ConnectInput(), S_OK);
  CTestSink* sink = ConnectSink(0);
  Run();
  halvard::testing::CGraphEvents events;
  events.Attach(filter);
  const auto poster = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter));
  std::vector<BYTE> frame(162u * kHeight * 2u, 100);
  frame[0] = 0;
  ASSERT_EQ(source->Push(frame), S_OK);
  ASSERT_EQ(source->Push(frame), S_OK);
  auto faults = events.Take(kEventFrameFault);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0].param1, kFrameFaultNoEnhancement);
  EXPECT_EQ(faults[0].param2, poster);
  frame[0] = 9;  // a camera the splitter has no output for
  ASSERT_EQ(source->Push(frame), S_OK);
  ASSERT_EQ(source->Push(frame), S_OK);
  faults = events.Take(kEventFrameFault);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0].param1, kFrameFaultNoOutput);
  const std::vector<BYTE> shortFrame(100, 0);
  ASSERT_EQ(source->Push(shortFrame), S_OK);
  ASSERT_EQ(source->Push(shortFrame), S_OK);
  faults = events.Take(kEventFrameFault);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0].param1, kFrameFaultBufferTooSmall);
  // The frames of camera 0 went on: two unenhanced, two untouched short ones.
  EXPECT_EQ(Count(sink), 4u);
}

TEST_F(SplitterTest, InputTypeFollowsTheColourFormat) {
  Build({4, 1, 0}, MEDIASUBTYPE_YUY2);
  EXPECT_NE(ConnectInput(), S_OK);  // RGB24 expected: YUY2 refused
  auto rgb = halvard::media::MakeVideoType(MEDIASUBTYPE_RGB24, kWidth, kHeight);
  EXPECT_EQ(filter->GetPin(0)->QueryAccept(&rgb), S_OK);
  auto rgbWrongCount = rgb;
  reinterpret_cast<VIDEOINFOHEADER*>(rgbWrongCount.Format())->bmiHeader.biBitCount = 32;
  EXPECT_EQ(filter->GetPin(0)->QueryAccept(&rgbWrongCount), S_FALSE);
  const SplitterConfig unknown{4, 7, 0};
  filter->SetConfig(&unknown);
  EXPECT_EQ(filter->GetPin(0)->QueryAccept(&rgb), S_FALSE);
}

TEST_F(SplitterTest, FramesGoToTheOutputOfTheirChannelAndPinsGrow) {
  Build({4, 0, 0});
  ASSERT_EQ(ConnectInput(), S_OK);
  std::vector<CTestSink*> out;
  for (int i = 0; i < 4; ++i) {
    out.push_back(ConnectSink(i));
  }
  ASSERT_EQ(filter->GetPinCount(), 6);  // Output5 appeared
  EXPECT_EQ(filter->GetPin(5)->PinName(), L"Output5");
  out.push_back(ConnectSink(4));
  ASSERT_EQ(filter->GetPinCount(), 7);
  EXPECT_EQ(filter->GetPin(6)->PinName(), L"Output6");
  Run();

  for (BYTE channel : {0, 1, 2, 3, 2, 4}) {
    ASSERT_EQ(source->Push(Frame(2, channel)), S_OK);
  }
  {
    // Downstream gets the very sample that reached the input: nothing is copied.
    std::lock_guard lock(out[4]->mutex);
    EXPECT_EQ(out[4]->received.back().sample, source->lastPushed);
  }
  EXPECT_EQ(Count(out[0]), 1u);
  EXPECT_EQ(Count(out[1]), 1u);
  EXPECT_EQ(Count(out[2]), 2u);
  EXPECT_EQ(Count(out[3]), 1u);
  EXPECT_EQ(Count(out[4]), 1u);
  // Channel 5 is the unconnected Output6, channel 7 has no pin: both dropped.
  ASSERT_EQ(source->Push(Frame(2, 5)), S_OK);
  ASSERT_EQ(source->Push(Frame(2, 7)), S_OK);
  std::size_t total = 0;
  for (auto* sink : out) {
    total += Count(sink);
  }
  EXPECT_EQ(total, 6u);
}

TEST_F(SplitterTest, SingleChannelSendsEverythingToTheFirstOutput) {
  Build({1, 0, 0});
  ASSERT_EQ(ConnectInput(), S_OK);
  CTestSink* first = ConnectSink(0);
  CTestSink* second = ConnectSink(1);
  Run();
  for (BYTE channel : {0, 1, 2, 9}) {
    ASSERT_EQ(source->Push(Frame(2, channel)), S_OK);
  }
  EXPECT_EQ(Count(first), 4u);
  EXPECT_EQ(Count(second), 0u);
}

TEST_F(SplitterTest, StampIsDrawnAfterTheChannelIsRead) {
  Build({4, 0, 0});
  ASSERT_EQ(ConnectInput(), S_OK);
  ConnectSink(0);
  CTestSink* second = ConnectSink(1);
  Run();
  ASSERT_EQ(source->Push(Frame(2, 1)), S_OK);
  std::lock_guard lock(second->mutex);
  ASSERT_EQ(second->received.size(), 1u);
  const auto& data = second->received[0].data;
  // Top-left: the white box (luma 255, neutral chroma) over the channel byte.
  EXPECT_EQ(data[0], 255);
  EXPECT_EQ(data[1], 128);
  // Far right and bottom rows are untouched.
  EXPECT_EQ(data[static_cast<std::size_t>(kWidth * 2 - 2)], 100);
  EXPECT_EQ(data[static_cast<std::size_t>((kHeight - 1) * kWidth * 2)], 100);
  int black = 0;
  for (LONG y = 0; y < 13; ++y) {
    for (LONG x = 0; x < kWidth; ++x) {
      black += data[static_cast<std::size_t>((y * kWidth + x) * 2)] == 0;
    }
  }
  EXPECT_GT(black, 50);
}

TEST_F(SplitterTest, Rgb24StampIsUprightAndEnhancementApplies) {
  Build({4, 1, 1}, MEDIASUBTYPE_RGB24);
  ASSERT_EQ(ConnectInput(), S_OK);
  CTestSink* sink = ConnectSink(0);
  Run();
  const auto frame = Frame(3, 0, 40);  // channel 0 in a uniform dark picture
  ASSERT_EQ(source->Push(frame), S_OK);
  std::lock_guard lock(sink->mutex);
  ASSERT_EQ(sink->received.size(), 1u);
  const auto& data = sink->received[0].data;
  const std::size_t stride = kWidth * 3;
  // The stamp is in the last stored rows (the top of the displayed picture).
  const std::size_t topRow = (kHeight - 1) * stride;
  EXPECT_EQ(data[topRow], 255);
  EXPECT_EQ(data[topRow + 1], 255);
  // The bottom of the picture was lifted by the enhancement and carries no stamp.
  EXPECT_GT(data[stride * 2 + 3 * (kWidth - 2)], 40);
  EXPECT_NE(data[stride * 2 + 3 * (kWidth - 2)], 255);
}

TEST_F(SplitterTest, OnlyOneOutputGivesOutSeeking) {
  Build({4, 0, 0});
  IMediaSeeking* seeking = nullptr;
  ASSERT_EQ(filter->GetPin(2)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
  seeking->Release();
  ASSERT_EQ(filter->GetPin(2)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
  seeking->Release();
  EXPECT_EQ(filter->GetPin(1)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), E_NOINTERFACE);
  EXPECT_EQ(seeking, nullptr);
}

TEST_F(SplitterTest, StreamEventsReachEveryConnectedOutput) {
  Build({4, 0, 0});
  ASSERT_EQ(ConnectInput(), S_OK);
  CTestSink* a = ConnectSink(0);
  CTestSink* b = ConnectSink(2);
  Run();
  IPin* input = filter->GetPin(0);
  EXPECT_EQ(input->NewSegment(0, 100, 1.0), S_OK);
  EXPECT_EQ(input->EndOfStream(), S_OK);
  EXPECT_EQ(input->BeginFlush(), S_OK);
  EXPECT_EQ(input->EndFlush(), S_OK);
  for (CTestSink* sink : {a, b}) {
    std::lock_guard lock(sink->mutex);
    EXPECT_EQ(sink->newSegments, 1);
    EXPECT_EQ(sink->endOfStreams, 1);
    EXPECT_EQ(sink->beginFlushes, 1);
    EXPECT_EQ(sink->endFlushes, 1);
  }
}

TEST_F(SplitterTest, NoMoreThanAThousandOutputs) {
  Build({4, 0, 0});
  ASSERT_EQ(ConnectInput(), S_OK);
  for (int i = 0; i < CSplitterFilter::kMaxOutputPins; ++i) {
    ConnectSink(i);
    ASSERT_LE(filter->GetPinCount(), 1 + CSplitterFilter::kMaxOutputPins);
  }
  EXPECT_EQ(filter->GetPinCount(), 1 + CSplitterFilter::kMaxOutputPins);
  EXPECT_EQ(filter->GetPin(CSplitterFilter::kMaxOutputPins)->PinName(), L"Output1000");
}

TEST_F(SplitterTest, ReconnectingWithAnotherSizePreparesAgain) {
  Build({4, 0, 2});
  ASSERT_EQ(ConnectInput(), S_OK);
  CTestSink* sink = ConnectSink(0);
  Run();
  ASSERT_EQ(source->Push(Frame(2, 0)), S_OK);
  source->Stop();
  filter->Stop();
  sink->Stop();
  source->Pin()->Disconnect();
  filter->GetPin(0)->Disconnect();
  // A smaller picture on the same input: the buffers of the first size must not be used.
  source->types = {halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, 64, 32)};
  ASSERT_EQ(ConnectInput(), S_OK);
  ASSERT_EQ(sink->Run(0), S_OK);
  ASSERT_EQ(filter->Run(0), S_OK);
  ASSERT_EQ(source->Run(0), S_OK);
  std::vector<BYTE> small(64u * 32u * 2u, 40);
  small[0] = 0;
  ASSERT_EQ(source->Push(small), S_OK);
  EXPECT_EQ(Count(sink), 2u);
}

}  // namespace
