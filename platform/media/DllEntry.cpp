// The exports of a filter component library, over the library's g_Templates table.
// Linked statically into each component (halvard_media_dll), so every library has its
// own object counter.

#include "platform/media/FactoryTemplate.h"

namespace {

halvard::media::CModuleCounter g_module;

}  // namespace

HALVARD_COMPONENT_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return halvard::media::GetTemplateClassObject(g_Templates, g_cTemplates, &g_module, clsid, riid, ppv);
}

HALVARD_COMPONENT_EXPORT HRESULT DllCanUnloadNow() { return g_module.CanUnload() ? S_OK : S_FALSE; }

HALVARD_COMPONENT_EXPORT HRESULT DllRegisterServer() {
  return halvard::media::RegisterTemplates(g_Templates, g_cTemplates, TRUE, reinterpret_cast<const void*>(&DllGetClassObject));
}

HALVARD_COMPONENT_EXPORT HRESULT DllUnregisterServer() {
  return halvard::media::RegisterTemplates(g_Templates, g_cTemplates, FALSE,
                                           reinterpret_cast<const void*>(&DllGetClassObject));
}
