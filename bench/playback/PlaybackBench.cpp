// playback_bench [FILE]: the figures of recorded-file playback on a 20-minute 640x480
// recording (made with `ffmpeg ... -c:v wmv1 -c:a wmav2` into an .asf file in the current
// folder when FILE is not given, and kept there for the next run):
//   - open: the graph of the Windows Media route built (reader, demultiplexer, every
//     output rendered) and paused until the first picture reaches the video surface;
//   - seek: a paused player asked for the middle of the file until that picture arrives;
//   - decode: process CPU time per picture decoding the first 100 s of video to YUY2
//     through the demultiplexer and the decoder into a sink that takes every picture at
//     once, beside `ffmpeg -an -t 100 -i FILE -f null -` (and the same converting to
//     YUY2) run in the same process run, CPU of the child.
// Medians of five runs for open and seek.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/FilterGraph.h"
#include "platform/media/Pins.h"
#include "platform/media/Streams.h"
#include "platform/media/VideoSurface.h"
#include "platform/media/playback/Playback.h"

namespace {

using halvard::media::PinOf;

using namespace halvard::media;  // NOLINT: a benchmark program
using Clock = std::chrono::steady_clock;

constexpr double kDecodeSeconds = 100.0;

double CpuSeconds(int who) {
  rusage u{};
  (void)getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

// Takes every picture at once and counts it; EC_COMPLETE at the end.
class CNullSink final : public CBaseFilter {
 public:
  CNullSink() : CBaseFilter(L"Null sink", nullptr, &m_lock, GUID_NULL) {
    HRESULT hr = S_OK;
    m_pin = std::make_unique<CPin>(this, &m_lock, &hr);
    m_position = std::make_unique<CPosPassThru>(L"Null sink position", GetOwner(), &hr, m_pin.get());
  }
  DECLARE_IUNKNOWN
  // Seeking passes upstream, so the graph can set the stop position.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IMediaSeeking) {
      return m_position->NonDelegatingQueryInterface(riid, ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin.get() : nullptr; }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
  [[nodiscard]] long Frames() const { return m_pin->frames.load(); }

 private:
  struct CPin final : CBaseInputPin {
    CPin(CNullSink* sink, CCritSec* lock, HRESULT* phr) : CBaseInputPin(L"Null sink pin", sink, lock, phr, L"In") {}
    HRESULT CheckMediaType(const CMediaType* pmt) override {
      return pmt->majortype == MEDIATYPE_Video && pmt->subtype == MEDIASUBTYPE_YUY2 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT Receive(IMediaSample* sample) override {
      const HRESULT hr = CBaseInputPin::Receive(sample);
      if (hr == S_OK) {
        ++frames;
      }
      return hr;
    }
    HRESULT EndOfStream() override {
      Filter()->NotifyEvent(EC_COMPLETE, S_OK, 0);
      return S_OK;
    }
    std::atomic<long> frames{0};
  };
  CCritSec m_lock;
  std::unique_ptr<CPin> m_pin;
  std::unique_ptr<CPosPassThru> m_position;
};

bool WaitFrames(CCountingSurface* surface, LONG count, double timeoutSeconds) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (surface->FrameCount() < count) {
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

struct Player {
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaSeeking> seeking;
  ComPtr<CCountingSurface> surface;
};

// The Windows Media route of the playback window; false on any failure.
bool OpenWmfRoute(const std::string& path, Player* p) {
  if (FAILED(CreateFilterGraph(IID_IGraphBuilder, p->graph.PutVoid()))) {
    return false;
  }
  ComPtr<IBaseFilter> reader;
  ComPtr<IBaseFilter> demux;
  ComPtr<IFileSourceFilter> source;
  if (FAILED(playback::CreateAsyncReader(IID_IBaseFilter, reader.PutVoid())) ||
      FAILED(p->graph->AddFilter(reader.Get(), L"Async Reader")) || FAILED(reader.As(&source)) ||
      FAILED(source->Load(FromUtf8(path).c_str(), nullptr)) ||
      FAILED(playback::CreateWmfDemux(IID_IBaseFilter, demux.PutVoid())) ||
      FAILED(p->graph->AddFilter(demux.Get(), L"WMF Demux")) ||
      FAILED(p->graph->Connect(PinOf(reader.Get(), PINDIR_OUTPUT).Get(), PinOf(demux.Get(), PINDIR_INPUT).Get()))) {
    return false;
  }
  for (const wchar_t* name : {L"Video", L"Audio"}) {
    if (auto pin = PinOf(demux.Get(), PINDIR_OUTPUT, name)) {
      (void)p->graph->Render(pin.Get());
    }
  }
  ComPtr<IBaseFilter> renderer;
  ComPtr<IVideoSurfaceHost> host;
  if (FAILED(p->graph->FindFilterByName(L"Video Renderer", renderer.ReleaseAndGetAddressOf())) ||
      FAILED(renderer.As(&host))) {
    return false;
  }
  p->surface = ComPtr<CCountingSurface>::Attach(CCountingSurface::Create());
  (void)host->SetSurface(p->surface.Get());
  return SUCCEEDED(p->graph.As(&p->control)) && SUCCEEDED(p->graph.As(&p->seeking));
}

double DecodeCpuPerFrame(const std::string& path, long* frames) {
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> demux;
  ComPtr<IBaseFilter> decoder;
  ComPtr<IFileSourceFilter> source;
  auto* sink = new CNullSink();
  ComPtr<IBaseFilter> sinkRef(static_cast<IBaseFilter*>(sink));
  if (FAILED(CreateFilterGraph(IID_IGraphBuilder, graph.PutVoid())) ||
      FAILED(playback::CreateFileDemux(IID_IBaseFilter, demux.PutVoid())) || FAILED(demux.As(&source)) ||
      FAILED(source->Load(FromUtf8(path).c_str(), nullptr)) || FAILED(graph->AddFilter(demux.Get(), L"Demux")) ||
      FAILED(playback::CreateDecoder(IID_IBaseFilter, decoder.PutVoid())) ||
      FAILED(graph->AddFilter(decoder.Get(), L"Decoder")) || FAILED(graph->AddFilter(sinkRef.Get(), L"Sink")) ||
      FAILED(graph->ConnectDirect(PinOf(demux.Get(), PINDIR_OUTPUT, L"Video").Get(),
                                  PinOf(decoder.Get(), PINDIR_INPUT).Get(), nullptr)) ||
      FAILED(graph->ConnectDirect(PinOf(decoder.Get(), PINDIR_OUTPUT).Get(), PinOf(sinkRef.Get(), PINDIR_INPUT).Get(),
                                  nullptr))) {
    return -1;
  }
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  (void)graph.As(&seeking);
  (void)graph.As(&control);
  (void)graph.As(&events);
  LONGLONG stop = static_cast<LONGLONG>(kDecodeSeconds * UNITS);
  if (FAILED(seeking->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning))) {
    return -1;
  }
  const double before = CpuSeconds(RUSAGE_SELF);
  (void)control->Run();
  LONG code = 0;
  LONG_PTR p1 = 0;
  LONG_PTR p2 = 0;
  while (events->GetEvent(&code, &p1, &p2, 600000) == S_OK && code != EC_COMPLETE) {
  }
  const double used = CpuSeconds(RUSAGE_SELF) - before;
  (void)control->Stop();
  *frames = sink->Frames();
  return *frames > 0 ? used / static_cast<double>(*frames) : -1;
}

double FfmpegCpuPerFrame(const std::string& path, const std::string& extra, long frames) {
  const double before = CpuSeconds(RUSAGE_CHILDREN);
  const std::string command = "ffmpeg -v error -an -t " + std::to_string(kDecodeSeconds) + " -i '" + path + "' " +
                              extra + " -f null -";
  if (std::system(command.c_str()) != 0) {
    return -1;
  }
  return (CpuSeconds(RUSAGE_CHILDREN) - before) / static_cast<double>(frames);
}

}  // namespace

int main(int argc, char** argv) {
  playback::RegisterPlaybackClasses();
  std::string path = argc > 1 ? argv[1] : "playback-20min.asf";
  if (argc <= 1 && !std::filesystem::exists(path)) {
    std::printf("making %s (20 minutes, 640x480, 30 frames/s, wmv1 + wmav2) with ffmpeg ...\n", path.c_str());
    const std::string make =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=30 -f lavfi -i sine=r=8000 -t 1200 "
        "-c:v wmv1 -b:v 600k -g 240 -c:a wmav2 -b:a 24k -ac 1 -f asf '" + path + ".part' && mv '" + path + ".part' '" +
        path + "'";
    if (std::system(make.c_str()) != 0) {
      std::fprintf(stderr, "playback_bench: ffmpeg could not make the recording\n");
      return 1;
    }
  }

  std::vector<double> opens;
  std::vector<double> seeks;
  for (int run = 0; run < 5; ++run) {
    const auto started = Clock::now();
    Player player;
    if (!OpenWmfRoute(path, &player) || FAILED(player.control->Pause()) || !WaitFrames(player.surface.Get(), 1, 30)) {
      std::fprintf(stderr, "playback_bench: %s does not open\n", path.c_str());
      return 1;
    }
    opens.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    LONGLONG duration = 0;
    (void)player.seeking->GetDuration(&duration);
    LONGLONG middle = duration / 2 + run * 10 * UNITS;
    const LONG before = player.surface->FrameCount();
    const auto seekStarted = Clock::now();
    if (FAILED(player.seeking->SetPositions(&middle, AM_SEEKING_AbsolutePositioning, nullptr, 0)) ||
        !WaitFrames(player.surface.Get(), before + 1, 30)) {
      std::fprintf(stderr, "playback_bench: the seek shows nothing\n");
      return 1;
    }
    seeks.push_back(std::chrono::duration<double, std::milli>(Clock::now() - seekStarted).count());
    (void)player.control->Stop();
  }
  std::printf("open to first picture: %.1f ms (target < 300 ms)\n", Median(opens));
  std::printf("seek to the middle:    %.1f ms (target < 150 ms)\n", Median(seeks));

  long frames = 0;
  const double ours = DecodeCpuPerFrame(path, &frames);
  const double ffmpegPlain = FfmpegCpuPerFrame(path, "", frames);
  const double ffmpegYuy2 = FfmpegCpuPerFrame(path, "-pix_fmt yuyv422", frames);
  std::printf("decode, %ld pictures of the first %.0f s:\n", frames, kDecodeSeconds);
  std::printf("  ours (demux + decoder + YUY2):        %.3f ms CPU per picture\n", ours * 1e3);
  std::printf("  ffmpeg -i FILE -f null -:             %.3f ms (ours / ffmpeg = %.2f, target <= 1.3)\n",
              ffmpegPlain * 1e3, ours / ffmpegPlain);
  std::printf("  ffmpeg -pix_fmt yuyv422 -f null -:    %.3f ms (ours / ffmpeg = %.2f)\n", ffmpegYuy2 * 1e3,
              ours / ffmpegYuy2);
  return 0;
}
