// The camera engine in real time on simulated cards, with a host that keeps no windows:
//   engine_bench start             start of one group of four cameras to the first frame
//                                  written, five times, beside the start of the bare
//                                  capture graph (source and null renderer)
//   engine_bench graph [FRAMES]    the whole graph of one camera (splitter, Smart Tee,
//                                  writer with archive file sink, motion, snapshot,
//                                  renderer on a surface that only counts) fed
//                                  pre-rendered 640 x 480 YUY2 scene pictures as fast as
//                                  it takes them, beside libavcodec's wmv1 encoder alone
//                                  on the same pictures: frames per CPU second; and the
//                                  same graph without its preview branch
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
#include <cstring>
#include <map>
#include <string>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "filters/motion/MotionDetect.h"
#include "filters/splitter/SplitterConfig.h"
#include "platform/capture/SceneGenerator.h"
#include "platform/media/MediaType.h"
#include "platform/media/Source.h"
#include "platform/media/Unknown.h"
#include "platform/media/Uuids.h"
#include "platform/wmf/Wmf.h"
#include "server/archive/Profile.h"
#include "platform/media/VideoSurface.h"
#include "platform/window/Window.h"
#include "server/engine/CameraRoster.h"
#include "server/engine/GroupPipeline.h"
#include "server/settings/Settings.h"

namespace {

using namespace halvard::engine;
using Clock = std::chrono::steady_clock;

using halvard::media::CCountingSurface;

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
    auto* surface = CCountingSurface::Create();
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

// ---- the whole graph against the bare encoder --------------------------------------------

constexpr LONG kWidth = 640;
constexpr LONG kHeight = 480;
constexpr int kScenes = 30;

/// Thirty scene pictures with a moving object, rendered once.
std::vector<std::vector<BYTE>> ScenePictures() {
  halvard::capture::CSceneGenerator generator;
  std::vector<std::vector<BYTE>> pictures(kScenes, std::vector<BYTE>(static_cast<std::size_t>(kWidth * kHeight * 2)));
  for (int i = 0; i < kScenes; ++i) {
    halvard::capture::SceneRequest request;
    request.camera = 0;
    request.size = {kWidth, kHeight};
    request.frameNumber = static_cast<std::uint64_t>(i);
    request.motionStep = static_cast<std::uint32_t>(i * 3);
    request.clockSeconds = 12 * 3600 + static_cast<std::uint32_t>(i / 30);
    (void)generator.Render(request, pictures[static_cast<std::size_t>(i)].data(), pictures[static_cast<std::size_t>(i)].size());
  }
  return pictures;
}

class CPreRenderedSource;

class CPreRenderedStream final : public CSourceStream {
 public:
  CPreRenderedStream(HRESULT* phr, CSource* filter, const std::vector<std::vector<BYTE>>* pictures, LONG frames)
      : CSourceStream(L"Pre-rendered", phr, filter, L"Capture"), m_pictures(pictures), m_frames(frames) {}
  HRESULT GetMediaType(CMediaType* pmt) override {
    *pmt = halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, kWidth, kHeight, 333333);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
    ALLOCATOR_PROPERTIES wanted = *request;
    wanted.cBuffers = std::max<LONG>(wanted.cBuffers, 3);
    wanted.cbBuffer = std::max<LONG>(wanted.cbBuffer, kWidth * kHeight * 2);
    wanted.cbAlign = std::max<LONG>(wanted.cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    return alloc->SetProperties(&wanted, &actual);
  }
  HRESULT FillBuffer(IMediaSample* sample) override {
    if (m_frame >= m_frames) {
      return S_FALSE;
    }
    BYTE* data = nullptr;
    (void)sample->GetPointer(&data);
    const auto& picture = (*m_pictures)[static_cast<std::size_t>(m_frame % kScenes)];
    std::memcpy(data, picture.data(), picture.size());
    data[0] = 0;  // channel byte
    (void)sample->SetActualDataLength(static_cast<LONG>(picture.size()));
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(m_frame) * 333333;
    REFERENCE_TIME stop = start + 333333;
    (void)sample->SetTime(&start, &stop);
    (void)sample->SetSyncPoint(TRUE);
    ++m_frame;
    return S_OK;
  }

 private:
  const std::vector<std::vector<BYTE>>* m_pictures;
  LONG m_frames;
  LONG m_frame = 0;
};

class CPreRenderedSource final : public CSource {
 public:
  CPreRenderedSource(const std::vector<std::vector<BYTE>>* pictures, LONG frames)
      : CSource(L"Pre-rendered source", nullptr, GUID{}) {
    HRESULT hr = S_OK;
    new CPreRenderedStream(&hr, this, pictures, frames);  // owned by the pin list
  }
};

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted, int skip = 0) {
  ComPtr<IEnumPins> pins;
  (void)filter->EnumPins(pins.ReleaseAndGetAddressOf());
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION direction{};
    (void)pin->QueryDirection(&direction);
    ComPtr<IPin> owned = ComPtr<IPin>::Attach(pin);
    if (direction == wanted && skip-- == 0) {
      return owned;
    }
  }
  return {};
}

double GraphFramesPerCpuSecond(const std::vector<std::vector<BYTE>>& pictures, LONG frames, bool withPreview,
                               long* previewFrames) {
  using halvard::com::CreateInstance;
  halvard::settings::kInputMotionDetection.Write("Bench", "Camera", 1);
  halvard::settings::kDataResolution.Write("Bench", 3);
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> splitter, tee, writer, motion, snapshot, renderer;
  if (FAILED(CreateInstance(CLSID_FilterGraph, &graph)) || FAILED(CreateInstance(CLSID_ZelSplitter, &splitter)) ||
      FAILED(CreateInstance(CLSID_SmartTee, &tee)) || FAILED(CreateInstance(CLSID_WMAsfWriter, &writer)) ||
      FAILED(CreateInstance(CLSID_ZelMotion, &motion)) || FAILED(CreateInstance(CLSID_ZelSnapShot, &snapshot)) ||
      FAILED(CreateInstance(CLSID_VideoRenderer, &renderer))) {
    std::fprintf(stderr, "a filter could not be created\n");
    return 0;
  }
  auto* sourceFilter = new CPreRenderedSource(&pictures, frames);
  ComPtr<IBaseFilter> source(static_cast<IBaseFilter*>(sourceFilter));
  for (auto [filter, name] : {std::pair{source.Get(), L"VidCap"}, {splitter.Get(), L"ZelSplitter"}, {tee.Get(), L"Tee"},
                              {writer.Get(), L"Mux"}, {motion.Get(), L"ZelMotion"}, {snapshot.Get(), L"ZelSnapShot"},
                              {renderer.Get(), L"VidRender"}}) {
    (void)graph->AddFilter(filter, name);
  }
  ComPtr<ISplitterConfig> config;
  (void)splitter.As(&config);
  const SplitterConfig block{1, 0, 0};
  (void)config->SetConfig(&block);
  ComPtr<IFileSinkFilter> fileName;
  (void)writer.As(&fileName);
  const std::string folder = halvard::settings::DataRoot();
  std::filesystem::create_directories(folder);
  (void)fileName->SetFileName(halvard::media::FromUtf8(folder + "graph.wmv2").c_str(), nullptr);
  ComPtr<IServiceProvider> services;
  ComPtr<IWMWriterAdvanced> advanced;
  ComPtr<IWMWriterFileSink> sink;
  (void)writer.As(&services);
  (void)services->QueryService(IID_IWMWriterAdvanced, IID_IWMWriterAdvanced, advanced.PutVoid());
  (void)WMCreateWriterFileSink(sink.ReleaseAndGetAddressOf());
  (void)sink->Open((folder + "graph.wmv").c_str());
  (void)advanced->AddSink(sink.Get());
  if (FAILED(halvard::archive::ConfigureRecordingWriter(writer.Get(), "Bench", "Camera"))) {
    std::fprintf(stderr, "the writer could not be configured\n");
    return 0;
  }
  ComPtr<IMotionDetect> detect;
  (void)motion.As(&detect);
  MotionParams params{60000, 0, 0, 0, kWidth, kHeight, 16, 0, 2, 32, 15, nullptr};
  (void)detect->SetParams(&params);
  auto* surface = CCountingSurface::Create();
  ComPtr<IVideoSurfaceHost> surfaceHost;
  (void)renderer.As(&surfaceHost);
  (void)surfaceHost->SetSurface(surface);
  ComPtr<IPin> writerVideo;
  (void)writer->FindPin(L"Video", writerVideo.ReleaseAndGetAddressOf());
  const bool connected =
      SUCCEEDED(graph->Connect(PinOf(source.Get(), PINDIR_OUTPUT).Get(), PinOf(splitter.Get(), PINDIR_INPUT).Get())) &&
      SUCCEEDED(graph->Connect(PinOf(splitter.Get(), PINDIR_OUTPUT).Get(), PinOf(tee.Get(), PINDIR_INPUT).Get())) &&
      SUCCEEDED(graph->Connect(PinOf(tee.Get(), PINDIR_OUTPUT, 0).Get(), writerVideo.Get())) &&
      (!withPreview ||
       (SUCCEEDED(graph->Connect(PinOf(tee.Get(), PINDIR_OUTPUT, 1).Get(), PinOf(motion.Get(), PINDIR_INPUT).Get())) &&
        SUCCEEDED(graph->Connect(PinOf(motion.Get(), PINDIR_OUTPUT).Get(), PinOf(snapshot.Get(), PINDIR_INPUT).Get())) &&
        SUCCEEDED(graph->Connect(PinOf(snapshot.Get(), PINDIR_OUTPUT).Get(), PinOf(renderer.Get(), PINDIR_INPUT).Get()))));
  if (!connected) {
    std::fprintf(stderr, "the graph could not be connected\n");
    surface->Release();
    return 0;
  }
  if (!withPreview) {
    // An unconnected renderer would never report the end of the stream.
    (void)graph->RemoveFilter(renderer.Get());
    (void)graph->RemoveFilter(motion.Get());
    (void)graph->RemoveFilter(snapshot.Get());
  }
  // No reference clock: every filter takes the pictures as fast as it can.
  ComPtr<IMediaFilter> mediaFilter;
  if (SUCCEEDED(graph.As(&mediaFilter))) {
    (void)mediaFilter->SetSyncSource(nullptr);
  }
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  (void)graph.As(&control);
  (void)graph.As(&events);
  const double cpu0 = CpuSeconds();
  (void)control->Run();
  LONG code = 0;
  (void)events->WaitForCompletion(600000, &code);
  const double cpu = CpuSeconds() - cpu0;
  (void)control->Stop();
  *previewFrames = surface->FrameCount();
  (void)surfaceHost->SetSurface(nullptr);
  surface->Release();
  return static_cast<double>(frames) / cpu;
}

double BareEncoderFramesPerCpuSecond(const std::vector<std::vector<BYTE>>& pictures, LONG frames) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV1);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->width = kWidth;
  context->height = kHeight;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, 30};
  context->framerate = AVRational{30, 1};
  context->bit_rate = 400000;
  context->gop_size = 90;
  context->max_b_frames = 0;
  context->qmin = 2;
  context->qmax = 31 - 95 * 21 / 100;
  context->thread_count = 1;
  if (avcodec_open2(context, codec, nullptr) < 0) {
    return 0;
  }
  // The same pictures in the encoder's own format, converted as the writer converts
  // them, before timing starts.
  SwsContext* convert = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUYV422, kWidth, kHeight, AV_PIX_FMT_YUV420P,
                                       SWS_BILINEAR, nullptr, nullptr, nullptr);
  std::vector<AVFrame*> planar;
  for (const auto& picture : pictures) {
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kWidth;
    frame->height = kHeight;
    (void)av_frame_get_buffer(frame, 32);
    const std::uint8_t* src[1] = {picture.data()};
    const int stride[1] = {kWidth * 2};
    (void)sws_scale(convert, src, stride, 0, kHeight, frame->data, frame->linesize);
    planar.push_back(frame);
  }
  sws_freeContext(convert);
  AVPacket* packet = av_packet_alloc();
  const double cpu0 = CpuSeconds();
  for (LONG i = 0; i < frames; ++i) {
    AVFrame* frame = planar[static_cast<std::size_t>(i % kScenes)];
    frame->pts = i;
    (void)avcodec_send_frame(context, frame);
    while (avcodec_receive_packet(context, packet) == 0) {
      av_packet_unref(packet);
    }
  }
  const double cpu = CpuSeconds() - cpu0;
  for (AVFrame* frame : planar) {
    av_frame_free(&frame);
  }
  av_packet_free(&packet);
  avcodec_free_context(&context);
  return static_cast<double>(frames) / cpu;
}

int BenchGraph(LONG frames) {
  const auto pictures = ScenePictures();
  for (int run = 0; run < 3; ++run) {
    const double bare = BareEncoderFramesPerCpuSecond(pictures, frames);
    long previews = 0;
    const double graph = GraphFramesPerCpuSecond(pictures, frames, true, &previews);
    long none = 0;
    const double recordingOnly = GraphFramesPerCpuSecond(pictures, frames, false, &none);
    std::printf("run %d: bare wmv1 encoder %.1f frames per CPU second; group graph %.1f (%ld previewed): %.2f of the "
                "encoder; without the preview branch %.1f: %.2f\n",
                run, bare, graph, previews, bare > 0 ? graph / bare : 0.0, recordingOnly,
                bare > 0 ? recordingOnly / bare : 0.0);
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
    before += s->FrameCount();
  }
  const auto until = t0 + std::chrono::duration<double>(seconds);
  while (Clock::now() < until) {
    (void)host.queue.PumpOne(50);
  }
  long frames = 0;
  for (auto* s : host.surfaces) {
    frames += s->FrameCount();
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
  if (what == "graph") {
    return BenchGraph(argc > 2 ? std::atoi(argv[2]) : 900);
  }
  if (what == "cameras") {
    return BenchCameras(argc > 2 ? std::atof(argv[2]) : 60.0);
  }
  std::fprintf(stderr, "usage: engine_bench start | cameras [SECONDS]\n");
  return 2;
}
