// The event matrix of sixteen cameras with a year of events (100 a day each): a reload
// from the real event logs (read, count, cells) and one repaint of a full-screen view
// (1920 x 400 pixels, offscreen QImage), at the end of the year and at its start.
// Reference in the same run: reading the same sixteen files into memory.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"
#include "platform/time/Time.h"
#include "server/motion/EventLog.h"
#include "server/settings/Settings.h"
#include "server/ui/output/EventMatrix.h"
#include "server/ui/output/EventMatrixPainter.h"
#include "server/ui/output/MotionEventSource.h"

namespace {

using halvard::time::MakeLocalTime;
using namespace halvard::ui;
namespace settings = halvard::settings;

constexpr int kCameras = 16;
constexpr int kDays = 365;
constexpr int kEventsPerDay = 100;

std::string TempDir() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvard-bench-XXXXXX").string();
    return std::string(mkdtemp(pattern.data()));
  }();
  return dir;
}

std::vector<CameraName> Cameras() {
  std::vector<CameraName> cameras;
  for (int i = 0; i < kCameras; ++i) {
    cameras.push_back({"BT878 Capture " + std::to_string(i / 4), "Input " + std::to_string(i % 4)});
  }
  return cameras;
}

std::time_t Now() { return MakeLocalTime(2026, 6, 10, 15, 0, 0); }

// Writes a year of event logs once: 100 events a day spread over the day.
void MakeLogs() {
  static bool done = false;
  if (done) {
    return;
  }
  done = true;
  setenv("HALVARD_REGISTRY", (TempDir() + "/registry.db").c_str(), 1);
  setenv("HALVARD_DATA", (TempDir() + "/data/").c_str(), 1);
  halvard::registry::ResetStore();
  const std::time_t first = MakeLocalTime(2025, 6, 11);
  for (const CameraName& camera : Cameras()) {
    const std::string path = halvard::motion::EventLogPath(camera.group, camera.input);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::string text;
    for (int day = 0; day < kDays; ++day) {
      for (int e = 0; e < kEventsPerDay; ++e) {
        const std::time_t t = first + static_cast<std::time_t>(day) * 86400 + e * 863 + 7;
        std::tm local{};
        localtime_r(&t, &local);
        text += halvard::motion::EventTimeText(local) + "\r\n";
      }
    }
    std::ofstream(path, std::ios::binary) << text;
  }
}

void BM_ReadLogFilesReference(benchmark::State& state) {
  MakeLogs();
  std::vector<std::string> paths;
  for (const CameraName& camera : Cameras()) {
    paths.push_back(halvard::motion::EventLogPath(camera.group, camera.input));
  }
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (const std::string& path : paths) {
      std::ifstream in(path, std::ios::binary);
      const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      bytes += all.size();
    }
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_ReadLogFilesReference)->Unit(benchmark::kMillisecond);

void BM_Reload(benchmark::State& state) {
  MakeLogs();
  CMotionEventSource source;
  CEventMatrix matrix;
  std::size_t events = 0;
  for (auto _ : state) {
    matrix.Load(Cameras(), source, Now());
    matrix.Layout(400);
    events = 0;
    for (const EventRow& row : matrix.Rows()) {
      events += row.cells.size();
    }
  }
  state.counters["events"] = static_cast<double>(events);
  state.counters["width_px"] = matrix.TotalWidth();
}
BENCHMARK(BM_Reload)->Unit(benchmark::kMillisecond);

void Paint(benchmark::State& state, bool atEnd) {
  MakeLogs();
  CMotionEventSource source;
  CEventMatrix matrix;
  matrix.Load(Cameras(), source, Now());
  matrix.Layout(400);
  const int width = 1920;
  const int height = 400;
  const QRect visible(atEnd ? matrix.TotalWidth() - width : 0, 0, width, height);
  QImage image(width, height, QImage::Format_RGB32);
  const QFont font = EventMatrixFont();
  for (auto _ : state) {
    QPainter painter(&image);
    painter.translate(-visible.topLeft());
    PaintEventMatrix(painter, matrix, visible, font);
  }
}
void BM_PaintEndOfYear(benchmark::State& state) { Paint(state, true); }
void BM_PaintStartOfYear(benchmark::State& state) { Paint(state, false); }
BENCHMARK(BM_PaintEndOfYear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintStartOfYear)->Unit(benchmark::kMillisecond);

// Reload and one repaint together: what the operator waits for after "Reload".
void BM_ReloadAndPaint(benchmark::State& state) {
  MakeLogs();
  CMotionEventSource source;
  CEventMatrix matrix;
  QImage image(1920, 400, QImage::Format_RGB32);
  const QFont font = EventMatrixFont();
  for (auto _ : state) {
    matrix.Load(Cameras(), source, Now());
    matrix.Layout(400);
    const QRect visible(matrix.TotalWidth() - 1920, 0, 1920, 400);
    QPainter painter(&image);
    painter.translate(-visible.topLeft());
    PaintEventMatrix(painter, matrix, visible, font);
  }
}
BENCHMARK(BM_ReloadAndPaint)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Fixed clock and zone, so the matrix and the logs are the same at every run.
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  halvard::time::CManualWallClock clock(Now());
  halvard::time::ScopedWallClock wallClock(clock.Source());
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(TempDir());
  return 0;
}
