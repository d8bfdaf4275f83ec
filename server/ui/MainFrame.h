#pragma once
/// The server's main window: the document area with the camera windows, the workspace
/// and output panes, menus, toolbar and status bar, the main frame's timers, and the
/// commands on tree items. It is the camera engine's host (IEngineHost): the engine
/// opens camera windows, shows messages, reports lines, arms timers and refreshes the
/// tree through it.
///
/// Threads: the user-interface thread, except ReportLine (any thread; the message log
/// writes the line to standard error at once and queues it for the pane).

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>

#include "server/engine/EngineHost.h"
#include "server/internet/OutputSink.h"
#include "server/ui/Commands.h"
#include "server/ui/VMDoc.h"
#include "server/ui/playback/VFDoc.h"

class QAction;
class QDockWidget;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QPrinter;
class QTimer;
class QTreeWidgetItem;

namespace halvard::internet {
class CDirectoryUpdater;
}

namespace halvard::ui {

class COutputPane;
class CWorkspaceMonitor;
class IRosterOperations;
struct PlayRequest;

/// Which menu bar the frame shows.
enum class MenuSituation { NoDocument, CameraWindow, VideoFileWindow };

/// Writes one log line to standard error, prefixed with the local time
/// ("2026-12-08 01:02:03 "), as the message log does with its lines: for what is
/// reported before the main frame exists. Any thread.
void WriteLogLine(std::string_view line);

class CMainFrame final : public QMainWindow,
                         public engine::IEngineHost,
                         public ICameraDocumentOwner,
                         public playback::IPlaybackDocumentOwner {
 public:
  using TextFunction = std::function<std::string(UINT id)>;

  static constexpr int kWorkspacePaneId = 1000;
  static constexpr int kOutputPaneId = 1001;

  /// `texts` gives the resource module's strings (it must outlive the frame).
  explicit CMainFrame(TextFunction texts, QWidget* parent = nullptr);
  ~CMainFrame() override;
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  /// The roster the commands act on (not owned; set before the first command, cleared
  /// before the roster goes).
  void SetRoster(IRosterOperations* roster);
  /// The process's monitor number ("-M"), for the desktop lock.
  void SetMonitor(int monitor) { m_monitor = monitor; }
  /// The groups this process starts ("-G"; empty: all), for a restart the system refused.
  void SetGroupFilter(std::vector<std::string> filter) { m_groupFilter = std::move(filter); }
  /// Renames a camera with its archive folder and key, as the engine's input rename does
  /// (false, the operator told why, when refused). The start-up layer sets it; without
  /// one the "Video Recording" dialog shows the camera's name read-only.
  using InputRenamer = std::function<bool(std::string_view group, std::string_view oldName, std::string_view newName)>;
  void SetInputRenamer(InputRenamer renamer) { m_renameInput = std::move(renamer); }
  /// Opens, modally, the settings dialog of a camera that a camera-settings command names
  /// ("Access & Privacy Control", "Data Capture", "Motion Detection", "Video Recording"). False, with nothing opened, for a
  /// command that has no dialog here yet.
  bool OpenCameraDialog(UINT command, const std::string& group, const std::string& input);
  /// Makes the directory updater that StartDirectoryUpdate uses (once, at start-up).
  void CreateDirectoryUpdater();

  /// Runs a command as the menus, toolbar and posted commands do.
  void RunCommand(UINT command);
  /// Runs a command on a tree item (selected first).
  void RunTreeCommand(UINT command, QTreeWidgetItem* item);
  /// Posts a command into the event loop (runs after the current one).
  void PostCommand(UINT command);

  /// Arms the main frame's timers: 1983 (clean-up, daily) and 1982 (tours, 15 s).
  void StartCleanUpTimer();
  void StartTourTimer();

  /// Asks a Yes/No question in a modal box; true on Yes. The event loop keeps running.
  [[nodiscard]] bool AskYesNo(const std::string& text);

  [[nodiscard]] CWorkspaceMonitor* Workspace() const { return m_tree; }
  [[nodiscard]] QMdiArea* DocumentArea() const { return m_mdi; }
  [[nodiscard]] internet::IOutputSink& OutputSink() const { return *m_sink; }
  [[nodiscard]] MenuSituation Situation() const { return m_situation; }
  /// The titles of the menus of the menu bar shown now, in order.
  [[nodiscard]] std::vector<std::string> MenuTitles() const;
  /// The open camera documents.
  [[nodiscard]] const std::vector<std::unique_ptr<CVMDoc>>& CameraDocuments() const { return m_docs; }
  /// The status bar's text ("Ready" unless a prompt is shown).
  [[nodiscard]] std::string StatusText() const;
  /// The action of a command in the menus and toolbar (null when it has none).
  [[nodiscard]] QAction* CommandAction(UINT command) const;

  /// What closing does besides stopping the roster and writing "Last Shutdown"; the
  /// start-up layer records its own steps here. Runs once.
  void SetCloseObserver(std::function<void()> observer) { m_closeObserver = std::move(observer); }
  /// Whether the frame ran its closing sequence.
  [[nodiscard]] bool Closed() const { return m_closed; }

  // IEngineHost
  [[nodiscard]] bool OpenCameraWindow(engine::CameraGroup& group, int input, const std::string& title,
                                      engine::CameraWindowShow show, engine::CameraWindow* window) override;
  void CloseCameraWindows(engine::CameraGroup& group) override;
  void RetitleCameraWindow(engine::CameraGroup& group, int input, const std::string& title) override;
  void PostActivateAndTile() override;
  [[nodiscard]] std::string Text(unsigned id) override;
  void ShowMessage(const std::string& text) override;
  /// Whether messages appear as modal boxes besides the log. Off on the offscreen and
  /// minimal platforms (a headless server), where nobody could close them; tests turn it on.
  void SetMessageBoxesShown(bool shown) { m_messageBoxesShown = shown; }
  void ReportLine(const std::string& line) override;
  void SetTimer(engine::TimerId id, std::uint32_t periodMs, engine::TimerCallback callback) override;
  void KillTimer(engine::TimerId id) override;
  void RefreshGroupNode(const engine::CameraGroup& group) override;
  void RefreshTree() override;
  void CheckScheduledReboot() override;
  void ShowPropertyPages(IUnknown* object, const std::string& caption) override;
  void StartDirectoryUpdate(const std::string& group, const std::string& input) override;

  // ICameraDocumentOwner
  void OnCameraMotion(CVMDoc& doc) override;
  void OnCameraClosedByOperator(CVMDoc& doc) override;
  void OnCameraCommand(CVMDoc& doc, unsigned command) override;
  [[nodiscard]] std::string DocumentText(unsigned id) override { return Text(id); }

  // IPlaybackDocumentOwner
  [[nodiscard]] std::unique_ptr<playback::IPlaybackSurface> CreateSurface(HWND view) override;
  void ShowDocumentMessage(const std::string& text, bool error) override;
  void OnStillSaved(playback::CVFDoc& doc, const std::string& stillName) override;
  void OnPlaybackClosed(playback::CVFDoc& doc) override;
  void OnPlaybackCommand(playback::CVFDoc& doc, UINT command) override;
  bool ChoosePrinter(QPrinter& printer) override;

  /// The open playback documents (recordings and stills).
  [[nodiscard]] const std::vector<std::unique_ptr<playback::CVFDoc>>& PlaybackDocuments() const {
    return m_playbackDocs;
  }
  /// The playback document of a file path, or null when it is not open.
  [[nodiscard]] playback::CVFDoc* FindPlaybackDocument(const std::string& path) const;
  /// Opens the recording or still of a tree item in a playback window (stopped at its
  /// start); null, the operator told why, when it does not open.
  playback::CVFDoc* OpenPlayback(QTreeWidgetItem* item);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateActions();
  void CreatePanes();
  void BuildMenuBar(MenuSituation situation);
  void UpdateSituation();
  void ActivateAllCameraWindows();
  void TileCameraWindows(bool vertical);
  void RunCleanUp();
  void RunTourTick();
  void LockDesktop();
  void RunArchiveCommand(UINT command, QTreeWidgetItem* item);
  void RenameSelectedGroup(QTreeWidgetItem* item);
  void ShowRecordingOf(const PlayRequest& request);
  void RunFileCommand(UINT command, QTreeWidgetItem* item);
  void ClosePlayback(playback::CVFDoc& doc);
  void ShowNotAvailable();
  [[nodiscard]] CVMDoc* FindDocument(const std::string& group, const std::string& input) const;
  [[nodiscard]] std::string Label(UINT command);
  [[nodiscard]] QString QText(UINT id);

  TextFunction m_texts;
  IRosterOperations* m_roster = nullptr;
  InputRenamer m_renameInput;
  int m_monitor = 1;
  std::vector<std::string> m_groupFilter;
  QMdiArea* m_mdi = nullptr;
  QDockWidget* m_workspaceDock = nullptr;
  QDockWidget* m_outputDock = nullptr;
  CWorkspaceMonitor* m_tree = nullptr;
  COutputPane* m_outputPane = nullptr;
  std::shared_ptr<internet::IOutputSink> m_sinkHolder;
  internet::IOutputSink* m_sink = nullptr;
  QLabel* m_ready = nullptr;
  std::map<UINT, QAction*> m_actions;
  MenuSituation m_situation = MenuSituation::NoDocument;
  std::vector<std::unique_ptr<CVMDoc>> m_docs;
  std::vector<std::unique_ptr<playback::CVFDoc>> m_playbackDocs;
  std::map<engine::TimerId, QTimer*> m_timers;
  std::unique_ptr<internet::CDirectoryUpdater> m_updater;
  std::function<void()> m_closeObserver;
  bool m_closed = false;
  bool m_lockOpen = false;
  bool m_messageBoxesShown = true;
};

}  // namespace halvard::ui
