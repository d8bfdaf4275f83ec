// The three filters in one running graph, as a capture group uses them: the simulated
// multiplexing card -> ZelHDSimulation (320 x 240 to 640 x 480) -> ZelSplitter (four
// cameras, enhancement level 2) -> per camera ZelMotion -> a sink. Motion on the second
// camera alone gives exactly one motion message, from that camera's filter only.

#include <gtest/gtest.h>

#include <array>
#include <atomic>

#include "filters/hdsimulation/HDSimulationFilter.h"
#include "filters/motion/MotionFilter.h"
#include "filters/splitter/SplitterFilter.h"
#include "filters/tests/FilterTestKit.h"
#include "platform/capture/CaptureSource.h"
#include "platform/capture/CardState.h"
#include "platform/media/BuiltinClasses.h"
#include "platform/time/Time.h"

namespace {

using halvard::testing::CTestSink;
using halvard::testing::Hold;

IPin* FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
  IEnumPins* pins = nullptr;
  if (FAILED(filter->EnumPins(&pins))) {
    return nullptr;
  }
  IPin* found = nullptr;
  IPin* pin = nullptr;
  while (found == nullptr && pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION direction{};
    pin->QueryDirection(&direction);
    if (direction == wanted) {
      found = pin;
    } else {
      pin->Release();
    }
  }
  pins->Release();
  return found;  // AddRef'd
}

TEST(FilterPipeline, MotionOnOneCameraGivesOneMessageFromItsFilterOnly) {
  halvard::media::RegisterBuiltinMediaClasses();
  halvard::capture::SetSimulatedMotion(0, 1, true);

  halvard::window::CMessageQueue queue;
  std::array<std::atomic<int>, 4> messages{};
  std::array<HWND, 4> windows{};
  for (int i = 0; i < 4; ++i) {
    windows[static_cast<std::size_t>(i)] = halvard::window::CreateWindowHandle(
        [&messages, i](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
          if (message == WM_COMMAND && wParam == ID_MOTION_DETECTED) {
            ++messages[static_cast<std::size_t>(i)];
          }
          return 0;
        },
        &queue);
  }

  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(halvard::com::CreateInstance(CLSID_FilterGraph, &graph), S_OK);
  ComPtr<IBaseFilter> capture;
  ASSERT_EQ(halvard::com::CreateInstance(CLSID_HalvardSimulatedCapture, &capture), S_OK);
  HRESULT hr = S_OK;
  auto* hdFilter = new CHDSimulationFilter(nullptr, &hr);
  auto* splitFilter = new CSplitterFilter(nullptr, &hr);
  ComPtr<IBaseFilter> scaler(static_cast<IBaseFilter*>(hdFilter));
  ComPtr<IBaseFilter> splitter(static_cast<IBaseFilter*>(splitFilter));
  ASSERT_EQ(graph->AddFilter(capture.Get(), L"Capture"), S_OK);
  ASSERT_EQ(graph->AddFilter(scaler.Get(), L"HD"), S_OK);
  ASSERT_EQ(graph->AddFilter(splitter.Get(), L"Splitter"), S_OK);

  ComPtr<IHDSimulation> hd;
  ASSERT_EQ(scaler.As(&hd), S_OK);
  ASSERT_EQ(hd->SetOutputSize(640, 480), S_OK);
  ComPtr<ISplitterConfig> config;
  ASSERT_EQ(splitter.As(&config), S_OK);
  const SplitterConfig c{4, 0, 2};
  ASSERT_EQ(config->SetConfig(&c), S_OK);

  ComPtr<IPin> captureOut = ComPtr<IPin>::Attach(FirstPin(capture.Get(), PINDIR_OUTPUT));
  ASSERT_TRUE(captureOut);
  ASSERT_EQ(graph->ConnectDirect(captureOut.Get(), hdFilter->GetPin(0), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(hdFilter->GetPin(1), splitFilter->GetPin(0), nullptr), S_OK);

  std::array<ComPtr<IBaseFilter>, 4> motion;
  std::array<CTestSink*, 4> sinks{};
  for (int i = 0; i < 4; ++i) {
    auto* m = new CMotionFilter(nullptr, &hr);
    motion[static_cast<std::size_t>(i)] = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(m));
    ASSERT_EQ(graph->AddFilter(motion[static_cast<std::size_t>(i)].Get(), (L"Motion" + std::to_wstring(i)).c_str()),
              S_OK);
    MotionParams p{};
    p.holdPeriodMs = 600000;
    p.rearmPeriodMs = 600000;
    p.notifyWindow = windows[static_cast<std::size_t>(i)];
    p.width = 640;
    p.height = 480;
    p.topMargin = 16;
    p.bytesPerPixel = 2;
    p.blockSize = 32;
    p.threshold = 15;
    ASSERT_EQ(m->SetParams(&p), S_OK);
    ASSERT_EQ(graph->ConnectDirect(splitFilter->GetPin(1 + i), m->GetPin(0), nullptr), S_OK);
    sinks[static_cast<std::size_t>(i)] = new CTestSink();
    ComPtr<IBaseFilter> sink(static_cast<IBaseFilter*>(sinks[static_cast<std::size_t>(i)]));
    ASSERT_EQ(graph->AddFilter(sink.Get(), (L"Sink" + std::to_wstring(i)).c_str()), S_OK);
    ASSERT_EQ(graph->ConnectDirect(m->GetPin(1), sinks[static_cast<std::size_t>(i)]->Pin(), nullptr), S_OK);
  }
  EXPECT_EQ(splitFilter->GetPinCount(), 6);  // a fifth output appeared

  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(&control), S_OK);
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  // Each camera gets a quarter of the card's frames; give every one of them a few pairs.
  queue.PumpUntil(
      [&] {
        for (auto* sink : sinks) {
          std::lock_guard lock(sink->mutex);
          if (sink->received.size() < 12) {
            return false;
          }
        }
        return messages[1] > 0;
      },
      20000);
  control->Stop();
  queue.PumpPending();

  EXPECT_EQ(messages[0], 0);
  EXPECT_EQ(messages[1], 1);
  EXPECT_EQ(messages[2], 0);
  EXPECT_EQ(messages[3], 0);
  for (auto* sink : sinks) {
    std::lock_guard lock(sink->mutex);
    EXPECT_GE(sink->received.size(), 4u);
    if (!sink->received.empty()) {
      EXPECT_EQ(sink->received[0].data.size(), 640u * 480u * 2u);
    }
  }
  for (HWND w : windows) {
    halvard::window::DestroyWindowHandle(w);
  }
  halvard::capture::SetSimulatedMotion(0, 1, false);
}

}  // namespace
