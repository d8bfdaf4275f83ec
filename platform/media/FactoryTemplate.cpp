#include "platform/media/FactoryTemplate.h"

namespace halvard::media::detail {
extern thread_local std::atomic<LONG>* t_creatingModule;
}  // namespace halvard::media::detail

CUnknown* CFactoryTemplate::CreateInstance(LPUNKNOWN outer, HRESULT* phr) const {
  HRESULT hr = S_OK;
  CUnknown* object = m_lpfnNew(outer, &hr);
  if (object == nullptr && SUCCEEDED(hr)) {
    hr = E_OUTOFMEMORY;
  }
  if (object != nullptr && FAILED(hr)) {
    // A constructor that reported failure: the object is not usable.
    object->NonDelegatingAddRef();
    object->NonDelegatingRelease();
    object = nullptr;
  }
  if (phr != nullptr) {
    *phr = hr;
  }
  return object;
}

namespace halvard::media {
namespace {

class CClassFactory final : public IClassFactory {
 public:
  CClassFactory(const CFactoryTemplate* entry, CModuleCounter* counter) : m_entry(entry), m_counter(counter) {
    m_counter->locks.fetch_add(1);  // a live factory keeps its library
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }
  ULONG Release() override {
    const LONG count = m_cRef.fetch_sub(1) - 1;
    if (count == 0) {
      delete this;
    }
    return static_cast<ULONG>(count);
  }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr && riid != IID_IUnknown) {
      return E_NOINTERFACE;
    }
    auto* previous = detail::t_creatingModule;
    detail::t_creatingModule = &m_counter->objects;
    HRESULT hr = S_OK;
    CUnknown* object = m_entry->CreateInstance(outer, &hr);
    detail::t_creatingModule = previous;
    if (object == nullptr) {
      return FAILED(hr) ? hr : E_OUTOFMEMORY;
    }
    object->NonDelegatingAddRef();
    hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
  }

  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      m_counter->locks.fetch_add(1);
    } else {
      m_counter->locks.fetch_sub(1);
    }
    return S_OK;
  }

 private:
  ~CClassFactory() { m_counter->locks.fetch_sub(1); }
  std::atomic<LONG> m_cRef{1};
  const CFactoryTemplate* m_entry;
  CModuleCounter* m_counter;
};

}  // namespace

HRESULT GetTemplateClassObject(const CFactoryTemplate* templates, int count, CModuleCounter* counter, REFCLSID clsid,
                               REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) {
    return E_NOINTERFACE;
  }
  for (int i = 0; i < count; ++i) {
    if (templates[i].IsClassID(clsid) && templates[i].m_lpfnNew != nullptr) {
      auto* factory = new (std::nothrow) CClassFactory(&templates[i], counter);
      if (factory == nullptr) {
        return E_OUTOFMEMORY;
      }
      *ppv = static_cast<IClassFactory*>(factory);
      return S_OK;
    }
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT RegisterTemplates(const CFactoryTemplate* templates, int count, BOOL doRegister, const void* addressInModule) {
  HRESULT result = S_OK;
  for (int i = 0; i < count; ++i) {
    const CFactoryTemplate& entry = templates[i];
    HRESULT hr = S_OK;
    if (doRegister) {
      if (entry.m_pAMovieSetup_Filter != nullptr) {
        hr = com::RegisterFilter(*entry.m_pAMovieSetup_Filter, addressInModule);
      } else {
        hr = com::RegisterClassServer(*entry.m_ClsID, ToUtf8(entry.m_Name), addressInModule);
      }
    } else {
      hr = entry.m_pAMovieSetup_Filter != nullptr ? com::UnregisterFilter(*entry.m_ClsID)
                                                   : com::UnregisterClassServer(*entry.m_ClsID);
    }
    if (FAILED(hr)) {
      result = hr;
      if (doRegister) {
        // Leave nothing half registered.
        for (int k = 0; k < i; ++k) {
          (void)(templates[k].m_pAMovieSetup_Filter != nullptr ? com::UnregisterFilter(*templates[k].m_ClsID)
                                                                : com::UnregisterClassServer(*templates[k].m_ClsID));
        }
        return result;
      }
    }
  }
  return result;
}

HRESULT CreateFromTemplate(const CFactoryTemplate& entry, REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  HRESULT hr = S_OK;
  CUnknown* object = entry.CreateInstance(nullptr, &hr);
  if (object == nullptr) {
    return FAILED(hr) ? hr : E_OUTOFMEMORY;
  }
  object->NonDelegatingAddRef();
  hr = object->NonDelegatingQueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  return hr;
}

}  // namespace halvard::media
