#pragma once
/// Registration of component classes and filters in HKEY_CLASSES_ROOT, for the
/// DllRegisterServer / DllUnregisterServer exports of component libraries, and the
/// reader that the filter and device enumeration use.
///
/// Key layout (all under HKEY_CLASSES_ROOT; GUIDs in FormatGuid's braced upper-case form):
///
///   CLSID\{clsid}                         class key
///     (default)          REG_SZ    display name
///     "Merit"            REG_DWORD merit                                 (filters only)
///     InprocServer32     sub-key
///       (default)        REG_SZ    absolute path of the component library
///       "ThreadingModel" REG_SZ    "Both"
///     Pins               sub-key                                         (filters only)
///       000, 001, ...    sub-keys: one per registered pin, in registration order
///                                  (three decimal digits, so that the case-insensitive
///                                  alphabetical enumeration of sub-keys keeps the order)
///         "Name"         REG_SZ    pin name; several pins may share one name (the
///                                  splitter registers four pins named "Output"), which
///                                  is why the key is a number and not the name
///         "Direction"    REG_DWORD 0 input, 1 output
///         "IsRendered"   REG_DWORD 0 or 1
///         "AllowedZero"  REG_DWORD 0 or 1
///         "AllowedMany"  REG_DWORD 0 or 1
///         "ConnectsToFilter" REG_SZ {clsid}  only when not GUID_NULL
///         "ConnectsToPin"    REG_SZ name     only when not empty
///         Types\{major}\{minor}    one key per media type (value-less; a type registered
///                                  twice is kept once; read back sorted by GUID text)
///
///   CLSID\{category}\Instance\{clsid}     filter instance in a category (default
///                                         category: kLegacyFilterCategory)
///     "FriendlyName"     REG_SZ    display name
///     "CLSID"            REG_SZ    {clsid}
///     "Merit"            REG_DWORD merit
///
/// Every function may be called from any thread. A registration that fails half-way
/// removes what it wrote (best effort), so a failed DllRegisterServer leaves no class
/// that points at a library without its filter data.
///
/// Result codes: S_OK; E_POINTER (a required pointer is null); E_INVALIDARG (empty
/// display name or pin name, a pin or type list missing, more than 1000 pins); E_FAIL (the calling module's
/// path cannot be found); HRESULT_FROM_WIN32(registry error) when the settings store
/// refuses a write (E_ACCESSDENIED for a read-only store); REGDB_E_CLASSNOTREG when a
/// reader finds no class key; REGDB_E_READREGDB when the store cannot be read.

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/Com.h"

// ---- setup structures of filter components ----------------------------------------------

/// Merit: the rank that automatic graph building gives a filter.
constexpr DWORD MERIT_PREFERRED = 0x800000;
constexpr DWORD MERIT_NORMAL = 0x600000;
constexpr DWORD MERIT_UNLIKELY = 0x400000;
constexpr DWORD MERIT_DO_NOT_USE = 0x200000;

/// A media type a pin registers; null pointers mean GUID_NULL.
struct AMOVIESETUP_MEDIATYPE {
  const GUID* clsMajorType;
  const GUID* clsMinorType;
};

/// A registered pin. Names are UTF-8. clsConnectsToFilter may be null.
struct AMOVIESETUP_PIN {
  const char* strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID* clsConnectsToFilter;
  const char* strConnectsToPin;
  UINT nMediaTypes;
  const AMOVIESETUP_MEDIATYPE* lpMediaType;
};

/// A filter's registration data. The name is UTF-8.
struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  const char* strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN* lpPin;
};

namespace halvard::com {

/// The category of ordinary filters ("legacy" filter category of the media pipeline).
HALVARD_DEFINE_GUID(kLegacyFilterCategory, 0x083863F1, 0x70DE, 0x11D0, 0xBD, 0x40, 0x00, 0xA0, 0xC9, 0x11, 0xCE,
                    0x86);

/// Highest number of pins one filter may register.
inline constexpr UINT kMaxRegisteredPins = 1000;

// ---- writing ------------------------------------------------------------------------

/// Writes the class key with its display name and InprocServer32 (library path from
/// dladdr of addressInModule, any address inside the component library: pass the
/// address of one of its functions, e.g. &DllRegisterServer). Replaces an earlier
/// registration of the class completely.
[[nodiscard]] HRESULT RegisterClassServer(REFCLSID clsid, std::string_view displayName, const void* addressInModule);

/// Deletes the class key tree. S_OK also when it did not exist.
[[nodiscard]] HRESULT UnregisterClassServer(REFCLSID clsid);

/// RegisterClassServer for the filter plus its merit, pins and the instance key under
/// `category`.
[[nodiscard]] HRESULT RegisterFilter(const AMOVIESETUP_FILTER& filter, const void* addressInModule,
                                     REFCLSID category = kLegacyFilterCategory);

/// Deletes the class key tree and the instance key under `category`. S_OK also when
/// they did not exist.
[[nodiscard]] HRESULT UnregisterFilter(REFCLSID clsid, REFCLSID category = kLegacyFilterCategory);

// ---- reading ------------------------------------------------------------------------

enum class PinDirection : DWORD { Input = 0, Output = 1 };

struct RegisteredMediaType {
  GUID majorType = GUID_NULL;
  GUID minorType = GUID_NULL;
};

struct RegisteredPin {
  std::string name;
  PinDirection direction = PinDirection::Input;
  bool rendered = false;
  bool allowedZero = false;
  bool allowedMany = false;
  CLSID connectsToFilter = GUID_NULL;
  std::string connectsToPin;
  std::vector<RegisteredMediaType> mediaTypes;
};

struct RegisteredFilter {
  CLSID clsid = GUID_NULL;
  std::string name;        ///< the class key's display name, else the instance's FriendlyName
  DWORD merit = 0;         ///< MERIT_DO_NOT_USE when neither key has a readable merit
  std::string libraryPath; ///< InprocServer32; empty when not registered
  std::vector<RegisteredPin> pins;  ///< in registration order
};

/// Reads one class's registration (class key, merit, pins). Pins or types with damaged
/// entries (missing or unreadable values) are read with the defaults above rather than
/// dropped, except a type key whose name is not a GUID, which is skipped.
/// Results: S_OK, E_POINTER, REGDB_E_CLASSNOTREG (no class key), REGDB_E_READREGDB.
[[nodiscard]] HRESULT ReadFilterRegistration(REFCLSID clsid, RegisteredFilter* filter);

/// Every filter registered in `category`, in the order of the instance keys (GUID text
/// order); callers that rank by merit sort the result themselves. An instance whose
/// class key is missing is still listed with the instance's name and merit (creation
/// of it will give REGDB_E_CLASSNOTREG); an instance key whose name is not a GUID is
/// skipped. Results: S_OK (also for an empty or missing category), E_POINTER,
/// REGDB_E_READREGDB.
[[nodiscard]] HRESULT EnumerateRegisteredFilters(REFCLSID category, std::vector<RegisteredFilter>* filters);

/// The absolute path of the shared object that holds `address` ("" if none).
[[nodiscard]] std::string ModulePathOf(const void* address);

}  // namespace halvard::com
