// Per-frame costs of the three video filters' pixel work, each beside its reference in
// the same run:
//   scaler       the filter's choice and every entry of the pass table this processor
//                runs (the portable one included), against libswscale's bicubic scaler
//                (YUY2 in and out, same frames);
//   motion       against a plain read of the same frame bytes (memory bandwidth);
//   splitter     stamp only, enhancement level 1 and level 2 (plus the stamp), against a
//                plain read of the frame.
// items_per_second is frames per second (30 frames/s leave 33.3 ms per frame);
// bytes_per_second counts the frame's bytes (output bytes for the scaler).
//
//   build-filters-rel/bin/filters_bench --benchmark_min_time=0.5 --benchmark_repetitions=3
//       --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filters/hdsimulation/BicubicScaler.h"
#include "filters/motion/MotionDetector.h"
#include "filters/splitter/DetailEnhancement.h"
#include "filters/splitter/OverlayRenderer.h"
#include "filters/tests/SyntheticVideo.h"
#include "platform/com/Com.h"

namespace {

using halvard::testing::SyntheticFrame;

void ReportFrames(benchmark::State& state, std::size_t bytesPerFrame) {
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesPerFrame));
}

// A plain read of every byte (eight at a time), the memory-bandwidth floor.
void PlainRead(benchmark::State& state, int width, int height, int bytesPerPixel) {
  const auto frame = SyntheticFrame(width, height, bytesPerPixel, 0);
  for (auto _ : state) {
    std::uint64_t sum = 0;
    const std::uint8_t* p = frame.data();
    for (std::size_t i = 0; i + 8 <= frame.size(); i += 8) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      sum += word;
    }
    benchmark::DoNotOptimize(sum);
  }
  ReportFrames(state, frame.size());
}

// ---- scaler ------------------------------------------------------------------------------

void Scaler(benchmark::State& state, const halvard::hdsimulation::ScalerKernels* kernels) {
  const int sw = static_cast<int>(state.range(0));
  const int sh = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2));
  const int dh = static_cast<int>(state.range(3));
  const auto src = SyntheticFrame(sw, sh, 2, 0);
  std::vector<std::uint8_t> dst(static_cast<std::size_t>(dw) * dh * 2);
  // null: what the filter uses, the entry chosen for this processor.
  halvard::hdsimulation::CBicubicScaler scaler =
      kernels != nullptr ? halvard::hdsimulation::CBicubicScaler(*kernels) : halvard::hdsimulation::CBicubicScaler();
  for (auto _ : state) {
    if (!scaler.Scale(src.data(), sw, sh, dst.data(), dw, dh)) {
      state.SkipWithError("scale failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  ReportFrames(state, dst.size());
}

void BM_Swscale(benchmark::State& state) {
  const int sw = static_cast<int>(state.range(0));
  const int sh = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2));
  const int dh = static_cast<int>(state.range(3));
  const auto src = SyntheticFrame(sw, sh, 2, 0);
  std::vector<std::uint8_t> dst(static_cast<std::size_t>(dw) * dh * 2);
  SwsContext* context =
      sws_getContext(sw, sh, AV_PIX_FMT_YUYV422, dw, dh, AV_PIX_FMT_YUYV422, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (context == nullptr) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  const std::uint8_t* srcPlanes[4] = {src.data(), nullptr, nullptr, nullptr};
  const int srcStrides[4] = {sw * 2, 0, 0, 0};
  std::uint8_t* dstPlanes[4] = {dst.data(), nullptr, nullptr, nullptr};
  const int dstStrides[4] = {dw * 2, 0, 0, 0};
  for (auto _ : state) {
    sws_scale(context, srcPlanes, srcStrides, 0, sh, dstPlanes, dstStrides);
    benchmark::ClobberMemory();
  }
  sws_freeContext(context);
  ReportFrames(state, dst.size());
}

void ScalerSizes(benchmark::internal::Benchmark* b) {
  b->Args({352, 288, 704, 576})->Args({320, 240, 640, 480})->Args({640, 240, 1280, 960});
  if (std::getenv("HALVARD_BENCH_PASSES") != nullptr) {
    // The two passes on their own: horizontal only, then vertical only.
    b->Args({352, 288, 704, 288})->Args({704, 288, 704, 576})->Args({1280, 240, 1280, 960});
  }
  b->ArgNames({"sw", "sh", "dw", "dh"})->Unit(benchmark::kMicrosecond);
}
// BM_Scaler is the filter's choice; BM_ScalerKernels/<name> each entry of the table this
// processor runs ("c" the portable passes).
[[maybe_unused]] const bool kScalerKernelsRegistered = [] {
  benchmark::RegisterBenchmark("BM_Scaler", Scaler, nullptr)->Apply(ScalerSizes);
  for (const auto& kernels : halvard::hdsimulation::ScalerKernelTable()) {
    benchmark::RegisterBenchmark((std::string("BM_ScalerKernels/") + kernels.name).c_str(), Scaler, &kernels)
        ->Apply(ScalerSizes);
  }
  return true;
}();
BENCHMARK(BM_Swscale)->Apply(ScalerSizes);

// ---- motion detector ----------------------------------------------------------------------

void BM_MotionDetector(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  halvard::motion::DetectorSettings settings;
  settings.width = width;
  settings.height = height;
  settings.topMargin = 16;
  settings.bytesPerPixel = 2;
  settings.blockSize = static_cast<int>(state.range(2));
  settings.threshold = 15;
  halvard::motion::CMotionDetector detector;
  if (detector.Configure(settings) != S_OK) {
    state.SkipWithError("configure failed");
    return;
  }
  // Two still frames: every watched block is read and every pair compared in full.
  const auto frame = SyntheticFrame(width, height, 2, 0);
  const std::vector<std::uint8_t> area(halvard::motion::kAreaBitmapBytes, 0xFF);
  for (auto _ : state) {
    benchmark::DoNotOptimize(detector.Analyse(frame.data(), frame.size(), area.data()));
  }
  ReportFrames(state, frame.size());
}
BENCHMARK(BM_MotionDetector)
    ->Args({640, 480, 16})
    ->Args({640, 480, 32})
    ->Args({1280, 960, 32})
    ->ArgNames({"w", "h", "block"})
    ->Unit(benchmark::kMicrosecond);

void BM_PlainRead(benchmark::State& state) {
  PlainRead(state, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 2);
}
BENCHMARK(BM_PlainRead)->Args({640, 480})->Args({1280, 960})->ArgNames({"w", "h"})->Unit(benchmark::kMicrosecond);

// ---- splitter -----------------------------------------------------------------------------

// level -1: the stamp only; 0..2: enhancement at that level, then the stamp.
void BM_Splitter(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const int level = static_cast<int>(state.range(2));
  const bool rgb = state.range(3) != 0;
  const int bytesPerPixel = rgb ? 3 : 2;
  const auto format = rgb ? halvard::splitter::ColourFormat::Rgb24 : halvard::splitter::ColourFormat::Yuy2;
  const auto source = SyntheticFrame(width, height, bytesPerPixel, 0);
  auto frame = source;
  halvard::splitter::CEnhancementBuffers buffers(width, height);
  halvard::splitter::COverlayRenderer overlay;
  overlay.SetGeometry(width, height,
                      rgb ? halvard::splitter::RowOrder::BottomUp : halvard::splitter::RowOrder::TopDown);
  for (auto _ : state) {
    if (level >= 1) {
      state.PauseTiming();
      frame = source;  // enhance the same picture every time
      state.ResumeTiming();
      halvard::splitter::EnhanceFrame(frame.data(), width * bytesPerPixel, width, height, format, level, buffers);
    }
    const std::string text = halvard::splitter::FormatStampText(halvard::splitter::LocalStampTime());
    overlay.Draw(frame.data(), width * bytesPerPixel, format, text);
    benchmark::ClobberMemory();
  }
  ReportFrames(state, frame.size());
}
BENCHMARK(BM_Splitter)
    ->Args({640, 480, -1, 0})
    ->Args({1280, 960, -1, 0})
    ->Args({640, 480, 1, 0})
    ->Args({640, 480, 2, 0})
    ->Args({1280, 960, 1, 0})
    ->Args({1280, 960, 2, 0})
    ->Args({640, 480, 2, 1})
    ->ArgNames({"w", "h", "level", "rgb"})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
