#include "server/ui/dialogs/MotionMarkEditor.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <QMouseEvent>
#include <QPainter>

#include "platform/media/SnapShot.h"
#include "server/engine/CameraRoster.h"
#include "server/engine/GroupPipeline.h"
#include "server/settings/Settings.h"

namespace halvard::ui::dialogs {

namespace {

constexpr int kMaxShownWidth = 640;

std::int32_t ReadInt32(const BYTE* at) {
  std::int32_t value = 0;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// A packed 24-bit bottom-up DIB as the snapshot filter hands it out.
QImage FromDib(const std::vector<BYTE>& dib) {
  constexpr std::size_t kHeaderBytes = 40;
  if (dib.size() < kHeaderBytes) {
    return {};
  }
  const std::int32_t headerSize = ReadInt32(dib.data());
  const std::int32_t width = ReadInt32(dib.data() + 4);
  const std::int32_t height = ReadInt32(dib.data() + 8);
  std::uint16_t bits = 0;
  std::memcpy(&bits, dib.data() + 14, sizeof bits);
  if (headerSize < static_cast<std::int32_t>(kHeaderBytes) || width <= 0 || height <= 0 || width > 8192 ||
      height > 8192 || bits != 24) {
    return {};
  }
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  if (dib.size() < static_cast<std::size_t>(headerSize) + stride * static_cast<std::size_t>(height)) {
    return {};
  }
  QImage image(width, height, QImage::Format_RGB888);
  for (int y = 0; y < height; ++y) {
    const BYTE* row = dib.data() + headerSize + stride * static_cast<std::size_t>(height - 1 - y);
    uchar* out = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      out[x * 3] = row[x * 3 + 2];
      out[x * 3 + 1] = row[x * 3 + 1];
      out[x * 3 + 2] = row[x * 3];
    }
  }
  return image;
}

}  // namespace

QImage CameraStill(const engine::CameraGroup* group, int input) {
  if (group == nullptr || group->Graph() == nullptr || input < 0 ||
      static_cast<std::size_t>(input) >= group->Graph()->inputs.size()) {
    return {};
  }
  const ComPtr<IBaseFilter>& filter = group->Graph()->inputs[static_cast<std::size_t>(input)].snapshot;
  ComPtr<ISnapShot> snapshot;
  if (!filter || FAILED(filter.As(&snapshot))) {
    return {};
  }
  LONG size = 0;
  if (FAILED(snapshot->GetCurrentImage(&size, nullptr)) || size <= 0) {
    return {};
  }
  std::vector<BYTE> dib(static_cast<std::size_t>(size));
  if (FAILED(snapshot->GetCurrentImage(&size, dib.data()))) {
    return {};
  }
  return FromDib(dib);
}

CMotionMarkEditor::CMotionMarkEditor(CMotionMark mark, int pictureWidth, int pictureHeight, QImage still,
                                     QWidget* parent)
    : QWidget(parent),
      m_mark(std::move(mark)),
      m_still(std::move(still)),
      m_pictureWidth(std::max(1, pictureWidth)),
      m_pictureHeight(std::max(1, pictureHeight)) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setCursor(Qt::CrossCursor);
}

void CMotionMarkEditor::SetMark(CMotionMark mark) {
  m_mark = std::move(mark);
  update();
}

void CMotionMarkEditor::MarkAll() {
  m_mark.MarkAll();
  update();
}

void CMotionMarkEditor::ClearAll() {
  m_mark.ClearAll();
  update();
}

double CMotionMarkEditor::Scale() const {
  return m_pictureWidth > kMaxShownWidth ? static_cast<double>(kMaxShownWidth) / m_pictureWidth : 1.0;
}

QSize CMotionMarkEditor::sizeHint() const {
  return {static_cast<int>(m_pictureWidth * Scale()), static_cast<int>(m_pictureHeight * Scale())};
}

QPoint CMotionMarkEditor::BlockAt(QPoint position) const {
  const double scale = Scale();
  const int x = static_cast<int>(position.x() / scale);
  const int y = static_cast<int>(position.y() / scale) - kMotionGridTopMargin;
  if (x < 0 || y < 0) {
    return {-1, -1};
  }
  const int column = x / m_mark.BlockSize();
  const int row = y / m_mark.BlockSize();
  if (column >= m_mark.Columns() || row >= m_mark.Rows()) {
    return {-1, -1};
  }
  return {column, row};
}

QPoint CMotionMarkEditor::CentreOf(int column, int row) const {
  const double scale = Scale();
  const int block = m_mark.BlockSize();
  return {static_cast<int>((column * block + block / 2.0) * scale),
          static_cast<int>((kMotionGridTopMargin + row * block + block / 2.0) * scale)};
}

void CMotionMarkEditor::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area(QPoint(0, 0), sizeHint());
  if (m_still.isNull()) {
    painter.fillRect(area, QColor(128, 128, 128));
  } else {
    painter.drawImage(area, m_still);
  }
  const double scale = Scale();
  const int block = m_mark.BlockSize();
  const QColor markColour(255, 0, 0, 90);
  for (int r = 0; r < m_mark.Rows(); ++r) {
    for (int c = 0; c < m_mark.Columns(); ++c) {
      const QRectF cell(c * block * scale, (kMotionGridTopMargin + r * block) * scale, block * scale, block * scale);
      if (m_mark.IsMarked(c, r)) {
        painter.fillRect(cell, markColour);
      }
      painter.setPen(QColor(255, 255, 255, 110));
      painter.drawRect(cell);
    }
  }
}

void CMotionMarkEditor::Apply(QPoint position) {
  const QPoint cell = BlockAt(position);
  if (cell.x() < 0 || m_mark.IsMarked(cell.x(), cell.y()) == m_dragMarks) {
    return;
  }
  m_mark.Set(cell.x(), cell.y(), m_dragMarks);
  update();
}

void CMotionMarkEditor::mousePressEvent(QMouseEvent* event) {
  const QPoint cell = BlockAt(event->position().toPoint());
  if (event->button() != Qt::LeftButton || cell.x() < 0) {
    return;
  }
  m_dragging = true;
  m_dragMarks = !m_mark.IsMarked(cell.x(), cell.y());
  Apply(event->position().toPoint());
}

void CMotionMarkEditor::mouseMoveEvent(QMouseEvent* event) {
  if (m_dragging) {
    Apply(event->position().toPoint());
  }
}

void CMotionMarkEditor::mouseReleaseEvent(QMouseEvent*) { m_dragging = false; }

}  // namespace halvard::ui::dialogs
