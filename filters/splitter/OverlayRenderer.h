#pragma once
/// Draws the date-time stamp into frames: the text is measured and drawn into a
/// monochrome bitmap of exactly its size (black text on white) and that bitmap is copied
/// to the top-left corner of the displayed picture, clipped to it.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "filters/splitter/DetailEnhancement.h"
#include "filters/splitter/Stamp.h"
#include "platform/gdi/Gdi.h"

namespace halvard::splitter {

enum class StampFont {
  Arial,       ///< "Arial", 10-pixel characters, normal weight; the stock fixed font if it cannot be had
  StockFixed,  ///< the stock fixed font (fixed output whatever fonts are installed)
};

/// One per splitter input pin; used on the streaming thread under the filter lock.
class COverlayRenderer {
 public:
  explicit COverlayRenderer(StampFont font = StampFont::Arial);
  ~COverlayRenderer();
  COverlayRenderer(const COverlayRenderer&) = delete;
  COverlayRenderer& operator=(const COverlayRenderer&) = delete;

  /// Frame geometry; BottomUp for RGB24, whose rows are stored from the bottom.
  void SetGeometry(int width, int height, RowOrder order);

  /// Renders the text (at most 255 bytes are drawn) and copies it into the frame, whose
  /// rows are `stride` bytes apart. Nothing is drawn when the text cannot be rendered.
  void Draw(std::uint8_t* frame, std::ptrdiff_t stride, ColourFormat format, std::string_view text);

  /// The bitmap of the last Draw (rows of its width in bytes), for tests.
  [[nodiscard]] MonoBitmap LastBitmap() const;
  [[nodiscard]] bool UsesStockFont() const { return m_ownFont == nullptr; }

 private:
  HDC m_dc = nullptr;
  HFONT m_ownFont = nullptr;  // null when the stock fixed font is selected
  HGDIOBJ m_previousFont = nullptr;
  int m_width = 0;
  int m_height = 0;
  RowOrder m_order = RowOrder::TopDown;
  char m_text[256] = {};
  std::vector<std::uint8_t> m_bits;
  MonoBitmap m_last;
};

}  // namespace halvard::splitter
