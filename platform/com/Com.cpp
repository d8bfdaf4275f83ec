#include "platform/com/Com.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/base/Text.h"
#include "platform/registry/Registry.h"

namespace halvard::com {

// ---- GUID text ---------------------------------------------------------------------

std::string FormatGuid(const GUID& guid) {
  char text[39];
  std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
                guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Reads `digits` hexadecimal digits at text[pos]; false on any other character.
bool ReadHex(std::string_view text, std::size_t pos, int digits, std::uint32_t* value) {
  std::uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = HexDigit(text[pos + static_cast<std::size_t>(i)]);
    if (d < 0) {
      return false;
    }
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

bool ParseGuid(std::string_view text, GUID* guid) {
  if (guid == nullptr) {
    return false;
  }
  *guid = GUID_NULL;
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: 38 characters, dashes at 9, 14, 19, 24.
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
      text[19] != '-' || text[24] != '-') {
    return false;
  }
  GUID g{};
  std::uint32_t v = 0;
  if (!ReadHex(text, 1, 8, &v)) {
    return false;
  }
  g.Data1 = v;
  if (!ReadHex(text, 10, 4, &v)) {
    return false;
  }
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!ReadHex(text, 15, 4, &v)) {
    return false;
  }
  g.Data3 = static_cast<std::uint16_t>(v);
  static constexpr std::size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, kBytePos[i], 2, &v)) {
      return false;
    }
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  *guid = g;
  return true;
}

// ---- result names ------------------------------------------------------------------

std::string ResultName(HRESULT hr) {
  // VFW_E_INVALIDSUBTYPE and SELFREG_E_CLASS share 0x80040201 (both interface-specific
  // codes); the media name is returned because media code reports it far more often.
#define HALVARD_RESULT(code) \
  case code:                 \
    return #code;
  switch (hr) {
    HALVARD_RESULT(S_OK)
    HALVARD_RESULT(S_FALSE)
    HALVARD_RESULT(E_NOTIMPL)
    HALVARD_RESULT(E_NOINTERFACE)
    HALVARD_RESULT(E_POINTER)
    HALVARD_RESULT(E_ABORT)
    HALVARD_RESULT(E_FAIL)
    HALVARD_RESULT(E_UNEXPECTED)
    HALVARD_RESULT(E_ACCESSDENIED)
    HALVARD_RESULT(E_HANDLE)
    HALVARD_RESULT(E_OUTOFMEMORY)
    HALVARD_RESULT(E_INVALIDARG)
    HALVARD_RESULT(CLASS_E_NOAGGREGATION)
    HALVARD_RESULT(CLASS_E_CLASSNOTAVAILABLE)
    HALVARD_RESULT(REGDB_E_CLASSNOTREG)
    HALVARD_RESULT(REGDB_E_READREGDB)
    HALVARD_RESULT(REGDB_E_WRITEREGDB)
    HALVARD_RESULT(CO_E_NOTINITIALIZED)
    HALVARD_RESULT(CO_E_DLLNOTFOUND)
    HALVARD_RESULT(CO_E_ERRORINDLL)
    HALVARD_RESULT(VFW_S_NO_MORE_ITEMS)
    HALVARD_RESULT(VFW_S_DUPLICATE_NAME)
    HALVARD_RESULT(VFW_S_STATE_INTERMEDIATE)
    HALVARD_RESULT(VFW_S_PARTIAL_RENDER)
    HALVARD_RESULT(VFW_S_SOME_DATA_IGNORED)
    HALVARD_RESULT(VFW_S_CONNECTIONS_DEFERRED)
    HALVARD_RESULT(VFW_S_RESOURCE_NOT_NEEDED)
    HALVARD_RESULT(VFW_S_MEDIA_TYPE_IGNORED)
    HALVARD_RESULT(VFW_S_VIDEO_NOT_RENDERED)
    HALVARD_RESULT(VFW_S_AUDIO_NOT_RENDERED)
    HALVARD_RESULT(VFW_S_ESTIMATED)
    HALVARD_RESULT(VFW_S_CANT_CUE)
    HALVARD_RESULT(VFW_S_NO_STOP_TIME)
    HALVARD_RESULT(VFW_E_INVALIDMEDIATYPE)
    HALVARD_RESULT(VFW_E_INVALIDSUBTYPE)
    HALVARD_RESULT(VFW_E_NEED_OWNER)
    HALVARD_RESULT(VFW_E_ENUM_OUT_OF_SYNC)
    HALVARD_RESULT(VFW_E_ALREADY_CONNECTED)
    HALVARD_RESULT(VFW_E_FILTER_ACTIVE)
    HALVARD_RESULT(VFW_E_NO_TYPES)
    HALVARD_RESULT(VFW_E_NO_ACCEPTABLE_TYPES)
    HALVARD_RESULT(VFW_E_INVALID_DIRECTION)
    HALVARD_RESULT(VFW_E_NOT_CONNECTED)
    HALVARD_RESULT(VFW_E_NO_ALLOCATOR)
    HALVARD_RESULT(VFW_E_RUNTIME_ERROR)
    HALVARD_RESULT(VFW_E_BUFFER_NOTSET)
    HALVARD_RESULT(VFW_E_BUFFER_OVERFLOW)
    HALVARD_RESULT(VFW_E_BADALIGN)
    HALVARD_RESULT(VFW_E_ALREADY_COMMITTED)
    HALVARD_RESULT(VFW_E_BUFFERS_OUTSTANDING)
    HALVARD_RESULT(VFW_E_NOT_COMMITTED)
    HALVARD_RESULT(VFW_E_SIZENOTSET)
    HALVARD_RESULT(VFW_E_NO_CLOCK)
    HALVARD_RESULT(VFW_E_NO_SINK)
    HALVARD_RESULT(VFW_E_NO_INTERFACE)
    HALVARD_RESULT(VFW_E_NOT_FOUND)
    HALVARD_RESULT(VFW_E_CANNOT_CONNECT)
    HALVARD_RESULT(VFW_E_CANNOT_RENDER)
    HALVARD_RESULT(VFW_E_CHANGING_FORMAT)
    HALVARD_RESULT(VFW_E_STATE_CHANGED)
    HALVARD_RESULT(VFW_E_NOT_STOPPED)
    HALVARD_RESULT(VFW_E_NOT_PAUSED)
    HALVARD_RESULT(VFW_E_NOT_RUNNING)
    HALVARD_RESULT(VFW_E_WRONG_STATE)
    HALVARD_RESULT(VFW_E_START_TIME_AFTER_END)
    HALVARD_RESULT(VFW_E_INVALID_RECT)
    HALVARD_RESULT(VFW_E_TYPE_NOT_ACCEPTED)
    HALVARD_RESULT(VFW_E_SAMPLE_REJECTED)
    HALVARD_RESULT(VFW_E_SAMPLE_REJECTED_EOS)
    HALVARD_RESULT(VFW_E_DUPLICATE_NAME)
    HALVARD_RESULT(VFW_E_TIMEOUT)
    HALVARD_RESULT(VFW_E_INVALID_FILE_FORMAT)
    HALVARD_RESULT(VFW_E_ENUM_OUT_OF_RANGE)
    HALVARD_RESULT(VFW_E_CIRCULAR_GRAPH)
    HALVARD_RESULT(VFW_E_UNKNOWN_FILE_TYPE)
    HALVARD_RESULT(VFW_E_CANNOT_LOAD_SOURCE_FILTER)
    HALVARD_RESULT(VFW_E_INVALID_CLSID)
    HALVARD_RESULT(VFW_E_INVALID_MEDIA_TYPE)
    HALVARD_RESULT(VFW_E_SAMPLE_TIME_NOT_SET)
    HALVARD_RESULT(VFW_E_MEDIA_TIME_NOT_SET)
    HALVARD_RESULT(VFW_E_NO_TIME_FORMAT_SET)
    HALVARD_RESULT(VFW_E_NO_AUDIO_HARDWARE)
    HALVARD_RESULT(VFW_E_NOT_IN_GRAPH)
    HALVARD_RESULT(VFW_E_NO_TIME_FORMAT)
    HALVARD_RESULT(VFW_E_READ_ONLY)
    HALVARD_RESULT(VFW_E_BUFFER_UNDERFLOW)
    HALVARD_RESULT(VFW_E_UNSUPPORTED_STREAM)
    HALVARD_RESULT(VFW_E_NO_CAPTURE_HARDWARE)
    HALVARD_RESULT(NS_E_AUDIO_CODEC_NOT_INSTALLED)
    HALVARD_RESULT(NS_E_VIDEO_CODEC_NOT_INSTALLED)
    default:
      break;
  }
#undef HALVARD_RESULT
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<std::uint32_t>(hr));
  return text;
}

}  // namespace halvard::com

namespace {

using halvard::com::BuiltinCreator;
using halvard::com::GuidHash;

// ---- thread initialisation -----------------------------------------------------------

thread_local int t_initCount = 0;
thread_local std::string t_lastLibraryError;
std::atomic<int> g_initialisedThreads{0};

// ---- built-in classes ------------------------------------------------------------------

std::mutex g_builtinMutex;

std::unordered_map<GUID, BuiltinCreator, GuidHash>& BuiltinClasses() {
  static auto* classes = new std::unordered_map<GUID, BuiltinCreator, GuidHash>();  // lives until exit
  return *classes;
}

BuiltinCreator FindBuiltin(REFCLSID clsid) {
  const std::lock_guard lock(g_builtinMutex);
  const auto it = BuiltinClasses().find(clsid);
  return it == BuiltinClasses().end() ? nullptr : it->second;
}

/// The class factory handed out for a built-in class by CoGetClassObject.
class CBuiltinClassFactory final : public IClassFactory {
 public:
  explicit CBuiltinClassFactory(BuiltinCreator creator) : m_creator(creator) {}

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
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) {
      delete this;
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr) {
      return CLASS_E_NOAGGREGATION;
    }
    return m_creator(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL /*lock*/) override { return S_OK; }  // the process is the server

 private:
  ~CBuiltinClassFactory() = default;
  BuiltinCreator m_creator;
  std::atomic<ULONG> m_refs{1};
};

// ---- component libraries ---------------------------------------------------------------

struct LoadedLibrary {
  std::string path;
  void* handle = nullptr;
  PfnDllGetClassObject getClassObject = nullptr;
  PfnDllCanUnloadNow canUnloadNow = nullptr;
  int busy = 0;  // creations calling into the library right now (guarded by g_libraryMutex)
};

// Guards the table only; never held while a component's code runs (dlopen runs the
// library's constructors, which may themselves create objects).
std::mutex g_libraryMutex;

std::map<std::string, std::shared_ptr<LoadedLibrary>>& Libraries() {
  static auto* libraries = new std::map<std::string, std::shared_ptr<LoadedLibrary>>();  // lives until exit
  return *libraries;
}

/// Reads HKCR\CLSID\{clsid}\InprocServer32's default value.
HRESULT LibraryPathOf(REFCLSID clsid, std::string* path) {
  path->clear();
  const std::string subKey = "CLSID\\" + halvard::com::FormatGuid(clsid) + "\\InprocServer32";
  HKEY key = nullptr;
  LONG rc = RegOpenKeyEx(HKEY_CLASSES_ROOT, subKey, 0, KEY_READ, &key);
  if (rc == ERROR_FILE_NOT_FOUND) {
    return REGDB_E_CLASSNOTREG;
  }
  if (rc != ERROR_SUCCESS) {
    return REGDB_E_READREGDB;
  }
  DWORD type = 0;
  DWORD size = 0;
  rc = RegQueryValueEx(key, "", &type, nullptr, &size);
  std::vector<BYTE> data;
  if (rc == ERROR_SUCCESS && size > 0) {
    data.resize(size);
    rc = RegQueryValueEx(key, "", &type, data.data(), &size);
    data.resize(size);
  }
  RegCloseKey(key);
  if (rc == ERROR_FILE_NOT_FOUND) {
    return REGDB_E_CLASSNOTREG;
  }
  if (rc != ERROR_SUCCESS) {
    return REGDB_E_READREGDB;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    return REGDB_E_CLASSNOTREG;
  }
  *path = halvard::text::FromWideBytes(data.data(), data.size());
  return path->empty() ? REGDB_E_CLASSNOTREG : S_OK;
}

/// The loaded library at `path`, loading it on first use; marks it busy for the caller,
/// who must call Unbusy afterwards.
HRESULT AcquireLibrary(const std::string& path, std::shared_ptr<LoadedLibrary>* out) {
  {
    const std::lock_guard lock(g_libraryMutex);
    const auto it = Libraries().find(path);
    if (it != Libraries().end()) {
      ++it->second->busy;
      *out = it->second;
      return S_OK;
    }
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    t_lastLibraryError = why != nullptr ? why : path + ": cannot be loaded";
    return CO_E_DLLNOTFOUND;
  }
  auto getClassObject = reinterpret_cast<PfnDllGetClassObject>(dlsym(handle, "DllGetClassObject"));
  if (getClassObject == nullptr) {
    t_lastLibraryError = path + ": no DllGetClassObject export";
    dlclose(handle);
    return CO_E_ERRORINDLL;
  }
  auto library = std::make_shared<LoadedLibrary>();
  library->path = path;
  library->handle = handle;
  library->getClassObject = getClassObject;
  library->canUnloadNow = reinterpret_cast<PfnDllCanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
  library->busy = 1;
  {
    const std::lock_guard lock(g_libraryMutex);
    const auto [it, inserted] = Libraries().emplace(path, library);
    if (inserted) {
      *out = library;
      return S_OK;
    }
    // Another thread loaded it meanwhile: use its entry; our dlopen reference goes
    // below (the loader counts references, so the library stays mapped).
    ++it->second->busy;
    *out = it->second;
  }
  dlclose(handle);
  return S_OK;
}

void Unbusy(const std::shared_ptr<LoadedLibrary>& library) {
  const std::lock_guard lock(g_libraryMutex);
  --library->busy;
}

HRESULT GetClassObjectImpl(REFCLSID clsid, DWORD clsContext, REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  if ((clsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) {
    return REGDB_E_CLASSNOTREG;  // only in-process servers exist here
  }
  if (BuiltinCreator creator = FindBuiltin(clsid)) {
    auto* factory = new CBuiltinClassFactory(creator);
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
  }
  std::string path;
  if (const HRESULT hr = LibraryPathOf(clsid, &path); FAILED(hr)) {
    return hr;
  }
  std::shared_ptr<LoadedLibrary> library;
  if (const HRESULT hr = AcquireLibrary(path, &library); FAILED(hr)) {
    return hr;
  }
  HRESULT hr = library->getClassObject(clsid, riid, ppv);
  if (FAILED(hr) && *ppv != nullptr) {
    *ppv = nullptr;  // a failing component may leave garbage; never hand it on
  }
  if (SUCCEEDED(hr) && *ppv == nullptr) {
    hr = E_UNEXPECTED;
  }
  Unbusy(library);
  return hr;
}

}  // namespace

// ---- public functions -------------------------------------------------------------------

HRESULT CoInitializeEx(void* /*reserved*/, DWORD /*coInit*/) {
  if (t_initCount++ > 0) {
    return S_FALSE;
  }
  ++g_initialisedThreads;
  return S_OK;
}

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (t_initCount == 0) {
    return;  // unbalanced call: nothing to end
  }
  if (--t_initCount == 0 && --g_initialisedThreads == 0) {
    CoFreeUnusedLibraries();
  }
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, void* /*reserved*/, REFIID riid, void** ppv) {
  try {
    return GetClassObjectImpl(clsid, clsContext, riid, ppv);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  if (outer != nullptr) {
    return CLASS_E_NOAGGREGATION;  // no class of this system supports aggregation
  }
  try {
    if (BuiltinCreator creator = FindBuiltin(clsid);
        creator != nullptr && (clsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) != 0) {
      return creator(riid, ppv);
    }
    IClassFactory* factory = nullptr;
    const HRESULT hr =
        GetClassObjectImpl(clsid, clsContext, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) {
      return hr;
    }
    HRESULT created = factory->CreateInstance(nullptr, riid, ppv);
    factory->Release();
    if (FAILED(created)) {
      *ppv = nullptr;
    } else if (*ppv == nullptr) {
      created = E_UNEXPECTED;
    }
    return created;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

void CoFreeUnusedLibraries() {
  // Take idle libraries out of the table first, so that no creation starts using one
  // while we ask it; a creation that wants it meanwhile loads it again (dlopen counts
  // references, so our dlclose then leaves it mapped).
  std::vector<std::shared_ptr<LoadedLibrary>> candidates;
  {
    const std::lock_guard lock(g_libraryMutex);
    auto& libraries = Libraries();
    for (auto it = libraries.begin(); it != libraries.end();) {
      if (it->second->busy == 0 && it->second->canUnloadNow != nullptr) {
        candidates.push_back(it->second);
        it = libraries.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& library : candidates) {
    if (library->canUnloadNow() == S_OK) {
      dlclose(library->handle);
      continue;
    }
    bool duplicate = false;
    {
      const std::lock_guard lock(g_libraryMutex);
      duplicate = !Libraries().emplace(library->path, library).second;
    }
    if (duplicate) {
      dlclose(library->handle);  // a fresher entry holds its own reference
    }
  }
}

void* CoTaskMemAlloc(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

void CoTaskMemFree(void* p) { std::free(p); }

namespace halvard::com {

std::string LastLibraryError() { return t_lastLibraryError; }

void CoRegisterBuiltinClass(REFCLSID clsid, BuiltinCreator creator) {
  const std::lock_guard lock(g_builtinMutex);
  if (creator == nullptr) {
    BuiltinClasses().erase(clsid);
  } else {
    BuiltinClasses()[clsid] = creator;
  }
}

}  // namespace halvard::com
