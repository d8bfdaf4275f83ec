// The recording profile built from a camera's settings, the format choice, and a
// default camera recorded through a writer configured with it.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/wmf/AsfWriter.h"
#include "platform/wmf/ProfileManager.h"
#include "platform/wmf/tests/WmfTestSupport.h"
#include "server/archive/Profile.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace halvard::archive {
namespace {

namespace settings = halvard::settings;
using wmf::MediaTypeCopy;
using wmf::ReadMediaType;

constexpr std::string_view kGroup = "BT878 Capture 0";
constexpr std::string_view kInput = "Gate";

struct StreamView {
  WORD number = 0;
  std::string name;
  std::string connection;
  DWORD bitrate = 0;
  MediaTypeCopy media;
};

StreamView Stream(IWMProfile* profile, WORD number) {
  StreamView view;
  ComPtr<IWMStreamConfig> config;
  EXPECT_EQ(profile->GetStreamByNumber(number, config.ReleaseAndGetAddressOf()), S_OK);
  if (!config) {
    return view;
  }
  (void)config->GetStreamNumber(&view.number);
  view.name = wmf::ReadStreamName(config.Get());
  view.connection = wmf::ReadConnectionName(config.Get());
  (void)config->GetBitrate(&view.bitrate);
  EXPECT_EQ(ReadMediaType(config.Get(), &view.media), S_OK);
  return view;
}

ComPtr<IWMProfile> BuildForCamera(HRESULT* result) {
  AudioProfileParams audio;
  VideoProfileParams video;
  ReadProfileParams(kGroup, kInput, &audio, &video);
  ComPtr<IWMProfile> profile;
  *result = BuildCustomProfile(&audio, &video, profile.ReleaseAndGetAddressOf());
  return profile;
}

class ProfileSettings : public ::testing::Test {
 protected:
  halvard::testing::ScopedRegistry m_registry;
};

TEST_F(ProfileSettings, DefaultCameraGetsMonoAudioAndWmv1AtItsSettings) {
  HRESULT hr = E_FAIL;
  ComPtr<IWMProfile> profile = BuildForCamera(&hr);
  ASSERT_EQ(hr, S_OK);
  WMT_VERSION version{};
  ASSERT_EQ(profile->GetVersion(&version), S_OK);
  EXPECT_EQ(version, WMT_VER_7_0);
  char name[32];
  DWORD length = sizeof(name);
  ASSERT_EQ(profile->GetName(name, &length), S_OK);
  EXPECT_STREQ(name, "Custom Profile");
  DWORD count = 0;
  ASSERT_EQ(profile->GetStreamCount(&count), S_OK);
  EXPECT_EQ(count, 2u);

  const StreamView audio = Stream(profile.Get(), 1);
  EXPECT_EQ(audio.name, "Audio Stream");
  EXPECT_EQ(audio.connection, "Audio");
  EXPECT_EQ(audio.media.type.majortype, WMMEDIATYPE_Audio);
  EXPECT_EQ(audio.media.type.subtype, WMMEDIASUBTYPE_WMAudioV8);
  EXPECT_EQ(audio.media.type.formattype, WMFORMAT_WaveFormatEx);
  EXPECT_TRUE(audio.media.type.bFixedSizeSamples);
  EXPECT_FALSE(audio.media.type.bTemporalCompression);
  ASSERT_GE(audio.media.format.size(), sizeof(WMWAVEFORMATEX));
  WMWAVEFORMATEX wave{};
  std::memcpy(&wave, audio.media.format.data(), sizeof(wave));
  EXPECT_EQ(wave.wFormatTag, 0x161);
  EXPECT_EQ(wave.nChannels, 1);
  EXPECT_EQ(wave.nSamplesPerSec, 8000u);
  EXPECT_EQ(audio.media.format.size(), 18u + wave.cbSize);
  EXPECT_EQ(audio.media.type.lSampleSize, wave.nBlockAlign);
  EXPECT_EQ(audio.bitrate, wave.nAvgBytesPerSec * 8);
  EXPECT_EQ(audio.bitrate, 24000u) << "the default of 24 kbit/s";

  const StreamView video = Stream(profile.Get(), 2);
  EXPECT_EQ(video.name, "Video Stream");
  EXPECT_EQ(video.connection, "Video");
  EXPECT_EQ(video.bitrate, 400000u);
  EXPECT_EQ(video.media.type.subtype, WMMEDIASUBTYPE_WMV1);
  ASSERT_EQ(video.media.format.size(), sizeof(WMVIDEOINFOHEADER));
  WMVIDEOINFOHEADER info{};
  std::memcpy(&info, video.media.format.data(), sizeof(info));
  EXPECT_EQ(info.bmiHeader.biWidth, 320);
  EXPECT_EQ(info.bmiHeader.biHeight, 240);
  EXPECT_EQ(info.rcSource.right, 320);
  EXPECT_EQ(info.rcTarget.bottom, 240);
  EXPECT_EQ(info.dwBitRate, 400000u);
  EXPECT_EQ(info.AvgTimePerFrame, 333333);
  ComPtr<IWMStreamConfig> config;
  ASSERT_EQ(profile->GetStreamByNumber(2, config.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IWMVideoMediaProps> props;
  ASSERT_EQ(config.As(&props), S_OK);
  DWORD quality = 0;
  LONGLONG spacing = 0;
  ASSERT_EQ(props->GetQuality(&quality), S_OK);
  ASSERT_EQ(props->GetMaxKeyFrameSpacing(&spacing), S_OK);
  EXPECT_EQ(quality, 95u);
  EXPECT_EQ(spacing, 30000000);
}

TEST_F(ProfileSettings, PictureSizeFollowsResolutionAndHdSimulation) {
  struct Case {
    DWORD resolution;
    DWORD level;
    LONG width;
    LONG height;
  };
  for (const Case c : {Case{1, 1, 640, 480}, Case{3, 0, 640, 480}, Case{2, 0, 640, 288}, Case{1, 2, 1280, 960}}) {
    settings::kDataResolution.Write(kGroup, c.resolution);
    settings::kCardHdSimulationLevel.Write(kGroup, c.level);
    settings::kVideoFrameRate.Write(kGroup, kInput, 15);
    HRESULT hr = E_FAIL;
    ComPtr<IWMProfile> profile = BuildForCamera(&hr);
    ASSERT_EQ(hr, S_OK);
    WMVIDEOINFOHEADER info{};
    const StreamView video = Stream(profile.Get(), 2);
    std::memcpy(&info, video.media.format.data(), sizeof(info));
    EXPECT_EQ(info.bmiHeader.biWidth, c.width) << c.resolution << "/" << c.level;
    EXPECT_EQ(info.bmiHeader.biHeight, c.height) << c.resolution << "/" << c.level;
    EXPECT_EQ(info.AvgTimePerFrame, 666666);
  }
}

TEST_F(ProfileSettings, RefusesWhatCannotBeRecorded) {
  // The documented 8 kbit/s has no format the encoder can produce.
  settings::kAudioBitrate.Write(kGroup, kInput, 8);
  HRESULT hr = S_OK;
  ComPtr<IWMProfile> profile = BuildForCamera(&hr);
  EXPECT_EQ(static_cast<std::uint32_t>(hr), 0xC00D0BC2u);
  EXPECT_FALSE(profile);
  settings::kAudioBitrate.Write(kGroup, kInput, 32);
  settings::kAudioSampleRate.Write(kGroup, kInput, 11);  // 11025 Hz is not 11000
  (void)BuildForCamera(&hr);
  EXPECT_EQ(hr, NS_E_AUDIO_CODEC_NOT_INSTALLED);
  settings::kAudioSampleRate.Write(kGroup, kInput, 16);
  (void)BuildForCamera(&hr);
  EXPECT_EQ(hr, S_OK);

  for (const DWORD rate : {0u, 0xFFFFFFFFu}) {
    settings::kVideoFrameRate.Write(kGroup, kInput, rate);
    (void)BuildForCamera(&hr);
    EXPECT_EQ(hr, E_INVALIDARG) << rate;
  }
  settings::kVideoFrameRate.Write(kGroup, kInput, 30);
  settings::kVideoMotionQuality.Write(kGroup, kInput, 101);
  (void)BuildForCamera(&hr);
  EXPECT_EQ(hr, E_INVALIDARG);

  AudioProfileParams audio;
  VideoProfileParams video;
  ReadProfileParams(kGroup, kInput, &audio, &video);
  video.quality = 50;
  EXPECT_EQ(BuildCustomProfile(nullptr, &video, profile.ReleaseAndGetAddressOf()), E_INVALIDARG);
  EXPECT_EQ(BuildCustomProfile(&audio, nullptr, profile.ReleaseAndGetAddressOf()), E_INVALIDARG);
  EXPECT_EQ(BuildCustomProfile(&audio, &video, nullptr), E_POINTER);
  video.compression = MakeFourCc('W', 'M', 'V', '3');
  EXPECT_EQ(static_cast<std::uint32_t>(BuildCustomProfile(&audio, &video, profile.ReleaseAndGetAddressOf())),
            0xC00D0BC4u);
}

// A codec list with hand-made formats, to pin down the choice among near matches.
class CFakeCodecs final : public IWMCodecInfo {
 public:
  void Add(DWORD rate, WORD channels, DWORD avgBytes, WORD blockAlign, BYTE marker) {
    ComPtr<IWMProfileManager> manager;
    (void)WMCreateProfileManager(manager.ReleaseAndGetAddressOf());
    ComPtr<IWMProfile> profile;
    (void)manager->CreateEmptyProfile(WMT_VER_7_0, profile.ReleaseAndGetAddressOf());
    ComPtr<IWMStreamConfig> config;
    (void)profile->CreateNewStream(WMMEDIATYPE_Audio, config.ReleaseAndGetAddressOf());
    std::vector<BYTE> block(sizeof(WMWAVEFORMATEX) + 2);
    WMWAVEFORMATEX wave{kWaveFormatWmAudio2, channels, rate, avgBytes, blockAlign, 16, 2};
    std::memcpy(block.data(), &wave, sizeof(wave));
    block[18] = marker;
    WM_MEDIA_TYPE type{WMMEDIATYPE_Audio, WMMEDIASUBTYPE_WMAudioV8, TRUE,    FALSE,
                       blockAlign,        WMFORMAT_WaveFormatEx,    nullptr, static_cast<ULONG>(block.size()),
                       block.data()};
    ComPtr<IWMMediaProps> props;
    (void)config.As(&props);
    (void)props->SetMediaType(&type);
    m_formats.push_back(config);
  }
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetCodecInfoCount(REFGUID, DWORD* codecs) override {
    *codecs = 1;
    return S_OK;
  }
  HRESULT GetCodecFormatCount(REFGUID, DWORD, DWORD* formats) override {
    *formats = static_cast<DWORD>(m_formats.size());
    return S_OK;
  }
  HRESULT GetCodecFormat(REFGUID, DWORD, DWORD index, IWMStreamConfig** config) override {
    *config = m_formats[index].Get();
    (*config)->AddRef();
    return S_OK;
  }

 private:
  std::vector<ComPtr<IWMStreamConfig>> m_formats;
};

TEST(AudioFormatChoice, SmallestAlignmentWithin249BitsLaterEqualWins) {
  CFakeCodecs codecs;
  codecs.Add(8000, 1, 1000, 64, 1);  // 8000 bit/s, alignment 64
  codecs.Add(8000, 1, 1031, 32, 2);  // 8248: inside the window
  codecs.Add(8000, 1, 969, 32, 3);   // 7752: inside, same alignment, later: wins
  codecs.Add(8000, 1, 1032, 16, 4);  // 8256: outside
  codecs.Add(8000, 2, 1000, 8, 5);   // stereo
  codecs.Add(11025, 1, 1000, 8, 6);  // another rate
  codecs.Add(8000, 1, 1000, 48, 7);  // larger alignment, later: loses
  std::vector<BYTE> header;
  ASSERT_EQ(SelectAudioFormat(&codecs, AudioProfileParams{kWaveFormatWmAudio2, 8000, 8000, 1}, &header), S_OK);
  ASSERT_EQ(header.size(), 20u);
  EXPECT_EQ(header[18], 3);
  EXPECT_EQ(SelectAudioFormat(&codecs, AudioProfileParams{kWaveFormatWmAudio2, 9000, 8000, 1}, &header),
            NS_E_AUDIO_CODEC_NOT_INSTALLED);
  EXPECT_EQ(SelectAudioFormat(&codecs, AudioProfileParams{0x160, 8000, 8000, 1}, &header),
            NS_E_AUDIO_CODEC_NOT_INSTALLED);
}

TEST_F(ProfileSettings, DefaultCameraRecordsThroughAConfiguredWriter) {
  auto writer = ComPtr<wmf::CAsfWriterCore>::Attach(new wmf::CAsfWriterCore());
  ASSERT_EQ(ConfigureRecordingWriter(static_cast<IConfigAsfWriter*>(writer.Get()), kGroup, kInput), S_OK);
  InterleavingMode mode{};
  ASSERT_EQ(writer->get_Mode(&mode), S_OK);
  EXPECT_EQ(mode, INTERLEAVE_FULL);
  ComPtr<IWMProfile> current;
  ASSERT_EQ(writer->GetCurrentProfile(current.ReleaseAndGetAddressOf()), S_OK);

  const halvard::testing::TempDir dir;
  const std::string path = dir.File("09H-00M-00S.wmv");
  ComPtr<IWMWriterFileSink> sink;
  ASSERT_EQ(WMCreateWriterFileSink(sink.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(sink->Open(path.c_str()), S_OK);
  ASSERT_EQ(writer->AddSink(sink.Get()), S_OK);
  ASSERT_EQ(writer->Engine().Begin(), S_OK);
  wmf::testing::CSyntheticCamera camera(320, 240, wmf::PixelFormat::Yuy2);
  ASSERT_EQ(wmf::testing::FeedSeconds(writer->Engine(), camera, 3.0), S_OK);
  ASSERT_EQ(writer->Engine().End(), S_OK);
  ComPtr<IWMWriterFileSink2> control;
  ASSERT_EQ(sink.As(&control), S_OK);
  ASSERT_EQ(control->Close(), S_OK);

  auto info = wmf::testing::Probe(path);
  EXPECT_EQ(info["stream0.codec_name"], "wmav2");
  EXPECT_EQ(info["stream0.sample_rate"], "8000");
  EXPECT_EQ(info["stream0.channels"], "1");
  EXPECT_EQ(info["stream1.codec_name"], "wmv1");
  EXPECT_EQ(info["stream1.width"], "320");
  EXPECT_EQ(info["stream1.height"], "240");
  EXPECT_EQ(info["stream1.r_frame_rate"], "30/1");
  EXPECT_NEAR(std::stod(info["format.duration"]), 3.0, 0.1);

  // A camera whose settings cannot be recorded leaves the writer as it was.
  settings::kAudioBitrate.Write(kGroup, kInput, 8);
  auto fresh = ComPtr<wmf::CAsfWriterCore>::Attach(new wmf::CAsfWriterCore());
  EXPECT_EQ(ConfigureRecordingWriter(static_cast<IConfigAsfWriter*>(fresh.Get()), kGroup, kInput),
            NS_E_AUDIO_CODEC_NOT_INSTALLED);
  EXPECT_EQ(fresh->GetCurrentProfile(current.ReleaseAndGetAddressOf()), NS_E_NOT_CONFIGURED);
  EXPECT_EQ(fresh->Engine().Begin(), NS_E_NOT_CONFIGURED);
}

}  // namespace
}  // namespace halvard::archive

// The recording branch of a camera's graph as the pipeline builds it: the writer
// filter named by class, its scratch file, an archive file sink through its service
// interface, the camera's profile, a simulated capture card and the default audio source.
#include <chrono>
#include <thread>

#include "platform/capture/CaptureSource.h"
#include "platform/media/MediaType.h"
#include "platform/media/Types.h"

namespace halvard::archive {
namespace {

ComPtr<IPin> PinNamed(IBaseFilter* filter, const wchar_t* name) {
  ComPtr<IPin> pin;
  (void)filter->FindPin(name, pin.ReleaseAndGetAddressOf());
  return pin;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter) {
  ComPtr<IEnumPins> pins;
  IPin* pin = nullptr;
  if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || pins->Next(1, &pin, nullptr) != S_OK) {
    return {};
  }
  return ComPtr<IPin>::Attach(pin);
}

TEST_F(ProfileSettings, CameraGraphRecordsVideoAndSoundIntoTheArchiveFile) {
  using halvard::com::CreateInstance;
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CreateInstance(CLSID_FilterGraph, &graph), S_OK);
  ComPtr<IBaseFilter> writer;
  ASSERT_EQ(CreateInstance(CLSID_WMAsfWriter, &writer), S_OK);
  ASSERT_EQ(graph->AddFilter(writer.Get(), L"Mux"), S_OK);
  ComPtr<IBaseFilter> audio;
  if (FAILED(CreateInstance(CLSID_DefaultAudioSource, &audio))) {
    GTEST_SKIP() << "no default audio source in this build";
  }
  ASSERT_EQ(graph->AddFilter(audio.Get(), L"Audio"), S_OK);
  // The simulated card delivers at the pace of a real one (the test source would not).
  ComPtr<IBaseFilter> camera;
  ASSERT_EQ(CreateInstance(CLSID_HalvardSimulatedCapture, &camera), S_OK);
  ASSERT_EQ(graph->AddFilter(camera.Get(), L"VidCap"), S_OK);

  const halvard::testing::TempDir dir;
  const std::string path = dir.File("08H-00M-00S.wmv");
  ComPtr<IFileSinkFilter> fileName;
  ASSERT_EQ(writer.As(&fileName), S_OK);
  ASSERT_EQ(fileName->SetFileName(halvard::media::FromUtf8(path + "2").c_str(), nullptr), S_OK);
  ComPtr<IServiceProvider> services;
  ASSERT_EQ(writer.As(&services), S_OK);
  ComPtr<IWMWriterAdvanced> advanced;
  ASSERT_EQ(services->QueryService(IID_IWMWriterAdvanced, IID_IWMWriterAdvanced, advanced.PutVoid()), S_OK);
  ComPtr<IWMWriterFileSink> sink;
  ASSERT_EQ(WMCreateWriterFileSink(sink.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(sink->Open(path.c_str()), S_OK);
  ASSERT_EQ(advanced->AddSink(sink.Get()), S_OK);
  ASSERT_EQ(ConfigureRecordingWriter(writer.Get(), kGroup, kInput), S_OK);

  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(FirstPin(camera.Get()).As(&config), S_OK);
  CMediaType format = halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240, 333333);
  ASSERT_EQ(config->SetFormat(&format), S_OK);
  ASSERT_EQ(graph->ConnectDirect(FirstPin(camera.Get()).Get(), PinNamed(writer.Get(), L"Video").Get(), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(FirstPin(audio.Get()).Get(), PinNamed(writer.Get(), L"Audio").Get(), nullptr), S_OK);

  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(&control), S_OK);
  ASSERT_EQ(control->Pause(), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  ASSERT_EQ(control->Stop(), S_OK);
  ComPtr<IWMWriterFileSink2> sinkControl;
  ASSERT_EQ(sink.As(&sinkControl), S_OK);
  ASSERT_EQ(sinkControl->Close(), S_OK);

  auto info = wmf::testing::Probe(path);
  EXPECT_EQ(info["stream0.codec_name"], "wmav2");
  EXPECT_EQ(info["stream1.codec_name"], "wmv1");
  EXPECT_GT(std::stod(info["format.duration"]), 1.5);
  const auto packets = halvard::testing::RunCommand(
      "ffprobe -v error -select_streams a -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
      halvard::testing::ShellQuote(path));
  EXPECT_GT(std::atoi(packets.output.c_str()), 10) << "sound was recorded: " << packets.output;
  EXPECT_GT(wmf::testing::DecodedSeconds(path), 1.5);
  EXPECT_GT(wmf::testing::DecodedSeconds(path + "2"), 1.5) << "the scratch file too";
}

}  // namespace
}  // namespace halvard::archive
