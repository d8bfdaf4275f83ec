#include "platform/media/BuiltinClasses.h"

#include <mutex>

#include "platform/media/Allocator.h"


#include "platform/media/CaptureGraphBuilder.h"
#include "platform/media/ColourConverter.h"
#include "platform/media/FilterGraph.h"
#include "platform/media/SmartTee.h"
#include "platform/media/SnapShot.h"
#include "platform/media/TestSource.h"
#include "platform/media/Unknown.h"
#include "platform/media/VideoRenderer.h"

namespace halvard::media {
namespace {

std::mutex g_knownLock;
std::vector<KnownFilterClass>& Known() {
  static auto* known = new std::vector<KnownFilterClass>;
  return *known;
}

HRESULT CreateMemoryAllocator(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  ComPtr<IMemAllocator> allocator;
  const HRESULT hr = CMemAllocator::Create(allocator.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    return hr;
  }
  return allocator->QueryInterface(riid, ppv);
}

// Runs when the library is loaded: every program linked with the media library can
// create these classes without further set-up.
[[maybe_unused]] const bool g_registered = [] {
  RegisterBuiltinMediaClasses();
  return true;
}();

}  // namespace

void RegisterBuiltinMediaClasses() {
  using halvard::com::CoRegisterBuiltinClass;
  CoRegisterBuiltinClass(CLSID_FilterGraph, &CreateFilterGraph);
  CoRegisterBuiltinClass(CLSID_SystemClock, &CreateSystemClock);
  CoRegisterBuiltinClass(CLSID_CaptureGraphBuilder2, &CreateCaptureGraphBuilder);
  CoRegisterBuiltinClass(CLSID_MemoryAllocator, &CreateMemoryAllocator);
  CoRegisterBuiltinClass(CLSID_SmartTee, &CreateSmartTee);
  CoRegisterBuiltinClass(CLSID_Colour, &CreateColourConverter);
  CoRegisterBuiltinClass(CLSID_VideoRenderer, &CreateVideoRenderer);
  CoRegisterBuiltinClass(CLSID_ZelSnapShot, &CreateSnapShotFilter);
  CoRegisterBuiltinClass(CLSID_HalvardTestSource, &CreateTestSource);
  AddKnownFilterClass(CLSID_SmartTee, "Smart Tee");
  AddKnownFilterClass(CLSID_Colour, "Color Space Converter");
  AddKnownFilterClass(CLSID_VideoRenderer, "Video Renderer");
  AddKnownFilterClass(CLSID_ZelSnapShot, "ZelSnapShot");
  AddKnownFilterClass(CLSID_HalvardTestSource, "Test Source");
}

void AddKnownFilterClass(REFCLSID clsid, std::string_view name) {
  std::lock_guard lock(g_knownLock);
  for (const auto& known : Known()) {
    if (known.clsid == clsid) {
      return;
    }
  }
  Known().push_back(KnownFilterClass{clsid, std::string(name)});
}

std::vector<KnownFilterClass> KnownFilterClasses() {
  std::lock_guard lock(g_knownLock);
  return Known();
}

}  // namespace halvard::media
