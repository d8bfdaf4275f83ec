// Frames per second (one core) through the recording writer — wmv1 encoding, ASF
// multiplexing, one file sink and one network sink — beside libavcodec's wmv1 encoder
// alone on the same frames with the same settings, in the same run. Each writer figure
// reports vs_bare: its rate as a share of the bare encoder's rate at that size
// (target: at least 0.9).
//
//   build-wmf/bin/wmf_bench --benchmark_min_time=2

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/media/Allocator.h"
#include "platform/media/MediaType.h"
#include "platform/media/TestSource.h"
#include "platform/wmf/AsfEngine.h"
#include "platform/wmf/AsfWriterFilter.h"

namespace {

using halvard::wmf::AsfAudioSettings;
using halvard::wmf::AsfSettings;
using halvard::wmf::AsfVideoSettings;
using halvard::wmf::CAsfEngine;
using halvard::wmf::PixelFormat;
using halvard::wmf::VideoInput;

constexpr int kFrameCount = 32;
constexpr DWORD kBitrate = 400000;
constexpr REFERENCE_TIME kFrameTime = 333333;
constexpr DWORD kQuality = 95;
constexpr LONGLONG kKeySpacing = 30000000;

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::map<int, double>& BareRates() {
  static std::map<int, double> rates;
  return rates;
}

// Noisy moving pictures (noise keeps the encoder busy as a camera's grain does), made
// as I420; the YUY2 frames carry the same pictures packed, so every variant encodes the
// same content.
std::vector<std::vector<BYTE>> Frames(int width, int height, PixelFormat format) {
  std::vector<std::vector<BYTE>> frames(kFrameCount);
  std::uint32_t seed = 7;
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  for (int n = 0; n < kFrameCount; ++n) {
    std::vector<BYTE> i420(halvard::wmf::VideoInputBytes(PixelFormat::I420, width, height));
    for (std::size_t i = 0; i < i420.size(); ++i) {
      seed = seed * 1664525u + 1013904223u;
      const std::size_t x = i % w;
      const std::size_t y = (i / w) % h;
      const bool luma = i < w * h;
      i420[i] = luma ? static_cast<BYTE>(((x + y + static_cast<std::size_t>(n) * 3) & 0x7F) + 40 + ((seed >> 24) & 31))
                     : static_cast<BYTE>(112 + ((x + static_cast<std::size_t>(n)) & 31));
    }
    auto& f = frames[static_cast<std::size_t>(n)];
    if (format == PixelFormat::I420) {
      f = std::move(i420);
      continue;
    }
    f.resize(halvard::wmf::VideoInputBytes(PixelFormat::Yuy2, width, height));
    const BYTE* u = i420.data() + w * h;
    const BYTE* v = u + (w / 2) * (h / 2);
    for (std::size_t y = 0; y < h; ++y) {
      for (std::size_t x = 0; x < w; x += 2) {
        BYTE* out = f.data() + y * w * 2 + x * 2;
        out[0] = i420[y * w + x];
        out[1] = u[(y / 2) * (w / 2) + x / 2];
        out[2] = i420[y * w + x + 1];
        out[3] = v[(y / 2) * (w / 2) + x / 2];
      }
    }
  }
  return frames;
}

void NoFree(void*, std::uint8_t*) {}

// A video-only profile of the writer's settings at a size.
ComPtr<IWMProfile> VideoProfile(int width, int height) {
  ComPtr<IWMProfileManager> manager;
  ComPtr<IWMProfile> profile;
  ComPtr<IWMCodecInfo> codecs;
  ComPtr<IWMStreamConfig> video;
  ComPtr<IWMVideoMediaProps> props;
  if (FAILED(WMCreateProfileManager(manager.ReleaseAndGetAddressOf())) ||
      FAILED(manager->CreateEmptyProfile(WMT_VER_7_0, profile.ReleaseAndGetAddressOf())) ||
      FAILED(manager.As(&codecs)) ||
      FAILED(codecs->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, video.ReleaseAndGetAddressOf())) ||
      FAILED(video.As(&props))) {
    return {};
  }
  std::vector<std::uint64_t> buffer(64);
  DWORD bytes = static_cast<DWORD>(buffer.size() * 8);
  auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
  if (FAILED(props->GetMediaType(type, &bytes))) {
    return {};
  }
  auto* info = reinterpret_cast<WMVIDEOINFOHEADER*>(type->pbFormat);
  info->rcSource.right = info->rcTarget.right = info->bmiHeader.biWidth = width;
  info->rcSource.bottom = info->rcTarget.bottom = info->bmiHeader.biHeight = height;
  info->dwBitRate = kBitrate;
  info->AvgTimePerFrame = kFrameTime;
  if (FAILED(props->SetMediaType(type)) || FAILED(props->SetQuality(kQuality)) ||
      FAILED(props->SetMaxKeyFrameSpacing(kKeySpacing)) || FAILED(video->SetStreamNumber(1)) ||
      FAILED(video->SetConnectionName("Video")) || FAILED(video->SetBitrate(kBitrate)) ||
      FAILED(profile->AddStream(video.Get()))) {
    return {};
  }
  return profile;
}

// libavcodec's wmv1 encoder alone, with the writer's settings, on I420 frames.
void BareEncoder(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const auto frames = Frames(width, height, PixelFormat::I420);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV1);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->width = width;
  context->height = height;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, 30};
  context->framerate = AVRational{30, 1};
  context->bit_rate = kBitrate;
  context->gop_size = 90;
  context->max_b_frames = 0;
  context->qmin = 2;
  context->qmax = 31 - static_cast<int>(kQuality) * 21 / 100;
  context->thread_count = 1;
  if (avcodec_open2(context, codec, nullptr) < 0) {
    state.SkipWithError("wmv1 does not open");
    return;
  }
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  std::int64_t pts = 0;
  const double cpuStart = ThreadCpuSeconds();
  for (auto _ : state) {
    const auto& data = frames[static_cast<std::size_t>(pts % kFrameCount)];
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    frame->buf[0] = av_buffer_create(const_cast<std::uint8_t*>(data.data()), data.size(), &NoFree, nullptr, 0);
    frame->data[0] = const_cast<std::uint8_t*>(data.data());
    frame->data[1] = frame->data[0] + static_cast<std::ptrdiff_t>(width) * height;
    frame->data[2] = frame->data[1] + static_cast<std::ptrdiff_t>(width / 2) * (height / 2);
    frame->linesize[0] = width;
    frame->linesize[1] = width / 2;
    frame->linesize[2] = width / 2;
    frame->pts = pts++;
    (void)avcodec_send_frame(context, frame);
    av_frame_unref(frame);
    while (avcodec_receive_packet(context, packet) == 0) {
      benchmark::DoNotOptimize(packet->size);
      av_packet_unref(packet);
    }
  }
  const double cpuSeconds = ThreadCpuSeconds() - cpuStart;
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  state.SetItemsProcessed(state.iterations());
  BareRates()[width] = static_cast<double>(state.iterations()) / cpuSeconds;
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The writer engine with its two sinks; `withAudio` adds the profile's 8 kHz audio.
void Writer(benchmark::State& state, PixelFormat format, bool withAudio) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const auto frames = Frames(width, height, format);
  AsfSettings settings;
  AsfVideoSettings video;
  video.streamNumber = withAudio ? 2 : 1;
  video.connectionName = "Video";
  video.width = width;
  video.height = height;
  video.bitrate = kBitrate;
  video.frameTime = kFrameTime;
  video.quality = kQuality;
  video.keySpacing = kKeySpacing;
  settings.video = video;
  if (withAudio) {
    AsfAudioSettings audio;
    audio.streamNumber = 1;
    audio.connectionName = "Audio";
    audio.wave = {0x161, 1, 8000, 3000, 192, 16, 10};
    audio.bitrate = 24000;
    settings.audio = audio;
  }
  CAsfEngine engine;
  ComPtr<IWMWriterFileSink> file;
  ComPtr<IWMWriterNetworkSink> network;
  DWORD port = 0;
  if (FAILED(engine.Configure(settings)) || FAILED(WMCreateWriterFileSink(file.ReleaseAndGetAddressOf())) ||
      FAILED(file->Open("/dev/null")) || FAILED(engine.AddSink(file.Get())) ||
      FAILED(WMCreateWriterNetworkSink(network.ReleaseAndGetAddressOf())) || FAILED(network->Open(&port)) ||
      FAILED(engine.AddSink(network.Get())) || FAILED(engine.Begin())) {
    state.SkipWithError("the writer does not start");
    return;
  }
  std::vector<std::int16_t> silence(8000 / 30 + 1, 0);
  std::int64_t n = 0;
  REFERENCE_TIME audioTime = 0;
  // Keeps the frames alive for the zero-copy path; never freed during the run.
  const auto keep = std::make_shared<int>(0);
  const double cpuStart = ThreadCpuSeconds();
  for (auto _ : state) {
    const auto& data = frames[static_cast<std::size_t>(n % kFrameCount)];
    const REFERENCE_TIME start = n * kFrameTime;
    const VideoInput input{format, width, height, data.data(), data.size()};
    if (FAILED(engine.WriteVideo(input, start, format == PixelFormat::I420 ? keep : nullptr))) {
      state.SkipWithError("write failed");
      break;
    }
    if (withAudio) {
      const REFERENCE_TIME next = start + kFrameTime;
      const auto samples = static_cast<std::size_t>((next - audioTime) * 8000 / 10000000);
      (void)engine.WriteAudio(reinterpret_cast<const BYTE*>(silence.data()), samples * 2, audioTime);
      audioTime += static_cast<REFERENCE_TIME>(samples) * 10000000 / 8000;
    }
    ++n;
  }
  const double cpuSeconds = ThreadCpuSeconds() - cpuStart;
  (void)engine.End();
  (void)network->Close();
  state.SetItemsProcessed(state.iterations());
  const auto bare = BareRates().find(width);
  if (bare != BareRates().end() && bare->second > 0) {
    state.counters["vs_bare"] = static_cast<double>(state.iterations()) / cpuSeconds / bare->second;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The writer filter itself: YUY2 samples handed to its video pin's Receive, as the
// capture branch of a camera's graph does (connected to a test source that stays
// stopped, so that only the benchmark delivers).
void WriterFilterYuy2(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const auto frames = Frames(width, height, PixelFormat::Yuy2);
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> writer;
  ComPtr<IBaseFilter> source;
  ComPtr<IEnumPins> pins;
  IPin* raw = nullptr;
  if (FAILED(halvard::com::CreateInstance(CLSID_FilterGraph, &graph)) ||
      FAILED(halvard::com::CreateInstance(CLSID_WMAsfWriter, &writer)) ||
      FAILED(halvard::com::CreateInstance(CLSID_HalvardTestSource, &source)) ||
      FAILED(graph->AddFilter(writer.Get(), L"Mux")) || FAILED(graph->AddFilter(source.Get(), L"VidCap"))) {
    state.SkipWithError("no graph");
    return;
  }
  ComPtr<IConfigAsfWriter> configure;
  if (FAILED(writer.As(&configure)) ||
      FAILED(configure->ConfigureFilterUsingProfile(VideoProfile(width, height).Get()))) {
    state.SkipWithError("the writer takes no profile");
    return;
  }
  (void)writer->EnumPins(pins.ReleaseAndGetAddressOf());
  std::vector<ComPtr<IPin>> writerPins;
  while (pins->Next(1, &raw, nullptr) == S_OK) {
    writerPins.push_back(ComPtr<IPin>::Attach(raw));
  }
  (void)source->EnumPins(pins.ReleaseAndGetAddressOf());
  (void)pins->Next(1, &raw, nullptr);
  const auto sourcePin = ComPtr<IPin>::Attach(raw);
  ComPtr<IAMStreamConfig> config;
  CMediaType format = halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, width, height, kFrameTime);
  ComPtr<IMemInputPin> input;
  ComPtr<IServiceProvider> services;
  ComPtr<IWMWriterAdvanced> advanced;
  ComPtr<IWMWriterFileSink> file;
  ComPtr<IWMWriterNetworkSink> network;
  DWORD port = 0;
  if (writerPins.size() != 1 || FAILED(sourcePin.As(&config)) || FAILED(config->SetFormat(&format)) ||
      FAILED(graph->ConnectDirect(sourcePin.Get(), writerPins[0].Get(), nullptr)) || FAILED(writerPins[0].As(&input)) ||
      FAILED(writer.As(&services)) ||
      FAILED(services->QueryService(IID_IWMWriterAdvanced, IID_IWMWriterAdvanced, advanced.PutVoid())) ||
      FAILED(WMCreateWriterFileSink(file.ReleaseAndGetAddressOf())) || FAILED(file->Open("/dev/null")) ||
      FAILED(advanced->AddSink(file.Get())) || FAILED(WMCreateWriterNetworkSink(network.ReleaseAndGetAddressOf())) ||
      FAILED(network->Open(&port)) || FAILED(advanced->AddSink(network.Get())) || FAILED(writer->Pause())) {
    state.SkipWithError("the writer filter does not start");
    return;
  }
  ComPtr<IMemAllocator> allocator;
  ALLOCATOR_PROPERTIES request{kFrameCount, static_cast<LONG>(frames[0].size()), 1, 0};
  ALLOCATOR_PROPERTIES actual{};
  std::vector<ComPtr<IMediaSample>> samples;
  if (FAILED(CMemAllocator::Create(allocator.ReleaseAndGetAddressOf())) ||
      FAILED(allocator->SetProperties(&request, &actual)) || FAILED(allocator->Commit())) {
    state.SkipWithError("no allocator");
    return;
  }
  for (const auto& frame : frames) {
    IMediaSample* sample = nullptr;
    BYTE* data = nullptr;
    if (FAILED(allocator->GetBuffer(&sample, nullptr, nullptr, 0)) || FAILED(sample->GetPointer(&data))) {
      state.SkipWithError("no sample");
      return;
    }
    std::memcpy(data, frame.data(), frame.size());
    (void)sample->SetActualDataLength(static_cast<LONG>(frame.size()));
    samples.push_back(ComPtr<IMediaSample>::Attach(sample));
  }
  std::int64_t n = 0;
  const double cpuStart = ThreadCpuSeconds();
  for (auto _ : state) {
    IMediaSample* sample = samples[static_cast<std::size_t>(n % kFrameCount)].Get();
    REFERENCE_TIME start = n * kFrameTime;
    REFERENCE_TIME end = start + kFrameTime;
    (void)sample->SetTime(&start, &end);
    if (input->Receive(sample) != S_OK) {
      state.SkipWithError("receive failed");
      break;
    }
    ++n;
  }
  const double cpuSeconds = ThreadCpuSeconds() - cpuStart;
  (void)writer->Stop();
  samples.clear();
  (void)allocator->Decommit();
  (void)network->Close();
  (void)graph->RemoveFilter(writer.Get());
  state.SetItemsProcessed(state.iterations());
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  const auto bare = BareRates().find(width);
  if (bare != BareRates().end() && bare->second > 0) {
    state.counters["vs_bare"] = static_cast<double>(state.iterations()) / cpuSeconds / bare->second;
  }
}

void WriterI420(benchmark::State& state) { Writer(state, PixelFormat::I420, false); }
void WriterI420Audio(benchmark::State& state) { Writer(state, PixelFormat::I420, true); }
void WriterYuy2Audio(benchmark::State& state) { Writer(state, PixelFormat::Yuy2, true); }

}  // namespace

// Each size runs the bare encoder first and then the writer variants, so that every
// comparison is made between neighbours in time on this shared machine.
int main(int argc, char** argv) {
  for (const auto& [w, h] : {std::pair{320, 240}, std::pair{640, 480}, std::pair{1280, 960}}) {
    benchmark::RegisterBenchmark("BareEncoder", BareEncoder)->Args({w, h});
    benchmark::RegisterBenchmark("WriterI420", WriterI420)->Args({w, h});
    benchmark::RegisterBenchmark("WriterI420Audio", WriterI420Audio)->Args({w, h});
    benchmark::RegisterBenchmark("WriterYuy2Audio", WriterYuy2Audio)->Args({w, h});
    benchmark::RegisterBenchmark("WriterFilterYuy2", WriterFilterYuy2)->Args({w, h});
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
