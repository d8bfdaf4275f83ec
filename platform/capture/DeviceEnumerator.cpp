#include "platform/capture/DeviceEnumerator.h"

#include <atomic>
#include <cwchar>
#include <functional>
#include <memory>
#include <cwctype>
#include <variant>

#include "platform/audio/AudioDevices.h"
#include "platform/capture/CaptureSource.h"
#include "platform/media/MediaType.h"

namespace halvard::capture {
namespace {

constexpr HRESULT kValueNotFound = HRESULT_FROM_WIN32(2);  // ERROR_FILE_NOT_FOUND
constexpr HRESULT kTypeMismatch = MAKE_HRESULT_CODE(0x80020005);  // DISP_E_TYPEMISMATCH

using Device = std::variant<CaptureDevice, audio::AudioDevice>;

const std::string& NameOf(const Device& d) {
  return std::holds_alternative<CaptureDevice>(d) ? std::get<CaptureDevice>(d).friendlyName
                                                  : std::get<audio::AudioDevice>(d).friendlyName;
}
const std::string& PathOf(const Device& d) {
  return std::holds_alternative<CaptureDevice>(d) ? std::get<CaptureDevice>(d).devicePath
                                                  : std::get<audio::AudioDevice>(d).devicePath;
}

bool EqualsAsciiNoCase(LPCOLESTR a, const wchar_t* b) {
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b))) {
      return false;
    }
  }
  return *a == 0 && *b == 0;
}

// Reference counting shared by the small objects below.
template <class Base>
class CRefCounted : public Base {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --m_refs;
    if (n == 0) {
      delete this;
    }
    return n;
  }

 protected:
  virtual ~CRefCounted() = default;
  // Answers IUnknown and the listed interfaces.
  HRESULT Answer(REFIID riid, void** ppv, std::initializer_list<const IID*> iids) {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<Base*>(this);
    } else {
      for (const IID* iid : iids) {
        if (riid == *iid) {
          *ppv = static_cast<Base*>(this);
          break;
        }
      }
    }
    if (*ppv == nullptr) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

class CDevicePropertyBag final : public CRefCounted<IPropertyBag> {
 public:
  explicit CDevicePropertyBag(Device device) : m_device(std::move(device)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return Answer(riid, ppv, {&IID_IPropertyBag});
  }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* /*errorLog*/) override {
    if (name == nullptr || value == nullptr) {
      return E_POINTER;
    }
    const std::string* text = nullptr;
    if (EqualsAsciiNoCase(name, L"FriendlyName")) {
      text = &NameOf(m_device);
    } else if (EqualsAsciiNoCase(name, L"DevicePath")) {
      text = &PathOf(m_device);
    } else {
      return kValueNotFound;
    }
    if (value->vt != VT_EMPTY && value->vt != VT_BSTR) {
      return kTypeMismatch;
    }
    const std::wstring wide = media::FromUtf8(*text);
    BSTR b = SysAllocString(wide.c_str());
    if (b == nullptr) {
      return E_OUTOFMEMORY;
    }
    value->vt = VT_BSTR;
    value->bstrVal = b;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR /*name*/, VARIANT* /*value*/) override { return E_ACCESSDENIED; }

 private:
  Device m_device;
};

class CDeviceMoniker final : public CRefCounted<IMoniker> {
 public:
  explicit CDeviceMoniker(Device device) : m_device(std::move(device)) {}
  [[nodiscard]] const Device& DeviceOf() const { return m_device; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return Answer(riid, ppv, {&IID_IMoniker, &IID_IPersistStream, &IID_IPersist});
  }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (clsid == nullptr) {
      return E_POINTER;
    }
    *clsid = CLSID_SystemDeviceEnum;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx* /*ctx*/, IMoniker* /*left*/, REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (const auto* video = std::get_if<CaptureDevice>(&m_device)) {
      return CreateCaptureSource(*video, riid, ppv);
    }
    return audio::CreateAudioCaptureSource(std::get<audio::AudioDevice>(m_device), riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx* /*ctx*/, IMoniker* /*left*/, REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    auto* bag = new (std::nothrow) CDevicePropertyBag(m_device);
    if (bag == nullptr) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = bag->QueryInterface(riid, ppv);
    bag->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker** reduced) override {
    if (reduced == nullptr) {
      return E_POINTER;
    }
    *reduced = this;
    AddRef();
    return MAKE_HRESULT_CODE(0x000401E2);  // MK_S_REDUCED_TO_SELF
  }
  HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, BOOL, IMoniker** composite) override {
    if (composite != nullptr) {
      *composite = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker** ppEnum) override {
    if (ppEnum == nullptr) {
      return E_POINTER;
    }
    *ppEnum = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsEqual(IMoniker* other) override {
    if (other == nullptr) {
      return E_INVALIDARG;
    }
    // Compare by display name: works for any moniker of this kind.
    LPOLESTR a = nullptr;
    LPOLESTR b = nullptr;
    HRESULT hr = GetDisplayName(nullptr, nullptr, &a);
    if (SUCCEEDED(hr)) {
      hr = other->GetDisplayName(nullptr, nullptr, &b);
    }
    const bool equal = SUCCEEDED(hr) && std::wcscmp(a, b) == 0;
    CoTaskMemFree(a);
    CoTaskMemFree(b);
    return equal ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Hash(DWORD* hash) override {
    if (hash == nullptr) {
      return E_POINTER;
    }
    *hash = static_cast<DWORD>(std::hash<std::string>()(PathOf(m_device)));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Inverse(IMoniker** inverse) override {
    if (inverse != nullptr) {
      *inverse = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker** prefix) override {
    if (prefix != nullptr) {
      *prefix = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker** path) override {
    if (path != nullptr) {
      *path = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
    if (name == nullptr) {
      return E_POINTER;
    }
    *name = nullptr;
    const std::wstring text = L"@device:pnp:" + media::FromUtf8(PathOf(m_device));
    return media::AllocWideString(text.c_str(), name);
  }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG* eaten, IMoniker** out) override {
    if (eaten != nullptr) {
      *eaten = 0;
    }
    if (out != nullptr) {
      *out = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD* mksys) override {
    if (mksys == nullptr) {
      return E_POINTER;
    }
    *mksys = 0;  // MKSYS_NONE
    return S_FALSE;
  }

 private:
  Device m_device;
};

class CMonikerEnum final : public CRefCounted<IEnumMoniker> {
 public:
  CMonikerEnum(std::shared_ptr<const std::vector<Device>> devices, std::size_t position)
      : m_devices(std::move(devices)), m_position(position) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return Answer(riid, ppv, {&IID_IEnumMoniker});
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
    if (fetched != nullptr) {
      *fetched = 0;
    }
    if (monikers == nullptr || (count > 1 && fetched == nullptr)) {
      return E_POINTER;
    }
    ULONG n = 0;
    while (n < count && m_position < m_devices->size()) {
      auto* m = new (std::nothrow) CDeviceMoniker((*m_devices)[m_position]);
      if (m == nullptr) {
        break;
      }
      monikers[n++] = m;
      ++m_position;
    }
    if (fetched != nullptr) {
      *fetched = n;
    }
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const std::size_t left = m_devices->size() - m_position;
    if (count > left) {
      m_position = m_devices->size();
      return S_FALSE;
    }
    m_position += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    m_position = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** ppEnum) override {
    if (ppEnum == nullptr) {
      return E_POINTER;
    }
    *ppEnum = new (std::nothrow) CMonikerEnum(m_devices, m_position);
    return *ppEnum == nullptr ? E_OUTOFMEMORY : S_OK;
  }

 private:
  std::shared_ptr<const std::vector<Device>> m_devices;
  std::size_t m_position;
};

class CSystemDeviceEnum final : public CRefCounted<ICreateDevEnum> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return Answer(riid, ppv, {&IID_ICreateDevEnum});
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** ppEnum, DWORD /*flags*/) override {
    if (ppEnum == nullptr) {
      return E_POINTER;
    }
    *ppEnum = nullptr;
    auto devices = std::make_shared<std::vector<Device>>();
    if (category == CLSID_VideoInputDeviceCategory) {
      for (CaptureDevice& d : EnumerateCaptureDevices()) {
        devices->emplace_back(std::move(d));
      }
    } else if (category == CLSID_AudioInputDeviceCategory) {
      for (audio::AudioDevice& d : audio::EnumerateAudioInputs()) {
        devices->emplace_back(std::move(d));
      }
    }
    if (devices->empty()) {
      return S_FALSE;
    }
    *ppEnum = new (std::nothrow) CMonikerEnum(std::move(devices), 0);
    return *ppEnum == nullptr ? E_OUTOFMEMORY : S_OK;
  }
};

HRESULT CreateSystemDeviceEnumBuiltin(REFIID riid, void** ppv) { return CreateSystemDeviceEnum(riid, ppv); }

// Walks a category: calls visit(moniker, friendlyName) until it returns true.
template <class Visit>
void WalkCategory(REFCLSID category, Visit visit) {
  ComPtr<ICreateDevEnum> devEnum;
  if (FAILED(CreateSystemDeviceEnum(IID_ICreateDevEnum, devEnum.PutVoid()))) {
    return;
  }
  ComPtr<IEnumMoniker> monikers;
  if (devEnum->CreateClassEnumerator(category, monikers.ReleaseAndGetAddressOf(), 0) != S_OK) {
    return;
  }
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()))) {
      continue;
    }
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    if (SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr))) {
      const std::string name = media::ToUtf8(v.bstrVal);
      VariantClear(&v);
      if (visit(moniker.Get(), name)) {
        return;
      }
    }
  }
}

// The class is registered when the library is loaded.
[[maybe_unused]] const bool kRegistered = [] {
  RegisterCaptureClasses();
  return true;
}();

}  // namespace

HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  auto* e = new (std::nothrow) CSystemDeviceEnum();
  if (e == nullptr) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = e->QueryInterface(riid, ppv);
  e->Release();
  return hr;
}

void RegisterCaptureClasses() {
  com::CoRegisterBuiltinClass(CLSID_SystemDeviceEnum, &CreateSystemDeviceEnumBuiltin);
  audio::RegisterAudioClasses();
}

std::vector<std::string> ListDeviceNames(REFCLSID category) {
  std::vector<std::string> names;
  WalkCategory(category, [&](IMoniker*, const std::string& name) {
    names.push_back(name);
    return false;
  });
  return names;
}

HRESULT FindDeviceFilter(REFCLSID category, const std::string& friendlyName, IBaseFilter** filter) {
  if (filter == nullptr) {
    return E_POINTER;
  }
  *filter = nullptr;
  HRESULT hr = VFW_E_NOT_FOUND;
  WalkCategory(category, [&](IMoniker* moniker, const std::string& name) {
    if (name != friendlyName) {
      return false;
    }
    hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
    return true;
  });
  return hr;
}

}  // namespace halvard::capture
