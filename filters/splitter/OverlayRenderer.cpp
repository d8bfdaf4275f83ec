#include "filters/splitter/OverlayRenderer.h"

#include <algorithm>
#include <cstring>

namespace halvard::splitter {

COverlayRenderer::COverlayRenderer(StampFont font) {
  m_dc = CreateCompatibleDC(nullptr);
  if (font == StampFont::Arial) {
    m_ownFont = CreateFontA(-10, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial");
  }
  if (m_dc != nullptr) {
    m_previousFont = SelectObject(m_dc, m_ownFont != nullptr ? m_ownFont : GetStockObject(ANSI_FIXED_FONT));
  }
}

COverlayRenderer::~COverlayRenderer() {
  if (m_dc != nullptr) {
    if (m_previousFont != nullptr) {
      SelectObject(m_dc, m_previousFont);
    }
    DeleteDC(m_dc);
  }
  if (m_ownFont != nullptr) {
    DeleteObject(m_ownFont);
  }
}

void COverlayRenderer::SetGeometry(int width, int height, RowOrder order) {
  m_width = width;
  m_height = height;
  m_order = order;
}

void COverlayRenderer::Draw(std::uint8_t* frame, std::ptrdiff_t stride, ColourFormat format, std::string_view text) {
  m_last = MonoBitmap{};
  if (m_dc == nullptr || frame == nullptr) {
    return;
  }
  const std::size_t length = std::min(text.size(), sizeof m_text - 1);
  std::memcpy(m_text, text.data(), length);
  m_text[length] = '\0';
  const int count = static_cast<int>(length);

  SIZE extent{};
  if (!GetTextExtentPoint32A(m_dc, m_text, count, &extent) || extent.cx <= 0 || extent.cy <= 0) {
    return;
  }
  HBITMAP bitmap = CreateCompatibleBitmap(m_dc, extent.cx, extent.cy);
  if (bitmap == nullptr) {
    return;
  }
  HGDIOBJ previous = SelectObject(m_dc, bitmap);
  PatBlt(m_dc, 0, 0, extent.cx, extent.cy, WHITENESS);
  TextOutA(m_dc, 0, 0, m_text, count);
  BITMAP info{};
  GetObjectA(bitmap, sizeof info, &info);
  const std::size_t bytes = static_cast<std::size_t>(info.bmWidthBytes) * static_cast<std::size_t>(info.bmHeight);
  if (m_bits.size() < bytes) {
    m_bits.resize(bytes);
  }
  const LONG copied = GetBitmapBits(bitmap, static_cast<LONG>(bytes), m_bits.data());
  SelectObject(m_dc, previous);
  DeleteObject(bitmap);
  if (copied != static_cast<LONG>(bytes)) {
    return;
  }

  m_last = MonoBitmap{m_bits.data(), extent.cx, extent.cy, info.bmWidthBytes};
  if (format == ColourFormat::Yuy2) {
    BlitStampYuy2(frame, stride, m_width, m_height, m_last, m_order);
  } else {
    BlitStampRgb24(frame, stride, m_width, m_height, m_last, m_order);
  }
}

MonoBitmap COverlayRenderer::LastBitmap() const { return m_last; }

}  // namespace halvard::splitter
