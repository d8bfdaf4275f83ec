#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <QImage>
#include <QPrinter>

#include "platform/wmf/AsfWriter.h"
#include "platform/wmf/tests/WmfTestSupport.h"
#include "server/archive/Archive.h"
#include "server/archive/Profile.h"
#include "server/settings/Settings.h"
#include "server/ui/Commands.h"
#include "server/ui/playback/PlaybackTexts.h"
#include "server/ui/playback/VFDoc.h"
#include "server/ui/playback/VFFrame.h"
#include "server/ui/playback/VFView.h"
#include "server/ui/playback/VideoFilePropertyDialog.h"
#include "server/ui/playback/tests/FakeGraph.h"
#include "server/ui/playback/tests/PlaybackTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace halvard::ui::playback;
using halvard::ui::playback::testing::CFakeGraph;
using halvard::ui::playback::testing::FakeGraphState;
namespace fs = std::filesystem;
namespace settings = halvard::settings;
namespace wmf = halvard::wmf;
namespace ui = halvard::ui;


namespace {

constexpr const char* kDay = "2007-05-01, TUE MAY 01";
constexpr const char* kFile = "13H-05M-22S.wmv";

/// Records `seconds` of the simulated camera through the recording writer.
struct CRecording {
  ComPtr<wmf::CAsfWriterCore> writer = ComPtr<wmf::CAsfWriterCore>::Attach(new wmf::CAsfWriterCore());
  ComPtr<IWMWriterFileSink> sink;
  wmf::testing::CSimulatedSource source{320, 240, wmf::PixelFormat::Yuy2};

  bool Begin(const std::string& path) {
    return halvard::archive::ConfigureRecordingWriter(static_cast<IConfigAsfWriter*>(writer.Get()), "G", "I") ==
               S_OK &&
           WMCreateWriterFileSink(sink.ReleaseAndGetAddressOf()) == S_OK && sink->Open(path.c_str()) == S_OK &&
           writer->AddSink(sink.Get()) == S_OK && writer->Engine().Begin() == S_OK;
  }
  bool Feed(double seconds) { return source.Feed(writer->Engine(), seconds) == S_OK; }
  bool End() {
    ComPtr<IWMWriterFileSink2> control;
    return writer->Engine().End() == S_OK && sink.As(&control) == S_OK && control->Close() == S_OK;
  }
};

class CRecordingOwner final : public IPlaybackDocumentOwner {
 public:
  std::unique_ptr<IPlaybackSurface> CreateSurface(HWND) override { return nullptr; }
  std::string DocumentText(unsigned id) override {
    return id == kIdsOpenFileFailed ? "%s failed with error %d: %s" : "text " + std::to_string(id);
  }
  void ShowDocumentMessage(const std::string& text, bool) override { messages.push_back(text); }
  void OnStillSaved(CVFDoc&, const std::string& still) override { saved.push_back(still); }
  void OnPlaybackClosed(CVFDoc&) override { ++closed; }
  void OnPlaybackCommand(CVFDoc&, UINT command) override { forwarded.push_back(command); }
  bool ChoosePrinter(QPrinter& printer) override {
    if (pdf.empty()) {
      return false;
    }
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    return true;
  }

  std::vector<std::string> messages;
  std::vector<std::string> saved;
  std::vector<UINT> forwarded;
  int closed = 0;
  std::string pdf;
};

class PlaybackDocumentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { (void)halvard::ui::playback::testing::App(); }

  void SetUp() override {
    settings::WriteVideoFileRoot("G", "I", m_dir.Path().string() + "/");
    m_path = halvard::archive::ItemPath("G", "I", kDay, kFile);
    ASSERT_TRUE(halvard::archive::CreateParentFolders(m_path));
    halvard::archive::RegisterArchiveFile("G", "I", m_path);
  }

  void Record(double seconds) {
    CRecording recording;
    ASSERT_TRUE(recording.Begin(m_path));
    ASSERT_TRUE(recording.Feed(seconds));
    ASSERT_TRUE(recording.End());
  }

  /// A document on the recording (or a still of it) with the fake graph.
  std::unique_ptr<CVFDoc> MakeDocument(const std::string& still = {}) {
    auto doc = std::make_unique<CVFDoc>(m_owner, PlaybackNames{"G", "I", kDay, kFile, still});
    doc->SetGraphBuilder([this](const std::string&, const VideoFileInfo&, HWND, IVideoSurface*, GraphError*) {
      return std::make_unique<CFakeGraph>(m_graph);
    });
    m_frames.push_back(std::make_unique<CVFFrame>(*doc, "t"));
    doc->SetFrame(m_frames.back().get());
    return doc;
  }

  [[nodiscard]] std::string StillFolder() const { return halvard::archive::StillFolderOf(m_path); }

  halvard::testing::ScopedRegistry m_store;
  halvard::testing::TempDir m_dir;
  std::string m_path;
  CRecordingOwner m_owner;
  FakeGraphState m_graph;
  std::vector<std::unique_ptr<CVFFrame>> m_frames;
};

TEST_F(PlaybackDocumentTest, NamesAndKeysComeFromTheTreeSelection) {
  PlaybackNames names;
  ASSERT_TRUE(NamesFromSelection({"G", "I", kDay, kFile}, &names));
  EXPECT_TRUE(names.still.empty());
  ASSERT_TRUE(NamesFromSelection({"G", "I", kDay, kFile, "00-00-01-000.bmp"}, &names));
  EXPECT_EQ(names.file, kFile);  // a still's recording is its parent
  EXPECT_EQ(names.still, "00-00-01-000.bmp");
  EXPECT_FALSE(NamesFromSelection({"G", "I", kDay}, &names));
  const CVFDoc doc(m_owner, names);
  EXPECT_EQ(doc.CameraKey(), std::string(settings::kCameraGroupPath) + "\\G\\I");
  EXPECT_EQ(doc.FileKey(), doc.CameraKey() + "\\" + kDay + "\\" + kFile);
  EXPECT_EQ(doc.Path(), StillFolder() + "/00-00-01-000.bmp");
  EXPECT_TRUE(doc.IsStill());
}

TEST_F(PlaybackDocumentTest, FileInformationOfARecording) {
  Record(3.0);
  VideoFileInfo info;
  ASSERT_TRUE(ReadVideoFileInfo(m_path, &info));
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 240);
  EXPECT_NEAR(info.playLength, 3.0, 0.2);
  if (!info.windowsMedia) {
    EXPECT_NEAR(info.frameRate, 30.0, 0.5);  // the media detector's figures
  }
  EXPECT_EQ(PixelsText(320), "320 Pixels");
  EXPECT_EQ(SecondsText(2.9994), "2.999 Seconds");
  EXPECT_EQ(KbpsText(431 * 1024 + 1023), "431 Kbps");
  const CVideoFilePropertyDialog dialog([](UINT id) { return "t" + std::to_string(id); }, m_path, info);
  EXPECT_EQ(dialog.windowTitle().toStdString(), "t" + std::to_string(kIdsPropertyTitle));
  EXPECT_EQ(dialog.ValueOf(kIdsPropertyWidth), "320 Pixels");
  EXPECT_EQ(dialog.ValueOf(kIdsPropertyHeight), "240 Pixels");
  EXPECT_EQ(dialog.ValueOf(kIdsPropertyFrameRate), "");
  EXPECT_EQ(dialog.ValueOf(kIdsPropertyFrameNumber), "");
  VideoFileInfo windowsMedia = info;
  windowsMedia.windowsMedia = true;
  windowsMedia.bitrate = 400 * 1024;
  const CVideoFilePropertyDialog wm([](UINT id) { return std::to_string(id); }, m_path, windowsMedia);
  EXPECT_EQ(wm.ValueOf(kIdsPropertyBitrate), "400 Kbps");
  // Only the Windows Media header gives a bitrate.
  EXPECT_EQ(dialog.ValueOf(kIdsPropertyBitrate), info.windowsMedia ? KbpsText(info.bitrate) : "");
  VideoFileInfo avi = info;
  avi.windowsMedia = false;
  const CVideoFilePropertyDialog aviDialog([](UINT id) { return std::to_string(id); }, m_path, avi);
  EXPECT_EQ(aviDialog.ValueOf(kIdsPropertyBitrate), "");
}

TEST_F(PlaybackDocumentTest, DamagedAndEmptyFilesGiveAClearMessage) {
  Record(2.0);
  const std::string whole = m_path + ".whole";
  fs::copy_file(m_path, whole);
  for (const std::uintmax_t size : {std::uintmax_t{0}, std::uintmax_t{100}, std::uintmax_t{6000}}) {
    fs::copy_file(whole, m_path, fs::copy_options::overwrite_existing);
    fs::resize_file(m_path, size);
    m_owner.messages.clear();
    std::unique_ptr<CVFDoc> doc = MakeDocument();
    if (doc->Open()) {
      // What could be read plays; commands and closing stay safe.
      EXPECT_TRUE(doc->RunCommand(ui::kCmdPlayerPlay));
      doc->Close();
    } else {
      ASSERT_EQ(m_owner.messages.size(), 1u) << size;
      EXPECT_NE(m_owner.messages[0].find("OpenFile failed with error"), std::string::npos) << m_owner.messages[0];
      EXPECT_NE(m_owner.messages[0].find(m_path), std::string::npos);
      EXPECT_FALSE(doc->Player().IsOpen());
    }
  }
  fs::remove(m_path);
  std::unique_ptr<CVFDoc> missing = MakeDocument();
  EXPECT_FALSE(missing->Open());
  EXPECT_FALSE(missing->Player().IsOpen());
}

TEST_F(PlaybackDocumentTest, SaveCurrentPictureNamesIndexesAndKeepsThePausedPlace) {
  Record(3.0);
  std::unique_ptr<CVFDoc> doc = MakeDocument();
  ASSERT_TRUE(doc->Open());
  ASSERT_TRUE(doc->RunCommand(ui::kCmdPlayerPlay));
  ASSERT_TRUE(doc->RunCommand(ui::kCmdPlayerPauseContinue));
  m_graph.position = 12'500'000;  // 1.25 s
  ASSERT_TRUE(doc->RunCommand(ui::kCmdPlayerSavePicture));
  ASSERT_TRUE(m_owner.messages.empty()) << m_owner.messages[0];
  EXPECT_EQ(m_owner.saved, std::vector<std::string>{"00-00-01-250.bmp"});
  const std::string still = StillFolder() + "/00-00-01-250.bmp";
  const QImage picture(QString::fromStdString(still));
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size(), QSize(320, 240));
  EXPECT_EQ(picture.depth() >= 24, true);
  // The player came back paused at the same place.
  EXPECT_EQ(m_graph.built, 2);
  EXPECT_EQ(m_graph.state, GraphState::Paused);
  EXPECT_EQ(m_graph.position, 12'500'000);
  EXPECT_TRUE(m_frames.back()->View()->SliderTimerRunning());
  // A second save at the same place: the same file, one index key.
  ASSERT_TRUE(doc->SaveCurrentPicture());
  EXPECT_EQ(std::distance(fs::directory_iterator(StillFolder()), fs::directory_iterator()), 1);
  EXPECT_EQ(settings::SubKeyNames(doc->FileKey()), std::vector<std::string>{"00-00-01-250.bmp"});
  // A running player keeps running.
  ASSERT_TRUE(doc->RunCommand(ui::kCmdPlayerPauseContinue));
  m_graph.position = 20'000'000;
  ASSERT_TRUE(doc->SaveCurrentPicture());
  EXPECT_EQ(m_graph.state, GraphState::Running);
  EXPECT_EQ(settings::SubKeyNames(doc->FileKey()).size(), 2u);
}

TEST_F(PlaybackDocumentTest, AFailedGrabIsReportedIndexesNothingAndThePlayerComesBack) {
  Record(2.0);
  std::unique_ptr<CVFDoc> doc = MakeDocument();
  ASSERT_TRUE(doc->Open());
  ASSERT_TRUE(doc->RunCommand(ui::kCmdPlayerStep));  // paused
  m_graph.position = 600'000'000;  // past the last frame
  EXPECT_FALSE(doc->SaveCurrentPicture());
  ASSERT_EQ(m_owner.messages.size(), 1u);
  EXPECT_EQ(m_owner.messages[0].rfind("text " + std::to_string(kIdsSaveFailed), 0), 0u);
  EXPECT_TRUE(m_owner.saved.empty());
  EXPECT_TRUE(settings::SubKeyNames(doc->FileKey()).empty());
  EXPECT_FALSE(fs::exists(StillFolder() + "/00-01-00-000.bmp"));
  EXPECT_TRUE(doc->Player().IsOpen());
  EXPECT_EQ(m_graph.state, GraphState::Paused);
}

TEST_F(PlaybackDocumentTest, StillsOpenAsPicturesAndPrint) {
  Record(2.0);
  {
    std::unique_ptr<CVFDoc> doc = MakeDocument();
    ASSERT_TRUE(doc->Open());
    m_graph.position = 5'000'000;
    ASSERT_TRUE(doc->SaveCurrentPicture());
  }
  std::unique_ptr<CVFDoc> still = MakeDocument("00-00-00-500.bmp");
  ASSERT_TRUE(still->Open());
  EXPECT_EQ(still->StillImage().size(), QSize(320, 240));
  EXPECT_FALSE(still->Player().IsOpen());  // no graph for a picture
  EXPECT_TRUE(still->RunCommand(ui::kCmdPlayerPlay));
  // Printing asks for the printer; a cancel prints nothing and says nothing.
  EXPECT_FALSE(still->PrintCurrentFrame());
  EXPECT_TRUE(m_owner.messages.empty());
  m_owner.pdf = m_dir.File("still.pdf");
  EXPECT_TRUE(still->RunCommand(ui::kCmdStillPrint));
  EXPECT_TRUE(m_owner.messages.empty());
  EXPECT_GT(fs::file_size(m_owner.pdf), 1000u);
  // Printing a frame of the recording tears the player down and brings it back.
  std::unique_ptr<CVFDoc> doc = MakeDocument();
  ASSERT_TRUE(doc->Open());
  m_graph.position = 10'000'000;
  const int built = m_graph.built;
  m_owner.pdf = m_dir.File("frame.pdf");
  EXPECT_TRUE(doc->PrintCurrentFrame());
  EXPECT_EQ(m_graph.built, built + 1);
  EXPECT_EQ(m_graph.position, 10'000'000);
  EXPECT_TRUE(fs::exists(m_owner.pdf));
  // A still whose file is gone gives the open message.
  fs::remove(StillFolder() + "/00-00-00-500.bmp");
  std::unique_ptr<CVFDoc> gone = MakeDocument("00-00-00-500.bmp");
  EXPECT_FALSE(gone->Open());
}

TEST_F(PlaybackDocumentTest, TilingIsLeftToTheOwner) {
  std::unique_ptr<CVFDoc> doc = MakeDocument();
  m_frames.back()->RunCommand(ui::kCmdActivateTileVertical);
  m_frames.back()->RunCommand(ui::kCmdActivateTileHorizontal);
  EXPECT_EQ(m_owner.forwarded, (std::vector<UINT>{ui::kCmdActivateTileVertical, ui::kCmdActivateTileHorizontal}));
}

TEST_F(PlaybackDocumentTest, ARecordingBeingWrittenOpensAndTheWriterGoesOn) {
  CRecording recording;
  ASSERT_TRUE(recording.Begin(m_path));
  ASSERT_TRUE(recording.Feed(2.0));
  {
    std::unique_ptr<CVFDoc> doc = MakeDocument();
    doc->SetGraphBuilder(CreatePlaybackGraph);  // the real graph, whatever it can do today
    (void)doc->Open();
    (void)doc->RunCommand(ui::kCmdPlayerPlay);
    doc->Close();
  }
  ASSERT_TRUE(recording.Feed(2.0));
  ASSERT_TRUE(recording.End());
  EXPECT_NEAR(wmf::testing::DecodedSeconds(m_path), 4.0, 0.3);
}

}  // namespace
