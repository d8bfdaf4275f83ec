#include "server/ui/playback/VFView.h"

#include <QPainter>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>

#include "server/ui/Commands.h"
#include "server/ui/playback/PlaybackGraph.h"
#include "server/ui/playback/VFDoc.h"
#include "server/ui/playback/VFFrame.h"

namespace halvard::ui::playback {

void CVFPicture::SetImage(QImage image) {
  m_image = std::move(image);
  update();
}

void CVFPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (m_image.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  painter.drawImage(rect(), m_image);
}

CVFView::CVFView(CVFDoc& doc, QWidget* parent) : QWidget(parent), m_doc(doc) {
  m_picture = new CVFPicture(this);
  m_slider = new QSlider(Qt::Horizontal, this);
  m_slider->setRange(0, kSliderMaximum);
  m_slider->setTickInterval(kSliderTickInterval);
  m_slider->setTickPosition(QSlider::TicksBelow);
  m_slider->setPageStep(kSliderTickInterval);
  // Only the operator's moves seek: a drag seeks once, where it is let go.
  m_slider->setTracking(false);
  m_slider->setEnabled(false);
  connect(m_slider, &QSlider::valueChanged, this, [this](int value) { (void)m_doc.Player().OnSliderMoved(value); });
  m_timer = new QTimer(this);
  m_timer->setInterval(kSliderTimerPeriodMs);
  connect(m_timer, &QTimer::timeout, this, [this] { UpdateSlider(); });
  m_hwnd = window::CreateWindowHandle([this](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == kMsgPlaybackPictureReady) {
      OnPictureReady();
    } else if (message == kMsgGraphNotify && m_doc.Player().OnGraphNotify() && m_doc.Frame() != nullptr) {
      // The end of the file: the player pauses there, showing the last picture.
      m_doc.Frame()->PostCommand(kCmdPlayerPauseContinue);
    }
    return 0;
  });
  m_surface = m_doc.Owner().CreateSurface(m_hwnd);
}

CVFView::~CVFView() {
  window::DestroyWindowHandle(m_hwnd);
  // The surface goes with the view; a renderer still holding it no longer reaches us.
  m_surface.reset();
}

IVideoSurface* CVFView::Surface() const { return m_surface ? m_surface->Surface() : nullptr; }

bool CVFView::SliderTimerRunning() const { return m_timer->isActive(); }

void CVFView::SetSliderTimer(bool run) {
  if (run) {
    m_timer->start();
    UpdateSlider();
  } else {
    m_timer->stop();
  }
}

void CVFView::UpdateSlider() {
  const CPlaybackController& player = m_doc.Player();
  m_slider->setEnabled(player.SliderEnabled());
  if (m_slider->isSliderDown()) {
    return;  // the operator holds it
  }
  const QSignalBlocker block(m_slider);
  m_slider->setValue(player.SliderValue());
}

void CVFView::ShowStill(const QImage& image) { m_picture->SetImage(image); }

QSize CVFView::ClientSizeFor(QSize picture) const {
  if (picture.width() <= 0 || picture.height() <= 0) {
    picture = QSize(kDefaultWidth, kDefaultHeight);
  }
  return {picture.width(), picture.height() + m_slider->sizeHint().height()};
}

void CVFView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int sliderHeight = m_slider->sizeHint().height();
  const int pictureHeight = std::max(0, height() - sliderHeight);
  m_picture->setGeometry(0, 0, width(), pictureHeight);
  m_slider->setGeometry(0, pictureHeight, width(), sliderHeight);
}

void CVFView::OnPictureReady() {
  QImage image = m_picture->Image();
  if (m_surface && m_surface->TakeNewest(&image)) {
    m_picture->SetImage(std::move(image));
  }
}

}  // namespace halvard::ui::playback
