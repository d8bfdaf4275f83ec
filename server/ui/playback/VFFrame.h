#pragma once
/// The frame of a playback document: a document window of the main frame's document
/// area with the playback view inside and the player's shortcuts (Ctrl+S saves the
/// current picture). Closing it stops playback and closes the document.
///
/// Threads: the user-interface thread only.

#include <QMdiSubWindow>

#include "platform/base/WinTypes.h"

namespace halvard::ui::playback {

class CVFDoc;
class CVFView;

class CVFFrame final : public QMdiSubWindow {
 public:
  CVFFrame(CVFDoc& doc, const QString& title, QWidget* parent = nullptr);
  ~CVFFrame() override;
  CVFFrame(const CVFFrame&) = delete;
  CVFFrame& operator=(const CVFFrame&) = delete;

  [[nodiscard]] CVFView* View() const { return m_view; }
  [[nodiscard]] CVFDoc& Document() const { return m_doc; }
  /// Runs a player command now: play sets the title to the file's path first.
  void RunCommand(UINT command);
  /// Runs it when the event loop next runs (the window may be gone by then).
  void PostCommand(UINT command);
  /// Sizes the frame so that the view's client area shows the picture at its own size
  /// above the slider (exact once the frame is shown).
  void FitToPicture(QSize picture);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CVFDoc& m_doc;
  CVFView* m_view = nullptr;
  bool m_closed = false;
};

}  // namespace halvard::ui::playback
