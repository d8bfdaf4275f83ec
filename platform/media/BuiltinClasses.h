#pragma once
/// The filter classes and services built into the media library, and the table of known
/// filter classes that tools and the conformance tests walk.
///
/// Registration is automatic: loading the media library (any program linked with
/// halvard_media) makes every class below creatable through CoCreateInstance
/// (halvard::com::CoRegisterBuiltinClass runs from a static initialiser of the
/// library). RegisterBuiltinMediaClasses() does the same again and may be called at
/// start by programs that want it explicit; it is idempotent.
///
/// Built in: CLSID_FilterGraph, CLSID_CaptureGraphBuilder2, CLSID_SmartTee, CLSID_Colour
/// (colour converter YUY2 / RGB24 / RGB32), CLSID_VideoRenderer, CLSID_ZelSnapShot,
/// CLSID_MemoryAllocator, CLSID_HalvardTestSource (colour bars; for tests and tools).

#include <string>
#include <vector>

#include "platform/media/Interfaces.h"

namespace halvard::media {

void RegisterBuiltinMediaClasses();

/// A filter class the system knows: built in, or added by another module.
struct KnownFilterClass {
  CLSID clsid;
  std::string name;
};

/// Makes a filter class known to tools and to the conformance tests (built-in classes of
/// other platform libraries call it next to CoRegisterBuiltinClass). Idempotent.
void AddKnownFilterClass(REFCLSID clsid, std::string_view name);

/// Every known filter class, in the order they were added.
[[nodiscard]] std::vector<KnownFilterClass> KnownFilterClasses();

}  // namespace halvard::media
