#include "platform/base/Text.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace halvard::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at data[i], advancing i. Invalid or overlong sequences and
// encoded surrogates yield U+FFFD and consume one byte.
char32_t DecodeOne(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2; cp = b0 & 0x1F; min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3; cp = b0 & 0x0F; min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4; cp = b0 & 0x07; min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + len > s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += len;
  return cp;
}

void EncodeOne(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The C.UTF-8 locale gives the Unicode simple case mappings whatever locale the
// process runs in; created once and never freed (it lives as long as the process).
locale_t CaseLocale() {
  static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return loc;
}

char32_t Upper(char32_t cp) {
  if (cp < 0x80) {
    return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
  }
  const locale_t loc = CaseLocale();
  if (loc == static_cast<locale_t>(nullptr)) {
    return cp;
  }
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), loc));
}

}  // namespace

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    n += DecodeOne(utf8, i) >= 0x10000 ? 2 : 1;
  }
  return n;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = DecodeOne(utf8, i);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 | (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 | (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    EncodeOne(cp, out);
  }
  return out;
}

std::vector<BYTE> ToWideBytes(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  std::vector<BYTE> bytes((wide.size() + 1) * 2, 0);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    bytes[2 * i] = static_cast<BYTE>(wide[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<BYTE>(wide[i] >> 8);
  }
  return bytes;
}

std::string FromWideBytes(const BYTE* data, std::size_t size) {
  std::u16string wide;
  if (data != nullptr) {
    for (std::size_t i = 0; i + 1 < size; i += 2) {
      const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
      if (unit == 0) {
        break;
      }
      wide.push_back(unit);
    }
  }
  return Utf16ToUtf8(wide);
}

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    EncodeOne(Upper(DecodeOne(utf8, i)), out);
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return FoldCase(a) == FoldCase(b);
}

int CompareNoCase(std::string_view a, std::string_view b) {
  return FoldCase(a).compare(FoldCase(b));
}

}  // namespace halvard::text
