#pragma once
/// Component-library plumbing for filter libraries: the class-factory template table and
/// the exports DllGetClassObject, DllCanUnloadNow, DllRegisterServer and
/// DllUnregisterServer.
///
/// A component library defines its table and links halvard_media_dll:
///
///   static CUnknown* CreateMotion(LPUNKNOWN outer, HRESULT* phr) { return new CMotionFilter(outer, phr); }
///   CFactoryTemplate g_Templates[] = {
///     {L"ZelMotion Filter", &CLSID_ZelMotion, CreateMotion, nullptr, &kSetupFilter},
///   };
///   int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
///
/// halvard_media_dll then provides the four exports: DllGetClassObject gives a class
/// factory for each template, DllCanUnloadNow answers S_OK when no object created
/// through the factories (nor a locked factory) is alive, DllRegisterServer registers
/// every template that has setup data as a filter (RegisterFilter of ComRegistration.h,
/// in the legacy filter category) and the others as plain classes;
/// DllUnregisterServer removes them. A library that needs other registration does not
/// link halvard_media_dll and writes its own exports with the helpers below.

#include "platform/com/ComRegistration.h"
#include "platform/media/Unknown.h"

using LPFNNewCOMObject = CUnknown* (*)(LPUNKNOWN outer, HRESULT* phr);
using LPFNInitRoutine = void (*)(BOOL loading, const CLSID* clsid);

struct CFactoryTemplate {
  const WCHAR* m_Name;
  const CLSID* m_ClsID;
  LPFNNewCOMObject m_lpfnNew;
  LPFNInitRoutine m_lpfnInit;
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

  [[nodiscard]] BOOL IsClassID(REFCLSID clsid) const { return *m_ClsID == clsid ? TRUE : FALSE; }
  /// Calls m_lpfnNew; null with *phr set on failure.
  CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr) const;
};

namespace halvard::media {

/// Object counter of one component library. Objects derived from CBaseObject that are
/// constructed while a factory of the library runs CreateInstance count on it until
/// they are destroyed.
class CModuleCounter {
 public:
  std::atomic<LONG> objects{0};
  std::atomic<LONG> locks{0};
  [[nodiscard]] bool CanUnload() const { return objects.load() == 0 && locks.load() == 0; }
};

/// A class factory over a template table entry; counts its objects on counter.
/// Returns S_OK and the factory in *ppv, or CLASS_E_CLASSNOTAVAILABLE when no template
/// has clsid.
HRESULT GetTemplateClassObject(const CFactoryTemplate* templates, int count, CModuleCounter* counter, REFCLSID clsid,
                               REFIID riid, void** ppv);

/// Registers (TRUE) or unregisters (FALSE) every template of the table, with the
/// library found from addressInModule.
HRESULT RegisterTemplates(const CFactoryTemplate* templates, int count, BOOL doRegister,
                          const void* addressInModule);

/// Creates an object of a template table directly (built-in classes): CoRegisterBuiltinClass
/// creators use it.
HRESULT CreateFromTemplate(const CFactoryTemplate& entry, REFIID riid, void** ppv);

}  // namespace halvard::media

// Defined by each component library that links halvard_media_dll.
extern CFactoryTemplate g_Templates[];
extern int g_cTemplates;
