#include "server/ui/MainFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "platform/time/Time.h"
#include "server/archive/Archive.h"
#include "server/archive/ArchiveCommands.h"
#include "server/archive/CleanUp.h"
#include "server/engine/CameraRoster.h"
#include "server/engine/GroupPipeline.h"
#include "server/internet/AddressDiscovery.h"
#include "server/internet/UpdateWorker.h"
#include "server/ptz/PtzTourRunner.h"
#include "server/system/RebootSchedule.h"
#include "server/system/ScheduledReboot.h"
#include "server/system/SystemServices.h"
#include "server/ui/output/MotionEventSource.h"
#include "server/ui/output/OutputPane.h"
#include "server/ui/output/OutputViewEvent.h"
#include "server/ui/output/OutputViewMessage.h"
#include "server/ui/output/RecordingLocator.h"
#include "server/ui/QtVideoSurface.h"
#include "server/ui/RosterOperations.h"
#include "server/ui/VMFrame.h"
#include "server/ui/VMView.h"
#include "server/ui/WorkspaceMonitor.h"
#include "server/ui/dialogs/AboutDialog.h"
#include "server/ui/dialogs/AccessPrivacyDialog.h"
#include "server/ui/dialogs/BootScheduleDialog.h"
#include "server/ui/dialogs/DataCaptureDialog.h"
#include "server/ui/dialogs/DevicePropertiesDialog.h"
#include "server/ui/dialogs/GroupRenameDialog.h"
#include "server/ui/dialogs/ImageEnhancementDialog.h"
#include "server/ui/dialogs/InternetMonitoringDialog.h"
#include "server/ui/dialogs/MotionDetectionDialog.h"
#include "server/ui/dialogs/MotionMarkEditor.h"
#include "server/ui/dialogs/PasswordDialog.h"
#include "server/ui/dialogs/PanTiltZoomDialog.h"
#include "server/ui/dialogs/VideoRecordingDialog.h"
#include "server/ui/dialogs/WindowsLockdownDialog.h"
#include "server/ui/playback/VFFrame.h"
#include "server/ui/playback/VFView.h"
#include "server/ui/playback/VideoFilePropertyDialog.h"

namespace halvard::ui {

namespace {

constexpr UINT kIdsRebootMessage = 3044;
constexpr const char* kStateKey = "MainFrame/state";
// Room for a day name ("2007-05-01, TUE MAY 01") at the depth of days, and for four
// rows of the event matrix.
constexpr int kWorkspaceWidth = 320;
constexpr int kOutputHeight = 200;
constexpr const char* kGeometryKey = "MainFrame/geometry";

std::string PromptOf(const std::string& text) { return text.substr(0, text.find('\n')); }
std::string TooltipOf(const std::string& text) {
  const auto cut = text.find('\n');
  return cut == std::string::npos ? std::string() : text.substr(cut + 1);
}

/// The toolbar image of the desktop lock (the style has none).
QIcon PadlockIcon() {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(70, 70, 70), 2.5));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(7, 3, 10, 12), 0, 180 * 16);
  p.drawLine(QPointF(7, 9), QPointF(7, 11));
  p.drawLine(QPointF(17, 9), QPointF(17, 11));
  p.setPen(QPen(QColor(120, 90, 0), 1));
  p.setBrush(QColor(230, 180, 40));
  p.drawRoundedRect(QRectF(4, 11, 16, 11), 2, 2);
  p.setBrush(QColor(70, 70, 70));
  p.drawEllipse(QPointF(12, 16), 1.6, 1.6);
  return QIcon(pixmap);
}

archive::ArchiveItem ItemOf(const std::vector<std::string>& names) {
  archive::ArchiveItem item;
  std::string* parts[] = {&item.group, &item.input, &item.day, &item.file, &item.still};
  for (std::size_t i = 0; i < names.size() && i < std::size(parts); ++i) {
    *parts[i] = names[i];
  }
  return item;
}

/// A playback view's surface: the camera views' surface, which converts only when the
/// view paints.
class CPlaybackSurface final : public playback::IPlaybackSurface {
 public:
  explicit CPlaybackSurface(HWND view) : m_surface(CQtVideoSurface::Create(view)) {}
  ~CPlaybackSurface() override {
    // The renderer may hold the surface a little longer; it no longer reaches the view.
    m_surface->Detach();
    m_surface->NonDelegatingRelease();
  }
  CPlaybackSurface(const CPlaybackSurface&) = delete;
  CPlaybackSurface& operator=(const CPlaybackSurface&) = delete;
  IVideoSurface* Surface() override { return m_surface; }
  bool TakeNewest(QImage* image) override { return m_surface->TakeNewest(image); }

 private:
  CQtVideoSurface* m_surface;
};
static_assert(playback::kMsgPlaybackPictureReady == kMsgPictureReady);

/// The player's command for a file command of the tree (0: none).
UINT PlayerCommandOf(UINT treeCommand) {
  switch (treeCommand) {
    case kCmdPauseContinue:
      return kCmdPlayerPauseContinue;
    case kCmdStepForward:
      return kCmdPlayerStep;
    case kCmdPlayFaster:
    case kCmdPlayerFaster:
      return kCmdPlayerFaster;
    case kCmdPlaySlower:
    case kCmdPlayerSlower:
      return kCmdPlayerSlower;
    case kCmdSavePicture:
      return kCmdPlayerSavePicture;
    case kCmdStillPrint:
      return kCmdPlayerPrint;
    default:
      return 0;
  }
}

}  // namespace

void WriteLogLine(std::string_view line) {
  static std::mutex mutex;
  const std::tm local = time::LocalTimeNow();
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  const std::lock_guard lock(mutex);
  std::fprintf(stderr, "%s %.*s\n", stamp, static_cast<int>(line.size()), line.data());
  std::fflush(stderr);
}

CMainFrame::CMainFrame(TextFunction texts, QWidget* parent) : QMainWindow(parent), m_texts(std::move(texts)) {
  const QString platform = QGuiApplication::platformName();
  m_messageBoxesShown = platform != QStringLiteral("offscreen") && platform != QStringLiteral("minimal");
  setWindowTitle(QText(kIdsMainTitle));
  setObjectName("MainFrame");
  m_mdi = new QMdiArea(this);
  m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(m_mdi);
  CreateActions();
  CreatePanes();
  BuildMenuBar(MenuSituation::NoDocument);
  m_ready = new QLabel(QText(kIdsReady), this);
  statusBar()->addWidget(m_ready, 1);
  connect(m_mdi, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) { UpdateSituation(); });
  const QSettings profile("Tesmark", "Halvard");
  restoreGeometry(profile.value(kGeometryKey).toByteArray());
  restoreState(profile.value(kStateKey).toByteArray());
}

CMainFrame::~CMainFrame() {
  // The children outlive this part of the object: nothing they signal may reach it.
  m_mdi->disconnect(this);
  m_tree->SetCommandHandler({});
  m_tree->SetLabelFunction({});
  // Workers report into the pane: they end before it goes.
  m_updater.reset();
  for (auto& [id, timer] : m_timers) {
    timer->stop();
  }
}

void CMainFrame::SetRoster(IRosterOperations* roster) { m_roster = roster; }

void CMainFrame::CreateDirectoryUpdater() {
  if (!m_updater) {
    m_updater = std::make_unique<internet::CDirectoryUpdater>(*m_sink);
  }
}

QString CMainFrame::QText(UINT id) { return QString::fromStdString(Text(id)); }

std::string CMainFrame::Label(UINT command) { return Text(MenuLabelId(command)); }

std::string CMainFrame::Text(unsigned id) { return m_texts ? m_texts(id) : std::string(); }

void CMainFrame::CreateActions() {
  const UINT commands[] = {kCmdLockDesktop,    kCmdWindowsLockdown,       kCmdAppExit,
                           kCmdViewToolbar,    kCmdViewStatusBar,         kCmdViewWorkspace,
                           kCmdViewOutput,     kCmdWindowCascade,         kCmdWindowTileHorizontal,
                           kCmdWindowTileVertical, kCmdWindowArrange,     kCmdHelpContents,
                           kCmdHelpIndex,      kCmdHelpSearch,            kCmdAppAbout,
                           kCmdStartAll,       kCmdStopAll,               kCmdActivateTileVertical};
  for (const UINT command : commands) {
    auto* action = new QAction(QString::fromStdString(Label(command)), this);
    const std::string prompt = Text(command);
    action->setStatusTip(QString::fromStdString(PromptOf(prompt)));
    if (!TooltipOf(prompt).empty()) {
      action->setToolTip(QString::fromStdString(TooltipOf(prompt)));
    }
    connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
    m_actions[command] = action;
  }
  m_actions[kCmdActivateTileVertical]->setText(QString::fromStdString(Label(kCmdWindowTileVertical)));
  for (const UINT command : {kCmdViewToolbar, kCmdViewStatusBar, kCmdViewWorkspace, kCmdViewOutput}) {
    m_actions[command]->setCheckable(true);
    m_actions[command]->setChecked(true);
  }
  m_actions[kCmdStartAll]->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  m_actions[kCmdStopAll]->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  m_actions[kCmdActivateTileVertical]->setIcon(style()->standardIcon(QStyle::SP_TitleBarNormalButton));
  m_actions[kCmdLockDesktop]->setIcon(PadlockIcon());
  m_actions[kCmdAppAbout]->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));

  auto* toolbar = addToolBar(QText(kIdsToolbarTitle));
  toolbar->setObjectName("Toolbar");
  toolbar->addAction(m_actions[kCmdStartAll]);
  toolbar->addAction(m_actions[kCmdStopAll]);
  toolbar->addSeparator();
  toolbar->addAction(m_actions[kCmdActivateTileVertical]);
  toolbar->addSeparator();
  toolbar->addAction(m_actions[kCmdLockDesktop]);
  toolbar->addAction(m_actions[kCmdAppAbout]);
  connect(toolbar, &QToolBar::visibilityChanged, m_actions[kCmdViewToolbar], &QAction::setChecked);
}

void CMainFrame::CreatePanes() {
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks | QMainWindow::AllowTabbedDocks);
  m_workspaceDock = new QDockWidget(QText(kIdsWorkspaceTitle), this);
  m_workspaceDock->setObjectName(QStringLiteral("Pane-%1").arg(kWorkspacePaneId));
  m_workspaceDock->setAllowedAreas(Qt::AllDockWidgetAreas);
  auto* tabs = new QTabWidget(m_workspaceDock);
  tabs->setTabPosition(QTabWidget::South);
  tabs->setIconSize(QSize(16, 16));
  m_tree = new CWorkspaceMonitor([this](UINT id) { return Text(id); }, tabs);
  tabs->addTab(m_tree, WorkspaceIconStrip()[0], QText(kIdsWorkspaceTab));
  m_workspaceDock->setWidget(tabs);
  addDockWidget(Qt::LeftDockWidgetArea, m_workspaceDock);
  m_tree->SetCommandHandler([this](UINT command, QTreeWidgetItem* item) { RunTreeCommand(command, item); });
  m_tree->SetLabelFunction([this](const MenuEntry& entry, QTreeWidgetItem* item) {
    if (entry.command == kCmdStartStop && m_roster != nullptr) {
      const std::vector<std::string> names = CWorkspaceMonitor::NamesOf(item);
      if (!names.empty()) {
        return Text(m_roster->IsGroupRunning(names[0]) ? kIdsGroupStop : kIdsGroupStart);
      }
    }
    return Text(entry.label);
  });

  m_outputDock = new QDockWidget(QText(kIdsOutputTitle), this);
  m_outputDock->setObjectName(QStringLiteral("Pane-%1").arg(kOutputPaneId));
  m_outputDock->setAllowedAreas(Qt::AllDockWidgetAreas);
  m_outputPane = new COutputPane([this](unsigned id) { return Text(id); }, std::make_shared<CMotionEventSource>(),
                                 m_outputDock);
  // The sink outlives the pane, so a worker still reporting at the end is harmless.
  m_sinkHolder = m_outputPane->MessageView().Sink();
  m_sink = m_sinkHolder.get();
  m_outputDock->setWidget(m_outputPane);
  COutputViewEvent& matrix = m_outputPane->EventView();
  matrix.SetCameraLister([this] {
    std::vector<CameraName> cameras;
    if (m_roster != nullptr) {
      for (auto& [group, input] : m_roster->Cameras()) {
        cameras.push_back({group, input});
      }
    }
    return cameras;
  });
  matrix.SetPlayHandler([this](const PlayRequest& request) { ShowRecordingOf(request); });
  addDockWidget(Qt::BottomDockWidgetArea, m_outputDock);
  // The document area gets the most room: the panes start small.
  resizeDocks({m_workspaceDock}, {kWorkspaceWidth}, Qt::Horizontal);
  resizeDocks({m_outputDock}, {kOutputHeight}, Qt::Vertical);
  connect(m_workspaceDock, &QDockWidget::visibilityChanged, m_actions[kCmdViewWorkspace], &QAction::setChecked);
  connect(m_outputDock, &QDockWidget::visibilityChanged, m_actions[kCmdViewOutput], &QAction::setChecked);
}

void CMainFrame::BuildMenuBar(MenuSituation situation) {
  m_situation = situation;
  QMenuBar* bar = menuBar();
  bar->clear();
  QMenu* system = bar->addMenu(QText(kIdsMenuSystem));
  if (situation != MenuSituation::VideoFileWindow) {
    system->addAction(m_actions[kCmdLockDesktop]);
    system->addSeparator();
    system->addAction(m_actions[kCmdWindowsLockdown]);
    system->addSeparator();
  }
  system->addAction(m_actions[kCmdAppExit]);
  QMenu* view = bar->addMenu(QText(kIdsMenuView));
  for (const UINT command : {kCmdViewToolbar, kCmdViewStatusBar, kCmdViewWorkspace, kCmdViewOutput}) {
    view->addAction(m_actions[command]);
  }
  if (situation != MenuSituation::NoDocument) {
    QMenu* window = bar->addMenu(QText(kIdsMenuWindow));
    for (const UINT command : {kCmdWindowCascade, kCmdWindowTileHorizontal, kCmdWindowTileVertical, kCmdWindowArrange}) {
      window->addAction(m_actions[command]);
    }
  }
  QMenu* help = bar->addMenu(QText(kIdsMenuHelp));
  help->addAction(m_actions[kCmdHelpContents]);
  help->addAction(m_actions[kCmdHelpIndex]);
  help->addAction(m_actions[kCmdHelpSearch]);
  help->addSeparator();
  help->addAction(m_actions[kCmdAppAbout]);
}

void CMainFrame::UpdateSituation() {
  QMdiSubWindow* active = m_mdi->activeSubWindow();
  MenuSituation situation = MenuSituation::NoDocument;
  if (active != nullptr) {
    situation = dynamic_cast<CVMFrame*>(active) != nullptr ? MenuSituation::CameraWindow
                                                           : MenuSituation::VideoFileWindow;
  }
  if (situation != m_situation) {
    BuildMenuBar(situation);
  }
}

std::vector<std::string> CMainFrame::MenuTitles() const {
  std::vector<std::string> titles;
  for (const QAction* action : menuBar()->actions()) {
    titles.push_back(action->text().toStdString());
  }
  return titles;
}

std::string CMainFrame::StatusText() const {
  const QString message = statusBar()->currentMessage();
  return message.isEmpty() ? m_ready->text().toStdString() : message.toStdString();
}

QAction* CMainFrame::CommandAction(UINT command) const {
  const auto it = m_actions.find(command);
  return it != m_actions.end() ? it->second : nullptr;
}

void CMainFrame::PostCommand(UINT command) {
  QMetaObject::invokeMethod(this, [this, command] { RunCommand(command); }, Qt::QueuedConnection);
}

bool CMainFrame::AskYesNo(const std::string& text) {
  QMessageBox box(QMessageBox::Question, QText(kIdsMainTitle), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void CMainFrame::ShowNotAvailable() { ShowMessage(Text(kIdsNotAvailableYet)); }

void CMainFrame::RunCommand(UINT command) {
  switch (command) {
    case kCmdStartAll:
      if (m_roster != nullptr) {
        m_roster->StartAll({});
      }
      break;
    case kCmdStopAll:
      if (m_roster != nullptr && AskYesNo(Text(kIdsAskStopAll))) {
        m_roster->StopAll();
      }
      break;
    case kCmdViewWorkspace:
      m_workspaceDock->setVisible(!m_workspaceDock->isVisible());
      break;
    case kCmdViewOutput:
      m_outputDock->setVisible(!m_outputDock->isVisible());
      break;
    case kCmdViewToolbar:
      for (QToolBar* bar : findChildren<QToolBar*>()) {
        bar->setVisible(m_actions[kCmdViewToolbar]->isChecked());
      }
      break;
    case kCmdViewStatusBar:
      statusBar()->setVisible(m_actions[kCmdViewStatusBar]->isChecked());
      break;
    case kCmdArchiveCleanUp:
      RunCleanUp();
      break;
    case kCmdActivateTileVertical:
      ActivateAllCameraWindows();
      TileCameraWindows(true);
      break;
    case kCmdActivateTileHorizontal:
      ActivateAllCameraWindows();
      TileCameraWindows(false);
      break;
    case kCmdWindowCascade:
      m_mdi->cascadeSubWindows();
      break;
    case kCmdWindowTileHorizontal:
      TileCameraWindows(false);
      break;
    case kCmdWindowTileVertical:
      TileCameraWindows(true);
      break;
    case kCmdWindowArrange: {
      // Minimised windows in a row along the bottom of the document area.
      int x = 0;
      for (QMdiSubWindow* w : m_mdi->subWindowList()) {
        if (w->isVisible() && w->isMinimized()) {
          w->move(x, m_mdi->viewport()->height() - w->height());
          x += w->width();
        }
      }
      break;
    }
    case kCmdLockDesktop:
      LockDesktop();
      break;
    case kCmdAppExit:
      close();
      break;
    case kCmdAppAbout:
    {
      dialogs::CAboutDialog about([this](UINT id) { return Text(id); }, this);
      about.exec();
    }
      break;
    case kCmdReloadEventMatrix:
      m_outputPane->EventView().OnCommand(command);
      break;
    case kCmdWindowsLockdown: {
      dialogs::CWindowsLockdownDialog dialog([this](UINT id) { return Text(id); }, system::ProcessSystemLockdown(),
                                             this);
      dialog.exec();
      break;
    }
    case kCmdBootSchedule: {
      dialogs::CBootScheduleDialog dialog([this](UINT id) { return Text(id); }, this);
      dialog.exec();
      break;
    }
    default:
      ShowNotAvailable();
      break;
  }
}

void CMainFrame::RunTreeCommand(UINT command, QTreeWidgetItem* item) {
  if (item == nullptr) {
    return;
  }
  m_tree->setCurrentItem(item);
  const std::vector<std::string> names = CWorkspaceMonitor::NamesOf(item);
  switch (command) {
    case kCmdStartAll:
    case kCmdStopAll:
      RunCommand(command);
      return;
    case kCmdStartStop:
      if (m_roster != nullptr && !names.empty()) {
        m_roster->ToggleGroup(names[0]);
      }
      return;
    case kCmdRenameGroup:
      RenameSelectedGroup(item);
      return;
    case kCmdDeleteGroup:
      if (m_roster != nullptr && !names.empty() && AskYesNo(Text(kIdsAskDeleteGroup) + "\n" + names[0])) {
        m_roster->DeleteGroup(names[0]);
        RefreshTree();
      }
      return;
    case kCmdAccessPrivacy:
    case kCmdDataCapture:
    case kCmdMotionDetection:
    case kCmdVideoRecording:
    case kCmdInternetMonitoring:
    case kCmdPanTiltZoom:
      if (CWorkspaceMonitor::DepthOf(item) == kDepthInput && names.size() == 2) {
        (void)OpenCameraDialog(command, names[0], names[1]);
        return;
      }
      RunCommand(command);
      return;
    case kCmdImageEnhancement:
      if (!names.empty()) {
        (void)OpenCameraDialog(command, names[0], names.size() > 1 ? names[1] : std::string());
      }
      return;
    case kCmdDeleteDay:
    case kCmdCopyVideo:
    case kCmdCopyStills:
    case kCmdDeleteVideoAndStills:
    case kCmdDeleteStills:
    case kCmdStillCopy:
    case kCmdStillDelete:
      RunArchiveCommand(command, item);
      return;
    case kCmdPlayStop:
    case kCmdPauseContinue:
    case kCmdStepForward:
    case kCmdPlayFaster:
    case kCmdPlaySlower:
    case kCmdPlayerFaster:
    case kCmdPlayerSlower:
    case kCmdSavePicture:
    case kCmdVideoProperty:
    case kCmdStillPlay:
    case kCmdStillPrint:
      RunFileCommand(command, item);
      return;
    default:
      RunCommand(command);
      return;
  }
}

void CMainFrame::RenameSelectedGroup(QTreeWidgetItem* item) {
  const std::vector<std::string> names = CWorkspaceMonitor::NamesOf(item);
  if (m_roster == nullptr || names.size() != 1) {
    return;
  }
  dialogs::CGroupRenameDialog dialog(
      [this](UINT id) { return Text(id); }, names[0], m_roster->GroupNames(),
      [this](std::string_view from, std::string_view to) { return m_roster->RenameGroup(from, to); }, this);
  dialog.exec();
  if (dialog.Renamed()) {
    RefreshTree();
  }
}

void CMainFrame::RunArchiveCommand(UINT command, QTreeWidgetItem* item) {
  const std::vector<std::string> names = CWorkspaceMonitor::NamesOf(item);
  const archive::ArchiveItem target = ItemOf(names);
  const std::string path = archive::ItemPath(target.group, target.input, target.day, target.file, target.still);
  const auto report = [this, &path](const archive::ArchiveCommandResult& result, UINT failureText) {
    if (!result.Ok()) {
      ShowMessage(Text(failureText) + " " + path + (result.systemText.empty() ? "" : "\n" + result.systemText));
    }
    return result.Ok();
  };
  const auto chooseFolder = [this]() {
    return QFileDialog::getExistingDirectory(this, QText(kIdsCopyTargetTitle)).toStdString();
  };
  switch (command) {
    case kCmdDeleteDay:
      if (CWorkspaceMonitor::DepthOf(item) == kDepthDay && AskYesNo(Text(kIdsAskDeleteDay) + "\n" + path) &&
          report(archive::DeleteDayFolder(target), kIdsDeleteFailed)) {
        delete item;
      }
      break;
    case kCmdDeleteVideoAndStills:
      if (CWorkspaceMonitor::DepthOf(item) == kDepthFile && FindPlaybackDocument(path) != nullptr) {
        ShowMessage(Text(kIdsFileOpenForPlayback) + " " + path);
        break;
      }
      if (CWorkspaceMonitor::DepthOf(item) == kDepthFile && AskYesNo(Text(kIdsAskDeleteVideo) + "\n" + path) &&
          report(archive::DeleteRecordingAndStills(target, archive::Playback::Closed), kIdsDeleteFailed)) {
        delete item;
      }
      break;
    case kCmdDeleteStills:
      if (CWorkspaceMonitor::DepthOf(item) == kDepthFile && AskYesNo(Text(kIdsAskDeleteStills) + "\n" + path) &&
          report(archive::DeleteStillPictures(target), kIdsDeleteFailed)) {
        qDeleteAll(item->takeChildren());
      }
      break;
    case kCmdStillDelete:
      if (CWorkspaceMonitor::DepthOf(item) == kDepthStill && AskYesNo(Text(kIdsAskDeleteStill) + "\n" + path) &&
          report(archive::DeleteStillPicture(target), kIdsDeleteFailed)) {
        delete item;
      }
      break;
    case kCmdCopyVideo:
    case kCmdCopyStills:
    case kCmdStillCopy: {
      const std::string folder = chooseFolder();
      if (folder.empty()) {
        break;
      }
      const archive::ArchiveCommandResult result = command == kCmdCopyVideo    ? archive::CopyRecordingFile(target, folder)
                                                   : command == kCmdCopyStills ? archive::CopyStillPictures(target, folder)
                                                                               : archive::CopyStillPicture(target, folder);
      if (report(result, kIdsCopyFailed)) {
        ShowMessage(Text(kIdsCopyDone) + " " + folder);
      }
      break;
    }
    default:
      break;
  }
}

void CMainFrame::RunCleanUp() {
  if (m_roster == nullptr) {
    return;
  }
  std::vector<archive::CameraRef> cameras;
  for (auto& [group, input] : m_roster->Cameras()) {
    cameras.push_back({group, input});
  }
  const archive::CleanUpResult result = archive::CleanUpArchive(cameras, m_roster->FilesBeingWritten());
  for (const std::string& key : result.removedDayKeys) {
    ReportLine(Text(kIdsCleanUpRemoved) + " " + key);
  }
  RefreshTree();
  PostCommand(kCmdReloadEventMatrix);
}

void CMainFrame::ShowRecordingOf(const PlayRequest& request) {
  const std::optional<RecordingLocation> found = FindRecordingAt(
      request.camera.group, request.camera.input, request.moment, request.playFrom, WindowsMediaDuration());
  if (!found) {
    ReportLine(Text(kTextRecordingNotFound) + " " + request.camera.group + "-" + request.camera.input);
    return;
  }
  QTreeWidgetItem* item =
      m_tree->FindItem({request.camera.group, request.camera.input, found->dayName, found->fileName});
  if (item == nullptr) {
    ReportLine(Text(kTextRecordingNotFound) + " " + found->path);
    return;
  }
  m_tree->scrollToItem(item);
  m_tree->setCurrentItem(item);
  playback::CVFDoc* doc = FindPlaybackDocument(found->path);
  if (doc == nullptr) {
    doc = OpenPlayback(item);
  }
  if (doc == nullptr) {
    ShowMessage(Text(kTextRecordingCannotOpen) + " " + found->path);
    return;
  }
  (void)doc->SeekToSeconds(static_cast<double>(found->offsetSeconds));
  doc->Frame()->PostCommand(kCmdPlayerPlay);
}

// ---- playback windows ------------------------------------------------------------------

playback::CVFDoc* CMainFrame::FindPlaybackDocument(const std::string& path) const {
  for (const auto& doc : m_playbackDocs) {
    if (!path.empty() && doc->Path() == path) {
      return doc.get();
    }
  }
  return nullptr;
}

playback::CVFDoc* CMainFrame::OpenPlayback(QTreeWidgetItem* item) {
  playback::PlaybackNames names;
  if (!playback::NamesFromSelection(CWorkspaceMonitor::NamesOf(item), &names)) {
    return nullptr;
  }
  auto doc = std::make_unique<playback::CVFDoc>(*this, std::move(names));
  auto* frame = new playback::CVFFrame(*doc, QString::fromStdString(doc->Path()));
  doc->SetFrame(frame);
  m_mdi->addSubWindow(frame);
  if (!doc->Open()) {
    doc->Close();
    doc->SetFrame(nullptr);
    m_mdi->removeSubWindow(frame);
    delete frame;
    return nullptr;
  }
  if (doc->IsStill()) {
    frame->View()->ShowStill(doc->StillImage());
  }
  frame->show();
  frame->FitToPicture(QSize(doc->Info().width, doc->Info().height));
  playback::CVFDoc* opened = doc.get();
  m_playbackDocs.push_back(std::move(doc));
  UpdateSituation();
  return opened;
}

void CMainFrame::ClosePlayback(playback::CVFDoc& doc) {
  if (doc.Frame() != nullptr) {
    doc.Frame()->close();  // the frame's close stops the player and tells us
  }
}

void CMainFrame::RunFileCommand(UINT command, QTreeWidgetItem* item) {
  const int depth = CWorkspaceMonitor::DepthOf(item);
  const archive::ArchiveItem target = ItemOf(CWorkspaceMonitor::NamesOf(item));
  const std::string path = archive::ItemPath(target.group, target.input, target.day, target.file, target.still);
  playback::CVFDoc* open = FindPlaybackDocument(path);
  switch (command) {
    case kCmdPlayStop:
    case kCmdStillPlay:
      if (depth != (command == kCmdPlayStop ? kDepthFile : kDepthStill)) {
        return;
      }
      if (open != nullptr) {
        ClosePlayback(*open);
      } else if (playback::CVFDoc* doc = OpenPlayback(item); doc != nullptr) {
        doc->Frame()->PostCommand(kCmdPlayerPlay);
      } else {
        ShowMessage(Text(kIdsCannotOpenFile) + " " + path);
      }
      return;
    case kCmdVideoProperty: {
      playback::VideoFileInfo info;
      if (depth != kDepthFile || !playback::ReadVideoFileInfo(path, &info)) {
        ShowMessage(Text(kIdsCannotOpenFile) + " " + path);
        return;
      }
      playback::CVideoFilePropertyDialog dialog([this](UINT id) { return Text(id); }, path, info, this);
      dialog.exec();
      return;
    }
    default:
      break;
  }
  if (open == nullptr) {
    ShowMessage(Text(kIdsFileNotOpen) + " " + path);
    return;
  }
  open->Frame()->PostCommand(PlayerCommandOf(command));
}

std::unique_ptr<playback::IPlaybackSurface> CMainFrame::CreateSurface(HWND view) {
  return std::make_unique<CPlaybackSurface>(view);
}

void CMainFrame::ShowDocumentMessage(const std::string& text, bool error) {
  if (!error) {
    ShowMessage(text);
    return;
  }
  WriteLogLine(text);
  if (m_messageBoxesShown) {
    QMessageBox box(QMessageBox::Critical, QText(playback::kIdsErrorTitle), QString::fromStdString(text),
                    QMessageBox::Ok, this);
    box.exec();
  }
}

void CMainFrame::OnStillSaved(playback::CVFDoc& doc, const std::string&) {
  const playback::PlaybackNames& names = doc.Names();
  m_tree->RefreshInput(names.group, names.input);
  if (QTreeWidgetItem* file = m_tree->FindItem({names.group, names.input, names.day, names.file}); file != nullptr) {
    file->setExpanded(true);
    m_tree->setCurrentItem(file);
  }
}

void CMainFrame::OnPlaybackClosed(playback::CVFDoc& doc) {
  const auto it = std::find_if(m_playbackDocs.begin(), m_playbackDocs.end(),
                               [&](const auto& d) { return d.get() == &doc; });
  if (it == m_playbackDocs.end()) {
    return;
  }
  playback::CVFFrame* frame = doc.Frame();
  playback::CVFDoc* owned = it->release();
  m_playbackDocs.erase(it);
  // The close runs inside the frame's own handler: frame and document go when the
  // loop next runs.
  frame->hide();
  m_mdi->removeSubWindow(frame);
  // By the time destroyed() comes, only the QObject part of the frame is left.
  connect(frame, &QObject::destroyed, [owned] {
    owned->SetFrame(nullptr);
    delete owned;
  });
  frame->deleteLater();
  UpdateSituation();
}

void CMainFrame::OnPlaybackCommand(playback::CVFDoc&, UINT command) { RunCommand(command); }

bool CMainFrame::ChoosePrinter(QPrinter& printer) {
  if (!m_messageBoxesShown) {
    return false;  // a headless server: nobody could answer the print dialog
  }
  QPrintDialog dialog(&printer, this);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
  return dialog.exec() == QDialog::Accepted;
}

void CMainFrame::StartCleanUpTimer() {
  SetTimer(kTimerCleanUp, kCleanUpPeriodMs, [this] { PostCommand(kCmdArchiveCleanUp); });
}

void CMainFrame::StartTourTimer() {
  SetTimer(kTimerTour, static_cast<std::uint32_t>(ptz::kTourTimerPeriodMs), [this] { RunTourTick(); });
}

void CMainFrame::RunTourTick() {
  if (m_roster == nullptr) {
    return;
  }
  std::vector<ptz::PtzCamera> cameras;
  for (auto& [group, input] : m_roster->Cameras()) {
    cameras.push_back({group, input});
  }
  const ptz::MinuteClock clock = [] {
    const std::tm local = time::LocalTimeNow();
    return local.tm_hour * 60 + local.tm_min;
  };
  const ptz::ControllerLookup lookup = [this](std::string_view group, std::string_view input) -> ptz::CPtzController* {
    CVMDoc* doc = FindDocument(std::string(group), std::string(input));
    return doc != nullptr ? doc->PtzController() : nullptr;
  };
  (void)ptz::RunTourTick(cameras, clock, lookup);
}

void CMainFrame::LockDesktop() {
  if (m_lockOpen) {
    return;
  }
  // The kiosk grabs keyboard and pointer through the X server; elsewhere it cannot, and
  // a process told to leave the workstation alone must not take its desktop.
  const QString platform = QGuiApplication::platformName();
  if (!system::SystemChangesAllowed()) {
    ReportLine(Text(kIdsLockUnavailable) + " HALVARD_SYSTEM_CHANGES=off");
    return;
  }
  if (platform != QStringLiteral("xcb")) {
    ReportLine(Text(kIdsLockUnavailable) + " " + platform.toStdString());
    return;
  }
  m_lockOpen = true;
  system::CDesktopLock lock(m_monitor, system::ProcessZelLock(), system::ProcessScreenSaver());
  std::string note;
  lock.Open(&note);
  if (!note.empty()) {
    ReportLine(note);
  }
  dialogs::CPasswordDialog prompt([this](UINT id) { return Text(id); }, lock, this);
  prompt.exec();
  m_lockOpen = false;
}

CVMDoc* CMainFrame::FindDocument(const std::string& group, const std::string& input) const {
  for (const auto& doc : m_docs) {
    if (doc->GroupName() == group && doc->InputName() == input) {
      return doc.get();
    }
  }
  return nullptr;
}

// ---- camera windows ------------------------------------------------------------------

bool CMainFrame::OpenCameraWindow(engine::CameraGroup& group, int input, const std::string& title,
                                  engine::CameraWindowShow show, engine::CameraWindow* window) {
  if (window == nullptr || input < 0 || static_cast<std::size_t>(input) >= group.InputNames().size()) {
    return false;
  }
  auto doc = std::make_unique<CVMDoc>(*this, &group, input, group.DisplayName(), group.InputName(input));
  doc->LoadSettings();
  auto* frame = new CVMFrame(*doc, QString::fromStdString(title));
  doc->SetFrame(frame);
  m_mdi->addSubWindow(frame);
  // The frame is sized around a 320 x 240 view whatever the style's borders.
  frame->widget()->resize(CVMView::kInitialWidth, CVMView::kInitialHeight);
  const QSize border = frame->sizeHint() - frame->widget()->sizeHint();
  frame->resize(QSize(CVMView::kInitialWidth, CVMView::kInitialHeight) + border.expandedTo(QSize(0, 0)));
  switch (show) {
    case engine::CameraWindowShow::Normal:
      frame->show();
      break;
    case engine::CameraWindowShow::Minimized:
      frame->showMinimized();
      break;
    case engine::CameraWindowShow::Hidden:
      frame->hide();
      break;
  }
  window->frame = frame->Handle();
  window->view = frame->View()->Handle();
  window->surface = frame->View()->Surface();
  window->clientWidth = CVMView::kInitialWidth;
  window->clientHeight = CVMView::kInitialHeight;
  m_docs.push_back(std::move(doc));
  UpdateSituation();
  return true;
}

void CMainFrame::CloseCameraWindows(engine::CameraGroup& group) {
  for (auto it = m_docs.begin(); it != m_docs.end();) {
    if ((*it)->Group() != &group) {
      ++it;
      continue;
    }
    CVMFrame* frame = (*it)->Frame();
    CVMDoc* doc = it->release();
    it = m_docs.erase(it);
    // The close may come from inside one of the frame's own handlers (an operator's
    // close that stops the group), so the frame and its document go when the loop
    // next runs.
    frame->SetClosingForGood();
    frame->hide();
    m_mdi->removeSubWindow(frame);
    connect(frame, &QObject::destroyed, [doc] { delete doc; });
    frame->deleteLater();
  }
  UpdateSituation();
}

void CMainFrame::RetitleCameraWindow(engine::CameraGroup& group, int input, const std::string& title) {
  for (const auto& doc : m_docs) {
    if (doc->Group() == &group && doc->Input() == input) {
      doc->SetInputName(group.InputName(input));
      doc->Frame()->setWindowTitle(QString::fromStdString(title));
    }
  }
}

void CMainFrame::PostActivateAndTile() { PostCommand(kCmdActivateTileVertical); }

void CMainFrame::ActivateAllCameraWindows() {
  if (m_roster == nullptr) {
    return;
  }
  for (const auto& [group, input] : m_roster->ActivateAllOrder()) {
    for (const auto& doc : m_docs) {
      if (doc->Group() == group && doc->Input() == input && doc->Frame()->isVisible()) {
        doc->Frame()->raise();
        m_mdi->setActiveSubWindow(doc->Frame());
      }
    }
  }
}

void CMainFrame::TileCameraWindows(bool vertical) {
  std::vector<QMdiSubWindow*> windows;
  for (QMdiSubWindow* w : m_mdi->subWindowList(QMdiArea::StackingOrder)) {
    if (w->isVisible() && !w->isMinimized()) {
      windows.push_back(w);
    }
  }
  // Stacking order puts the active window last; tiles run from the front window.
  std::reverse(windows.begin(), windows.end());
  const int n = static_cast<int>(windows.size());
  if (n == 0) {
    return;
  }
  const int major = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
  const int minor = (n + major - 1) / major;
  const int columns = vertical ? major : minor;
  const int rows = vertical ? minor : major;
  const QRect area = m_mdi->viewport()->rect();
  const int w = area.width() / columns;
  const int h = area.height() / rows;
  for (int i = 0; i < n; ++i) {
    const int column = vertical ? i / rows : i % columns;
    const int row = vertical ? i % rows : i / columns;
    if (windows[static_cast<std::size_t>(i)]->isMaximized()) {
      windows[static_cast<std::size_t>(i)]->showNormal();
    }
    windows[static_cast<std::size_t>(i)]->setGeometry(column * w, row * h, w, h);
  }
}

void CMainFrame::OnCameraMotion(CVMDoc& doc) {
  // A command queued before its group stopped may come up after: only open documents.
  const bool open = std::any_of(m_docs.begin(), m_docs.end(), [&](const auto& d) { return d.get() == &doc; });
  if (open && m_roster != nullptr && doc.Group() != nullptr) {
    m_roster->OnMotionCommand(*doc.Group(), doc.Input());
  }
}

void CMainFrame::OnCameraClosedByOperator(CVMDoc& doc) {
  if (m_roster != nullptr && doc.Group() != nullptr) {
    m_roster->OnCameraWindowClosed(*doc.Group(), doc.Input());
  }
}

void CMainFrame::OnCameraCommand(CVMDoc& doc, unsigned command) {
  const engine::CameraGroup* group = doc.Group();
  if (group == nullptr || doc.Input() < 0 || static_cast<std::size_t>(doc.Input()) >= group->InputNames().size() ||
      !OpenCameraDialog(command, group->DisplayName(), group->InputName(doc.Input()))) {
    ShowNotAvailable();
  }
}

bool CMainFrame::OpenCameraDialog(UINT command, const std::string& group, const std::string& input) {
  const dialogs::CDialogBase::TextFunction texts = [this](UINT id) { return Text(id); };
  std::unique_ptr<dialogs::CDialogBase> dialog;
  switch (command) {
    case kCmdAccessPrivacy:
      dialog = std::make_unique<dialogs::CAccessPrivacyDialog>(texts, group, input, this);
      break;
    case kCmdVideoRecording:
      dialog = std::make_unique<dialogs::CVideoRecordingDialog>(texts, group, input, m_renameInput, this);
      break;
    case kCmdDataCapture: {
      // The sliders reach the card only through a running group's camera window.
      const CVMDoc* doc = FindDocument(group, input);
      const engine::CameraGroup* live = doc != nullptr ? doc->Group() : nullptr;
      auto pages = [this, live] {
        if (live != nullptr && live->Graph() != nullptr) {
          ShowPropertyPages(live->Graph()->source.Get(), live->DisplayName());
        }
      };
      dialog = std::make_unique<dialogs::CDataCaptureDialog>(texts, group, input, live, pages, this);
      break;
    }
    case kCmdInternetMonitoring:
      dialog = std::make_unique<dialogs::CInternetMonitoringDialog>(texts, group, input,
                                                                   internet::WorkstationAddresses(), this);
      break;
    case kCmdImageEnhancement:
      // The enhancement level belongs to the camera's group.
      dialog = std::make_unique<dialogs::CImageEnhancementDialog>(texts, group, this);
      break;
    case kCmdPanTiltZoom: {
      // The head's buttons act through the open camera window's controller.
      CVMDoc* doc = FindDocument(group, input);
      dialog = std::make_unique<dialogs::CPanTiltZoomDialog>(texts, group, input,
                                                             doc != nullptr ? doc->PtzController() : nullptr, this);
      break;
    }
    case kCmdMotionDetection: {
      // The marking is drawn over what the camera shows now, when its window is open.
      const CVMDoc* doc = FindDocument(group, input);
      QImage still = doc != nullptr ? dialogs::CameraStill(doc->Group(), doc->Input()) : QImage();
      dialog = std::make_unique<dialogs::CMotionDetectionDialog>(texts, group, input, std::move(still), this);
      break;
    }
    default:
      return false;
  }
  // Modal: the event loop keeps running, so recording and motion events go on behind it.
  dialog->exec();
  return true;
}

// ---- the rest of the host --------------------------------------------------------------

void CMainFrame::ShowMessage(const std::string& text) {
  // Every message also goes to the log: a headless server has nobody to read a box.
  WriteLogLine(text);
  if (!m_messageBoxesShown) {
    // Nobody can close a box there; a modal one would hold up the start of every later
    // group and the rest of the start-up for ever.
    return;
  }
  QMessageBox box(QMessageBox::Warning, QText(kIdsMainTitle), QString::fromStdString(text), QMessageBox::Ok, this);
  box.exec();
}

void CMainFrame::ReportLine(const std::string& line) {
  if (m_sink == nullptr || FAILED(m_sink->AddLine(line))) {
    WriteLogLine(line);
  }
}

void CMainFrame::SetTimer(engine::TimerId id, std::uint32_t periodMs, engine::TimerCallback callback) {
  QTimer*& timer = m_timers[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
  } else {
    timer->stop();
    timer->disconnect();
  }
  timer->setInterval(static_cast<int>(std::min<std::uint32_t>(periodMs, 0x7FFFFFFF)));
  connect(timer, &QTimer::timeout, this, std::move(callback));
  timer->start();
}

void CMainFrame::KillTimer(engine::TimerId id) {
  const auto it = m_timers.find(id);
  if (it == m_timers.end()) {
    return;
  }
  // The callback being run may be the one killing its own timer.
  it->second->stop();
  it->second->disconnect();
  it->second->deleteLater();
  m_timers.erase(it);
}

void CMainFrame::RefreshGroupNode(const engine::CameraGroup& group) { m_tree->RefreshGroup(group.DisplayName()); }

void CMainFrame::RefreshTree() {
  m_tree->Rebuild(m_roster != nullptr ? m_roster->GroupNames() : std::vector<std::string>{});
}

void CMainFrame::CheckScheduledReboot() {
  if (!system::ProcessRebootCheck().IsRebootDue()) {
    return;
  }
  system::RebootHooks hooks;
  hooks.stopAllGroups = [this] {
    if (m_roster != nullptr) {
      m_roster->StopAll();
    }
  };
  hooks.startAllGroups = [this] {
    if (m_roster != nullptr) {
      m_roster->StartAll(m_groupFilter);
    }
  };
  hooks.postCloseRequest = [this] { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); };
  hooks.reportFailure = [this](std::string_view text) { ReportLine(std::string(text)); };
  (void)system::RunScheduledReboot(hooks, system::ProcessSystemRestart(), Text(kIdsRebootMessage));
}

void CMainFrame::ShowPropertyPages(IUnknown* object, const std::string& caption) {
  ComPtr<ICaptureDeviceControls> controls;
  if (object != nullptr) {
    (void)ComPtr<IUnknown>(object).As(&controls);
  }
  dialogs::CDevicePropertiesDialog pages([this](UINT id) { return Text(id); }, controls.Get(), caption, this);
  pages.move(mapToGlobal(QPoint(30, 30)));
  pages.exec();
}

void CMainFrame::StartDirectoryUpdate(const std::string& group, const std::string& input) {
  if (m_updater) {
    (void)m_updater->Start(group, input);
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!m_closed) {
    m_closed = true;
    ReportLine(Text(kIdsStopping));
    // Players first: their graphs release the files before the groups stop.
    for (const auto& doc : m_playbackDocs) {
      doc->Close();
    }
    if (m_roster != nullptr) {
      m_roster->StopAll();
    }
    system::WriteLastShutdown(time::WallClockNow());
    if (m_updater) {
      m_updater->Stop();
    }
    for (auto& [id, timer] : m_timers) {
      timer->stop();
    }
    QSettings profile("Tesmark", "Halvard");
    profile.setValue(kGeometryKey, saveGeometry());
    profile.setValue(kStateKey, saveState());
    if (m_closeObserver) {
      m_closeObserver();
    }
  }
  event->accept();
}

}  // namespace halvard::ui
