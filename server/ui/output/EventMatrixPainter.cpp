#include "server/ui/output/EventMatrixPainter.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace halvard::ui {

namespace {

const QColor kNightColor(0xD0, 0xD0, 0xD0);
const QColor kEventColor(0xFF, 0x00, 0x00);
const QColor kLineColor(0x00, 0x00, 0x00);
const QColor kBackgroundColor(0xFF, 0xFF, 0xFF);

}  // namespace

QFont EventMatrixFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(11);
  font.setWeight(QFont::Normal);
  return font;
}

void PaintEventMatrix(QPainter& painter, const CEventMatrix& matrix, const QRect& visible, const QFont& font) {
  const double h = matrix.RowHeight();
  const double totalW = matrix.TotalWidth();
  const double totalH = (matrix.RowCount() + 2) * h;
  const double left = visible.left();
  const double right = std::min<double>(visible.left() + visible.width(), totalW);
  const double top = visible.top();
  const double bottom = visible.top() + visible.height();

  painter.save();
  painter.setFont(font);
  painter.fillRect(visible, kBackgroundColor);
  const std::vector<DayBand> days = matrix.DaysBetween(left, right);

  // Night: 00:00 to 06:00 and 20:00 to 24:00 of every day, over the camera rows.
  for (const DayBand& day : days) {
    const QRectF morning(QPointF(day.x, h), QPointF(day.morningEndX, totalH - h));
    const QRectF evening(QPointF(day.eveningStartX, h), QPointF(day.endX, totalH - h));
    painter.fillRect(morning, kNightColor);
    painter.fillRect(evening, kNightColor);
  }

  painter.setPen(kLineColor);
  // Time axis and a tick at every hour.
  const double axisY = totalH - h;
  painter.drawLine(QPointF(left, axisY), QPointF(right, axisY));
  const double hourW = matrix.HourWidth();
  for (auto hour = static_cast<std::int64_t>(std::floor(left / hourW)); hour * hourW < right; ++hour) {
    const double x = hour * hourW;
    painter.drawLine(QPointF(x, axisY), QPointF(x, axisY + 0.2 * h));
  }

  // Day lines and labels in the bottom band.
  const QFontMetrics metrics(font);
  const double labelBaseline = axisY + (h + metrics.ascent() - metrics.descent()) / 2.0;
  for (const DayBand& day : days) {
    painter.drawLine(QPointF(day.x, axisY), QPointF(day.x, totalH));
    // Just right of the day's line; while that line is scrolled out of view the label
    // waits at the left edge, until the next day pushes it out.
    const QString label = QString::fromStdString(day.label);
    const double labelW = metrics.horizontalAdvance(label);
    const double labelX = std::max(day.x + 3, std::min(left + 3, day.endX - labelW - 3));
    painter.drawText(QPointF(labelX, labelBaseline), label);
  }

  // Events: each a cell-wide red bar over its row; adjacent cells in one rectangle.
  const int fromCell = std::max(0, CEventMatrix::CellAtX(static_cast<int>(std::floor(left))));
  const int toCell = std::min(matrix.CellCount(), CEventMatrix::CellAtX(static_cast<int>(std::ceil(right))) + 1);
  const int firstRow = std::max(0, static_cast<int>(std::floor(top / h)) - 1);
  const int lastRow = std::min(matrix.RowCount(), static_cast<int>(std::ceil(bottom / h)));
  for (int row = firstRow; row < lastRow; ++row) {
    const std::vector<int>& cells = matrix.Rows()[static_cast<std::size_t>(row)].cells;
    const auto [first, last] = matrix.EventsBetween(row, fromCell, toCell);
    const double y = (row + 1) * h;
    std::size_t i = first;
    while (i < last) {
      const int runStart = cells[i];
      int runEnd = runStart + 1;
      while (i < last && cells[i] <= runEnd) {
        runEnd = std::max(runEnd, cells[i] + 1);
        ++i;
      }
      painter.fillRect(QRectF(CEventMatrix::kCellWidth * runStart, y,
                              CEventMatrix::kCellWidth * (runEnd - runStart), h),
                       kEventColor);
    }
  }

  // Row lines across the width, labels at the visible left edge so they stay in view.
  for (int row = firstRow; row < lastRow; ++row) {
    const double y = (row + 1) * h;
    painter.drawLine(QPointF(left, y), QPointF(right, y));
    const double baseline = y + (h + metrics.ascent() - metrics.descent()) / 2.0;
    painter.drawText(QPointF(left + 2, baseline),
                     QString::fromStdString(matrix.Rows()[static_cast<std::size_t>(row)].label));
  }

  // Cursor line and its text in the top band, centred on it but never left of 0.
  if (!matrix.CursorText().empty()) {
    const double x = matrix.CursorX();
    painter.drawLine(QPointF(x, h), QPointF(x, totalH - h));
    const QString text = QString::fromStdString(matrix.CursorText());
    const double textX = std::max(0.0, x - metrics.horizontalAdvance(text) / 2.0);
    painter.drawText(QPointF(textX, (h + metrics.ascent() - metrics.descent()) / 2.0), text);
  }
  painter.restore();
}

}  // namespace halvard::ui
