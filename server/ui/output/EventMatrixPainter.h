#pragma once
/// Painting of the event matrix onto any QPainter (the view's viewport, or an offscreen
/// QImage in the benchmark). Only what meets the visible rectangle is drawn: a year of
/// sixteen cameras costs no more than the screenful shown.

#include <QFont>
#include <QRect>

#include "server/ui/output/EventMatrix.h"

class QPainter;

namespace halvard::ui {

/// The matrix font: Arial, 11 pixels, normal weight.
[[nodiscard]] QFont EventMatrixFont();

/// Paints the part `visible` (logical matrix coordinates) of the matrix; the painter
/// must map logical coordinates to its device (translated by the scroll position).
/// Order: background, night shading, time axis with hour ticks, day lines and labels,
/// events, row lines and labels (at the left edge of `visible`), cursor and its text.
void PaintEventMatrix(QPainter& painter, const CEventMatrix& matrix, const QRect& visible, const QFont& font);

}  // namespace halvard::ui
