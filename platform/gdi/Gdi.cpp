#include "platform/gdi/Gdi.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace halvard::gdi {

namespace {

constexpr std::uint8_t kFixedGlyphs[][13] = {
#include "platform/gdi/BuiltinFixedFont.inc"
};
constexpr int kFixedCellWidth = 8;
constexpr int kFixedCellHeight = 13;
constexpr int kFixedAscent = 10;

// A rendered glyph: one byte per pixel (1 = ink), placed relative to the pen position
// on the baseline.
struct Glyph {
  int left = 0;
  int top = 0;  // rows above the baseline
  int width = 0;
  int height = 0;
  int advance = 0;
  std::vector<std::uint8_t> ink;
  // The ink of each row as a bit mask, leftmost pixel in bit 31 (glyphs up to 32 wide).
  std::vector<std::uint32_t> rowMasks;
};

void BuildRowMasks(Glyph& glyph) {
  if (glyph.width > 32) {
    return;
  }
  glyph.rowMasks.assign(static_cast<std::size_t>(glyph.height), 0);
  for (int y = 0; y < glyph.height; ++y) {
    for (int x = 0; x < glyph.width; ++x) {
      if (glyph.ink[static_cast<std::size_t>(y * glyph.width + x)] != 0) {
        glyph.rowMasks[static_cast<std::size_t>(y)] |= 0x80000000u >> x;
      }
    }
  }
}

}  // namespace

class CGdiObject {
 public:
  enum class Kind { Font, Bitmap };
  explicit CGdiObject(Kind kind) : m_kind(kind) {}
  virtual ~CGdiObject() = default;
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;

  [[nodiscard]] Kind GetKind() const { return m_kind; }
  bool stock = false;
  int selections = 0;  // contexts that have it selected

 private:
  Kind m_kind;
};

class CFont final : public CGdiObject {
 public:
  CFont() : CGdiObject(Kind::Font) {}
  ~CFont() override {
    if (m_face != nullptr) {
      FT_Done_Face(m_face);
    }
    if (m_library != nullptr) {
      FT_Done_FreeType(m_library);
    }
  }

  /// The built-in fixed font.
  static std::unique_ptr<CFont> Fixed() {
    auto font = std::make_unique<CFont>();
    font->m_ascent = kFixedAscent;
    font->m_descent = kFixedCellHeight - kFixedAscent;
    return font;
  }

  /// A FreeType face from a file, sized as CreateFontA asks.
  static std::unique_ptr<CFont> Load(const std::string& file, int faceIndex, int height) {
    auto font = std::make_unique<CFont>();
    if (FT_Init_FreeType(&font->m_library) != 0) {
      font->m_library = nullptr;
      return nullptr;
    }
    if (FT_New_Face(font->m_library, file.c_str(), faceIndex, &font->m_face) != 0) {
      font->m_face = nullptr;
      return nullptr;
    }
    FT_Face face = font->m_face;
    const double unitsPerEm = face->units_per_EM > 0 ? face->units_per_EM : 2048;
    double ascentUnits = face->ascender;
    double descentUnits = -face->descender;
    // The platform's metrics come from the OS/2 table's Windows ascent and descent.
    if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
      ascentUnits = os2->usWinAscent;
      descentUnits = os2->usWinDescent;
    }
    double em = 12;
    if (height < 0) {
      em = -static_cast<double>(height);
    } else if (height > 0 && ascentUnits + descentUnits > 0) {
      em = height * unitsPerEm / (ascentUnits + descentUnits);
    }
    const int pixels = std::max(1, static_cast<int>(std::lround(em)));
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0) {
      return nullptr;
    }
    font->m_ascent = static_cast<int>(std::lround(ascentUnits * pixels / unitsPerEm));
    font->m_descent = static_cast<int>(std::lround(descentUnits * pixels / unitsPerEm));
    return font;
  }

  [[nodiscard]] int Ascent() const { return m_ascent; }
  [[nodiscard]] int Height() const { return m_ascent + m_descent; }

  /// The glyph of a Latin-1 character, rendered once and kept.
  const Glyph& GlyphOf(unsigned char c) {
    // Rendered glyphs never change, so a published one is read without the lock.
    if (const Glyph* ready = m_ready[c].load(std::memory_order_acquire)) {
      return *ready;
    }
    std::lock_guard lock(m_mutex);
    std::optional<Glyph>& slot = m_glyphs[c];
    if (!slot) {
      slot = Render(c);
      BuildRowMasks(*slot);
      m_ready[c].store(&*slot, std::memory_order_release);
    }
    return *slot;
  }

 private:
  Glyph Render(unsigned char c) const {
    Glyph glyph;
    if (m_face == nullptr) {
      glyph.advance = kFixedCellWidth;
      glyph.width = kFixedCellWidth;
      glyph.height = kFixedCellHeight;
      glyph.top = kFixedAscent;
      glyph.ink.assign(static_cast<std::size_t>(kFixedCellWidth * kFixedCellHeight), 0);
      const unsigned index = (c >= 0x20 && c < 0x7F) ? c - 0x20u : '?' - 0x20u;
      for (int y = 0; y < kFixedCellHeight; ++y) {
        for (int x = 0; x < kFixedCellWidth; ++x) {
          glyph.ink[static_cast<std::size_t>(y * kFixedCellWidth + x)] = (kFixedGlyphs[index][y] >> (7 - x)) & 1;
        }
      }
      return glyph;
    }
    if (FT_Load_Char(m_face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0) {
      return glyph;  // an empty glyph without advance
    }
    const FT_GlyphSlot slot = m_face->glyph;
    glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    glyph.width = static_cast<int>(slot->bitmap.width);
    glyph.height = static_cast<int>(slot->bitmap.rows);
    glyph.ink.assign(static_cast<std::size_t>(glyph.width) * static_cast<std::size_t>(glyph.height), 0);
    for (int y = 0; y < glyph.height; ++y) {
      const unsigned char* row = slot->bitmap.buffer + static_cast<std::ptrdiff_t>(y) * slot->bitmap.pitch;
      for (int x = 0; x < glyph.width; ++x) {
        const bool on = slot->bitmap.pixel_mode == FT_PIXEL_MODE_MONO ? ((row[x / 8] >> (7 - x % 8)) & 1) != 0
                                                                      : row[x] >= 128;
        glyph.ink[static_cast<std::size_t>(y * glyph.width + x)] = on ? 1 : 0;
      }
    }
    return glyph;
  }

  FT_Library m_library = nullptr;
  FT_Face m_face = nullptr;
  int m_ascent = 0;
  int m_descent = 0;
  std::mutex m_mutex;
  std::array<std::optional<Glyph>, 256> m_glyphs;
  std::array<std::atomic<const Glyph*>, 256> m_ready{};
};

class CBitmap final : public CGdiObject {
 public:
  CBitmap(int width, int height)
      : CGdiObject(Kind::Bitmap),
        m_width(width),
        m_height(height),
        m_widthBytes(((width + 15) / 16) * 2),
        m_bits(static_cast<std::size_t>(m_widthBytes) * static_cast<std::size_t>(height), 0) {}

  [[nodiscard]] int Width() const { return m_width; }
  [[nodiscard]] int Height() const { return m_height; }
  [[nodiscard]] int WidthBytes() const { return m_widthBytes; }
  [[nodiscard]] std::vector<std::uint8_t>& Bits() { return m_bits; }

  void Fill(int x0, int y0, int x1, int y1, bool white) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, m_width);
    y1 = std::min(y1, m_height);
    if (x0 >= x1 || y0 >= y1) {
      return;
    }
    const int firstFull = (x0 + 7) / 8;
    const int lastFull = x1 / 8;  // bytes [firstFull, lastFull) are whole
    for (int y = y0; y < y1; ++y) {
      if (firstFull >= lastFull) {
        for (int x = x0; x < x1; ++x) {
          Set(x, y, white);
        }
        continue;
      }
      for (int x = x0; x < firstFull * 8; ++x) {
        Set(x, y, white);
      }
      std::memset(m_bits.data() + static_cast<std::size_t>(y) * m_widthBytes + firstFull, white ? 0xFF : 0x00,
                  static_cast<std::size_t>(lastFull - firstFull));
      for (int x = lastFull * 8; x < x1; ++x) {
        Set(x, y, white);
      }
    }
  }
  /// Clears (blackens) the pixels of a 32-bit row mask placed with its bit 31 at x.
  void ClearMask(int x, int y, std::uint32_t mask) {
    std::uint8_t* row = m_bits.data() + static_cast<std::size_t>(y) * m_widthBytes;
    const int shift = x & 7;
    const int firstByte = x >> 3;  // arithmetic: negative x gives a negative byte index
    // Spread the mask over five bytes starting at firstByte.
    const std::uint64_t wide = static_cast<std::uint64_t>(mask) << (32 - shift);
    for (int i = 0; i < 5; ++i) {
      const auto bits = static_cast<std::uint8_t>(wide >> (56 - 8 * i));
      const int index = firstByte + i;
      if (bits == 0 || index < 0 || index >= m_widthBytes) {
        continue;
      }
      // Pixels past the width inside the last byte are padding; they stay as they are.
      std::uint8_t allowed = 0xFF;
      if (index == m_width / 8) {
        allowed = static_cast<std::uint8_t>(0xFF00u >> (m_width % 8));
      } else if (index > m_width / 8) {
        allowed = 0;
      }
      row[index] = static_cast<std::uint8_t>(row[index] & ~(bits & allowed));
    }
  }
  void Set(int x, int y, bool white) {
    std::uint8_t& byte = m_bits[static_cast<std::size_t>(y) * m_widthBytes + static_cast<std::size_t>(x / 8)];
    const std::uint8_t mask = static_cast<std::uint8_t>(0x80u >> (x % 8));
    byte = white ? static_cast<std::uint8_t>(byte | mask) : static_cast<std::uint8_t>(byte & ~mask);
  }

 private:
  int m_width;
  int m_height;
  int m_widthBytes;
  std::vector<std::uint8_t> m_bits;
};

class CDeviceContext {
 public:
  CDeviceContext() : m_defaultBitmap(1, 1) {
    m_defaultBitmap.stock = true;
    m_font = FixedFont();
    m_bitmap = &m_defaultBitmap;
  }
  static CFont* FixedFont() {
    static CFont* const font = [] {
      CFont* f = CFont::Fixed().release();
      f->stock = true;
      return f;
    }();
    return font;
  }

  CFont* m_font;
  CBitmap* m_bitmap;
  CBitmap m_defaultBitmap;
};

namespace {

std::mutex& FontConfigMutex() {
  static std::mutex mutex;
  return mutex;
}

// The file fontconfig picks for a family name (it always picks something while any
// font is installed, as the platform substitutes a similar face).
std::optional<std::pair<std::string, int>> MatchFont(const char* family, int weight) {
  std::lock_guard lock(FontConfigMutex());
  FcConfig* config = FcConfigGetCurrent();
  if (config == nullptr) {
    return std::nullopt;
  }
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) {
    return std::nullopt;
  }
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(pattern, FC_WEIGHT, weight >= FW_BOLD ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (match == nullptr) {
    return std::nullopt;
  }
  std::optional<std::pair<std::string, int>> found;
  FcChar8* file = nullptr;
  int index = 0;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr) {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    found.emplace(reinterpret_cast<const char*>(file), index);
  }
  FcPatternDestroy(match);
  return found;
}

CFont* AsFont(HGDIOBJ h) {
  return h != nullptr && h->GetKind() == CGdiObject::Kind::Font ? static_cast<CFont*>(h) : nullptr;
}
CBitmap* AsBitmap(HGDIOBJ h) {
  return h != nullptr && h->GetKind() == CGdiObject::Kind::Bitmap ? static_cast<CBitmap*>(h) : nullptr;
}

LONG TextWidth(CFont* font, const char* text, int count) {
  LONG width = 0;
  for (int i = 0; i < count; ++i) {
    width += font->GlyphOf(static_cast<unsigned char>(text[i])).advance;
  }
  return width;
}

}  // namespace

}  // namespace halvard::gdi

using halvard::gdi::AsBitmap;
using halvard::gdi::AsFont;
using halvard::gdi::CBitmap;
using halvard::gdi::CDeviceContext;
using halvard::gdi::CFont;

HFONT CreateFontA(int cHeight, int /*cWidth*/, int /*cEscapement*/, int /*cOrientation*/, int cWeight,
                  DWORD /*bItalic*/, DWORD /*bUnderline*/, DWORD /*bStrikeOut*/, DWORD /*iCharSet*/,
                  DWORD /*iOutPrecision*/, DWORD /*iClipPrecision*/, DWORD /*iQuality*/, DWORD /*iPitchAndFamily*/,
                  const char* pszFaceName) {
  if (pszFaceName == nullptr || *pszFaceName == '\0') {
    pszFaceName = "sans-serif";
  }
  const auto match = halvard::gdi::MatchFont(pszFaceName, cWeight);
  if (!match) {
    return nullptr;
  }
  return CFont::Load(match->first, match->second, cHeight).release();
}

HGDIOBJ GetStockObject(int i) {
  if (i == ANSI_FIXED_FONT || i == SYSTEM_FIXED_FONT) {
    return CDeviceContext::FixedFont();
  }
  return nullptr;
}

HDC CreateCompatibleDC(HDC /*hdc*/) { return new (std::nothrow) CDeviceContext(); }

BOOL DeleteDC(HDC hdc) {
  if (hdc == nullptr) {
    return FALSE;
  }
  if (hdc->m_font != nullptr) {
    --hdc->m_font->selections;
  }
  if (hdc->m_bitmap != &hdc->m_defaultBitmap) {
    --hdc->m_bitmap->selections;
  }
  delete hdc;
  return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  if (hdc == nullptr || h == nullptr) {
    return nullptr;
  }
  if (CFont* font = AsFont(h)) {
    CFont* previous = hdc->m_font;
    --previous->selections;
    ++font->selections;
    hdc->m_font = font;
    return previous;
  }
  CBitmap* bitmap = AsBitmap(h);
  if (bitmap == hdc->m_bitmap) {
    return bitmap;
  }
  if (bitmap->selections > 0) {
    return nullptr;  // a bitmap lives in one context at a time
  }
  CBitmap* previous = hdc->m_bitmap;
  if (previous != &hdc->m_defaultBitmap) {
    --previous->selections;
  }
  if (bitmap != &hdc->m_defaultBitmap) {
    ++bitmap->selections;
  }
  hdc->m_bitmap = bitmap;
  return previous;
}

BOOL DeleteObject(HGDIOBJ h) {
  if (h == nullptr || h->stock || h->selections > 0) {
    return FALSE;
  }
  delete h;
  return TRUE;
}

BOOL GetTextExtentPoint32A(HDC hdc, const char* lpString, int c, SIZE* psizl) {
  if (hdc == nullptr || psizl == nullptr || c < 0 || (lpString == nullptr && c > 0)) {
    return FALSE;
  }
  psizl->cx = halvard::gdi::TextWidth(hdc->m_font, lpString, c);
  psizl->cy = hdc->m_font->Height();
  return TRUE;
}

HBITMAP CreateCompatibleBitmap(HDC /*hdc*/, int cx, int cy) {
  constexpr int kLimit = 1 << 15;
  if (cx < 0 || cy < 0 || cx > kLimit || cy > kLimit) {
    return nullptr;
  }
  if (cx == 0 || cy == 0) {
    cx = 1;
    cy = 1;
  }
  return new (std::nothrow) CBitmap(cx, cy);
}

BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
  if (hdc == nullptr || (rop != WHITENESS && rop != BLACKNESS)) {
    return FALSE;
  }
  // Negative extents grow towards the origin, as the platform's do.
  const int x0 = std::min(x, x + w);
  const int x1 = std::max(x, x + w);
  const int y0 = std::min(y, y + h);
  const int y1 = std::max(y, y + h);
  hdc->m_bitmap->Fill(x0, y0, x1, y1, rop == WHITENESS);
  return TRUE;
}

BOOL TextOutA(HDC hdc, int x, int y, const char* lpString, int c) {
  if (hdc == nullptr || c < 0 || (lpString == nullptr && c > 0)) {
    return FALSE;
  }
  CFont* font = hdc->m_font;
  CBitmap* bitmap = hdc->m_bitmap;
  const LONG width = halvard::gdi::TextWidth(font, lpString, c);
  bitmap->Fill(x, y, x + width, y + font->Height(), true);
  const int baseline = y + font->Ascent();
  int pen = x;
  for (int i = 0; i < c; ++i) {
    const auto& glyph = font->GlyphOf(static_cast<unsigned char>(lpString[i]));
    const int gx = pen + glyph.left;
    const int gy = baseline - glyph.top;
    // Clip the glyph rectangle to the bitmap once, then clear the ink bits.
    const int xStart = std::max(0, -gx);
    const int xEnd = std::min(glyph.width, bitmap->Width() - gx);
    const int yStart = std::max(0, -gy);
    const int yEnd = std::min(glyph.height, bitmap->Height() - gy);
    if (!glyph.rowMasks.empty()) {
      for (int gyRow = yStart; gyRow < yEnd; ++gyRow) {
        if (const std::uint32_t mask = glyph.rowMasks[static_cast<std::size_t>(gyRow)]; mask != 0) {
          bitmap->ClearMask(gx, gy + gyRow, mask);
        }
      }
      pen += glyph.advance;
      continue;
    }
    for (int gyRow = yStart; gyRow < yEnd; ++gyRow) {
      const std::uint8_t* ink = glyph.ink.data() + static_cast<std::ptrdiff_t>(gyRow) * glyph.width;
      for (int gxCol = xStart; gxCol < xEnd; ++gxCol) {
        if (ink[gxCol] != 0) {
          bitmap->Set(gx + gxCol, gy + gyRow, false);
        }
      }
    }
    pen += glyph.advance;
  }
  return TRUE;
}

LONG GetBitmapBits(HBITMAP hbit, LONG cb, void* lpvBits) {
  CBitmap* bitmap = AsBitmap(hbit);
  if (bitmap == nullptr || lpvBits == nullptr || cb <= 0) {
    return 0;
  }
  const auto& bits = bitmap->Bits();
  const std::size_t count = std::min(static_cast<std::size_t>(cb), bits.size());
  std::memcpy(lpvBits, bits.data(), count);
  return static_cast<LONG>(count);
}

int GetObjectA(HGDIOBJ h, int c, void* pv) {
  CBitmap* bitmap = AsBitmap(h);
  if (bitmap == nullptr || pv == nullptr || c < static_cast<int>(sizeof(BITMAP))) {
    return 0;
  }
  BITMAP info{};
  info.bmType = 0;
  info.bmWidth = bitmap->Width();
  info.bmHeight = bitmap->Height();
  info.bmWidthBytes = bitmap->WidthBytes();
  info.bmPlanes = 1;
  info.bmBitsPixel = 1;
  info.bmBits = nullptr;
  std::memcpy(pv, &info, sizeof(info));
  return static_cast<int>(sizeof(info));
}
