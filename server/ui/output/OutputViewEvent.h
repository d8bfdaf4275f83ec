#pragma once
/// The event matrix view of the output pane: a scroll view that binds CEventMatrix to
/// the screen. Left click places the cursor, double click asks to play the moment,
/// right click or the menu key opens "Properties" / "Event Matrix Reload".
///
/// The view does not follow new events by itself: it shows them after the next Reload
/// (command 32881, the context menu, a change of the properties or the daily clean-up).
///
/// Threads: the user-interface thread only.

#include <QAbstractScrollArea>

#include <functional>
#include <memory>
#include <vector>

#include "server/ui/output/EventMatrix.h"
#include "server/ui/output/OutputTexts.h"

namespace halvard::ui {

class COutputViewEvent final : public QAbstractScrollArea {
 public:
  /// The cameras of the roster in order (groups in order, inputs in order).
  using CameraLister = std::function<std::vector<CameraName>()>;
  /// What a double click asks for; the main frame finds the recording
  /// (FindRecordingAt) and plays it.
  using PlayHandler = std::function<void(const PlayRequest&)>;

  /// `source` is where the events are read (shared with the caller).
  COutputViewEvent(TextSource texts, std::shared_ptr<IEventSource> source, QWidget* parent = nullptr);
  ~COutputViewEvent() override;

  void SetCameraLister(CameraLister lister) { m_cameras = std::move(lister); }
  void SetPlayHandler(PlayHandler handler) { m_play = std::move(handler); }

  /// Load (cameras, events, resolution), layout, repaint. The current time is the wall
  /// clock (halvard::time::WallClockNow).
  void Reload();
  /// Handles the commands of the view; true when `command` is one of them (32881).
  bool OnCommand(UINT command);
  /// The "Event Matrix Properties" dialog (modal; the event loop keeps running). OK
  /// stores the chosen index as "EM Time Resolution", Cancel stores back the index of
  /// the opening; both reload.
  void ShowProperties();

  [[nodiscard]] const CEventMatrix& Matrix() const { return m_matrix; }
  /// Scroll position (logical x, y of the viewport's top-left corner).
  [[nodiscard]] QPoint ScrollPosition() const;
  void ScrollTo(int x, int y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void UpdateScrollBars();
  [[nodiscard]] QPoint ToLogical(const QPoint& viewportPoint) const;

  TextSource m_texts;
  std::shared_ptr<IEventSource> m_source;
  CameraLister m_cameras;
  PlayHandler m_play;
  CEventMatrix m_matrix;
  QFont m_font;
};

}  // namespace halvard::ui
