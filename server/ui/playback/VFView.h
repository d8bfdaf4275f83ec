#pragma once
/// The playback view: the picture (the player's video or a still) over the position
/// slider. It owns the window handle the graph posts its events to (message 1026), the
/// surface the video renderer presents to, and the slider's 200 ms timer (55).
///
/// Threads: the user-interface thread only (the surface's Present runs on the streaming
/// thread and only posts to this view's handle).

#include <QImage>
#include <QWidget>

#include <memory>

#include "platform/window/Window.h"

struct IVideoSurface;

class QSlider;
class QTimer;

namespace halvard::ui::playback {

class CVFDoc;
class IPlaybackSurface;

/// The part of the view that shows the picture.
class CVFPicture final : public QWidget {
 public:
  explicit CVFPicture(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }
  void SetImage(QImage image);
  [[nodiscard]] const QImage& Image() const { return m_image; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage m_image;
};

class CVFView final : public QWidget {
 public:
  /// Picture size of a view whose file gives none.
  static constexpr int kDefaultWidth = 320;
  static constexpr int kDefaultHeight = 240;

  explicit CVFView(CVFDoc& doc, QWidget* parent = nullptr);
  ~CVFView() override;
  CVFView(const CVFView&) = delete;
  CVFView& operator=(const CVFView&) = delete;

  [[nodiscard]] HWND Handle() const { return m_hwnd; }
  [[nodiscard]] IVideoSurface* Surface() const;
  [[nodiscard]] QSlider* Slider() const { return m_slider; }
  [[nodiscard]] CVFPicture* Picture() const { return m_picture; }
  [[nodiscard]] bool SliderTimerRunning() const;

  /// Starts or stops timer 55.
  void SetSliderTimer(bool run);
  /// Timer 55: the slider follows the player (enabled only with a duration).
  void UpdateSlider();
  /// Shows a still picture instead of video.
  void ShowStill(const QImage& image);
  /// The client size that shows the picture at its own size above the slider.
  [[nodiscard]] QSize ClientSizeFor(QSize picture) const;
  /// The size the frame fits the view to.
  void SetPreferredSize(QSize size) { m_preferred = size; }
  [[nodiscard]] QSize sizeHint() const override { return m_preferred; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void OnPictureReady();

  CVFDoc& m_doc;
  HWND m_hwnd = 0;
  std::unique_ptr<IPlaybackSurface> m_surface;
  CVFPicture* m_picture = nullptr;
  QSlider* m_slider = nullptr;
  QTimer* m_timer = nullptr;
  QSize m_preferred{kDefaultWidth, kDefaultHeight};
};

}  // namespace halvard::ui::playback
