#pragma once
/// Taking one frame of a recording with the media detector (the player's graph must be
/// released first: the detector opens the file on its own), the still picture files,
/// and the printed page of a frame.
///
/// Threads: the user-interface thread.

#include <string>

#include <QImage>
#include <QRect>
#include <QLine>

class QPrinter;

namespace halvard::ui::playback {

/// Writes the frame at `seconds` as an uncompressed 24-bit bitmap of width x height.
/// False when the file does not open, has no video stream, the position lies past the
/// last frame or the bitmap cannot be written (a partly written bitmap is removed).
bool WriteFrameBitmap(const std::string& recording, double seconds, long width, long height,
                      const std::string& bitmapPath);
/// The frame at `seconds` in memory (a bitmap header and the pixels, turned into an
/// image); a null image on the failures above.
[[nodiscard]] QImage ReadFrameImage(const std::string& recording, double seconds, long width, long height);

/// Where the parts of the printed page go, in printer pixels from the printable area's
/// top-left corner.
struct PrintLayout {
  QRect picture;    ///< 2/5 of the printable width, height in proportion, centred
  QRect heading;    ///< the heading's box: centred, its top one inch below the top
  QLine thickRule;  ///< 7 pixels wide, at the heading's bottom + 2
  QLine thinRule;   ///< 3 pixels wide, 0.03 inch below the thick one
  int thickWidth = 7;
  int thinWidth = 3;
};

/// The layout of a page of `printable` size at dpiX x dpiY for a picture of `picture`
/// size and a heading text of `headingSize`. The rules run from one inch from the left
/// to one inch from the right. An empty picture size gives an empty picture box.
[[nodiscard]] PrintLayout ComputePrintLayout(QSize printable, int dpiX, int dpiY, QSize picture, QSize headingSize);

/// Paints one page: the heading, the two rules and the picture. False when painting
/// on the printer cannot start or the image is null.
bool PrintFrame(QPrinter& printer, const QImage& image, const QString& heading);

}  // namespace halvard::ui::playback
