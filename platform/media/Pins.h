#pragma once
/// The pins of a filter of one direction (and one by name), for code that builds graphs by hand (the
/// camera pipeline, the playback graph, tools and benchmarks).

#include <string_view>
#include <vector>

#include "platform/media/Interfaces.h"

namespace halvard::media {

/// The filter's pins of one direction, in enumeration order (empty for a null filter or
/// one that cannot enumerate its pins).
[[nodiscard]] inline std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
  std::vector<ComPtr<IPin>> found;
  ComPtr<IEnumPins> pins;
  if (filter == nullptr || FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || !pins) {
    return found;
  }
  IPin* candidate = nullptr;
  while (pins->Next(1, &candidate, nullptr) == S_OK) {
    ComPtr<IPin> owned = ComPtr<IPin>::Attach(candidate);
    PIN_DIRECTION direction{};
    if (SUCCEEDED(owned->QueryDirection(&direction)) && direction == wanted) {
      found.push_back(owned);
    }
  }
  return found;
}

/// The first pin of one direction, or the first of that direction called `name` (null
/// when there is none).
[[nodiscard]] inline ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted, const wchar_t* name = nullptr) {
  for (ComPtr<IPin>& pin : PinsOf(filter, wanted)) {
    if (name == nullptr) {
      return pin;
    }
    PIN_INFO info{};
    if (SUCCEEDED(pin->QueryPinInfo(&info))) {
      if (info.pFilter != nullptr) {
        info.pFilter->Release();
      }
      if (std::wstring_view(info.achName) == name) {
        return pin;
      }
    }
  }
  return {};
}

}  // namespace halvard::media
