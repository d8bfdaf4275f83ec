// Framework cost per sample: a frame copied by a source into its sample, through a Smart
// Tee, to the video renderer (memory surface), beside a plain copy of the same frame.
//
//   build/bin/media_bench
//
// BM_SimulatedCardFrame: drawing one picture of the simulated card (YUY2 / RGB24).
// BM_PlainCopy is the reference: one memcpy of the frame. BM_SourceTeeRenderer runs a
// graph for 300 frames per iteration and reports the time per frame; the difference is
// what the framework adds (allocators, delivery, the tee, the renderer's bookkeeping and
// its copy to the surface).

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/capture/SceneGenerator.h"
#include "platform/media/BuiltinClasses.h"
#include "platform/media/Streams.h"

namespace {

// {2EF8F88E-45DF-4D48-92A3-52C3C3846320}: the benchmark's own source.
constexpr GUID kClsidBenchSource{0x2EF8F88E, 0x45DF, 0x4D48, {0x92, 0xA3, 0x52, 0xC3, 0xC3, 0x84, 0x63, 0x20}};

class CBenchPin final : public CSourceStream {
 public:
  CBenchPin(HRESULT* phr, CSource* filter, LONG width, LONG height, LONGLONG frames)
      : CSourceStream(L"Bench pin", phr, filter, L"Output"),
        m_width(width),
        m_height(height),
        m_limit(frames),
        m_frame(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 2) {
    for (std::size_t i = 0; i < m_frame.size(); ++i) {
      m_frame[i] = static_cast<BYTE>(i * 13);
    }
  }
  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    if (position < 0) {
      return E_INVALIDARG;
    }
    if (position > 0) {
      return VFW_S_NO_MORE_ITEMS;
    }
    *pmt = halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, m_width, m_height);
    return S_OK;
  }
  HRESULT CheckMediaType(const CMediaType* pmt) override {
    CMediaType mine;
    if (pmt == nullptr || GetMediaType(0, &mine) != S_OK) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return mine == *pmt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = std::max<LONG>(request->cBuffers, 3);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, static_cast<LONG>(m_frame.size()));
    request->cbAlign = std::max<LONG>(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    return alloc->SetProperties(request, &actual);
  }
  HRESULT OnThreadCreate() override {
    m_sent = 0;
    return S_OK;
  }
  HRESULT FillBuffer(IMediaSample* sample) override {
    if (m_sent >= m_limit) {
      return S_FALSE;
    }
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memcpy(data, m_frame.data(), m_frame.size());
    sample->SetActualDataLength(static_cast<LONG>(m_frame.size()));
    sample->SetTime(nullptr, nullptr);
    sample->SetSyncPoint(TRUE);
    ++m_sent;
    return S_OK;
  }

 private:
  LONG m_width;
  LONG m_height;
  LONGLONG m_limit;
  LONGLONG m_sent = 0;
  std::vector<BYTE> m_frame;
};

class CBenchSource final : public CSource {
 public:
  CBenchSource(HRESULT* phr, LONG width, LONG height, LONGLONG frames)
      : CSource(L"Bench source", nullptr, kClsidBenchSource, phr) {
    new CBenchPin(phr, this, width, height, frames);
  }
};

template <class T>
T* Query(IUnknown* unknown, REFIID iid) {
  void* p = nullptr;
  return SUCCEEDED(unknown->QueryInterface(iid, &p)) ? static_cast<T*>(p) : nullptr;
}

void BM_PlainCopy(benchmark::State& state) {
  const auto bytes = static_cast<std::size_t>(state.range(0) * state.range(1) * 2);
  std::vector<BYTE> src(bytes, 7);
  std::vector<BYTE> dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

void BM_SourceTeeRenderer(benchmark::State& state) {
  constexpr LONGLONG kFrames = 300;
  const auto width = static_cast<LONG>(state.range(0));
  const auto height = static_cast<LONG>(state.range(1));
  halvard::media::RegisterBuiltinMediaClasses();
  double totalUs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> tee;
    ComPtr<IBaseFilter> renderer;
    if (FAILED(halvard::com::CreateInstance(CLSID_FilterGraph, &graph)) ||
        FAILED(halvard::com::CreateInstance(CLSID_SmartTee, &tee)) ||
        FAILED(halvard::com::CreateInstance(CLSID_VideoRenderer, &renderer))) {
      state.SkipWithError("the media classes are missing");
      return;
    }
    HRESULT hr = S_OK;
    auto* sourceObject = new CBenchSource(&hr, width, height, kFrames);
    ComPtr<IBaseFilter> source(static_cast<IBaseFilter*>(sourceObject));
    graph->AddFilter(source.Get(), L"Source");
    graph->AddFilter(tee.Get(), L"Tee");
    graph->AddFilter(renderer.Get(), L"VidRender");
    ComPtr<IPin> out;
    ComPtr<IPin> teeIn;
    ComPtr<IPin> teeOut;
    ComPtr<IPin> renderIn;
    source->FindPin(L"Output", out.ReleaseAndGetAddressOf());
    tee->FindPin(L"Input", teeIn.ReleaseAndGetAddressOf());
    tee->FindPin(L"Capture", teeOut.ReleaseAndGetAddressOf());
    ComPtr<IEnumPins> pins;
    renderer->EnumPins(pins.ReleaseAndGetAddressOf());
    pins->Next(1, renderIn.ReleaseAndGetAddressOf(), nullptr);
    if (!out || !teeIn || !teeOut || !renderIn || FAILED(graph->Connect(out.Get(), teeIn.Get())) ||
        FAILED(graph->Connect(teeOut.Get(), renderIn.Get()))) {
      state.SkipWithError("the graph does not connect");
      return;
    }
    // The samples carry no times: every frame is drawn as soon as it comes.
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    if (FAILED(graph.As(&control)) || FAILED(graph.As(&events))) {
      state.SkipWithError("the graph lacks its control interfaces");
      return;
    }
    state.ResumeTiming();

    const auto start = std::chrono::steady_clock::now();
    control->Run();
    LONG code = 0;
    events->WaitForCompletion(60000, &code);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    state.PauseTiming();
    control->Stop();
    totalUs += std::chrono::duration<double, std::micro>(elapsed).count();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.counters["us_per_frame"] = totalUs / static_cast<double>(state.iterations() * kFrames);
}

}  // namespace

// What one picture of the simulated card costs to draw (scene, clock, noise, controls).
void BM_SimulatedCardFrame(benchmark::State& state) {
  halvard::capture::CSceneGenerator generator;
  halvard::capture::SceneRequest request;
  request.size = {static_cast<LONG>(state.range(0)), static_cast<LONG>(state.range(1))};
  request.layout = state.range(2) == 0 ? halvard::capture::PixelLayout::Yuy2 : halvard::capture::PixelLayout::Rgb24;
  std::vector<BYTE> frame(halvard::capture::FrameBytes(request.layout, request.size));
  for (auto _ : state) {
    ++request.frameNumber;
    ++request.motionStep;
    benchmark::DoNotOptimize(generator.Render(request, frame.data(), frame.size()));
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_SimulatedCardFrame)->Args({320, 240, 0})->Args({640, 480, 0})->Args({640, 480, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCopy)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SourceTeeRenderer)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
