// A headless recorder for the process tests: discovers the roster, starts every group
// on a recording host, fires the host's timers by the real clock and prints one line
// per output line. "running" is printed once every group has started.
//   engine_runner [--seconds N] (0: until SIGTERM or SIGINT)
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "server/engine/tests/EngineTestHost.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) {
      seconds = std::atof(argv[i + 1]);
    }
  }
  ::signal(SIGTERM, OnSignal);
  ::signal(SIGINT, OnSignal);
  ::signal(SIGPIPE, SIG_IGN);
  using namespace halvard::engine;
  testing::CTestHost host;
  CameraRoster roster(host);
  host.SetRoster(&roster);
  roster.Discover();
  roster.StartAll({});
  std::printf("running %zu groups\n", roster.Groups().size());
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  std::map<TimerId, std::chrono::steady_clock::time_point> due;
  std::size_t printed = 0;
  while (!g_stop) {
    (void)host.Queue().PumpOne(20);
    const auto now = std::chrono::steady_clock::now();
    if (seconds > 0 && now - start > std::chrono::duration<double>(seconds)) {
      break;
    }
    for (const auto& group : roster.Groups()) {
      const auto id = reinterpret_cast<TimerId>(group.get());
      if (!host.HasTimer(id)) {
        due.erase(id);
        continue;
      }
      auto [it, fresh] = due.emplace(id, now + std::chrono::milliseconds(host.TimerPeriod(id)));
      if (!fresh && now >= it->second) {
        it->second = now + std::chrono::milliseconds(host.TimerPeriod(id));
        (void)host.FireTimer(id);
      }
    }
    const auto lines = host.Lines();
    for (; printed < lines.size(); ++printed) {
      std::printf("output %s\n", lines[printed].c_str());
    }
    std::fflush(stdout);
  }
  roster.StopAll();
  std::printf("stopped\n");
  return 0;
}
