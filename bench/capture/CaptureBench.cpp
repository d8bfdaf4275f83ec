// What one picture of the simulated card costs to draw, beside a plain copy of a frame of
// the same size (the cheapest thing a capture source does with a frame anyway).
//
//   build/bin/capture_bench
//
// BM_SceneFrame/W/H/L draws one frame (L = 0: YUY2, 1: RGB24) of a moving scene: a new
// frame number (noise), a new motion step (object) and a new clock second every frame,
// which is more than a running card redraws. BM_PlainCopy/W/H/L is one memcpy of a frame
// of that layout and size; the ratio of the two is the figure to watch.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/capture/SceneGenerator.h"

namespace {

using halvard::capture::FrameBytes;
using halvard::capture::FrameSize;
using halvard::capture::PixelLayout;

FrameSize SizeOf(const benchmark::State& state) {
  return {static_cast<LONG>(state.range(0)), static_cast<LONG>(state.range(1))};
}

PixelLayout LayoutOf(const benchmark::State& state) {
  return state.range(2) == 0 ? PixelLayout::Yuy2 : PixelLayout::Rgb24;
}

void BM_SceneFrame(benchmark::State& state) {
  halvard::capture::CSceneGenerator generator;
  halvard::capture::SceneRequest request;
  request.camera = 3;
  request.size = SizeOf(state);
  request.layout = LayoutOf(state);
  request.controls.brightness = 5600;  // controls off neutral, as a configured card has them
  request.controls.saturation = 4200;
  std::vector<BYTE> frame(FrameBytes(request.layout, request.size));
  for (auto _ : state) {
    ++request.frameNumber;
    ++request.motionStep;
    ++request.clockSeconds;
    benchmark::DoNotOptimize(generator.Render(request, frame.data(), frame.size()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frame.size()));
}

void BM_PlainCopy(benchmark::State& state) {
  const std::size_t bytes = FrameBytes(LayoutOf(state), SizeOf(state));
  std::vector<BYTE> src(bytes, 7);
  std::vector<BYTE> dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int layout : {0, 1}) {
    b->Args({320, 240, layout});
    b->Args({640, 480, layout});
  }
}

}  // namespace

BENCHMARK(BM_SceneFrame)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainCopy)->Apply(Sizes)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
