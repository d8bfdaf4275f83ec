#pragma once
/// Reference counting shared by the stand-in's objects. The object starts with one
/// reference (the creator's) and deletes itself at the last Release.

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/com/Com.h"

namespace halvard::wmf {

template <class... Interfaces>
class CComObject : public Interfaces... {
 public:
  CComObject() = default;
  CComObject(const CComObject&) = delete;
  CComObject& operator=(const CComObject&) = delete;
  virtual ~CComObject() = default;

  ULONG AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
      delete this;
    }
    return left;
  }

 protected:
  /// Hands out `self` as the requested interface with a new reference.
  template <class T>
  HRESULT Hand(T* self, void** ppv) {
    *ppv = self;
    AddRef();
    return S_OK;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

/// Copies text into a size-query buffer (length in characters with the terminator).
template <class Length>
HRESULT CopyText(const std::string& text, char* buffer, Length* length) {
  if (length == nullptr) {
    return E_POINTER;
  }
  const auto needed = static_cast<Length>(text.size() + 1);
  if (buffer == nullptr) {
    *length = needed;
    return S_OK;
  }
  if (*length < needed) {
    *length = needed;
    return MAKE_HRESULT_CODE(0xC00D07F0);  // ASF_E_BUFFERTOOSMALL
  }
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = '\0';
  *length = needed;
  return S_OK;
}

}  // namespace halvard::wmf
