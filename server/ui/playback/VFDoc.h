#pragma once
/// The playback document: one recording (or one still picture) opened from the
/// workspace tree, with its player, its frame window (CVFFrame) and view (CVFView).
/// It knows the tree names of the file (group, input, day, file and, for a still, the
/// picture), so its registry index key and still folder, and runs the player's
/// commands: play, pause/continue, step, faster, slower, save current picture, print
/// current frame.
///
/// Threads: the user-interface thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QImage>

#include "platform/base/WinTypes.h"
#include "platform/window/Window.h"
#include "server/ui/playback/PlaybackController.h"
#include "server/ui/playback/VideoFileInfo.h"

class QPrinter;
struct IVideoSurface;

namespace halvard::ui::playback {

class CVFDoc;
class CVFFrame;

/// The message a playback surface posts to its view when a picture waits.
inline constexpr UINT kMsgPlaybackPictureReady = WM_APP + 0x51;

/// The picture surface of a playback view: the renderer presents to Surface() on its
/// streaming thread, which posts kMsgPictureReady to the view; the view takes the
/// newest picture when it comes.
class IPlaybackSurface {
 public:
  virtual ~IPlaybackSurface() = default;
  [[nodiscard]] virtual IVideoSurface* Surface() = 0;
  /// The newest picture, if one came since the last call (true: `image` replaced).
  virtual bool TakeNewest(QImage* image) = 0;
};

/// What a playback document needs from its owner (the main frame).
class IPlaybackDocumentOwner {
 public:
  virtual ~IPlaybackDocumentOwner() = default;
  /// A surface that notifies `view` (null: the view shows no video).
  [[nodiscard]] virtual std::unique_ptr<IPlaybackSurface> CreateSurface(HWND view) = 0;
  [[nodiscard]] virtual std::string DocumentText(unsigned id) = 0;
  /// A message box (and a log line) with the text; `error` titles it "Error".
  virtual void ShowDocumentMessage(const std::string& text, bool error = false) = 0;
  /// A still was saved and indexed: the recording's tree item lists it from now on.
  virtual void OnStillSaved(CVFDoc& doc, const std::string& stillName) = 0;
  /// The window closed; the owner drops the document once the loop runs again.
  virtual void OnPlaybackClosed(CVFDoc& doc) = 0;
  /// A command the window does not handle itself (tiling, the menus of the main frame).
  virtual void OnPlaybackCommand(CVFDoc& doc, UINT command) = 0;
  /// Asks for the printer (the standard print dialog without page range or selection);
  /// false when the operator cancels.
  virtual bool ChoosePrinter(QPrinter& printer) = 0;
};

/// The tree names of the opened item: group, input, day, file and, for a still, the
/// picture's name.
struct PlaybackNames {
  std::string group;
  std::string input;
  std::string day;
  std::string file;
  std::string still;
};

/// The names from the tree texts of the selection (group first): a file item gives
/// four, a still item five. False for anything else.
bool NamesFromSelection(const std::vector<std::string>& treeNames, PlaybackNames* names);

class CVFDoc {
 public:
  /// Builds the graph of a file for the view's window and surface (CreatePlaybackGraph
  /// unless a test gives its own).
  using GraphBuilder = std::function<std::unique_ptr<IPlaybackGraph>(
      const std::string& path, const VideoFileInfo& info, HWND notify, IVideoSurface* surface, GraphError* error)>;

  CVFDoc(IPlaybackDocumentOwner& owner, PlaybackNames names);
  ~CVFDoc();
  CVFDoc(const CVFDoc&) = delete;
  CVFDoc& operator=(const CVFDoc&) = delete;

  /// Opens the file: a still is read as a picture; a recording's information is read
  /// and its graph built, stopped at the start. On a failure the owner is told why
  /// ("OpenFile failed with error ...") and false is returned; nothing stays open.
  bool Open();
  /// Replaces the graph builder (before Open).
  void SetGraphBuilder(GraphBuilder builder) { m_buildGraph = std::move(builder); }
  /// Replaces the file information reader (before Open).
  using InfoReader = std::function<bool(const std::string& path, VideoFileInfo* info)>;
  void SetInfoReader(InfoReader reader) { m_readInfo = std::move(reader); }
  /// Closes the player (timer, graph); the frame goes with the document.
  void Close();

  /// Runs a command of the playback window (350, 351, 352, 32920, 32925, 362, 276,
  /// and the same numbers the tree's items use). True when the command was one of these.
  bool RunCommand(UINT command);
  /// Seeks to `seconds` from the start (the event matrix's moment).
  bool SeekToSeconds(double seconds);

  [[nodiscard]] const std::string& Path() const { return m_path; }
  [[nodiscard]] const PlaybackNames& Names() const { return m_names; }
  /// "Software\...\Camera Group\group\input"
  [[nodiscard]] const std::string& CameraKey() const { return m_cameraKey; }
  /// The camera key + "\day\file": the recording's index key.
  [[nodiscard]] const std::string& FileKey() const { return m_fileKey; }
  [[nodiscard]] bool IsStill() const { return !m_names.still.empty(); }
  [[nodiscard]] const VideoFileInfo& Info() const { return m_info; }
  [[nodiscard]] const QImage& StillImage() const { return m_still; }
  [[nodiscard]] CPlaybackController& Player() { return *m_player; }
  [[nodiscard]] IPlaybackDocumentOwner& Owner() const { return m_owner; }
  [[nodiscard]] CVFFrame* Frame() const { return m_frame; }
  void SetFrame(CVFFrame* frame) { m_frame = frame; }

  /// Save current picture (362): the frame at the current position becomes the still
  /// "HH-MM-SS-mmm.bmp" in the recording's still folder, indexed under the recording;
  /// the player comes back at the same place and state. False (the operator told) on
  /// a failure.
  bool SaveCurrentPicture();
  /// Print current frame (276): the frame at the current position (a still's own
  /// picture) printed with the heading and rules. False on a failure or a cancel.
  bool PrintCurrentFrame();
  /// What SaveCurrentPicture writes, without the message box: the still's name, or
  /// empty on a failure.
  std::string TakeStill();

 private:
  std::unique_ptr<IPlaybackGraph> BuildGraph(GraphError* error);
  void ReportOpenFailure(const GraphError& error);
  /// Takes the player down, runs `grab` and rebuilds the player at the same place.
  template <class Grab>
  bool WithPlayerDown(Grab grab);

  IPlaybackDocumentOwner& m_owner;
  GraphBuilder m_buildGraph;
  InfoReader m_readInfo;
  PlaybackNames m_names;
  std::string m_path;
  std::string m_cameraKey;
  std::string m_fileKey;
  VideoFileInfo m_info;
  QImage m_still;
  std::unique_ptr<CPlaybackController> m_player;
  CVFFrame* m_frame = nullptr;
};

}  // namespace halvard::ui::playback
