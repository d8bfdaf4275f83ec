// netcam_latency DEVICE SECONDS SERVER_LOG [DUMP]: the delay from a picture leaving a network
// camera to it coming out of the splitter, on loopback.
//
// The camera (bench/netcam/stamped_rtsp_server.py, started by run.sh) sends pictures that
// carry their frame number as a bar code of twelve blocks across the middle of the
// picture, and logs the wall-clock moment each one is handed to its RTP payloader. This
// program runs the network capture source at 640x480 YUY2 into the splitter and a video
// renderer, as a camera group does, reads the bar code of every picture the renderer
// hands to its surface (on the streaming thread, right after the splitter), and matches
// the two logs by frame number. Both sides read the same wall clock (CLOCK_REALTIME).
// DUMP receives the last picture as raw 640x480 YUY2, to look at (run.sh makes a PNG).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filters/splitter/SplitterConfig.h"
#include "platform/capture/DeviceEnumerator.h"
#include "platform/com/Com.h"
#include "platform/media/BuiltinClasses.h"
#include "platform/media/MediaType.h"
#include "platform/media/Pins.h"
#include "platform/media/Unknown.h"
#include "platform/media/Uuids.h"
#include "platform/media/VideoSurface.h"

namespace {

using halvard::media::PinOf;



constexpr LONG kWidth = 640;
constexpr LONG kHeight = 480;
constexpr int kBits = 12;

std::int64_t WallNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

/// Reads the frame number of every picture and notes when it came. The 1280x720 camera
/// picture is scaled to 640x360 between black bars of 60 rows; its bar code (rows 300 to
/// 420, blocks of 80 columns) lands on rows 210 to 270, blocks of 40 columns.
class CStampReadingSurface final : public CUnknown, public IVideoSurface {
 public:
  CStampReadingSurface() : CUnknown(L"Stamp reading surface", nullptr) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IVideoSurface) {
      return GetInterface(static_cast<IVideoSurface*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT Present(const VideoFrameView& frame) override {
    const std::int64_t now = WallNs();
    if (frame.subtype != MEDIASUBTYPE_YUY2 || frame.width != kWidth || frame.height != kHeight) {
      return S_OK;
    }
    const BYTE* row = frame.data + static_cast<std::ptrdiff_t>(240) * frame.stride;
    int number = 0;
    for (int bit = 0; bit < kBits; ++bit) {
      const int x = 20 + 40 * bit;
      if (row[x * 2] > 128) {
        number |= 1 << bit;
      }
    }
    const std::lock_guard<std::mutex> hold(m_lock);
    m_seen.emplace(number, now);  // the first sighting of a number counts
    ++m_pictures;
    m_last.resize(static_cast<std::size_t>(kWidth) * 2 * kHeight);
    for (LONG y = 0; y < kHeight; ++y) {
      std::copy_n(frame.data + static_cast<std::ptrdiff_t>(y) * frame.stride, kWidth * 2,
                  m_last.data() + static_cast<std::ptrdiff_t>(y) * kWidth * 2);
    }
    return S_OK;
  }
  HRESULT SetWindowState(const VideoWindowState&) override { return S_OK; }

  std::map<int, std::int64_t> Seen() {
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_seen;
  }
  long Pictures() {
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_pictures;
  }
  std::vector<BYTE> LastPicture() {
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_last;
  }

 private:
  std::mutex m_lock;
  std::map<int, std::int64_t> m_seen;
  long m_pictures = 0;
  std::vector<BYTE> m_last;
};

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "netcam_latency: %s failed (0x%08X)\n", what, static_cast<unsigned>(hr));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: netcam_latency DEVICE SECONDS SERVER_LOG [DUMP]\n");
    return 2;
  }
  const std::string device = argv[1];
  const double seconds = std::atof(argv[2]);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  halvard::media::RegisterBuiltinMediaClasses();
  halvard::capture::RegisterCaptureClasses();

  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> source;
  ComPtr<IBaseFilter> splitter;
  ComPtr<IBaseFilter> renderer;
  HRESULT hr = halvard::com::CreateInstance(CLSID_FilterGraph, &graph);
  if (FAILED(hr)) {
    return Fail("creating the graph", hr);
  }
  hr = halvard::capture::FindDeviceFilter(CLSID_VideoInputDeviceCategory, device, source.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    return Fail("finding the camera", hr);
  }
  if (FAILED(hr = halvard::com::CreateInstance(CLSID_ZelSplitter, &splitter)) ||
      FAILED(hr = halvard::com::CreateInstance(CLSID_VideoRenderer, &renderer))) {
    return Fail("creating the splitter and the renderer (are the filters registered?)", hr);
  }
  ComPtr<ISplitterConfig> config;
  if (SUCCEEDED(splitter.As(&config))) {
    const SplitterConfig one{1, 0, 0};
    (void)config->SetConfig(&one);
  }
  ComPtr<IAMStreamConfig> format;
  const ComPtr<IPin> capture = PinOf(source.Get(), PINDIR_OUTPUT);
  if (!capture || FAILED(hr = capture.As(&format))) {
    return Fail("the capture pin", hr);
  }
  CMediaType wanted = halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, kWidth, kHeight, UNITS / 25);
  if (FAILED(hr = format->SetFormat(&wanted))) {
    return Fail("setting 640x480 YUY2", hr);
  }
  auto* surface = new CStampReadingSurface();
  surface->NonDelegatingAddRef();
  ComPtr<IVideoSurfaceHost> host;
  if (FAILED(hr = renderer.As(&host)) || FAILED(hr = host->SetSurface(surface))) {
    return Fail("giving the renderer its surface", hr);
  }
  (void)graph->AddFilter(source.Get(), L"Camera");
  (void)graph->AddFilter(splitter.Get(), L"ZelSplitter");
  (void)graph->AddFilter(renderer.Get(), L"Video Renderer");
  if (FAILED(hr = graph->Connect(capture.Get(), PinOf(splitter.Get(), PINDIR_INPUT).Get())) ||
      FAILED(hr = graph->Connect(PinOf(splitter.Get(), PINDIR_OUTPUT).Get(), PinOf(renderer.Get(), PINDIR_INPUT).Get()))) {
    return Fail("connecting camera, splitter and renderer", hr);
  }
  ComPtr<IMediaControl> control;
  if (FAILED(hr = graph.As(&control)) || FAILED(hr = control->Run())) {
    return Fail("running the graph", hr);
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  (void)control->Stop();
  const std::map<int, std::int64_t> seen = surface->Seen();
  const long pictures = surface->Pictures();
  if (argc > 4) {
    const std::vector<BYTE> last = surface->LastPicture();
    std::ofstream dump(argv[4], std::ios::binary);
    dump.write(reinterpret_cast<const char*>(last.data()), static_cast<std::streamsize>(last.size()));
  }
  (void)host->SetSurface(nullptr);
  surface->Release();

  // The server may have run through its file more than once; the last sending of a
  // number before its sighting is the one that was seen.
  std::map<int, std::vector<std::int64_t>> sent;
  std::ifstream log(argv[3]);
  int number = 0;
  std::int64_t when = 0;
  while (log >> number >> when) {
    sent[number % (1 << kBits)].push_back(when);
  }
  std::vector<double> delaysMs;
  for (const auto& [n, arrived] : seen) {
    const auto it = sent.find(n);
    if (it == sent.end()) {
      continue;
    }
    std::int64_t best = -1;
    for (const std::int64_t s : it->second) {
      if (s <= arrived) {
        best = std::max(best, s);
      }
    }
    if (best >= 0) {
      delaysMs.push_back(static_cast<double>(arrived - best) / 1e6);
    }
  }
  if (delaysMs.empty()) {
    std::printf("no picture could be matched (%ld pictures seen, %zu numbers sent)\n", pictures, sent.size());
    return 1;
  }
  std::sort(delaysMs.begin(), delaysMs.end());
  const auto at = [&](double q) { return delaysMs[static_cast<std::size_t>(q * static_cast<double>(delaysMs.size() - 1))]; };
  std::printf("latency server -> splitter over %zu pictures (%ld shown): median %.1f ms, 95%% %.1f ms, max %.1f ms, "
              "min %.1f ms\n",
              delaysMs.size(), pictures, at(0.5), at(0.95), delaysMs.back(), delaysMs.front());
  return 0;
}
