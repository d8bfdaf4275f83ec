#pragma once
/// The pins of a filter of one direction, for code that builds graphs by hand (the
/// camera pipeline, the playback graph, tools and benchmarks).

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

}  // namespace halvard::media
