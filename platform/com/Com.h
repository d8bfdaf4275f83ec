#pragma once
/// The component model: GUIDs, result codes, IUnknown and class factories, and
/// creation of components by class identifier. Interfaces use the classic layout:
/// abstract classes whose first three virtual methods are IUnknown's, in order.
/// No exception crosses an interface or component boundary.

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/base/WinTypes.h"

// ---- GUID ------------------------------------------------------------------------

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
  friend bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
  friend bool operator<(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

/// Declares a GUID constant from its registry form's numbers.
#define HALVARD_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name{l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

namespace halvard::com {

/// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case hexadecimal.
[[nodiscard]] std::string FormatGuid(const GUID& guid);

/// Parses the braced form (braces required, hexadecimal digits in either case).
/// Returns false and leaves *guid = GUID_NULL on any other text.
[[nodiscard]] bool ParseGuid(std::string_view text, GUID* guid);

struct GuidHash {
  std::size_t operator()(const GUID& g) const noexcept {
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    std::memcpy(&a, &g, 8);
    std::memcpy(&b, reinterpret_cast<const char*>(&g) + 8, 8);
    return std::hash<std::uint64_t>()(a ^ (b * 0x9E3779B97F4A7C15ULL));
  }
};

}  // namespace halvard::com

// ---- HRESULT ---------------------------------------------------------------------

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT MAKE_HRESULT_CODE(std::uint32_t v) { return static_cast<HRESULT>(v); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MAKE_HRESULT_CODE(0x80004001);
constexpr HRESULT E_NOINTERFACE = MAKE_HRESULT_CODE(0x80004002);
constexpr HRESULT E_POINTER = MAKE_HRESULT_CODE(0x80004003);
constexpr HRESULT E_ABORT = MAKE_HRESULT_CODE(0x80004004);
constexpr HRESULT E_FAIL = MAKE_HRESULT_CODE(0x80004005);
constexpr HRESULT E_UNEXPECTED = MAKE_HRESULT_CODE(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MAKE_HRESULT_CODE(0x80070005);
constexpr HRESULT E_HANDLE = MAKE_HRESULT_CODE(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MAKE_HRESULT_CODE(0x8007000E);
constexpr HRESULT E_INVALIDARG = MAKE_HRESULT_CODE(0x80070057);

constexpr HRESULT CLASS_E_NOAGGREGATION = MAKE_HRESULT_CODE(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MAKE_HRESULT_CODE(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = MAKE_HRESULT_CODE(0x80040154);
constexpr HRESULT REGDB_E_READREGDB = MAKE_HRESULT_CODE(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = MAKE_HRESULT_CODE(0x80040151);
constexpr HRESULT CO_E_NOTINITIALIZED = MAKE_HRESULT_CODE(0x800401F0);
constexpr HRESULT CO_E_DLLNOTFOUND = MAKE_HRESULT_CODE(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = MAKE_HRESULT_CODE(0x800401F9);
constexpr HRESULT SELFREG_E_CLASS = MAKE_HRESULT_CODE(0x80040201);

/// An HRESULT from a Windows system error code (FACILITY_WIN32).
constexpr HRESULT HRESULT_FROM_WIN32(LONG code) {
  return code <= 0 ? code : static_cast<HRESULT>((static_cast<std::uint32_t>(code) & 0xFFFF) | 0x80070000u);
}

// Media pipeline codes.
constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
constexpr HRESULT VFW_S_DUPLICATE_NAME = 0x0004022D;
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = 0x00040237;
constexpr HRESULT VFW_S_PARTIAL_RENDER = 0x00040242;
constexpr HRESULT VFW_S_SOME_DATA_IGNORED = 0x00040245;
constexpr HRESULT VFW_S_CONNECTIONS_DEFERRED = 0x00040246;
constexpr HRESULT VFW_S_RESOURCE_NOT_NEEDED = 0x00040250;
constexpr HRESULT VFW_S_MEDIA_TYPE_IGNORED = 0x00040254;
constexpr HRESULT VFW_S_VIDEO_NOT_RENDERED = 0x00040257;
constexpr HRESULT VFW_S_AUDIO_NOT_RENDERED = 0x00040258;
constexpr HRESULT VFW_S_ESTIMATED = 0x00040260;
constexpr HRESULT VFW_S_CANT_CUE = 0x00040268;
constexpr HRESULT VFW_S_NO_STOP_TIME = 0x00040270;
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MAKE_HRESULT_CODE(0x80040200);
constexpr HRESULT VFW_E_INVALIDSUBTYPE = MAKE_HRESULT_CODE(0x80040201);
constexpr HRESULT VFW_E_NEED_OWNER = MAKE_HRESULT_CODE(0x80040202);
constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MAKE_HRESULT_CODE(0x80040203);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = MAKE_HRESULT_CODE(0x80040204);
constexpr HRESULT VFW_E_FILTER_ACTIVE = MAKE_HRESULT_CODE(0x80040205);
constexpr HRESULT VFW_E_NO_TYPES = MAKE_HRESULT_CODE(0x80040206);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MAKE_HRESULT_CODE(0x80040207);
constexpr HRESULT VFW_E_INVALID_DIRECTION = MAKE_HRESULT_CODE(0x80040208);
constexpr HRESULT VFW_E_NOT_CONNECTED = MAKE_HRESULT_CODE(0x80040209);
constexpr HRESULT VFW_E_NO_ALLOCATOR = MAKE_HRESULT_CODE(0x8004020A);
constexpr HRESULT VFW_E_RUNTIME_ERROR = MAKE_HRESULT_CODE(0x8004020B);
constexpr HRESULT VFW_E_BUFFER_NOTSET = MAKE_HRESULT_CODE(0x8004020C);
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MAKE_HRESULT_CODE(0x8004020D);
constexpr HRESULT VFW_E_BADALIGN = MAKE_HRESULT_CODE(0x8004020E);
constexpr HRESULT VFW_E_ALREADY_COMMITTED = MAKE_HRESULT_CODE(0x8004020F);
constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MAKE_HRESULT_CODE(0x80040210);
constexpr HRESULT VFW_E_NOT_COMMITTED = MAKE_HRESULT_CODE(0x80040211);
constexpr HRESULT VFW_E_SIZENOTSET = MAKE_HRESULT_CODE(0x80040212);
constexpr HRESULT VFW_E_NO_CLOCK = MAKE_HRESULT_CODE(0x80040213);
constexpr HRESULT VFW_E_NO_SINK = MAKE_HRESULT_CODE(0x80040214);
constexpr HRESULT VFW_E_NO_INTERFACE = MAKE_HRESULT_CODE(0x80040215);
constexpr HRESULT VFW_E_NOT_FOUND = MAKE_HRESULT_CODE(0x80040216);
constexpr HRESULT VFW_E_CANNOT_CONNECT = MAKE_HRESULT_CODE(0x80040217);
constexpr HRESULT VFW_E_CANNOT_RENDER = MAKE_HRESULT_CODE(0x80040218);
constexpr HRESULT VFW_E_CHANGING_FORMAT = MAKE_HRESULT_CODE(0x80040219);
constexpr HRESULT VFW_E_STATE_CHANGED = MAKE_HRESULT_CODE(0x80040223);
constexpr HRESULT VFW_E_NOT_STOPPED = MAKE_HRESULT_CODE(0x80040224);
constexpr HRESULT VFW_E_NOT_PAUSED = MAKE_HRESULT_CODE(0x80040225);
constexpr HRESULT VFW_E_NOT_RUNNING = MAKE_HRESULT_CODE(0x80040226);
constexpr HRESULT VFW_E_WRONG_STATE = MAKE_HRESULT_CODE(0x80040227);
constexpr HRESULT VFW_E_START_TIME_AFTER_END = MAKE_HRESULT_CODE(0x80040228);
constexpr HRESULT VFW_E_INVALID_RECT = MAKE_HRESULT_CODE(0x80040229);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MAKE_HRESULT_CODE(0x8004022A);
constexpr HRESULT VFW_E_SAMPLE_REJECTED = MAKE_HRESULT_CODE(0x8004022B);
constexpr HRESULT VFW_E_SAMPLE_REJECTED_EOS = MAKE_HRESULT_CODE(0x8004022C);
constexpr HRESULT VFW_E_DUPLICATE_NAME = MAKE_HRESULT_CODE(0x8004022D);
constexpr HRESULT VFW_E_TIMEOUT = MAKE_HRESULT_CODE(0x8004022E);
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = MAKE_HRESULT_CODE(0x8004022F);
constexpr HRESULT VFW_E_ENUM_OUT_OF_RANGE = MAKE_HRESULT_CODE(0x80040230);
constexpr HRESULT VFW_E_CIRCULAR_GRAPH = MAKE_HRESULT_CODE(0x80040231);
constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = MAKE_HRESULT_CODE(0x80040240);
constexpr HRESULT VFW_E_CANNOT_LOAD_SOURCE_FILTER = MAKE_HRESULT_CODE(0x80040241);
constexpr HRESULT VFW_E_INVALID_CLSID = MAKE_HRESULT_CODE(0x80040247);
constexpr HRESULT VFW_E_INVALID_MEDIA_TYPE = MAKE_HRESULT_CODE(0x80040248);
constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MAKE_HRESULT_CODE(0x80040249);
constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MAKE_HRESULT_CODE(0x80040251);
constexpr HRESULT VFW_E_NO_TIME_FORMAT_SET = MAKE_HRESULT_CODE(0x80040252);
constexpr HRESULT VFW_E_NO_AUDIO_HARDWARE = MAKE_HRESULT_CODE(0x80040256);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = MAKE_HRESULT_CODE(0x8004025F);
constexpr HRESULT VFW_E_NO_TIME_FORMAT = MAKE_HRESULT_CODE(0x80040261);
constexpr HRESULT VFW_E_READ_ONLY = MAKE_HRESULT_CODE(0x80040262);
constexpr HRESULT VFW_E_BUFFER_UNDERFLOW = MAKE_HRESULT_CODE(0x80040264);
constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = MAKE_HRESULT_CODE(0x80040265);
constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = MAKE_HRESULT_CODE(0x80040275);

// Windows Media codes.
constexpr HRESULT NS_E_AUDIO_CODEC_NOT_INSTALLED = MAKE_HRESULT_CODE(0xC00D0BC2);
constexpr HRESULT NS_E_VIDEO_CODEC_NOT_INSTALLED = MAKE_HRESULT_CODE(0xC00D0BC4);

namespace halvard::com {
/// The symbolic name of a result code ("E_INVALIDARG"), or "0x%08X" for an unknown one.
[[nodiscard]] std::string ResultName(HRESULT hr);
}  // namespace halvard::com

// ---- IUnknown and class factories --------------------------------------------------

HALVARD_DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
HALVARD_DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
HALVARD_DEFINE_GUID(IID_IPersist, 0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;  // objects die through Release, never through delete
};

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

struct IPersist : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) = 0;

 protected:
  ~IPersist() = default;
};

/// Interface identifier of an interface type, declared next to each interface:
///   template <> inline constexpr const IID& kIidOf<IFoo> = IID_IFoo;
template <class T>
inline constexpr const IID* kIidOf = nullptr;
template <>
inline constexpr const IID* kIidOf<IUnknown> = &IID_IUnknown;
template <>
inline constexpr const IID* kIidOf<IClassFactory> = &IID_IClassFactory;
template <>
inline constexpr const IID* kIidOf<IPersist> = &IID_IPersist;

namespace halvard::com::detail {
template <const IID* kIid>
struct IidTag {};
}  // namespace halvard::com::detail

/// Whether kIidOf is declared for T. Compares types rather than pointers: GCC's
/// undefined-behaviour sanitizer treats `&IID_X != nullptr` as not constant.
template <class T>
inline constexpr bool kHasIid =
    !std::is_same_v<halvard::com::detail::IidTag<kIidOf<T>>, halvard::com::detail::IidTag<nullptr>>;

// ---- ComPtr ---------------------------------------------------------------------

/// Owning interface pointer: AddRef on copy, Release on destruction.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  /// Takes a new reference to p.
  explicit ComPtr(T* p) : m_p(p) {
    if (m_p != nullptr) {
      m_p->AddRef();
    }
  }
  ComPtr(const ComPtr& o) : ComPtr(o.m_p) {}
  ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(const ComPtr& o) {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  /// Adopts a reference the caller already owns (no AddRef).
  static ComPtr Attach(T* p) {
    ComPtr r;
    r.m_p = p;
    return r;
  }
  /// Gives up ownership without Release.
  [[nodiscard]] T* Detach() { return std::exchange(m_p, nullptr); }

  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) {
      p->Release();
    }
  }
  void Swap(ComPtr& o) noexcept { std::swap(m_p, o.m_p); }

  [[nodiscard]] T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  T& operator*() const { return *m_p; }
  explicit operator bool() const { return m_p != nullptr; }

  /// Releases what is held and returns the slot for an out-parameter.
  [[nodiscard]] T** ReleaseAndGetAddressOf() {
    Reset();
    return &m_p;
  }
  /// The slot as void** for QueryInterface-style out-parameters.
  [[nodiscard]] void** PutVoid() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  /// QueryInterface for U (U needs kIidOf<U>).
  template <class U>
  [[nodiscard]] HRESULT As(ComPtr<U>* out) const {
    static_assert(kHasIid<U>, "declare kIidOf for the interface");
    if (out == nullptr) {
      return E_POINTER;
    }
    if (m_p == nullptr) {
      out->Reset();
      return E_POINTER;
    }
    return m_p->QueryInterface(*kIidOf<U>, out->PutVoid());
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.m_p == b.m_p; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.m_p == nullptr; }

 private:
  T* m_p = nullptr;
};

// ---- creation by class identifier ------------------------------------------------

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_INPROC = 0x3;
constexpr DWORD CLSCTX_ALL = 0x17;
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

/// Initialises the component runtime for the calling thread. Always S_OK (S_FALSE when
/// already initialised on this thread); the runtime itself needs no initialisation.
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
HRESULT CoInitialize(void* reserved);
/// Ends the thread's initialisation; the last one in the process unloads libraries
/// that agree to be unloaded.
void CoUninitialize();

/// Creates an object: a class built into this process first (CoRegisterBuiltinClass),
/// else the component library named by HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32,
/// loaded once and asked through DllGetClassObject.
/// Results: S_OK; E_POINTER; CLASS_E_NOAGGREGATION (outer given); REGDB_E_CLASSNOTREG
/// (no registration, or an empty library path); CO_E_DLLNOTFOUND (the library does not
/// load); CO_E_ERRORINDLL (no DllGetClassObject export); the factory's own results
/// (CLASS_E_CLASSNOTAVAILABLE, E_NOINTERFACE, E_OUTOFMEMORY, ...); E_UNEXPECTED (a
/// component claimed success without handing out an object); REGDB_E_READREGDB (the
/// settings store cannot be read); REGDB_E_CLASSNOTREG also for a clsContext without
/// CLSCTX_INPROC_SERVER or CLSCTX_INPROC_HANDLER (only in-process servers exist). An unusable library path is never fatal.
/// Threads: any thread; the library table is locked only around its own bookkeeping,
/// never while a component runs.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid, void** ppv);

/// The class factory of a class, resolved like CoCreateInstance (same results, without
/// CLASS_E_NOAGGREGATION). The returned factory keeps its library loaded only through
/// the library's own lock count, which DllCanUnloadNow reports.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, void* reserved, REFIID riid, void** ppv);

/// Unloads every loaded component library whose DllCanUnloadNow answers S_OK (a
/// library without that export stays loaded). A library being used by a creation on
/// another thread at that moment is left for the next call. As with any in-process
/// server, the library must count an object as alive until its last Release has
/// returned; call this when no other thread may be releasing the library's objects
/// (the server calls it only through the last CoUninitialize).
void CoFreeUnusedLibraries();

/// Task memory (used for media-type format blocks and strings handed to callers).
void* CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(void* p);

// ---- component library entry points ------------------------------------------------

/// Marks a component's entry points: C linkage and visible even though component
/// libraries are built with hidden symbols.
///   HALVARD_COMPONENT_EXPORT HRESULT DllGetClassObject(REFCLSID, REFIID, void**);
#define HALVARD_COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))

/// The four exports every component library provides.
using PfnDllGetClassObject = HRESULT (*)(REFCLSID clsid, REFIID riid, void** ppv);
using PfnDllCanUnloadNow = HRESULT (*)();
using PfnDllRegisterServer = HRESULT (*)();
using PfnDllUnregisterServer = HRESULT (*)();

namespace halvard::com {

/// Creates an instance of a built-in class (outer is always null).
using BuiltinCreator = HRESULT (*)(REFIID riid, void** ppv);

/// Makes a class of this process creatable by CoCreateInstance (it is looked up before
/// any registration). Registering the same class again replaces the creator; a null
/// creator removes the class. Threads: any thread.
void CoRegisterBuiltinClass(REFCLSID clsid, BuiltinCreator creator);

/// The dynamic loader's message for the last CO_E_DLLNOTFOUND or CO_E_ERRORINDLL that
/// CoCreateInstance or CoGetClassObject returned on this thread ("" before any), for
/// diagnostics such as "libZelMotion.so: cannot open shared object file".
[[nodiscard]] std::string LastLibraryError();

/// Typed creation: CoCreateInstance for interface T (needs kIidOf<T>).
template <class T>
[[nodiscard]] HRESULT CreateInstance(REFCLSID clsid, ComPtr<T>* out) {
  static_assert(kHasIid<T>, "declare kIidOf for the interface");
  if (out == nullptr) {
    return E_POINTER;
  }
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, *kIidOf<T>, out->PutVoid());
}

}  // namespace halvard::com
