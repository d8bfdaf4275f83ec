#pragma once
/// The body every built-in class's creation function shares: a new object, then the
/// interface asked for. Internal to the media layer's class implementations.

#include <new>
#include <utility>

#include "platform/com/Com.h"

namespace halvard::media {

/// new T(args...) and its interface riid. Results: E_POINTER (ppv null); E_OUTOFMEMORY;
/// else the object's QueryInterface result (S_OK, E_NOINTERFACE). *ppv is cleared first;
/// an object whose interface is refused dies at once.
template <class T, class... Args>
[[nodiscard]] HRESULT CreateObject(REFIID riid, void** ppv, Args&&... args) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  auto* object = new (std::nothrow) T(std::forward<Args>(args)...);
  if (object == nullptr) {
    return E_OUTOFMEMORY;
  }
  object->NonDelegatingAddRef();
  const HRESULT hr = object->NonDelegatingQueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  return hr;
}

}  // namespace halvard::media
