#pragma once
/// The part of the Windows graphics interface that the time stamp needs: fonts, memory
/// device contexts and monochrome bitmaps, text measurement and output, and reading a
/// bitmap's bits. Fonts are rendered monochrome with FreeType from the face that
/// fontconfig picks for the requested name ("Arial" resolves to Liberation Sans); the
/// stock fixed font is a built-in 8 x 13 cell font that needs no file.
///
/// Objects are not shared between threads without the caller's own locking, except
/// fonts, whose glyph cache is locked internally. Monochrome bitmaps hold 1 for white and
/// 0 for black, most significant bit leftmost, rows padded to 16 bits as the platform's
/// device-dependent bitmaps are (BITMAP::bmWidthBytes).

#include "platform/base/WinTypes.h"

namespace halvard::gdi {
class CGdiObject;
class CDeviceContext;
}  // namespace halvard::gdi

using HGDIOBJ = halvard::gdi::CGdiObject*;
using HFONT = halvard::gdi::CGdiObject*;
using HBITMAP = halvard::gdi::CGdiObject*;
using HDC = halvard::gdi::CDeviceContext*;

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  void* bmBits;
};

constexpr int FW_DONTCARE = 0;
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr DWORD ANSI_CHARSET = 0;
constexpr DWORD DEFAULT_CHARSET = 1;
constexpr DWORD OUT_DEFAULT_PRECIS = 0;
constexpr DWORD CLIP_DEFAULT_PRECIS = 0;
constexpr DWORD DEFAULT_QUALITY = 0;
constexpr DWORD NONANTIALIASED_QUALITY = 3;
constexpr DWORD DEFAULT_PITCH = 0;
constexpr DWORD FF_DONTCARE = 0;
constexpr int ANSI_FIXED_FONT = 11;
constexpr int SYSTEM_FIXED_FONT = 16;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

/// Creates a logical font. cHeight < 0 asks for a character (em) height of -cHeight
/// pixels, cHeight > 0 for a cell height (ascent + descent), 0 for 12 pixels. cWidth,
/// escapement, orientation, italic, underline, strike-out, character set, precisions,
/// quality and pitch are accepted and ignored (text is always upright and monochrome).
/// Returns null when no face can be found or loaded for the name.
HFONT CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight, DWORD bItalic,
                  DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet, DWORD iOutPrecision, DWORD iClipPrecision,
                  DWORD iQuality, DWORD iPitchAndFamily, const char* pszFaceName);

/// ANSI_FIXED_FONT and SYSTEM_FIXED_FONT: the built-in fixed font (never null, never
/// deleted by DeleteObject). Other values: null.
HGDIOBJ GetStockObject(int i);

/// A memory device context with the built-in fixed font and a 1 x 1 monochrome bitmap
/// selected. The argument is ignored (every context is a memory context).
HDC CreateCompatibleDC(HDC hdc);
/// Deletes the context; selected objects stay with their owner.
BOOL DeleteDC(HDC hdc);

/// Selects a font or a bitmap; returns the object of that kind selected before, or null
/// for a null context or object. A bitmap can be selected into one context at a time.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
/// Deletes a font or bitmap that is not selected anywhere (FALSE while selected, and
/// for stock objects, which live for the process).
BOOL DeleteObject(HGDIOBJ h);

/// Width (sum of the glyph advances) and height (ascent + descent) of the first c bytes
/// of the text in the selected font. FALSE for a null context, text or size, or c < 0.
BOOL GetTextExtentPoint32A(HDC hdc, const char* lpString, int c, SIZE* psizl);

/// A monochrome bitmap of cx x cy pixels, initially black (memory contexts hold
/// monochrome bitmaps); 1 x 1 when either side is 0; null when negative or too large.
HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy);

/// Fills a rectangle of the selected bitmap with WHITENESS or BLACKNESS (other raster
/// operations: FALSE), clipped to the bitmap.
BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop);

/// Draws the text with its top-left at x, y: black glyphs on an opaque white box of the
/// text's extent, clipped to the selected bitmap. Bytes are Latin-1 characters.
BOOL TextOutA(HDC hdc, int x, int y, const char* lpString, int c);

/// Copies up to cb bytes of the bitmap's rows (bmWidthBytes each, top row first); returns
/// the number of bytes copied, 0 on a null or non-bitmap object.
LONG GetBitmapBits(HBITMAP hbit, LONG cb, void* lpvBits);

/// Fills a BITMAP (bmBits null) for a bitmap object; returns the bytes written, 0 for
/// other objects or a buffer smaller than BITMAP.
int GetObjectA(HGDIOBJ h, int c, void* pv);
