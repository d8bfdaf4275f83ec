#include "platform/media/Types.h"

#include <cstdlib>
#include <cstring>

namespace {

// A BSTR points just past an 8-byte header whose first four bytes hold the length in
// bytes (as on Windows, which counts bytes, not characters).
constexpr std::size_t kBstrHeader = 8;

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  auto* block = static_cast<BYTE*>(std::malloc(kBstrHeader + (static_cast<std::size_t>(length) + 1) * sizeof(OLECHAR)));
  if (block == nullptr) {
    return nullptr;
  }
  const UINT bytes = length * static_cast<UINT>(sizeof(OLECHAR));
  std::memcpy(block, &bytes, sizeof(bytes));
  auto* str = reinterpret_cast<OLECHAR*>(block + kBstrHeader);
  if (text != nullptr) {
    std::memcpy(str, text, length * sizeof(OLECHAR));
  } else {
    std::memset(str, 0, length * sizeof(OLECHAR));
  }
  str[length] = 0;
  return str;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) {
    return nullptr;
  }
  return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

void SysFreeString(BSTR text) {
  if (text != nullptr) {
    std::free(reinterpret_cast<BYTE*>(text) - kBstrHeader);
  }
}

UINT SysStringLen(BSTR text) {
  if (text == nullptr) {
    return 0;
  }
  UINT bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<BYTE*>(text) - kBstrHeader, sizeof(bytes));
  return bytes / static_cast<UINT>(sizeof(OLECHAR));
}

void VariantInit(VARIANT* v) {
  if (v != nullptr) {
    std::memset(v, 0, sizeof(*v));
    v->vt = VT_EMPTY;
  }
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) {
    return E_POINTER;
  }
  if (v->vt == VT_BSTR) {
    SysFreeString(v->bstrVal);
  } else if (v->vt == VT_UNKNOWN && v->punkVal != nullptr) {
    v->punkVal->Release();
  }
  VariantInit(v);
  return S_OK;
}

namespace halvard::media {

std::string ToUtf8(const wchar_t* text) {
  std::string out;
  if (text == nullptr) {
    return out;
  }
  for (; *text != 0; ++text) {
    auto c = static_cast<std::uint32_t>(*text);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  std::wstring out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::uint32_t c = 0xFFFD;
    std::size_t n = 1;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      n = 2;
    } else if ((b & 0xF0) == 0xE0) {
      n = 3;
    } else if ((b & 0xF8) == 0xF0) {
      n = 4;
    }
    if (n > 1) {
      if (i + n > text.size()) {
        n = 1;
      } else {
        c = b & (0xFF >> (n + 1));
        for (std::size_t k = 1; k < n; ++k) {
          const auto cb = static_cast<unsigned char>(text[i + k]);
          if ((cb & 0xC0) != 0x80) {
            c = 0xFFFD;
            n = 1;
            break;
          }
          c = (c << 6) | (cb & 0x3F);
        }
      }
    }
    out.push_back(static_cast<wchar_t>(c));
    i += n;
  }
  return out;
}

HRESULT AllocWideString(const wchar_t* text, LPWSTR* out) {
  if (out == nullptr) {
    return E_POINTER;
  }
  *out = nullptr;
  const std::size_t len = text == nullptr ? 0 : std::wcslen(text);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((len + 1) * sizeof(wchar_t)));
  if (copy == nullptr) {
    return E_OUTOFMEMORY;
  }
  if (len > 0) {
    std::memcpy(copy, text, len * sizeof(wchar_t));
  }
  copy[len] = 0;
  *out = copy;
  return S_OK;
}

}  // namespace halvard::media
