#include "platform/media/Unknown.h"

#include "platform/media/FactoryTemplate.h"

namespace {

std::atomic<LONG> g_objectsActive{0};

}  // namespace

namespace halvard::media::detail {
// The counter of the component library whose factory is creating an object on this
// thread (set by the factory around CreateInstance).
thread_local std::atomic<LONG>* t_creatingModule = nullptr;
}  // namespace halvard::media::detail

CBaseObject::CBaseObject(LPCTSTR /*name*/) : m_moduleCount(halvard::media::detail::t_creatingModule) {
  g_objectsActive.fetch_add(1);
  if (m_moduleCount != nullptr) {
    m_moduleCount->fetch_add(1);
  }
}

CBaseObject::~CBaseObject() {
  if (m_moduleCount != nullptr) {
    m_moduleCount->fetch_sub(1);
  }
  g_objectsActive.fetch_sub(1);
}

LONG CBaseObject::ObjectsActive() { return g_objectsActive.load(); }

CUnknown::CUnknown(LPCTSTR name, LPUNKNOWN outer) : CBaseObject(name), m_owner(outer != nullptr ? outer : &m_inner) {}

CUnknown::CUnknown(LPCTSTR name, LPUNKNOWN outer, HRESULT* /*phr*/) : CUnknown(name, outer) {}

CUnknown::~CUnknown() = default;

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  if (riid == IID_IUnknown) {
    return GetInterface(&m_inner, ppv);
  }
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

ULONG CUnknown::NonDelegatingRelease() {
  const LONG count = m_cRef.fetch_sub(1) - 1;
  if (count == 0) {
    // Guard against re-entry: a destructor that AddRefs and Releases this object must
    // not delete it twice.
    m_cRef.store(1);
    delete this;
    return 0;
  }
  return static_cast<ULONG>(count);
}

HRESULT GetInterface(IUnknown* unknown, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = unknown;
  unknown->AddRef();
  return S_OK;
}
