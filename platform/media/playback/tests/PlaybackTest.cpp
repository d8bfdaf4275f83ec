// Recordings made by the writer, played back through the reader, the demultiplexer and
// the decoder, and checked against what FFmpeg's own programs read from the same files.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/media/FilterGraph.h"
#include "platform/media/FrameCounter.h"
#include "platform/media/Pins.h"
#include "platform/media/Streams.h"
#include "platform/media/VideoSurface.h"
#include "platform/media/playback/Playback.h"
#include "platform/wmf/AsfWriter.h"
#include "platform/wmf/tests/WmfTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::media::playback {
namespace {

using halvard::testing::RunCommand;
using halvard::testing::ShellQuote;
using halvard::testing::TempDir;

constexpr double kTolerance100ns = 1.5 * MILLISECONDS;

// A renderer without a clock of its own: takes every picture at once and keeps its time.
class CTimeSink final : public CBaseFilter {
 public:
  CTimeSink() : CBaseFilter(L"Time sink", nullptr, &m_lock, GUID_NULL) {
    HRESULT hr = S_OK;
    m_pin = std::make_unique<CPin>(this, &m_lock, &hr);
  }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin.get() : nullptr; }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
  std::vector<REFERENCE_TIME> Times() {
    std::lock_guard lock(m_times);
    return m_pin->times;
  }

 private:
  struct CPin final : CBaseInputPin {
    CPin(CTimeSink* sink, CCritSec* lock, HRESULT* phr) : CBaseInputPin(L"Time sink pin", sink, lock, phr, L"In"), owner(sink) {}
    HRESULT CheckMediaType(const CMediaType* pmt) override {
      return pmt->majortype == MEDIATYPE_Video && pmt->subtype == MEDIASUBTYPE_YUY2 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT Receive(IMediaSample* sample) override {
      const HRESULT hr = CBaseInputPin::Receive(sample);
      if (hr != S_OK) {
        return hr;
      }
      REFERENCE_TIME start = -1;
      REFERENCE_TIME stop = 0;
      (void)sample->GetTime(&start, &stop);
      std::lock_guard lock(owner->m_times);
      times.push_back(start);
      return S_OK;
    }
    HRESULT EndOfStream() override {
      owner->NotifyEvent(EC_COMPLETE, S_OK, 0);
      return S_OK;
    }
    CTimeSink* owner;
    std::vector<REFERENCE_TIME> times;
  };
  CCritSec m_lock;
  std::mutex m_times;
  std::unique_ptr<CPin> m_pin;
};

std::vector<double> ProbeFrameTimes(const std::string& file, double* startTime) {
  const auto start = RunCommand("ffprobe -v error -show_entries format=start_time -of csv=p=0 " + ShellQuote(file));
  *startTime = std::atof(start.output.c_str());
  const auto frames = RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 " +
                                 ShellQuote(file));
  std::vector<double> times;
  std::istringstream lines(frames.output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) {
      times.push_back(std::atof(line.c_str()));
    }
  }
  return times;
}

int ProbeFrameCount(const std::string& file) {
  const auto r = RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                            "-of csv=p=0 " + ShellQuote(file));
  return std::atoi(r.output.c_str());
}

// Records through the writer engine, as the server's writer filter does.
class CRecorder {
 public:
  explicit CRecorder(const std::string& path, LONG width = 320, LONG height = 240) : m_camera(width, height) {
    wmf::testing::ProfileSpec spec;
    spec.width = width;
    spec.height = height;
    ComPtr<IWMProfile> profile = wmf::testing::MakeProfile(spec);
    wmf::AsfSettings settings;
    EXPECT_EQ(wmf::ReadAsfSettings(profile.Get(), &settings), S_OK);
    EXPECT_EQ(m_engine.Configure(settings), S_OK);
    EXPECT_EQ(m_engine.SetFileName(path), S_OK);
    EXPECT_EQ(m_engine.Begin(), S_OK);
    m_source = std::make_unique<wmf::testing::CSimulatedSource>(width, height);
  }
  HRESULT Feed(double seconds) { return m_source->Feed(m_engine, seconds); }
  HRESULT End() { return m_engine.End(); }

 private:
  wmf::testing::CSyntheticCamera m_camera;
  wmf::CAsfEngine m_engine;
  std::unique_ptr<wmf::testing::CSimulatedSource> m_source;
};

std::string Record(const TempDir& dir, const std::string& name, double seconds) {
  const std::string path = dir.File(name);
  CRecorder recorder(path);
  EXPECT_EQ(recorder.Feed(seconds), S_OK);
  EXPECT_EQ(recorder.End(), S_OK);
  return path;
}

ComPtr<IGraphBuilder> NewGraph() {
  RegisterPlaybackClasses();
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(CreateFilterGraph(IID_IGraphBuilder, graph.PutVoid()), S_OK);
  return graph;
}

// The Windows Media route: reader "Async Reader" -> "WMF Demux"; returns the demux.
ComPtr<IBaseFilter> AddWmfRoute(IGraphBuilder* graph, const std::string& path, HRESULT* connect) {
  ComPtr<IBaseFilter> reader;
  EXPECT_EQ(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reader.PutVoid()), S_OK);
  EXPECT_EQ(graph->AddFilter(reader.Get(), L"Async Reader"), S_OK);
  ComPtr<IFileSourceFilter> source;
  EXPECT_EQ(reader.As(&source), S_OK);
  *connect = source->Load(FromUtf8(path).c_str(), nullptr);
  if (FAILED(*connect)) {
    return nullptr;
  }
  ComPtr<IBaseFilter> demux;
  EXPECT_EQ(CoCreateInstance(CLSID_WmfDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, demux.PutVoid()), S_OK);
  EXPECT_EQ(graph->AddFilter(demux.Get(), L"WMF Demux"), S_OK);
  *connect = graph->Connect(PinOf(reader.Get(), PINDIR_OUTPUT).Get(), PinOf(demux.Get(), PINDIR_INPUT).Get());
  return SUCCEEDED(*connect) ? demux : nullptr;
}

bool WaitForComplete(IGraphBuilder* graph, LONG timeoutMs) {
  ComPtr<IMediaEvent> events;
  if (FAILED(graph->QueryInterface(IID_IMediaEvent, events.PutVoid()))) {
    return false;
  }
  LONG code = 0;
  LONG_PTR p1 = 0;
  LONG_PTR p2 = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (events->GetEvent(&code, &p1, &p2, 100) == S_OK && code == EC_COMPLETE) {
      return true;
    }
  }
  return false;
}

// Decodes a file completely through the Windows Media route into a time sink.
std::vector<REFERENCE_TIME> DecodeAll(const std::string& path, HRESULT* result) {
  auto graph = NewGraph();
  HRESULT hr = S_OK;
  auto demux = AddWmfRoute(graph.Get(), path, &hr);
  *result = hr;
  if (!demux) {
    return {};
  }
  ComPtr<IBaseFilter> decoder;
  EXPECT_EQ(CreateDecoder(IID_IBaseFilter, decoder.PutVoid()), S_OK);
  EXPECT_EQ(graph->AddFilter(decoder.Get(), L"Decoder"), S_OK);
  auto* sink = new CTimeSink();
  ComPtr<IBaseFilter> sinkRef(static_cast<IBaseFilter*>(sink));
  EXPECT_EQ(graph->AddFilter(sinkRef.Get(), L"Sink"), S_OK);
  EXPECT_EQ(graph->ConnectDirect(PinOf(demux.Get(), PINDIR_OUTPUT, L"Video").Get(),
                                 PinOf(decoder.Get(), PINDIR_INPUT).Get(), nullptr),
            S_OK);
  EXPECT_EQ(graph->ConnectDirect(PinOf(decoder.Get(), PINDIR_OUTPUT).Get(), PinOf(sinkRef.Get(), PINDIR_INPUT).Get(),
                                 nullptr),
            S_OK);
  ComPtr<IMediaControl> control;
  EXPECT_EQ(graph.As(&control), S_OK);
  EXPECT_EQ(control->Run(), S_OK);
  *result = WaitForComplete(graph.Get(), 60000) ? S_OK : VFW_E_TIMEOUT;
  EXPECT_EQ(control->Stop(), S_OK);
  return sink->Times();
}

void ExpectSameFrames(const std::string& path, const std::vector<REFERENCE_TIME>& times) {
  double startTime = 0;
  const auto expected = ProbeFrameTimes(path, &startTime);
  ASSERT_EQ(static_cast<int>(times.size()), ProbeFrameCount(path));
  ASSERT_EQ(times.size(), expected.size());
  for (std::size_t i = 0; i < times.size(); ++i) {
    EXPECT_NEAR(static_cast<double>(times[i]), (expected[i] - startTime) * 1e7, kTolerance100ns) << "frame " << i;
  }
}

TEST(PlaybackDecode, FrameCountAndTimesEqualFfprobe) {
  TempDir dir;
  const std::string path = Record(dir, "12H-00M-00S.wmv", 3.0);
  HRESULT hr = E_FAIL;
  const auto times = DecodeAll(path, &hr);
  ASSERT_EQ(hr, S_OK);
  ExpectSameFrames(path, times);
}

// ---- the player: RenderFile with the video renderer on a memory surface ----

struct Player {
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IVideoFrameStep> step;
  ComPtr<CMemorySurface> surface;

  HRESULT Open(const std::string& path) {
    graph = NewGraph();
    const HRESULT hr = graph->RenderFile(FromUtf8(path).c_str(), nullptr);
    if (FAILED(hr)) {
      return hr;
    }
    EXPECT_EQ(graph.As(&control), S_OK);
    EXPECT_EQ(graph.As(&seeking), S_OK);
    EXPECT_EQ(graph.As(&step), S_OK);
    surface = ComPtr<CMemorySurface>::Attach(CMemorySurface::Create());
    ComPtr<IBaseFilter> renderer;
    EXPECT_EQ(graph->FindFilterByName(L"Video Renderer", renderer.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IVideoSurfaceHost> host;
    EXPECT_EQ(renderer.As(&host), S_OK);
    EXPECT_EQ(host->SetSurface(surface.Get()), S_OK);
    return hr;
  }
  std::vector<BYTE> Picture() {
    LONG w = 0;
    LONG h = 0;
    std::vector<BYTE> rgb;
    (void)surface->LastPicture(&w, &h, &rgb);
    return rgb;
  }
};

// Pictures as the surface keeps them: bitmap byte order (blue, green, red), top row first.
std::vector<std::vector<BYTE>> FfmpegFrames(const std::string& path, double seconds, int count) {
  const auto r = RunCommand("ffmpeg -v error -ss " + std::to_string(seconds) + " -i " + ShellQuote(path) +
                            " -frames:v " + std::to_string(count) + " -f rawvideo -pix_fmt bgr24 -");
  const std::size_t frameBytes = 320 * 240 * 3;
  std::vector<std::vector<BYTE>> frames;
  for (std::size_t at = 0; at + frameBytes <= r.output.size(); at += frameBytes) {
    frames.emplace_back(r.output.begin() + static_cast<std::ptrdiff_t>(at),
                        r.output.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
  }
  return frames;
}

double MeanDifference(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
  if (a.size() != b.size() || a.empty()) {
    return 255.0;
  }
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
  }
  return sum / static_cast<double>(a.size());
}

TEST(PlaybackPlayer, SeekShowsTheExactFrameAndStepShowsTheNext) {
  TempDir dir;
  const std::string path = Record(dir, "12H-00M-00S.wmv", 3.0);
  const auto expected = FfmpegFrames(path, 1.5, 2);
  ASSERT_EQ(expected.size(), 2u);
  ASSERT_GT(MeanDifference(expected[0], expected[1]), 1.0) << "the camera moves from frame to frame";

  Player player;
  ASSERT_EQ(player.Open(path), S_OK);
  ASSERT_EQ(player.control->Pause(), S_OK);
  LONGLONG position = 15 * UNITS / 10;
  ASSERT_EQ(player.seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  const LONG before = player.surface->FrameCount();
  ASSERT_TRUE(player.surface->WaitForFrames(before + 1, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(player.surface->FrameCount(), before + 1) << "a paused player shows one picture";
  EXPECT_LT(MeanDifference(player.Picture(), expected[0]), 3.0);
  LONGLONG current = 0;
  EXPECT_EQ(player.seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_NEAR(static_cast<double>(current), 1.5e7, 0.034e7);

  ASSERT_EQ(player.step->Step(1, nullptr), S_OK);
  ASSERT_TRUE(player.surface->WaitForFrames(before + 2, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(player.surface->FrameCount(), before + 2) << "one step, one picture";
  EXPECT_LT(MeanDifference(player.Picture(), expected[1]), 3.0);
  EXPECT_EQ(player.seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_NEAR(static_cast<double>(current), 1.5e7 + 333333.0, 2.0 * MILLISECONDS)
      << "the position is the stepped picture's, as a still saved now is named";
  OAFilterState state = State_Running;
  EXPECT_EQ(player.control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(player.control->Stop(), S_OK);
}

TEST(PlaybackPlayer, AnyPositiveRatePlaysEveryFrameToTheEnd) {
  TempDir dir;
  const std::string path = Record(dir, "12H-00M-00S.wmv", 2.0);
  Player player;
  ASSERT_EQ(player.Open(path), S_OK);
  EXPECT_EQ(player.seeking->SetRate(0.0), E_INVALIDARG);
  EXPECT_EQ(player.seeking->SetRate(-2.0), E_INVALIDARG);
  ASSERT_EQ(player.seeking->SetRate(8.0), S_OK);
  ASSERT_EQ(player.control->Run(), S_OK);
  ASSERT_EQ(player.seeking->SetRate(10.0), S_OK) << "changed while running";
  double rate = 0;
  EXPECT_EQ(player.seeking->GetRate(&rate), S_OK);
  EXPECT_EQ(rate, 10.0);
  EXPECT_TRUE(WaitForComplete(player.graph.Get(), 30000));
  LONGLONG duration = 0;
  EXPECT_EQ(player.seeking->GetDuration(&duration), S_OK);
  EXPECT_NEAR(static_cast<double>(duration), 2e7, 0.1e7);
  // Positions stay in the file's time whatever the rate: the last picture is near the end.
  LONGLONG current = 0;
  EXPECT_EQ(player.seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_NEAR(static_cast<double>(current), static_cast<double>(duration), 0.1e7);
  EXPECT_EQ(player.control->Stop(), S_OK);
}

TEST(PlaybackPlayer, PauseKeepsThePictureShownAndTheNextStepShowsTheFollowingOne) {
  TempDir dir;
  const std::string path = Record(dir, "12H-00M-00S.wmv", 3.0);
  Player player;
  ASSERT_EQ(player.Open(path), S_OK);
  ASSERT_EQ(player.control->Run(), S_OK);
  ASSERT_TRUE(player.surface->WaitForFrames(10, 10000));
  ASSERT_EQ(player.control->Pause(), S_OK);
  LONGLONG paused = 0;
  ASSERT_EQ(player.seeking->GetCurrentPosition(&paused), S_OK);
  const LONG shown = player.surface->FrameCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(player.surface->FrameCount(), shown) << "nothing more is shown while paused";
  LONGLONG still = 0;
  EXPECT_EQ(player.seeking->GetCurrentPosition(&still), S_OK);
  EXPECT_EQ(still, paused);

  const auto expected = FfmpegFrames(path, static_cast<double>(paused) / 1e7, 2);
  ASSERT_EQ(expected.size(), 2u);
  EXPECT_LT(MeanDifference(player.Picture(), expected[0]), 3.0) << "the picture of the position";
  ASSERT_EQ(player.step->Step(1, nullptr), S_OK);
  ASSERT_TRUE(player.surface->WaitForFrames(shown + 1, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(player.surface->FrameCount(), shown + 1);
  EXPECT_LT(MeanDifference(player.Picture(), expected[1]), 3.0) << "exactly the next picture";
  LONGLONG stepped = 0;
  EXPECT_EQ(player.seeking->GetCurrentPosition(&stepped), S_OK);
  EXPECT_NEAR(static_cast<double>(stepped - paused), 333333.0, 2.0 * MILLISECONDS);

  // Stopped and started again: it goes on near where it was, with a picture at once.
  EXPECT_EQ(player.control->Stop(), S_OK);
  const LONG beforeRestart = player.surface->FrameCount();
  ASSERT_EQ(player.control->Pause(), S_OK);
  ASSERT_TRUE(player.surface->WaitForFrames(beforeRestart + 1, 10000));
  LONGLONG resumed = 0;
  EXPECT_EQ(player.seeking->GetCurrentPosition(&resumed), S_OK);
  EXPECT_GE(resumed, stepped);
  EXPECT_LT(resumed, stepped + UNITS);
  EXPECT_EQ(player.control->Stop(), S_OK);
}

TEST(PlaybackPlayer, TheWindowsMediaRouteRendersPicturesAndSound) {
  TempDir dir;
  const std::string path = Record(dir, "12H-00M-00S.wmv", 1.0);
  auto graph = NewGraph();
  HRESULT hr = E_FAIL;
  auto demux = AddWmfRoute(graph.Get(), path, &hr);
  ASSERT_EQ(hr, S_OK);
  for (const wchar_t* name : {L"Video", L"Audio"}) {
    auto pin = PinOf(demux.Get(), PINDIR_OUTPUT, name);
    ASSERT_TRUE(pin) << "one output per stream";
    EXPECT_EQ(graph->Render(pin.Get()), S_OK);
  }
  ComPtr<IBaseFilter> filter;
  for (const wchar_t* name : {L"Decoder", L"Decoder 0001", L"Video Renderer", L"Audio Renderer"}) {
    EXPECT_EQ(graph->FindFilterByName(name, filter.ReleaseAndGetAddressOf()), S_OK);
  }
  ComPtr<IBasicVideo> video;
  ASSERT_EQ(graph.As(&video), S_OK);
  LONG width = 0;
  LONG height = 0;
  EXPECT_EQ(video->GetVideoSize(&width, &height), S_OK);
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);
  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(&control), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  EXPECT_TRUE(WaitForComplete(graph.Get(), 20000)) << "both renderers finish";
  ASSERT_EQ(graph->FindFilterByName(L"Audio Renderer", filter.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IFrameCounter> sound;
  ASSERT_EQ(filter.As(&sound), S_OK);
  LONGLONG blocks = 0;
  EXPECT_EQ(sound->GetFrameCount(&blocks), S_OK);
  EXPECT_GT(blocks, 0) << "decoded sound reached the audio renderer";
  EXPECT_EQ(control->Stop(), S_OK);
}

TEST(PlaybackPlayer, FramePositionsOnTheDirectRoute) {
  TempDir dir;
  const std::string path = Record(dir, "12H-00M-00S.wmv", 2.0);
  Player player;
  ASSERT_EQ(player.Open(path), S_OK);
  ASSERT_EQ(player.seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  LONGLONG frames = 0;
  ASSERT_EQ(player.seeking->GetDuration(&frames), S_OK);
  EXPECT_NEAR(static_cast<double>(frames), 60.0, 2.0);
  ASSERT_EQ(player.control->Pause(), S_OK);
  LONGLONG target = 30;
  ASSERT_EQ(player.seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  ASSERT_TRUE(player.surface->WaitForFrames(1, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  LONGLONG current = 0;
  EXPECT_EQ(player.seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_EQ(current, 30);
  EXPECT_EQ(player.control->Stop(), S_OK);
}

TEST(PlaybackPlayer, TheDirectRoutePlaysOtherContainersInRgbForOddSizes) {
  TempDir dir;
  const std::string path = dir.File("clip.avi");
  ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=321x241:rate=25 -t 1 -c:v mpeg4 -q:v 2 " +
                       ShellQuote(path))
                .status,
            0);
  Player player;
  ASSERT_EQ(player.Open(path), S_OK);
  ASSERT_EQ(player.control->Pause(), S_OK);
  ASSERT_TRUE(player.surface->WaitForFrames(1, 10000));
  LONG width = 0;
  LONG height = 0;
  std::vector<BYTE> picture;
  ASSERT_TRUE(player.surface->LastPicture(&width, &height, &picture));
  EXPECT_EQ(width, 321);
  EXPECT_EQ(height, 241);
  const auto r = RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
  const std::vector<BYTE> expected(r.output.begin(), r.output.end());
  EXPECT_LT(MeanDifference(picture, expected), 3.0) << "upright, in the right colours";
  EXPECT_EQ(player.control->Stop(), S_OK);
}

// ---- a recording still being written ----

TEST(PlaybackLiveFile, TheWrittenPartPlaysWhileTheWriterGoesOn) {
  TempDir dir;
  const std::string path = dir.File("12H-00M-00S.wmv");
  CRecorder recorder(path);
  ASSERT_EQ(recorder.Feed(3.0), S_OK);
  HRESULT hr = E_FAIL;
  const auto partial = DecodeAll(path, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_GT(partial.size(), 30u) << "most of what was written";
  EXPECT_LE(partial.size(), 91u);
  {
    Player player;
    ASSERT_EQ(player.Open(path), S_OK);
    LONGLONG duration = 1;
    EXPECT_EQ(player.seeking->GetDuration(&duration), E_NOTIMPL) << "the header names no length yet";
    EXPECT_EQ(duration, 0);
    EXPECT_EQ(player.control->Pause(), S_OK);
    EXPECT_TRUE(player.surface->WaitForFrames(1, 10000));
    ASSERT_EQ(recorder.Feed(1.0), S_OK) << "the writer goes on while the file is open";
    EXPECT_EQ(player.control->Stop(), S_OK);
  }
  ASSERT_EQ(recorder.Feed(1.0), S_OK);
  ASSERT_EQ(recorder.End(), S_OK);
  const auto whole = DecodeAll(path, &hr);
  ASSERT_EQ(hr, S_OK);
  ExpectSameFrames(path, whole);
  EXPECT_GE(whole.size(), 140u);
}

// ---- files that are not whole recordings ----

TEST(PlaybackBadFiles, FailClearlyOrPlayWhatTheyHold) {
  TempDir dir;
  const std::string good = Record(dir, "12H-00M-00S.wmv", 2.0);
  const std::string empty = dir.File("empty.wmv");
  std::ofstream(empty).close();
  const std::string garbage = dir.File("garbage.wmv");
  {
    std::ofstream out(garbage, std::ios::binary);
    std::uint32_t x = 7;
    for (int i = 0; i < 200000; ++i) {
      x = x * 1664525u + 1013904223u;
      out.put(static_cast<char>(x >> 24));
    }
  }
  const std::string truncated = dir.File("truncated.wmv");
  std::filesystem::copy_file(good, truncated);
  std::filesystem::resize_file(truncated, std::filesystem::file_size(good) / 2 + 333);

  for (const auto& [file, expected] : {std::pair{empty, VFW_E_INVALID_FILE_FORMAT},
                                       std::pair{garbage, VFW_E_INVALID_FILE_FORMAT},
                                       std::pair{dir.File("missing.wmv"), VFW_E_NOT_FOUND}}) {
    Player player;
    EXPECT_EQ(player.Open(file), expected) << file;
    HRESULT hr = S_OK;
    auto graph = NewGraph();
    const bool opened = static_cast<bool>(AddWmfRoute(graph.Get(), file, &hr));
    EXPECT_FALSE(opened) << file;
    EXPECT_EQ(hr, expected) << file << " through the reader";
  }

  HRESULT hr = E_FAIL;
  const auto frames = DecodeAll(truncated, &hr);
  EXPECT_EQ(hr, S_OK) << "the stream ends where the file does";
  EXPECT_GT(frames.size(), 5u);
  EXPECT_LT(frames.size(), 60u);

  Player player;
  ASSERT_EQ(player.Open(truncated), S_OK);
  ASSERT_EQ(player.control->Run(), S_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto stopStarted = std::chrono::steady_clock::now();
  EXPECT_EQ(player.control->Stop(), S_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - stopStarted, std::chrono::seconds(5)) << "a stop never hangs";
}

}  // namespace
}  // namespace halvard::media::playback
