// "Video Recording": what it shows, what OK writes and what it refuses, the encoder's
// audio formats, and the camera rename through a real roster on a simulated card.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "server/archive/Profile.h"
#include "server/engine/tests/EngineTestFixture.h"
#include "server/settings/Settings.h"
#include "server/ui/dialogs/VideoRecordingDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;
namespace fs = std::filesystem;
using testing::App;
using testing::ModuleText;

class VideoRecording : public engine::testing::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    App();
  }
  std::unique_ptr<CVideoRecordingDialog> Open(const std::string& input = "Input 1",
                                              CVideoRecordingDialog::Renamer renamer = {}) {
    auto dialog = std::make_unique<CVideoRecordingDialog>(ModuleText, kGroup, input, std::move(renamer));
    testing::RecordMessages(*dialog, messages);
    return dialog;
  }
  template <class W>
  W* Field(QWidget& dialog, const char* name) {
    W* widget = dialog.findChild<W*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Type(QWidget& dialog, const char* name, const char* text) { Field<QLineEdit>(dialog, name)->setText(text); }
  [[nodiscard]] std::vector<std::string> CameraValues(const std::string& input = "Input 1") const {
    return testing::StoredValues(s::CameraKeyPath(kGroup, input));
  }

  static constexpr const char* kGroup = "BT878 Capture 0";
  std::vector<std::string> messages;
};

TEST_F(VideoRecording, OpensOnTheDefaultsAndOnWhatIsStored) {
  auto dialog = Open();
  RecordingForm form = dialog->Form();
  EXPECT_EQ(form.name, "Input 1");
  EXPECT_TRUE(form.record);
  EXPECT_EQ(form.root, DataRoot() + "VideoArchive/");
  EXPECT_EQ(form.fileLengthIndex, 1u);
  EXPECT_EQ(Field<QComboBox>(*dialog, "fileLength")->currentText().toStdString(), "20 minutes");
  EXPECT_EQ(form.historyDays, "3");
  EXPECT_EQ(form.bitrateKbps, "400");
  EXPECT_EQ(form.frameRate, "30");
  EXPECT_EQ(form.keyFrameSeconds, "3");
  EXPECT_EQ(form.quality, 95u);
  EXPECT_FALSE(form.audio);
  EXPECT_FALSE(Field<QComboBox>(*dialog, "audioSource")->isEnabled());
  EXPECT_EQ(form.audioSource, "");
  EXPECT_EQ(form.audioFormat, (AudioFormatChoice{8, 24}));
  EXPECT_TRUE(form.audition);
  EXPECT_EQ(Field<QSlider>(*dialog, "quality")->maximum(), 100);
  EXPECT_EQ(Field<QSlider>(*dialog, "quality")->tickInterval(), 10);

  s::kVideoFrameRate.Write(kGroup, "Input 1", static_cast<DWORD>(-1));
  s::kVideoMotionQuality.Write(kGroup, "Input 1", 40);
  s::kVideoFileLength.Write(kGroup, 4);
  s::kAudio.Write(kGroup, "Input 1", 1);
  s::kAudioSource.Write(kGroup, "Input 1", "USB microphone (unplugged)");
  form = Open()->Form();
  EXPECT_EQ(form.frameRate, "-1") << "a stored negative rate shows as typed, to be corrected";
  EXPECT_EQ(form.quality, 40u);
  EXPECT_EQ(form.fileLengthIndex, 4u);
  EXPECT_TRUE(form.audio);
  EXPECT_EQ(form.audioSource, "USB microphone (unplugged)") << "a source not present now is kept";
}

TEST_F(VideoRecording, OkStoresExactlyTheChangedValuesAndCancelNothing) {
  {
    auto dialog = Open();
    Type(*dialog, "bitrate", "600");
    Type(*dialog, "history", "5");
    Field<QSlider>(*dialog, "quality")->setValue(50);
    Field<QComboBox>(*dialog, "fileLength")->setCurrentIndex(3);
    dialog->reject();
  }
  EXPECT_TRUE(CameraValues().empty());
  EXPECT_FALSE(s::ValueExists(s::GroupKeyPath(kGroup), s::kVideoFileLength.name));

  auto dialog = Open();
  Type(*dialog, "bitrate", " 600 ");
  Type(*dialog, "history", "3");  // typed again unchanged
  Field<QSlider>(*dialog, "quality")->setValue(50);
  Field<QComboBox>(*dialog, "fileLength")->setCurrentIndex(3);
  Field<QCheckBox>(*dialog, "audition")->setChecked(false);
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(messages.empty());
  std::vector<std::string> values = CameraValues();
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<std::string>{"Audio Audition", "Video Bitrate", "Video Motion Quality"}));
  EXPECT_EQ(s::kVideoBitrate.Read(kGroup, "Input 1"), 600u);
  EXPECT_EQ(s::kVideoMotionQuality.Read(kGroup, "Input 1"), 50u);
  EXPECT_EQ(s::kVideoFileLength.Read(kGroup), 3u);
  EXPECT_EQ(s::kAudioAudition.Read(kGroup, "Input 1"), 0u);
}

TEST_F(VideoRecording, WrongEntriesAreRefusedWithWhatIsAllowedAndNothingIsWritten) {
  struct Case {
    const char* field;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"frameRate", "0", "Frame Rate (frames/s) must be a whole number from 1 to 60."},
      {"frameRate", "-1", "Frame Rate (frames/s) must be a whole number from 1 to 60."},
      {"frameRate", "25fps", "Frame Rate (frames/s) must be a whole number from 1 to 60."},
      {"bitrate", "0", "Bitrate (Kbps) must be a whole number from 1 to 100000."},
      {"bitrate", "99999999999999999999", "Bitrate (Kbps) must be a whole number from 1 to 100000."},
      {"history", "", "Keep Recordings (days) must be a whole number from 1 to 3650."},
      {"keyFrame", "0", "Key Frame Interval (seconds) must be a whole number from 1 to 3600."},
      {"root", "relative/folder", nullptr},
      {"root", "/data/../../etc", nullptr},
      {"root", "", nullptr},
  };
  for (const Case& c : cases) {
    messages.clear();
    auto dialog = Open();
    Type(*dialog, "bitrate", "700");  // a good change beside the bad one
    Type(*dialog, c.field, c.text);
    dialog->accept();
    EXPECT_NE(dialog->result(), QDialog::Accepted) << c.field << " " << c.text;
    ASSERT_EQ(messages.size(), 1u) << c.field << " " << c.text;
    EXPECT_EQ(messages[0], c.message != nullptr ? c.message : ModuleText(kIdsRootInvalid));
    EXPECT_TRUE(CameraValues().empty()) << c.field << " " << c.text;
  }
  // A root too long to read back: it would silently read as the default folder.
  auto dialog = Open();
  dialog->findChild<QLineEdit*>("root")->setMaxLength(500);
  Type(*dialog, "root", ("/" + std::string(120, 'r')).c_str());
  dialog->accept();
  EXPECT_NE(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(CameraValues().empty());
}

TEST_F(VideoRecording, TheRootIsStoredWithItsFinalSlashAndTheBrowseChoiceTaken) {
  auto dialog = Open();
  dialog->SetFolderChooser([this](const std::string& start) {
    EXPECT_EQ(start, DataRoot() + "VideoArchive/");
    return DataRoot() + "Elsewhere";
  });
  Field<QPushButton>(*dialog, "browse")->click();
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(s::ReadVideoFileRoot(kGroup, "Input 1"), DataRoot() + "Elsewhere/");
}

TEST_F(VideoRecording, AudioChoicesAreTheEncodersFormatsAndEachOneRecords) {
  const std::vector<AudioFormatChoice> formats = EncoderAudioFormats();
  ASSERT_FALSE(formats.empty());
  for (const AudioFormatChoice& f : formats) {
    archive::AudioProfileParams audio;
    audio.sampleRate = f.sampleRateKhz * 1000;
    audio.bitrate = f.bitrateKbps * 1000;
    archive::VideoProfileParams video;
    ReadProfileParams(kGroup, "Input 1", nullptr, &video);
    ComPtr<IWMProfile> profile;
    EXPECT_EQ(archive::BuildCustomProfile(&audio, &video, profile.ReleaseAndGetAddressOf()), S_OK)
        << f.sampleRateKhz << " kHz " << f.bitrateKbps << " Kbps";
  }
  // Choosing the last format in the lists stores it.
  auto dialog = Open();
  auto* rate = Field<QComboBox>(*dialog, "sampleRate");
  const int rateIndex = rate->findData(formats.back().sampleRateKhz);
  ASSERT_GE(rateIndex, 0);
  rate->setCurrentIndex(rateIndex);
  emit rate->activated(rateIndex);
  auto* bitrate = Field<QComboBox>(*dialog, "audioBitrate");
  bitrate->setCurrentIndex(bitrate->findData(formats.back().bitrateKbps));
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(s::kAudioSampleRate.Read(kGroup, "Input 1"), formats.back().sampleRateKhz);
  EXPECT_EQ(s::kAudioBitrate.Read(kGroup, "Input 1"), formats.back().bitrateKbps);

  // A pair the encoder lacks is refused; an unchanged one is kept as it is.
  CRecordingPage page(kGroup, "Input 2");
  RecordingForm form = page.Stored();
  form.audioFormat = {7, 3};
  ASSERT_TRUE(page.Check(form, formats).has_value());
  EXPECT_EQ(page.Check(form, formats)->field, RecordingField::AudioFormat);
  EXPECT_FALSE(page.Check(page.Stored(), {}).has_value());
}

TEST_F(VideoRecording, ANewNameMovesTheArchiveFolderAndKeyAndTheOtherChangesFollowIt) {
  engine::CameraRoster& roster = MakeRoster();
  const fs::path folder = ArchiveRoot() / kGroup / "Input 1" / "2007-05-01, TUE MAY 01";
  fs::create_directories(folder);
  std::ofstream(folder / "13H-05M-22S.wmv") << "x";
  const auto rename = [&roster](std::string_view g, std::string_view o, std::string_view n) {
    return roster.RenameInput(g, o, n);
  };

  // A name another input has (in any case), or one that cannot be a folder, is refused.
  for (const char* bad : {"input 0", "a/b", "why?", ""}) {
    messages.clear();
    auto dialog = Open("Input 1", rename);
    Type(*dialog, "name", bad);
    dialog->accept();
    EXPECT_NE(dialog->result(), QDialog::Accepted) << bad;
    EXPECT_EQ(messages, (std::vector<std::string>{ModuleText(122)})) << bad;
  }
  EXPECT_EQ(s::ReadInputName(kGroup, 1), "Input 1");

  auto dialog = Open("Input 1", rename);
  Type(*dialog, "name", "Door");
  Type(*dialog, "bitrate", "500");
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(fs::exists(ArchiveRoot() / kGroup / "Door" / "2007-05-01, TUE MAY 01" / "13H-05M-22S.wmv"));
  EXPECT_FALSE(fs::exists(ArchiveRoot() / kGroup / "Input 1"));
  EXPECT_EQ(s::ReadInputName(kGroup, 1), "Door");
  EXPECT_EQ(roster.FindGroup(kGroup)->InputName(1), "Door");
  EXPECT_EQ(s::kVideoBitrate.Read(kGroup, "Door"), 500u);
  EXPECT_FALSE(s::ValueExists(s::CameraKeyPath(kGroup, "Input 1"), s::kVideoBitrate.name));

  // Without a roster the name cannot be edited at all.
  EXPECT_TRUE(Open("Input 2")->findChild<QLineEdit*>("name")->isReadOnly());
}

TEST_F(VideoRecording, RendersOffscreen) {
  auto dialog = Open();
  const std::string path = testing::RenderToPng(*dialog, "video-recording");
  EXPECT_FALSE(path.empty());
  EXPECT_TRUE(fs::exists(path));
}

}  // namespace
}  // namespace halvard::ui::dialogs
