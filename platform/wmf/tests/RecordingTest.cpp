// A simulated camera recorded through the writer engine into files, read back with
// ffprobe, the metadata editor and the media detector.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "platform/wmf/AsfWriter.h"
#include "platform/wmf/ProfileManager.h"
#include "platform/wmf/tests/WmfTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::wmf {
namespace {

using testing::CSyntheticCamera;
using testing::FeedSeconds;
using testing::MakeProfile;
using testing::Probe;
using testing::ProfileSpec;

TEST(CodecList, OffersOnlyAudioFormatsTheEncoderProduces) {
  const auto& formats = AudioCodecFormats();
  ASSERT_FALSE(formats.empty());
  bool mono8k24 = false;
  for (const auto& f : formats) {
    EXPECT_EQ(f.wave.wFormatTag, kWaveFormatWmAudio2);
    EXPECT_GE(f.wave.nAvgBytesPerSec * 8, 23000u) << "below what the encoder accepts";
    EXPECT_GT(f.wave.nBlockAlign, 0);
    EXPECT_EQ(f.wave.cbSize, f.extra.size());
    mono8k24 |= f.wave.nSamplesPerSec == 8000 && f.wave.nChannels == 1 && f.wave.nAvgBytesPerSec * 8 == 24000;
  }
  EXPECT_TRUE(mono8k24) << "the default camera's format";

  ComPtr<IWMProfileManager> manager;
  ASSERT_EQ(WMCreateProfileManager(manager.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IWMCodecInfo> codecs;
  ASSERT_EQ(manager.As(&codecs), S_OK);
  DWORD count = 0;
  ASSERT_EQ(codecs->GetCodecInfoCount(WMMEDIATYPE_Video, &count), S_OK);
  ASSERT_EQ(count, 1u);
  ComPtr<IWMStreamConfig> video;
  ASSERT_EQ(codecs->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, video.ReleaseAndGetAddressOf()), S_OK);
  MediaTypeCopy media;
  ASSERT_EQ(ReadMediaType(video.Get(), &media), S_OK);
  EXPECT_EQ(media.type.subtype, WMMEDIASUBTYPE_WMV1);
  EXPECT_EQ(media.type.formattype, WMFORMAT_VideoInfo);
  EXPECT_EQ(codecs->GetCodecFormat(WMMEDIATYPE_Video, 0, 99, video.ReleaseAndGetAddressOf()), E_INVALIDARG);
  EXPECT_EQ(codecs->GetCodecFormatCount(WMMEDIATYPE_Audio, 1, &count), E_INVALIDARG);
}

TEST(Profile, KeepsStreamsAndRefusesDuplicateNumbers) {
  ComPtr<IWMProfile> profile = MakeProfile({});
  ASSERT_TRUE(profile);
  DWORD streams = 0;
  ASSERT_EQ(profile->GetStreamCount(&streams), S_OK);
  ASSERT_EQ(streams, 2u);
  ComPtr<IWMStreamConfig> video;
  ASSERT_EQ(profile->GetStreamByNumber(2, video.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(ReadConnectionName(video.Get()), "Video");
  EXPECT_EQ(ReadStreamName(video.Get()), "Video Stream");
  EXPECT_EQ(profile->AddStream(video.Get()), NS_E_INVALID_STREAM) << "number 2 is taken";
  ComPtr<IWMStreamConfig> fresh;
  ASSERT_EQ(profile->CreateNewStream(WMMEDIATYPE_Video, fresh.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(fresh->SetStreamNumber(64), E_INVALIDARG);
  ASSERT_EQ(fresh->SetStreamNumber(3), S_OK);
  EXPECT_EQ(profile->AddStream(fresh.Get()), NS_E_INVALID_STREAM) << "no media type";
  EXPECT_EQ(profile->GetStreamByNumber(9, fresh.ReleaseAndGetAddressOf()), NS_E_NO_STREAM);
  ComPtr<IWMVideoMediaProps> props;
  ASSERT_EQ(video.As(&props), S_OK);
  EXPECT_EQ(props->SetQuality(101), E_INVALIDARG);
  DWORD length = 3;
  char small[3];
  EXPECT_EQ(video->GetConnectionName(small, reinterpret_cast<WORD*>(&length)), ASF_E_BUFFERTOOSMALL);
}

TEST(WriterSettings, RefusesPicturesTheChainCannotProduce) {
  AsfSettings settings;
  for (const auto& [w, h] : {std::pair{1281, 960}, std::pair{1280, 962}, std::pair{321, 240}, std::pair{320, 239}}) {
    ProfileSpec spec;
    spec.width = w;
    spec.height = h;
    ComPtr<IWMProfile> profile = MakeProfile(spec);
    ASSERT_TRUE(profile);
    EXPECT_EQ(ReadAsfSettings(profile.Get(), &settings), NS_E_INVALID_INPUT_FORMAT) << w << "x" << h;
  }
  ProfileSpec largest;
  largest.width = 1280;
  largest.height = 960;
  EXPECT_EQ(ReadAsfSettings(MakeProfile(largest).Get(), &settings), S_OK);
}

class Recording : public ::testing::Test {
 protected:
  // Records `seconds` of the default profile into a file sink (and the writer's own file).
  void Record(double seconds, const ProfileSpec& spec = {}) {
    m_spec = spec;
    ComPtr<IWMProfile> profile = MakeProfile(spec);
    ASSERT_TRUE(profile);
    m_writer = ComPtr<CAsfWriterCore>::Attach(new CAsfWriterCore());
    ASSERT_EQ(m_writer->put_Mode(INTERLEAVE_FULL), S_OK);
    ASSERT_EQ(m_writer->ConfigureFilterUsingProfile(profile.Get()), S_OK);
    ASSERT_EQ(m_writer->Engine().SetFileName(m_dir.File("scratch.wmv2")), S_OK);
    ComPtr<IWMWriterFileSink> sink;
    ASSERT_EQ(WMCreateWriterFileSink(sink.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(sink->Open(Path().c_str()), S_OK);
    ASSERT_EQ(m_writer->AddSink(sink.Get()), S_OK);
    ASSERT_EQ(m_writer->Engine().Begin(), S_OK);
    CSyntheticCamera camera(spec.width, spec.height);
    ASSERT_EQ(FeedSeconds(m_writer->Engine(), camera, seconds), S_OK);
    ASSERT_EQ(m_writer->Engine().End(), S_OK);
    ComPtr<IWMWriterFileSink2> control;
    ASSERT_EQ(sink.As(&control), S_OK);
    ASSERT_EQ(control->Close(), S_OK);
  }
  std::string Path() const { return m_dir.File("13H-05M-22S.wmv"); }

  halvard::testing::TempDir m_dir;
  ProfileSpec m_spec;
  ComPtr<CAsfWriterCore> m_writer;
};

TEST_F(Recording, FfprobeSeesTheProfileAndTheRecordedTime) {
  Record(4.0);
  for (const std::string& file : {Path(), m_dir.File("scratch.wmv2")}) {
    auto info = Probe(file);
    EXPECT_EQ(info["format.format_name"], "asf") << file;
    EXPECT_EQ(info["stream0.codec_name"], "wmav2");
    EXPECT_EQ(info["stream0.channels"], "1");
    EXPECT_EQ(info["stream0.sample_rate"], "8000");
    EXPECT_EQ(info["stream1.codec_name"], "wmv1");
    EXPECT_EQ(info["stream1.width"], "320");
    EXPECT_EQ(info["stream1.height"], "240");
    EXPECT_EQ(info["stream1.r_frame_rate"], "30/1");
    EXPECT_NEAR(std::stod(info["format.duration"]), 4.0, 0.1) << file;
  }
  EXPECT_NEAR(testing::DecodedSeconds(Path()), 4.0 - 1.0 / 30, 0.05);

  ComPtr<IWMMetadataEditor> editor;
  ASSERT_EQ(WMCreateEditor(editor.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(editor->Open(Path().c_str()), S_OK);
  ComPtr<IWMHeaderInfo> header;
  ASSERT_EQ(editor.As(&header), S_OK);
  WORD stream = 0;
  WMT_ATTR_DATATYPE type{};
  QWORD duration = 0;
  WORD length = sizeof(duration);
  ASSERT_EQ(header->GetAttributeByName(&stream, "Duration", &type, reinterpret_cast<BYTE*>(&duration), &length), S_OK);
  EXPECT_EQ(type, WMT_TYPE_QWORD);
  EXPECT_EQ(length, 8);
  EXPECT_NEAR(static_cast<double>(duration) * 1e-7, 4.0, 0.1);
  DWORD bitrate = 0;
  length = sizeof(bitrate);
  ASSERT_EQ(header->GetAttributeByName(&stream, "Bitrate", &type, reinterpret_cast<BYTE*>(&bitrate), &length), S_OK);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(bitrate, 400000u + 24000u);
  EXPECT_EQ(header->GetAttributeByName(&stream, "Author", &type, nullptr, &length), NS_E_NO_STREAM);
  EXPECT_EQ(editor->Open(m_dir.File("missing.wmv").c_str()), NS_E_FILE_OPEN_FAILED);
}

TEST_F(Recording, MediaDetectorWritesTheFrameAtAPositionAsABitmap) {
  Record(3.0);
  ComPtr<IMediaDet> det;
  ASSERT_EQ(halvard::com::CreateInstance(CLSID_MediaDet, &det), S_OK) << "a class of the process";
  ASSERT_EQ(det->put_Filename(Path().c_str()), S_OK);
  LONG streams = 0;
  ASSERT_EQ(det->get_OutputStreams(&streams), S_OK);
  ASSERT_EQ(streams, 2);
  LONG videoStream = -1;
  for (LONG i = 0; i < streams; ++i) {
    ASSERT_EQ(det->put_CurrentStream(i), S_OK);
    WM_MEDIA_TYPE type{};
    ASSERT_EQ(det->get_StreamMediaType(&type), S_OK);
    if (type.majortype == WMMEDIATYPE_Video && type.formattype == WMFORMAT_VideoInfo) {
      videoStream = i;
      const auto* info = reinterpret_cast<const WMVIDEOINFOHEADER*>(type.pbFormat);
      EXPECT_EQ(info->bmiHeader.biWidth, 320);
      EXPECT_EQ(info->bmiHeader.biHeight, 240);
      EXPECT_EQ(info->bmiHeader.biCompression, kFourCcWmv1);
    }
    FreeMediaType(&type);
  }
  ASSERT_EQ(videoStream, 1);
  ASSERT_EQ(det->put_CurrentStream(videoStream), S_OK);
  double fps = 0;
  ASSERT_EQ(det->get_FrameRate(&fps), S_OK);
  EXPECT_NEAR(fps, 30.0, 0.01);
  double length = 0;
  ASSERT_EQ(det->get_StreamLength(&length), S_OK);
  EXPECT_NEAR(length, 3.0, 0.15);

  const std::string bmp = m_dir.File("00-00-01-500.bmp");
  ASSERT_EQ(det->WriteBitmapBits(1.5, 320, 240, bmp.c_str()), S_OK);
  std::ifstream in(bmp, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 14u + 40u + 320u * 3u * 240u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  WMBITMAPINFOHEADER header{};
  std::memcpy(&header, bytes.data() + 14, sizeof(header));
  EXPECT_EQ(header.biWidth, 320);
  EXPECT_EQ(header.biHeight, 240);
  EXPECT_EQ(header.biBitCount, 24);
  const auto probe = Probe(bmp);
  EXPECT_EQ(probe.at("stream0.codec_name"), "bmp");

  // Frames differ along the recording; the picture at 1.5 s is not the first one.
  LONG size = 0;
  ASSERT_EQ(det->GetBitmapBits(0.0, &size, nullptr, 160, 120), S_OK);
  std::vector<char> first(static_cast<std::size_t>(size));
  std::vector<char> middle(first.size());
  ASSERT_EQ(det->GetBitmapBits(0.0, &size, first.data(), 160, 120), S_OK);
  ASSERT_EQ(det->GetBitmapBits(1.5, &size, middle.data(), 160, 120), S_OK);
  EXPECT_NE(first, middle);
  LONG tooSmall = size - 1;
  EXPECT_EQ(det->GetBitmapBits(1.5, &tooSmall, middle.data(), 160, 120), E_INVALIDARG);
  EXPECT_EQ(det->WriteBitmapBits(60.0, 320, 240, bmp.c_str()), VFW_E_NOT_FOUND);
  EXPECT_EQ(det->put_Filename(m_dir.File("none.wmv").c_str()), NS_E_FILE_OPEN_FAILED);
}

}  // namespace
}  // namespace halvard::wmf

namespace halvard::wmf {
namespace {

TEST(FileSink, ClosedWhileTheWriterGoesOnHoldsACompleteFile) {
  const halvard::testing::TempDir dir;
  auto writer = ComPtr<CAsfWriterCore>::Attach(new CAsfWriterCore());
  ASSERT_EQ(writer->ConfigureFilterUsingProfile(testing::MakeProfile({}).Get()), S_OK);
  ComPtr<IWMWriterFileSink> early;
  ComPtr<IWMWriterFileSink> late;
  ASSERT_EQ(WMCreateWriterFileSink(early.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(WMCreateWriterFileSink(late.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(early->Open(dir.File("early.wmv").c_str()), S_OK);
  ASSERT_EQ(late->Open(dir.File("late.wmv").c_str()), S_OK);
  ASSERT_EQ(writer->AddSink(early.Get()), S_OK);
  ASSERT_EQ(writer->AddSink(late.Get()), S_OK);
  EXPECT_EQ(writer->AddSink(late.Get()), E_INVALIDARG);
  ASSERT_EQ(writer->Engine().Begin(), S_OK);
  testing::CSimulatedSource source(320, 240);
  ASSERT_EQ(source.Feed(writer->Engine(), 2.0), S_OK);
  ComPtr<IWMWriterFileSink2> control;
  ASSERT_EQ(early.As(&control), S_OK);
  ASSERT_EQ(control->Close(), S_OK);
  BOOL closed = FALSE;
  ASSERT_EQ(control->IsClosed(&closed), S_OK);
  EXPECT_TRUE(closed);
  EXPECT_EQ(control->Close(), S_FALSE);
  ASSERT_EQ(writer->RemoveSink(early.Get()), S_OK);
  EXPECT_EQ(writer->RemoveSink(early.Get()), E_INVALIDARG);
  DWORD count = 0;
  ASSERT_EQ(writer->GetSinkCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ASSERT_EQ(source.Feed(writer->Engine(), 1.0), S_OK);
  ASSERT_EQ(writer->Engine().End(), S_OK);

  // The early file ends where it was closed (less what was still being multiplexed),
  // with a header that says so.
  const double decoded = testing::DecodedSeconds(dir.File("early.wmv"));
  EXPECT_GT(decoded, 1.5);
  EXPECT_LE(decoded, 2.0);
  ComPtr<IWMMetadataEditor> editor;
  ASSERT_EQ(WMCreateEditor(editor.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(editor->Open(dir.File("early.wmv").c_str()), S_OK);
  ComPtr<IWMHeaderInfo> header;
  ASSERT_EQ(editor.As(&header), S_OK);
  WORD stream = 0;
  WMT_ATTR_DATATYPE type{};
  QWORD duration = 0;
  WORD length = sizeof(duration);
  ASSERT_EQ(header->GetAttributeByName(&stream, "Duration", &type, reinterpret_cast<BYTE*>(&duration), &length), S_OK);
  EXPECT_NEAR(static_cast<double>(duration) * 1e-7, decoded, 0.1);
  BOOL seekable = FALSE;
  length = sizeof(seekable);
  ASSERT_EQ(header->GetAttributeByName(&stream, "Seekable", &type, reinterpret_cast<BYTE*>(&seekable), &length), S_OK);
  EXPECT_TRUE(seekable);
  EXPECT_NEAR(std::stod(testing::Probe(dir.File("early.wmv"))["format.duration"]), decoded, 0.1);
  // The late one holds the whole recording.
  EXPECT_NEAR(std::stod(testing::Probe(dir.File("late.wmv"))["format.duration"]), 3.0, 0.1);
}

}  // namespace
}  // namespace halvard::wmf
