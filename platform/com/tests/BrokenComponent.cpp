// A library that looks like a component but is not a usable one: it has no
// DllGetClassObject and no DllUnregisterServer, and its DllRegisterServer fails.

#include "platform/com/Com.h"

HALVARD_COMPONENT_EXPORT HRESULT DllRegisterServer() { return SELFREG_E_CLASS; }

HALVARD_COMPONENT_EXPORT HRESULT DllCanUnloadNow() { return S_OK; }
