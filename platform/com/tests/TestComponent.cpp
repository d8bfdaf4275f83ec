// A small component library for the component-model tests: one adder class, one class
// whose factory refuses, the four exports and a live-object/lock count.

#include "platform/com/tests/TestComponent.h"

#include <atomic>
#include <new>

#include "platform/com/ComRegistration.h"

namespace {

std::atomic<LONG> g_objects{0};  // live adders and factories
std::atomic<LONG> g_locks{0};    // LockServer(TRUE) count

template <class Base>
class CRefCounted : public Base {
 public:
  CRefCounted() { ++g_objects; }
  virtual ~CRefCounted() { --g_objects; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) {
      delete this;
    }
    return left;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

class CTestAdder final : public CRefCounted<ITestAdder> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_ITestAdder) {
      *ppv = static_cast<ITestAdder*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* sum) override {
    if (sum == nullptr) {
      return E_POINTER;
    }
    *sum = a + b;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCounts(LONG* objects, LONG* locks) override {
    if (objects == nullptr || locks == nullptr) {
      return E_POINTER;
    }
    *objects = g_objects;
    *locks = g_locks;
    return S_OK;
  }
};

class CTestFactory final : public CRefCounted<IClassFactory> {
 public:
  explicit CTestFactory(bool refuse) : m_refuse(refuse) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr) {
      return CLASS_E_NOAGGREGATION;
    }
    if (m_refuse) {
      return kTestRefusal;
    }
    auto* adder = new (std::nothrow) CTestAdder();
    if (adder == nullptr) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = adder->QueryInterface(riid, ppv);
    adder->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++g_locks;
    } else {
      --g_locks;
    }
    return S_OK;
  }

 private:
  bool m_refuse;
};

}  // namespace

HALVARD_COMPONENT_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  if (clsid != CLSID_TestAdder && clsid != CLSID_TestRefusing) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  auto* factory = new (std::nothrow) CTestFactory(clsid == CLSID_TestRefusing);
  if (factory == nullptr) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

HALVARD_COMPONENT_EXPORT HRESULT DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

HALVARD_COMPONENT_EXPORT HRESULT DllRegisterServer() {
  const void* self = reinterpret_cast<const void*>(&DllRegisterServer);
  HRESULT hr = halvard::com::RegisterClassServer(CLSID_TestAdder, "Test Adder", self);
  if (SUCCEEDED(hr)) {
    hr = halvard::com::RegisterClassServer(CLSID_TestRefusing, "Test Refusing Class", self);
  }
  return hr;
}

HALVARD_COMPONENT_EXPORT HRESULT DllUnregisterServer() {
  const HRESULT adder = halvard::com::UnregisterClassServer(CLSID_TestAdder);
  const HRESULT refusing = halvard::com::UnregisterClassServer(CLSID_TestRefusing);
  return FAILED(adder) ? adder : refusing;
}
