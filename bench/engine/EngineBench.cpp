// The camera engine in real time on simulated cards, with a host that keeps no windows:
//   engine_bench start             start of one group of four cameras to the first frame
//                                  written, five times, beside the start of the bare
//                                  capture graph (source and null renderer)
//   engine_bench cameras [SECONDS] four cards of four cameras at 320 x 240 recording and
//                                  previewing (surfaces that only count) for SECONDS
//                                  (default 60): CPU share of one core and peak memory
// Uses $HALVARD_REGISTRY and $HALVARD_DATA as they are (point them at a scratch folder)
// and registers the filter components beside the program first.
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "platform/media/Unknown.h"
#include "platform/media/VideoSurface.h"
#include "platform/window/Window.h"
#include "server/engine/CameraRoster.h"
#include "server/engine/GroupPipeline.h"
#include "server/settings/Settings.h"

namespace {

using namespace halvard::engine;
using Clock = std::chrono::steady_clock;

class CCountingSurface final : public CUnknown, public IVideoSurface {
 public:
  CCountingSurface() : CUnknown(L"Counting surface", nullptr) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IVideoSurface) {
      return GetInterface(static_cast<IVideoSurface*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT Present(const VideoFrameView&) override {
    ++frames;
    return S_OK;
  }
  HRESULT SetWindowState(const VideoWindowState&) override { return S_OK; }
  std::atomic<long> frames{0};
};

class CBenchHost final : public IEngineHost {
 public:
  CBenchHost() { halvard::window::SetDefaultDispatcher(&queue); }
  ~CBenchHost() override {
    halvard::window::SetDefaultDispatcher(nullptr);
    for (auto* s : surfaces) {
      s->Release();
    }
  }
  bool OpenCameraWindow(CameraGroup&, int, const std::string&, CameraWindowShow, CameraWindow* w) override {
    auto* surface = new CCountingSurface();
    surface->NonDelegatingAddRef();
    surfaces.push_back(surface);
    w->frame = halvard::window::CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, &queue);
    w->view = w->frame;
    w->surface = surface;
    return true;
  }
  void CloseCameraWindows(CameraGroup&) override {}
  void RetitleCameraWindow(CameraGroup&, int, const std::string&) override {}
  void PostActivateAndTile() override {}
  std::string Text(unsigned id) override { return std::to_string(id); }
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
  void ReportLine(const std::string& line) override { std::fprintf(stderr, "output: %s\n", line.c_str()); }
  void SetTimer(TimerId, std::uint32_t, TimerCallback) override {}
  void KillTimer(TimerId) override {}
  void RefreshGroupNode(const CameraGroup&) override {}
  void RefreshTree() override {}
  void CheckScheduledReboot() override {}
  void ShowPropertyPages(IUnknown*, const std::string&) override {}
  void StartDirectoryUpdate(const std::string&, const std::string&) override {}

  halvard::window::CMessageQueue queue;
  std::vector<CCountingSurface*> surfaces;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void RegisterFilters() {
  const std::string bin = std::filesystem::canonical("/proc/self/exe").parent_path().string();
  const std::string lib = bin + "/../lib/";
  const std::string command = "'" + bin + "/halvard-regsvr' '" + lib + "libZelSplitter.so' '" + lib +
                              "libZelMotion.so' '" + lib + "libZelHDSimulation.so' > /dev/null";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "registration failed\n");
  }
}

std::uintmax_t WrittenBytes(const CameraGroup& group) {
  std::uintmax_t bytes = 0;
  if (group.Graph() == nullptr) {
    return 0;
  }
  for (const InputSlot& slot : group.Graph()->inputs) {
    std::error_code error;
    const auto size = slot.recordingPath.empty() ? 0 : std::filesystem::file_size(slot.recordingPath, error);
    bytes = error ? bytes : std::min(bytes == 0 ? size : bytes, size);
  }
  return bytes;
}

int BenchStart() {
  ::setenv("HALVARD_SIMULATED_CARDS", "1", 1);
  for (int run = 0; run < 5; ++run) {
    CBenchHost host;
    CameraRoster roster(host);
    roster.Discover();
    CameraGroup& group = *roster.Groups()[0];
    const auto t0 = Clock::now();
    if (!roster.StartGroup(group)) {
      return 1;
    }
    const auto started = Clock::now();
    // The first frame is written when every camera's file grows past its header.
    std::uintmax_t header = 0;
    for (const InputSlot& slot : group.Graph()->inputs) {
      std::error_code error;
      header = std::max(header, std::filesystem::file_size(slot.recordingPath, error));
    }
    while (WrittenBytes(group) <= header + 0 && Clock::now() - t0 < std::chrono::seconds(10)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const auto written = Clock::now();
    std::printf("start %d: graph running after %.0f ms, first frame of every camera written after %.0f ms\n", run,
                std::chrono::duration<double, std::milli>(started - t0).count(),
                std::chrono::duration<double, std::milli>(written - t0).count());
    roster.StopAll();
  }
  return 0;
}

int BenchCameras(double seconds) {
  ::setenv("HALVARD_SIMULATED_CARDS", "4", 1);
  CBenchHost host;
  CameraRoster roster(host);
  roster.Discover();
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  roster.StartAll({});
  long before = 0;
  for (auto* s : host.surfaces) {
    before += s->frames;
  }
  const auto until = t0 + std::chrono::duration<double>(seconds);
  while (Clock::now() < until) {
    (void)host.queue.PumpOne(50);
  }
  long frames = 0;
  for (auto* s : host.surfaces) {
    frames += s->frames;
  }
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = CpuSeconds() - cpu0;
  std::printf("%zu cameras for %.1f s: %.1f%% of one core (%.2f CPU s), peak memory %.0f MiB, %.1f preview frames/s per camera\n",
              host.surfaces.size(), wall, 100.0 * cpu / wall, cpu, PeakRssKiB() / 1024.0,
              static_cast<double>(frames - before) / wall / static_cast<double>(host.surfaces.size()));
  roster.StopAll();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  RegisterFilters();
  if (what == "start") {
    return BenchStart();
  }
  if (what == "cameras") {
    return BenchCameras(argc > 2 ? std::atof(argv[2]) : 60.0);
  }
  std::fprintf(stderr, "usage: engine_bench start | cameras [SECONDS]\n");
  return 2;
}
