// An event-matrix reload: the event cells of sixteen cameras with a year of 100 events
// a day each, beside the bare cost of reading the same files into memory in the same
// run. The target is under 100 ms for all sixteen.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"
#include "platform/time/Time.h"
#include "server/motion/EventLog.h"
#include "server/settings/Settings.h"

namespace {

namespace settings = halvard::settings;
namespace motion = halvard::motion;

constexpr int kCameras = 16;
constexpr int kDays = 365;
constexpr int kEventsPerDay = 100;
constexpr int kMaxEvents = kDays * kEventsPerDay;

struct Fixture {
  std::string dir;
  std::time_t start = 0;
  std::vector<std::string> logs;

  Fixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvard-motion-bench-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    setenv("HALVARD_REGISTRY", (dir + "/registry.db").c_str(), 1);
    halvard::registry::ResetStore();
    start = halvard::time::MakeLocalTime(2023, 1, 1);
    for (int c = 0; c < kCameras; ++c) {
      const std::string input = "Input " + std::to_string(c % 4);
      const std::string group = "BT878 Capture " + std::to_string(c / 4);
      settings::WriteMotionEventDir(group, input, dir + "/");
      const std::string path = motion::EventLogPath(group, input);
      std::ofstream out(path, std::ios::binary);
      for (int d = 0; d < kDays; ++d) {
        for (int e = 0; e < kEventsPerDay; ++e) {
          // Spread over the day, a few seconds apart per camera.
          const std::time_t t = start + static_cast<std::time_t>(d) * 86400 + e * 840 + c * 7;
          std::tm local{};
          localtime_r(&t, &local);
          out << motion::EventTimeText(local) << "\r\n";
        }
      }
      logs.push_back(path);
    }
  }
  ~Fixture() { std::filesystem::remove_all(dir); }
};

Fixture& Data() {
  static Fixture fixture;
  return fixture;
}

void BM_EventCellsSixteenCamerasYear(benchmark::State& state) {
  Fixture& f = Data();
  std::vector<int> cells(kMaxEvents);
  std::vector<int> offsets(kMaxEvents);
  long total = 0;
  for (auto _ : state) {
    total = 0;
    for (int c = 0; c < kCameras; ++c) {
      total += motion::ReadEventCells("BT878 Capture " + std::to_string(c / 4), "Input " + std::to_string(c % 4),
                                      f.start, 60, kMaxEvents, cells.data(), offsets.data());
    }
    benchmark::DoNotOptimize(cells.data());
  }
  state.counters["events"] = static_cast<double>(total);
}
BENCHMARK(BM_EventCellsSixteenCamerasYear)->Unit(benchmark::kMillisecond);

// The reference: the same sixteen files read whole, nothing parsed.
void BM_ReadSixteenLogFiles(benchmark::State& state) {
  Fixture& f = Data();
  std::vector<char> buffer(1 << 16);
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (const std::string& path : f.logs) {
      const int fd = ::open(path.c_str(), O_RDONLY);
      ssize_t n = 0;
      while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
        bytes += static_cast<std::size_t>(n);
      }
      ::close(fd);
    }
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_ReadSixteenLogFiles)->Unit(benchmark::kMillisecond);

void BM_CountEventsSixteenCamerasYear(benchmark::State& state) {
  Data();
  for (auto _ : state) {
    int total = 0;
    for (int c = 0; c < kCameras; ++c) {
      total += motion::CountEvents("BT878 Capture " + std::to_string(c / 4), "Input " + std::to_string(c % 4));
    }
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_CountEventsSixteenCamerasYear)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
