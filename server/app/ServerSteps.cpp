#include "server/app/ServerSteps.h"

#include <cstdio>

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include "platform/com/Com.h"
#include "platform/time/Time.h"
#include "server/internet/AddressDiscovery.h"
#include "server/system/ScheduledReboot.h"
#include "server/ui/Commands.h"

namespace halvard::app {

class CServerSteps::CForwardingHost final : public engine::IEngineHost {
 public:
  explicit CForwardingHost(CResourceModule& resources) : m_resources(resources) {}
  void SetFrame(ui::CMainFrame* frame) { m_frame = frame; }

  bool OpenCameraWindow(engine::CameraGroup& group, int input, const std::string& title,
                        engine::CameraWindowShow show, engine::CameraWindow* window) override {
    return m_frame != nullptr && m_frame->OpenCameraWindow(group, input, title, show, window);
  }
  void CloseCameraWindows(engine::CameraGroup& group) override {
    if (m_frame != nullptr) {
      m_frame->CloseCameraWindows(group);
    }
  }
  void RetitleCameraWindow(engine::CameraGroup& group, int input, const std::string& title) override {
    if (m_frame != nullptr) {
      m_frame->RetitleCameraWindow(group, input, title);
    }
  }
  void PostActivateAndTile() override {
    if (m_frame != nullptr) {
      m_frame->PostActivateAndTile();
    }
  }
  std::string Text(unsigned id) override { return m_resources.LoadString(id); }
  void ShowMessage(const std::string& text) override {
    if (m_frame != nullptr) {
      m_frame->ShowMessage(text);
    } else {
      ui::WriteLogLine(text);
    }
  }
  void ReportLine(const std::string& line) override {
    if (m_frame != nullptr) {
      m_frame->ReportLine(line);
    } else {
      ui::WriteLogLine(line);
    }
  }
  void SetTimer(engine::TimerId id, std::uint32_t periodMs, engine::TimerCallback callback) override {
    if (m_frame != nullptr) {
      m_frame->SetTimer(id, periodMs, std::move(callback));
    }
  }
  void KillTimer(engine::TimerId id) override {
    if (m_frame != nullptr) {
      m_frame->KillTimer(id);
    }
  }
  void RefreshGroupNode(const engine::CameraGroup& group) override {
    if (m_frame != nullptr) {
      m_frame->RefreshGroupNode(group);
    }
  }
  void RefreshTree() override {
    if (m_frame != nullptr) {
      m_frame->RefreshTree();
    }
  }
  void CheckScheduledReboot() override {
    if (m_frame != nullptr) {
      m_frame->CheckScheduledReboot();
    }
  }
  void ShowPropertyPages(IUnknown* object, const std::string& caption) override {
    if (m_frame != nullptr) {
      m_frame->ShowPropertyPages(object, caption);
    }
  }
  void StartDirectoryUpdate(const std::string& group, const std::string& input) override {
    if (m_frame != nullptr) {
      m_frame->StartDirectoryUpdate(group, input);
    }
  }

 private:
  CResourceModule& m_resources;
  ui::CMainFrame* m_frame = nullptr;
};

CServerSteps::CServerSteps() : m_host(std::make_unique<CForwardingHost>(m_resources)) {}

CServerSteps::~CServerSteps() {
  // The roster stops every group through the frame (documents, timers), so it goes
  // first; the frame's panes outlive the directory workers it owns.
  if (m_frame) {
    m_frame->SetRoster(nullptr);
  }
  m_rosterOps.reset();
  m_roster.reset();
  m_host->SetFrame(nullptr);
  m_frame.reset();
  m_resources.Unload();
  if (m_comInitialised) {
    CoUninitialize();
  }
}

void CServerSteps::InitialiseProfileAndCom() {
  QCoreApplication::setOrganizationName("Tesmark");
  QCoreApplication::setApplicationName("Halvard");
  m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
  internet::InstallAutomaticAddressProvider();
}

bool CServerSteps::LoadResources() {
  if (m_resources.Load()) {
    return true;
  }
  // The module holds every text, so this one cannot come from it.
  const std::string text = "Could not load resource module.";
  ui::WriteLogLine(text + " " + m_resources.LastError());
  // A box nobody can see would hold the start-up for ever.
  const QString platform = QGuiApplication::platformName();
  if (platform != QStringLiteral("offscreen") && platform != QStringLiteral("minimal")) {
    QMessageBox::critical(nullptr, QString(), QString::fromStdString(text));
  }
  return false;
}

void CServerSteps::DiscoverRoster() {
  m_roster = std::make_unique<engine::CameraRoster>(*m_host);
  (void)m_roster->Discover();
  m_rosterOps = std::make_unique<CEngineRoster>(*m_roster);
}

void CServerSteps::RegisterDocumentTemplates() {
  // The camera documents are made by the main frame when the engine asks; the
  // templates' strings name their types.
  if (m_resources.LoadString(ui::kIdsCameraTemplate).empty()) {
    ui::WriteLogLine("The resource module has no camera document template.");
  }
}

void CServerSteps::CreateMainFrame() {
  m_frame = std::make_unique<ui::CMainFrame>([this](UINT id) { return m_resources.LoadString(id); });
  m_frame->SetRoster(m_rosterOps.get());
  // The camera's display name in the Video Recording dialog renames the input: archive
  // folder, "Input %d", camera key, window title, tree node.
  m_frame->SetInputRenamer([this](std::string_view group, std::string_view oldName, std::string_view newName) {
    return m_roster->RenameInput(group, oldName, newName);
  });
  m_frame->CreateDirectoryUpdater();
  m_host->SetFrame(m_frame.get());
  m_frame->RefreshTree();
  // The last window closed ends the event loop: the main frame is the only top window.
  QObject::connect(qApp, &QApplication::lastWindowClosed, qApp, &QCoreApplication::quit);
}

void CServerSteps::ApplyCommandLine(const engine::CommandLineOptions& options) {
  m_frame->SetMonitor(options.monitor);
  m_frame->SetGroupFilter(options.groupFilter);
}

void CServerSteps::PlaceOnMonitor(int monitor) {
  // Displays count from 1 in the order the platform lists them; a number with no
  // display leaves the window where it is.
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (monitor < 1 || monitor > screens.size()) {
    return;
  }
  QScreen* screen = screens[monitor - 1];
  m_frame->setScreen(screen);
  m_frame->setGeometry(screen->availableGeometry());
}

void CServerSteps::ShowMaximised() {
  m_frame->showMaximized();
  m_frame->repaint();
}

void CServerSteps::PostCleanUpAndArmTimer() {
  m_frame->PostCommand(ui::kCmdArchiveCleanUp);
  m_frame->StartCleanUpTimer();
}

void CServerSteps::StartAll(const std::vector<std::string>& groupFilter) { m_roster->StartAll(groupFilter); }

void CServerSteps::PostLockDesktop() { m_frame->PostCommand(ui::kCmdLockDesktop); }

void CServerSteps::StartTourTimer() { m_frame->StartTourTimer(); }

void CServerSteps::WriteLastStartup() {
  system::WriteLastStartup(time::WallClockNow());
  m_frame->ReportLine(m_resources.LoadString(ui::kIdsStarted) + " " + m_resources.Path());
}

}  // namespace halvard::app
