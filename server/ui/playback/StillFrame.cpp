#include "server/ui/playback/StillFrame.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>

#include "platform/com/Com.h"
#include "platform/wmf/Wmf.h"

namespace halvard::ui::playback {

namespace {



/// The detector on the file's first video stream; null when there is none.
ComPtr<IMediaDet> OpenVideoStream(const std::string& recording) {
  ComPtr<IMediaDet> det;
  LONG streams = 0;
  if (FAILED(wmf::CreateMediaDet(det.ReleaseAndGetAddressOf())) || FAILED(det->put_Filename(recording.c_str())) ||
      FAILED(det->get_OutputStreams(&streams))) {
    return {};
  }
  for (LONG i = 0; i < streams; ++i) {
    WM_MEDIA_TYPE type{};
    if (FAILED(det->put_CurrentStream(i)) || FAILED(det->get_StreamMediaType(&type))) {
      continue;
    }
    const bool video = type.majortype == WMMEDIATYPE_Video && type.formattype == WMFORMAT_VideoInfo;
    wmf::FreeMediaType(&type);
    if (video) {
      return det;
    }
  }
  return {};
}

}  // namespace

bool WriteFrameBitmap(const std::string& recording, double seconds, long width, long height,
                      const std::string& bitmapPath) {
  const ComPtr<IMediaDet> det = OpenVideoStream(recording);
  if (!det || width <= 0 || height <= 0) {
    return false;
  }
  if (FAILED(det->WriteBitmapBits(seconds, width, height, bitmapPath.c_str()))) {
    // A bitmap cut short by a full disk would be listed as a picture nobody can open.
    (void)std::remove(bitmapPath.c_str());
    return false;
  }
  return true;
}

QImage ReadFrameImage(const std::string& recording, double seconds, long width, long height) {
  const ComPtr<IMediaDet> det = OpenVideoStream(recording);
  LONG bytes = 0;
  if (!det || width <= 0 || height <= 0 || FAILED(det->GetBitmapBits(seconds, &bytes, nullptr, width, height)) ||
      bytes <= 0) {
    return {};
  }
  std::vector<char> dib(static_cast<std::size_t>(bytes));
  if (FAILED(det->GetBitmapBits(seconds, &bytes, dib.data(), width, height))) {
    return {};
  }
  // A 40-byte header, then bottom-up rows of 24-bit pixels padded to four bytes.
  constexpr std::size_t kHeaderBytes = 40;
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  if (dib.size() < kHeaderBytes + stride * static_cast<std::size_t>(height)) {
    return {};
  }
  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB888);
  for (long y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const unsigned char*>(dib.data() + kHeaderBytes +
                                                             stride * static_cast<std::size_t>(height - 1 - y));
    unsigned char* out = image.scanLine(static_cast<int>(y));
    for (long x = 0; x < width; ++x) {
      out[x * 3] = row[x * 3 + 2];
      out[x * 3 + 1] = row[x * 3 + 1];
      out[x * 3 + 2] = row[x * 3];
    }
  }
  return image;
}

PrintLayout ComputePrintLayout(QSize printable, int dpiX, int dpiY, QSize picture, QSize headingSize) {
  PrintLayout layout;
  const int pageW = printable.width();
  const int pageH = printable.height();
  if (picture.width() > 0 && picture.height() > 0) {
    const int w = pageW * 2 / 5;
    const int h = static_cast<int>(static_cast<long long>(w) * picture.height() / picture.width());
    layout.picture = QRect((pageW - w) / 2, (pageH - h) / 2, w, h);
  }
  layout.heading = QRect((pageW - headingSize.width()) / 2, dpiY, headingSize.width(), headingSize.height());
  const int thickY = layout.heading.top() + headingSize.height() + 2;
  const int thinY = thickY + static_cast<int>(std::lround(0.03 * dpiY));
  layout.thickRule = QLine(dpiX, thickY, pageW - dpiX, thickY);
  layout.thinRule = QLine(dpiX, thinY, pageW - dpiX, thinY);
  return layout;
}

bool PrintFrame(QPrinter& printer, const QImage& image, const QString& heading) {
  if (image.isNull()) {
    return false;
  }
  QPainter painter;
  if (!painter.begin(&printer)) {
    return false;
  }
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  QFont font = painter.font();
  font.setPointSize(14);
  painter.setFont(font);
  const QFontMetrics metrics(font, &printer);
  const QSize headingSize(metrics.horizontalAdvance(heading), metrics.height());
  const PrintLayout layout =
      ComputePrintLayout(page.size(), printer.logicalDpiX(), printer.logicalDpiY(), image.size(), headingSize);
  painter.setPen(Qt::black);
  painter.drawText(layout.heading, Qt::AlignCenter, heading);
  // Flat caps: the rules end exactly one inch from either edge.
  painter.setPen(QPen(Qt::black, layout.thickWidth, Qt::SolidLine, Qt::FlatCap));
  painter.drawLine(layout.thickRule);
  painter.setPen(QPen(Qt::black, layout.thinWidth, Qt::SolidLine, Qt::FlatCap));
  painter.drawLine(layout.thinRule);
  painter.drawImage(layout.picture, image);
  return painter.end();
}

}  // namespace halvard::ui::playback
