// Playback through the main frame as the operator drives it: the tree's file and still
// commands, the double click, saving a picture into the tree, and the event matrix's
// double click playing the moment. Recordings are made by the writer; where the media
// layer cannot render them yet, the tests skip.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <QElapsedTimer>
#include <QMdiArea>
#include <QScrollBar>
#include <QTest>

#include "platform/time/Time.h"
#include "platform/wmf/AsfWriter.h"
#include "platform/wmf/tests/WmfTestSupport.h"
#include "server/archive/Archive.h"
#include "server/archive/Profile.h"
#include "server/motion/EventLog.h"
#include "server/settings/Settings.h"
#include "server/ui/MainFrame.h"
#include "server/ui/QtDispatcher.h"
#include "server/ui/WorkspaceMonitor.h"
#include "server/ui/output/OutputViewEvent.h"
#include "server/ui/playback/VFFrame.h"
#include "server/ui/playback/VFView.h"
#include "server/ui/tests/UiTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui {
namespace {

namespace st = halvard::settings;
namespace fs = std::filesystem;
namespace wmf = halvard::wmf;
using playback::CVFDoc;
using playback::GraphState;

constexpr const char* kGroup = "Card A";
constexpr const char* kInput = "Input 0";

bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}

/// Records `seconds` of the simulated camera at `path` through the recording writer.
void Record(const std::string& path, double seconds) {
  ASSERT_TRUE(archive::CreateParentFolders(path));
  auto writer = ComPtr<wmf::CAsfWriterCore>::Attach(new wmf::CAsfWriterCore());
  ComPtr<IWMWriterFileSink> sink;
  ASSERT_EQ(archive::ConfigureRecordingWriter(static_cast<IConfigAsfWriter*>(writer.Get()), kGroup, kInput), S_OK);
  ASSERT_EQ(WMCreateWriterFileSink(sink.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(sink->Open(path.c_str()), S_OK);
  ASSERT_EQ(writer->AddSink(sink.Get()), S_OK);
  ASSERT_EQ(writer->Engine().Begin(), S_OK);
  wmf::testing::CSimulatedSource source(320, 240, wmf::PixelFormat::Yuy2);
  ASSERT_EQ(source.Feed(writer->Engine(), seconds), S_OK);
  ASSERT_EQ(writer->Engine().End(), S_OK);
  ComPtr<IWMWriterFileSink2> control;
  ASSERT_EQ(sink.As(&control), S_OK);
  ASSERT_EQ(control->Close(), S_OK);
  archive::RegisterArchiveFile(kGroup, kInput, path);
}

class MainFramePlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    // As in the server: window messages (pictures, graph events) run in the event loop.
    m_previousDispatcher = window::SetDefaultDispatcher(&m_dispatcher);
    st::DeleteKeyTree(st::kCameraGroupPath);
    roster.groups = {kGroup};
    roster.cameras = {{kGroup, kInput}};
    frame = std::make_unique<CMainFrame>(testing::ModuleText);
    frame->SetRoster(&roster);
    frame->resize(1200, 800);
    frame->show();
  }
  void TearDown() override {
    frame->SetRoster(nullptr);
    frame.reset();
    window::SetDefaultDispatcher(m_previousDispatcher);
  }

  /// A recording of the archive started at `start`; its path.
  std::string RecordAt(std::time_t start, double seconds) {
    std::tm local{};
    localtime_r(&start, &local);
    m_day = archive::DayName(local);
    m_file = archive::RecordingFileName(local);
    const std::string path = archive::MakeRecordingPathAt(kGroup, kInput, local);
    Record(path, seconds);
    frame->RefreshTree();
    return path;
  }

  /// Whether the media layer plays Windows Media files (the tests need it).
  static bool Renders(const std::string& path) {
    playback::VideoFileInfo info;
    return playback::ReadVideoFileInfo(path, &info) && info.windowsMedia;
  }

  CQtDispatcher m_dispatcher;
  window::IMessageDispatcher* m_previousDispatcher = nullptr;
  testing::CRecordingRoster roster;
  std::unique_ptr<CMainFrame> frame;
  std::string m_day;
  std::string m_file;
};

TEST_F(MainFramePlaybackTest, TreeCommandsOpenPlayPauseSaveAndClose) {
  const std::string path = RecordAt(time::WallClockNow() - 3600, 3.0);
  if (!Renders(path)) {
    GTEST_SKIP() << "the media layer does not render Windows Media files yet";
  }
  QTreeWidgetItem* item = frame->Workspace()->FindItem({kGroup, kInput, m_day, m_file});
  ASSERT_NE(item, nullptr);
  // Commands for a player that is not open say so.
  frame->SetMessageBoxesShown(true);
  {
    testing::CBoxAnswerer ok(QMessageBox::Ok);
    frame->RunTreeCommand(kCmdPauseContinue, item);
    ASSERT_EQ(ok.texts.size(), 1u);
    EXPECT_EQ(ok.texts[0], testing::ModuleText(kIdsFileNotOpen) + " " + path);
  }
  // The double click opens the file and plays it.
  frame->Workspace()->RunDoubleClick(item);
  ASSERT_EQ(frame->PlaybackDocuments().size(), 1u);
  CVFDoc& doc = *frame->PlaybackDocuments()[0];
  EXPECT_EQ(doc.Path(), path);
  ASSERT_TRUE(PumpUntil([&] { return doc.Player().State() == GraphState::Running; }));
  EXPECT_EQ(doc.Frame()->windowTitle().toStdString(), path);
  EXPECT_EQ(frame->Situation(), MenuSituation::VideoFileWindow);
  EXPECT_TRUE(doc.Frame()->View()->SliderTimerRunning());
  EXPECT_TRUE(PumpUntil([&] { return doc.Frame()->View()->Slider()->isEnabled(); }));
  // The view shows the picture at its own size above the slider.
  EXPECT_EQ(doc.Frame()->View()->Picture()->size(), QSize(320, 240));
  // Pause from the tree, then save the picture from the tree.
  frame->RunTreeCommand(kCmdPauseContinue, item);
  ASSERT_TRUE(PumpUntil([&] { return doc.Player().State() == GraphState::Paused; }));
  frame->RunTreeCommand(kCmdSavePicture, item);
  QTreeWidgetItem* file = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    file = frame->Workspace()->FindItem({kGroup, kInput, m_day, m_file});
    return file != nullptr && file->childCount() == 1;
  }));
  const std::string still = file->child(0)->text(0).toStdString();
  EXPECT_TRUE(fs::exists(archive::StillFolderOf(path) + "/" + still));
  EXPECT_EQ(doc.Player().State(), GraphState::Paused);
  // Ctrl+S in the window: the same place, so still one picture and one tree item.
  QTest::keyClick(doc.Frame()->View(), Qt::Key_S, Qt::ControlModifier);
  PumpUntil([] { return false; }, 300);
  file = frame->Workspace()->FindItem({kGroup, kInput, m_day, m_file});
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->childCount(), 1);
  // The still opens in a window of its own and closes with the same command.
  QTreeWidgetItem* stillItem = file->child(0);
  frame->RunTreeCommand(kCmdStillPlay, stillItem);
  ASSERT_EQ(frame->PlaybackDocuments().size(), 2u);
  EXPECT_TRUE(frame->PlaybackDocuments()[1]->IsStill());
  EXPECT_EQ(frame->PlaybackDocuments()[1]->StillImage().size(), QSize(320, 240));
  frame->RunTreeCommand(kCmdStillPlay, frame->Workspace()->FindItem({kGroup, kInput, m_day, m_file, still}));
  ASSERT_TRUE(PumpUntil([&] { return frame->PlaybackDocuments().size() == 1; }));
  // A playing recording cannot be deleted under the player.
  {
    testing::CBoxAnswerer ok(QMessageBox::Ok);
    frame->RunTreeCommand(kCmdDeleteVideoAndStills, frame->Workspace()->FindItem({kGroup, kInput, m_day, m_file}));
    ASSERT_EQ(ok.texts.size(), 1u);
    EXPECT_EQ(ok.texts[0].rfind(testing::ModuleText(kIdsFileOpenForPlayback), 0), 0u);
  }
  EXPECT_TRUE(fs::exists(path));
  // Play/Stop on the open file closes its window.
  frame->RunTreeCommand(kCmdPlayStop, frame->Workspace()->FindItem({kGroup, kInput, m_day, m_file}));
  ASSERT_TRUE(PumpUntil([&] { return frame->PlaybackDocuments().empty(); }));
  EXPECT_TRUE(frame->DocumentArea()->subWindowList().empty());
}

TEST_F(MainFramePlaybackTest, PlayingShowsPicturesAndPausesAtTheEnd) {
  const std::string path = RecordAt(time::WallClockNow() - 1800, 2.0);
  if (!Renders(path)) {
    GTEST_SKIP() << "the media layer does not render Windows Media files yet";
  }
  frame->RunTreeCommand(kCmdPlayStop, frame->Workspace()->FindItem({kGroup, kInput, m_day, m_file}));
  ASSERT_EQ(frame->PlaybackDocuments().size(), 1u);
  CVFDoc& doc = *frame->PlaybackDocuments()[0];
  ASSERT_TRUE(PumpUntil([&] { return doc.Player().State() == GraphState::Running; }));
  EXPECT_TRUE(PumpUntil([&] { return !doc.Frame()->View()->Picture()->Image().isNull(); }));
  // The graph's end-of-file event (message 1026) pauses the player on the last picture.
  ASSERT_TRUE(PumpUntil([&] { return doc.Player().State() == GraphState::Paused; }, 8000));
  EXPECT_GE(doc.Player().SliderValue(), 90);
  EXPECT_EQ(doc.Frame()->View()->Picture()->Image().size(), QSize(320, 240));
}

TEST_F(MainFramePlaybackTest, AFileThatDoesNotOpenIsReportedAndLeavesNoWindow) {
  const std::time_t start = time::WallClockNow() - 7200;
  std::tm local{};
  localtime_r(&start, &local);
  const std::string path = archive::MakeRecordingPathAt(kGroup, kInput, local);
  ASSERT_TRUE(archive::CreateParentFolders(path));
  std::ofstream(path) << "";  // a file of a server killed before the header
  archive::RegisterArchiveFile(kGroup, kInput, path);
  frame->RefreshTree();
  QTreeWidgetItem* item = frame->Workspace()->FindItem({kGroup, kInput, archive::DayName(local),
                                                        archive::RecordingFileName(local)});
  ASSERT_NE(item, nullptr);
  frame->SetMessageBoxesShown(true);
  testing::CBoxAnswerer ok(QMessageBox::Ok);
  frame->RunTreeCommand(kCmdPlayStop, item);
  ASSERT_EQ(ok.texts.size(), 2u);
  EXPECT_NE(ok.texts[0].find("OpenFile failed with error"), std::string::npos) << ok.texts[0];
  EXPECT_EQ(ok.texts[1], testing::ModuleText(kIdsCannotOpenFile) + " " + path);
  EXPECT_TRUE(frame->PlaybackDocuments().empty());
  EXPECT_TRUE(frame->DocumentArea()->subWindowList().empty());
  frame->RunTreeCommand(kCmdVideoProperty, item);
  EXPECT_EQ(ok.texts.size(), 3u);
}

TEST_F(MainFramePlaybackTest, TheEventMatrixDoubleClickPlaysTheMomentInTheRightFile) {
  // Two recordings an hour apart; the event lies 8 s into the later one.
  const std::time_t now = time::WallClockNow();
  const std::time_t first = now - 2 * 3600 - (now % 60);
  (void)RecordAt(first, 2.0);
  const std::time_t second = first + 3600;
  const std::string path = RecordAt(second, 10.0);
  if (!Renders(path)) {
    GTEST_SKIP() << "the media layer does not render Windows Media files yet";
  }
  std::tm event{};
  const std::time_t eventTime = second + 8;
  localtime_r(&eventTime, &event);
  motion::AppendEventLog(kGroup, kInput, motion::EventTimeText(event));
  COutputViewEvent* view = nullptr;
  for (QAbstractScrollArea* area : frame->findChildren<QAbstractScrollArea*>()) {
    view = view != nullptr ? view : dynamic_cast<COutputViewEvent*>(area);
  }
  ASSERT_NE(view, nullptr);
  view->Reload();
  const CEventMatrix& matrix = view->Matrix();
  ASSERT_EQ(matrix.Rows().size(), 1u);
  ASSERT_EQ(matrix.Rows()[0].cells.size(), 1u);
  const int eventX = matrix.Rows()[0].cells.back() * CEventMatrix::kCellWidth;
  view->ScrollTo(std::max(0, eventX - 100), 0);
  const int x = eventX - view->ScrollPosition().x() + 1;
  const int rowY = static_cast<int>(1.5 * matrix.RowHeight());
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, QPoint(x, rowY));
  ASSERT_TRUE(PumpUntil([&] { return frame->PlaybackDocuments().size() == 1; }));
  CVFDoc& doc = *frame->PlaybackDocuments()[0];
  EXPECT_EQ(doc.Path(), path);
  ASSERT_TRUE(PumpUntil([&] { return doc.Player().State() == GraphState::Running; }));
  // Five seconds before the event: 3 s into the file, and playing on from there.
  const double at = doc.Player().PositionSeconds();
  EXPECT_GE(at, 2.9);
  EXPECT_LT(at, 4.5);
  EXPECT_EQ(frame->Workspace()->currentItem(), frame->Workspace()->FindItem({kGroup, kInput, m_day, m_file}));
}

}  // namespace
}  // namespace halvard::ui

namespace halvard::ui {
namespace {

// Not a check: keeps a recording playing and a still open for HALVARD_SHOW_SECONDS so
// that a screenshot can be taken of the windows (run it on a display with
// --gtest_also_run_disabled_tests).
TEST_F(MainFramePlaybackTest, DISABLED_ShowsForAScreenshot) {
  const std::string path = RecordAt(time::WallClockNow() - 600, 20.0);
  if (!Renders(path)) {
    GTEST_SKIP() << "the media layer does not render Windows Media files yet";
  }
  QTreeWidgetItem* item = frame->Workspace()->FindItem({kGroup, kInput, m_day, m_file});
  ASSERT_NE(item, nullptr);
  frame->Workspace()->expandAll();
  frame->RunTreeCommand(kCmdPlayStop, item);
  ASSERT_EQ(frame->PlaybackDocuments().size(), 1u);
  CVFDoc& doc = *frame->PlaybackDocuments()[0];
  ASSERT_TRUE(PumpUntil([&] { return doc.Player().State() == GraphState::Running; }));
  PumpUntil([] { return false; }, 1500);
  doc.Frame()->RunCommand(kCmdPlayerSavePicture);
  QTreeWidgetItem* file = frame->Workspace()->FindItem({kGroup, kInput, m_day, m_file});
  ASSERT_TRUE(file != nullptr && file->childCount() == 1);
  frame->RunTreeCommand(kCmdStillPlay, file->child(0));
  ASSERT_EQ(frame->PlaybackDocuments().size(), 2u);
  frame->PlaybackDocuments()[1]->Frame()->move(420, 0);
  doc.Frame()->move(0, 0);
  const char* seconds = std::getenv("HALVARD_SHOW_SECONDS");
  PumpUntil([] { return false; }, seconds != nullptr ? std::atoi(seconds) * 1000 : 1000);
}

}  // namespace
}  // namespace halvard::ui
