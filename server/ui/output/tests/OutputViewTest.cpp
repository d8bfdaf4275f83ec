#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QImage>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/time/Time.h"
#include "server/settings/Settings.h"
#include "server/ui/output/EventMatrixPainter.h"
#include "server/ui/output/EventMatrixPropertiesDialog.h"
#include "server/ui/output/OutputPane.h"
#include "server/ui/output/OutputViewEvent.h"
#include "server/ui/output/OutputViewMessage.h"
#include "server/ui/output/tests/OutputTestSupport.h"
#include "tests/support/TestSupport.h"

using halvard::time::MakeLocalTime;
using namespace halvard::ui;
namespace settings = halvard::settings;

namespace {

// Runs the event loop until the condition holds or a generous time has passed.
template <class Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 500 && !condition(); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QTest::qWait(1);
  }
  return condition();
}

std::string Text(const QListWidget& list, int row) { return list.item(row)->text().toStdString(); }

TEST(OutputViewMessageTest, LinesFromManyThreadsArriveWholeAndInOrderPerThread) {
  COutputViewMessage view(nullptr, COutputViewMessage::StderrEcho::Off);
  view.resize(300, 200);
  view.show();
  constexpr int kThreads = 4;
  constexpr int kLinesEach = 400;
  std::vector<std::thread> threads;
  std::atomic<int> refused{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&view, &refused, t] {
      for (int i = 0; i < kLinesEach; ++i) {
        if (view.AddLine("worker " + std::to_string(t) + " line " + std::to_string(i)) != S_OK) {
          ++refused;
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(refused.load(), 0);
  ASSERT_TRUE(WaitFor([&] { return view.count() == kThreads * kLinesEach; })) << view.count();
  std::vector<int> next(kThreads, 0);
  for (int row = 0; row < view.count(); ++row) {
    int worker = -1;
    int line = -1;
    ASSERT_EQ(std::sscanf(Text(view, row).c_str(), "worker %d line %d", &worker, &line), 2) << Text(view, row);
    ASSERT_GE(worker, 0);
    ASSERT_LT(worker, kThreads);
    EXPECT_EQ(line, next[static_cast<std::size_t>(worker)]++);
  }
  // The newest line is selected, so it is in view.
  EXPECT_EQ(view.currentRow(), view.count() - 1);
}

TEST(OutputViewMessageTest, KeepsTheNewestLinesAndScrollsSidewaysToTheWidest) {
  COutputViewMessage view(nullptr, COutputViewMessage::StderrEcho::Off);
  view.resize(200, 150);
  view.show();
  const int total = COutputViewMessage::kMaxLines + 250;
  for (int i = 0; i < total; ++i) {
    static_cast<void>(view.AddLine("line " + std::to_string(i)));
    if (i % 3000 == 0) {
      view.DrainPending();  // several batches, so the oldest leave the list itself
    }
  }
  view.DrainPending();
  ASSERT_EQ(view.count(), COutputViewMessage::kMaxLines);
  EXPECT_EQ(Text(view, 0), "line 250");
  EXPECT_EQ(Text(view, view.count() - 1), "line " + std::to_string(total - 1));

  const int narrow = view.HorizontalExtent();
  static_cast<void>(view.AddLine(std::string(400, 'W')));
  view.DrainPending();
  EXPECT_GT(view.HorizontalExtent(), narrow);
  EXPECT_GT(view.HorizontalExtent(), view.viewport()->width());
  ASSERT_TRUE(WaitFor([&] { return view.horizontalScrollBar()->maximum() > 0; }));
  // A shorter line later never narrows the extent; a report with line ends stays one line.
  const int wide = view.HorizontalExtent();
  static_cast<void>(view.AddLine("short\r\nreport"));
  view.DrainPending();
  EXPECT_EQ(view.HorizontalExtent(), wide);
  EXPECT_EQ(Text(view, view.count() - 1), "short  report");
}

TEST(OutputViewMessageTest, ASinkHeldByAWorkerOutlivesTheViewAndRefusesLines) {
  auto view = std::make_unique<COutputViewMessage>(nullptr, COutputViewMessage::StderrEcho::Off);
  const std::shared_ptr<CMessageSink> sink = view->Sink();
  EXPECT_EQ(sink->AddLine("queued but never shown"), S_OK);
  view.reset();  // the queued hand-over must not reach the deleted view
  QCoreApplication::processEvents();
  EXPECT_EQ(sink->AddLine("too late"), E_FAIL);
}

class OutputViewEventTest : public ::testing::Test {
 protected:
  OutputViewEventTest() { m_clock.Set(m_now); }

  std::shared_ptr<outputtest::CTableEventSource> MakeSource() {
    auto source = std::make_shared<outputtest::CTableEventSource>(m_now);
    source->Add("BT878 Capture 0", "Input 0", MakeLocalTime(2026, 6, 8, 3, 10, 0));
    source->Add("BT878 Capture 0", "Input 0", MakeLocalTime(2026, 6, 8, 12, 0, 0));
    source->Add("BT878 Capture 0", "Input 2", MakeLocalTime(2026, 6, 9, 22, 30, 0));
    for (int minute = 0; minute < 60; minute += 4) {
      source->Add("BT878 Capture 1", "Front Door", MakeLocalTime(2026, 6, 10, 9, minute, 10));
    }
    source->Add("BT878 Capture 1", "Front Door", MakeLocalTime(2026, 6, 10, 14, 2, 0));
    return source;
  }
  static std::vector<CameraName> Cameras() {
    return {{"BT878 Capture 0", "Input 0"},
            {"BT878 Capture 0", "Input 1"},
            {"BT878 Capture 0", "Input 2"},
            {"BT878 Capture 1", "Front Door"}};
  }

  halvard::testing::ScopedRegistry m_registry;
  outputtest::ScopedTimeZone m_zone{"CET-1CEST,M3.5.0,M10.5.0/3"};
  const std::time_t m_now = MakeLocalTime(2026, 6, 10, 15, 0, 0);
  halvard::time::CManualWallClock m_clock{0};
  halvard::time::ScopedWallClock m_wallClock{m_clock.Source()};
};

TEST_F(OutputViewEventTest, ReloadShowsNewEventsOnlyThenAndCommand32881Reloads) {
  auto source = MakeSource();
  COutputViewEvent view(outputtest::EnglishTexts(), source);
  view.SetCameraLister(&Cameras);
  view.resize(800, 160);
  view.show();
  EXPECT_EQ(view.Matrix().RowCount(), 0);  // empty until the first reload
  EXPECT_EQ(view.Matrix().CellCount(), 480);

  EXPECT_FALSE(view.OnCommand(32880));
  EXPECT_TRUE(view.OnCommand(kCommandReloadEventMatrix));
  ASSERT_EQ(view.Matrix().RowCount(), 4);
  EXPECT_EQ(view.Matrix().StartTime(), MakeLocalTime(2026, 6, 8));
  EXPECT_EQ(view.Matrix().Rows()[3].cells.size(), 16u);
  EXPECT_GE(view.Matrix().RowHeight(), 20.0);
  EXPECT_EQ(view.horizontalScrollBar()->maximum(), view.Matrix().TotalWidth() - view.viewport()->width());

  source->Add("BT878 Capture 0", "Input 1", MakeLocalTime(2026, 6, 10, 14, 30, 0));
  EXPECT_TRUE(view.Matrix().Rows()[1].cells.empty());
  view.Reload();
  EXPECT_EQ(view.Matrix().Rows()[1].cells.size(), 1u);
}

TEST_F(OutputViewEventTest, MouseClicksAtAFarScrollPositionPlaceTheCursorAndAskToPlay) {
  settings::kEmTimeResolution.Write(0);  // 2 minutes a cell: a year of cells is far wider than 65535 pixels
  auto source = MakeSource();
  source->Add("BT878 Capture 0", "Input 1", MakeLocalTime(2025, 7, 1, 10, 0, 0));
  source->Add("BT878 Capture 0", "Input 1", MakeLocalTime(2026, 6, 10, 11, 0, 40));
  COutputViewEvent view(outputtest::EnglishTexts(), source);
  view.SetCameraLister(&Cameras);
  std::vector<PlayRequest> played;
  view.SetPlayHandler([&played](const PlayRequest& request) { played.push_back(request); });
  view.resize(900, 200);
  view.show();
  view.Reload();
  const CEventMatrix& matrix = view.Matrix();
  ASSERT_GT(matrix.TotalWidth(), 700000);

  const int eventX = matrix.Rows()[1].cells.back() * CEventMatrix::kCellWidth;
  view.ScrollTo(eventX - 300, 0);
  ASSERT_EQ(view.ScrollPosition().x(), eventX - 300);
  const int rowY = static_cast<int>(2.5 * matrix.RowHeight());  // middle of row 1
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(301, rowY));
  EXPECT_EQ(matrix.CursorX(), eventX);
  EXPECT_EQ(matrix.CursorText(), "2026-06-10 WED, 11:00");

  QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(301, rowY));
  ASSERT_EQ(played.size(), 1u);
  EXPECT_EQ(played[0].camera.input, "Input 1");
  EXPECT_TRUE(played[0].onEvent);
  EXPECT_EQ(played[0].playFrom, MakeLocalTime(2026, 6, 10, 11, 0, 35));

  // The top band is no row: nothing plays.
  QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(301, 3));
  EXPECT_EQ(played.size(), 1u);
}

TEST_F(OutputViewEventTest, PropertiesStoreTheChoiceOnOkAndTheOpeningIndexOnCancel) {
  auto source = MakeSource();
  COutputViewEvent view(outputtest::EnglishTexts(), source);
  view.SetCameraLister(&Cameras);
  view.show();
  view.Reload();

  CEventMatrixPropertiesDialog look(outputtest::EnglishTexts(), 1);
  EXPECT_EQ(look.windowTitle().toStdString(), "Event Matrix Properties");
  ASSERT_EQ(look.List()->count(), 6);
  EXPECT_EQ(look.List()->item(0)->text().toStdString(), "02 minutes");
  EXPECT_EQ(look.List()->item(5)->text().toStdString(), "20 minutes");
  EXPECT_EQ(look.SelectedIndex(), 1u);
  EXPECT_EQ(CEventMatrixPropertiesDialog::ChoiceText("%s%n %02d min", 5), "%s%n 05 min");

  const auto answer = [](DWORD index, bool ok) {
    QTimer::singleShot(0, [index, ok] {
      auto* dialog = dynamic_cast<CEventMatrixPropertiesDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      dialog->SelectIndex(index);
      ok ? dialog->accept() : dialog->reject();
    });
  };
  answer(4, true);
  view.ShowProperties();
  EXPECT_EQ(settings::kEmTimeResolution.Read(), 4u);
  EXPECT_EQ(view.Matrix().ResolutionMinutes(), 15);

  answer(0, false);
  view.ShowProperties();
  EXPECT_EQ(settings::kEmTimeResolution.Read(), 4u);
  EXPECT_EQ(view.Matrix().ResolutionMinutes(), 15);
}

TEST_F(OutputViewEventTest, TheContextMenuOffersPropertiesAndReload) {
  auto source = MakeSource();
  COutputViewEvent view(outputtest::EnglishTexts(), source);
  view.SetCameraLister(&Cameras);
  view.resize(600, 150);
  view.show();
  std::vector<std::string> items;
  QTimer::singleShot(0, [&items] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    for (QAction* action : menu->actions()) {
      items.push_back(action->text().toStdString());
    }
    menu->actions().at(1)->trigger();  // "Event Matrix Reload"
    menu->close();
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), view.viewport()->mapToGlobal(QPoint(10, 10)));
  QApplication::sendEvent(view.viewport(), &event);
  EXPECT_EQ(items, (std::vector<std::string>{"Properties", "Event Matrix Reload"}));
  EXPECT_EQ(view.Matrix().RowCount(), 4);  // the reload ran
}

// Pixels of the painting: events red, night grey, day white, labels at the visible edge.
TEST_F(OutputViewEventTest, PaintingShadesNightsMarksEventsAndKeepsRowLabelsInView) {
  auto source = MakeSource();
  CEventMatrix matrix;
  matrix.Load(Cameras(), *source, m_now);
  matrix.Layout(120);  // six bands of 20 pixels
  const QRect visible(1400, 0, 1500, 120);
  QImage image(visible.size(), QImage::Format_RGB32);
  {
    QPainter painter(&image);
    painter.translate(-visible.topLeft());
    PaintEventMatrix(painter, matrix, visible, EventMatrixFont());
  }
  const auto at = [&](double x, double y) { return image.pixelColor(static_cast<int>(x) - visible.left(), static_cast<int>(y)); };
  const double dayX = matrix.XOfTime(MakeLocalTime(2026, 6, 9));
  // 03:00 is night, 12:00 is day; both inside the camera rows (y = 30 lies in row 0).
  EXPECT_EQ(at(dayX + 3 * 60 + 100, 50), QColor(0xD0, 0xD0, 0xD0));
  EXPECT_EQ(at(dayX + 12 * 60 + 30, 50), QColor(Qt::white));
  // The event of 22:30 on camera row 2 (y 60 to 80) is red in its cell.
  const double eventX = matrix.XOfTime(MakeLocalTime(2026, 6, 9, 22, 30, 0));
  ASSERT_GT(eventX, visible.left() + 100);
  ASSERT_LT(eventX, visible.right());
  EXPECT_EQ(at(eventX + 1, 70), QColor(Qt::red));
  EXPECT_NE(at(eventX + 1, 50), QColor(Qt::red));
  // The label of row 0 is drawn at the left edge of what is shown, not at x = 0.
  int dark = 0;
  for (int x = 0; x < 60; ++x) {
    for (int y = 22; y < 38; ++y) {
      dark += image.pixelColor(x, y).lightness() < 100 ? 1 : 0;
    }
  }
  EXPECT_GT(dark, 20);
}

// The whole pane rendered offscreen, for a person to look at.
TEST_F(OutputViewEventTest, ThePaneRendersToAPicture) {
  auto source = MakeSource();
  COutputPane pane(outputtest::EnglishTexts(), source);
  pane.resize(1100, 260);
  pane.EventView().SetCameraLister(&Cameras);
  static_cast<void>(pane.MessageView().AddLine("Front Door: 09:00:10, WED 06/10/2026 Motion detected."));
  pane.MessageView().DrainPending();
  EXPECT_EQ(pane.tabText(0).toStdString(), "Messages");
  EXPECT_EQ(pane.tabText(1).toStdString(), "Event Matrix");
  pane.setCurrentIndex(1);
  pane.show();
  pane.EventView().Reload();
  // Show yesterday evening to today's afternoon, with the cursor on the morning's events.
  const CEventMatrix& matrix = pane.EventView().Matrix();
  pane.EventView().ScrollTo(static_cast<int>(matrix.XOfTime(MakeLocalTime(2026, 6, 9, 20, 0, 0))), 0);
  const int cursorX = static_cast<int>(matrix.XOfTime(MakeLocalTime(2026, 6, 10, 9, 20, 0)));
  QTest::mouseClick(pane.EventView().viewport(), Qt::LeftButton, {},
                    QPoint(cursorX - pane.EventView().ScrollPosition().x(), 5));
  ASSERT_FALSE(matrix.CursorText().empty());
  const QImage picture = pane.grab().toImage();
  const std::filesystem::path folder = halvard::testing::BuildDir() / "screenshots";
  std::filesystem::create_directories(folder);
  const std::string file = (folder / "event-matrix.png").string();
  ASSERT_TRUE(picture.save(QString::fromStdString(file)));
  pane.setCurrentIndex(0);
  ASSERT_TRUE(pane.grab().toImage().save(QString::fromStdString((folder / "message-log.png").string())));
}

}  // namespace
