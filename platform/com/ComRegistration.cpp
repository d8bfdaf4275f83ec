#include "platform/com/ComRegistration.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <new>

#include "platform/base/Text.h"
#include "platform/registry/Registry.h"

namespace halvard::com {

namespace {

/// Closes a registry handle at scope exit.
class CKey {
 public:
  CKey() = default;
  ~CKey() {
    if (m_key != nullptr) {
      RegCloseKey(m_key);
    }
  }
  CKey(const CKey&) = delete;
  CKey& operator=(const CKey&) = delete;
  [[nodiscard]] HKEY Get() const { return m_key; }
  [[nodiscard]] HKEY* Put() { return &m_key; }

 private:
  HKEY m_key = nullptr;
};

std::string ClassKeyPath(REFCLSID clsid) { return "CLSID\\" + FormatGuid(clsid); }

std::string InstanceKeyPath(REFCLSID category, REFCLSID clsid) {
  return "CLSID\\" + FormatGuid(category) + "\\Instance\\" + FormatGuid(clsid);
}

HRESULT FromRegistry(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc); }

LONG SetString(HKEY key, std::string_view name, std::string_view text) {
  const std::vector<BYTE> bytes = text::ToWideBytes(text);
  return RegSetValueEx(key, name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
}

LONG SetDword(HKEY key, std::string_view name, DWORD value) {
  return RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

bool ReadString(HKEY key, std::string_view name, std::string* text) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueEx(key, name, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
    return false;
  }
  std::vector<BYTE> data(size);
  if (size > 0 && RegQueryValueEx(key, name, &type, data.data(), &size) != ERROR_SUCCESS) {
    return false;
  }
  data.resize(size);
  *text = text::FromWideBytes(data.data(), data.size());
  return true;
}

bool ReadDword(HKEY key, std::string_view name, DWORD* value) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (RegQueryValueEx(key, name, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(data)) {
    return false;
  }
  *value = data;
  return true;
}

/// Sub-key names of `key`, in enumeration order.
std::vector<std::string> SubKeys(HKEY key) {
  std::vector<std::string> names;
  std::string name;
  for (DWORD i = 0; RegEnumKeyEx(key, i, &name) == ERROR_SUCCESS; ++i) {
    names.push_back(name);
  }
  return names;
}

LONG DeleteTreeIfPresent(std::string_view path) {
  const LONG rc = RegDeleteTree(HKEY_CLASSES_ROOT, path);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

std::string PinKeyName(UINT index) {
  char name[16];
  std::snprintf(name, sizeof(name), "%03u", index);
  return name;
}

HRESULT ValidateFilter(const AMOVIESETUP_FILTER& filter) {
  if (filter.clsID == nullptr) {
    return E_POINTER;
  }
  if (filter.strName == nullptr || *filter.strName == '\0' || filter.nPins > kMaxRegisteredPins ||
      (filter.nPins > 0 && filter.lpPin == nullptr)) {
    return E_INVALIDARG;
  }
  for (UINT i = 0; i < filter.nPins; ++i) {
    const AMOVIESETUP_PIN& pin = filter.lpPin[i];
    if (pin.strName == nullptr || *pin.strName == '\0' || (pin.nMediaTypes > 0 && pin.lpMediaType == nullptr)) {
      return E_INVALIDARG;
    }
  }
  return S_OK;
}

LONG WritePin(HKEY pinsKey, UINT index, const AMOVIESETUP_PIN& pin) {
  CKey pinKey;
  LONG rc = RegCreateKeyEx(pinsKey, PinKeyName(index), pinKey.Put());
  if (rc != ERROR_SUCCESS) {
    return rc;
  }
  const HKEY k = pinKey.Get();
  if ((rc = SetString(k, "Name", pin.strName)) != ERROR_SUCCESS ||
      (rc = SetDword(k, "Direction", pin.bOutput ? 1 : 0)) != ERROR_SUCCESS ||
      (rc = SetDword(k, "IsRendered", pin.bRendered ? 1 : 0)) != ERROR_SUCCESS ||
      (rc = SetDword(k, "AllowedZero", pin.bZero ? 1 : 0)) != ERROR_SUCCESS ||
      (rc = SetDword(k, "AllowedMany", pin.bMany ? 1 : 0)) != ERROR_SUCCESS) {
    return rc;
  }
  if (pin.clsConnectsToFilter != nullptr && *pin.clsConnectsToFilter != GUID_NULL &&
      (rc = SetString(k, "ConnectsToFilter", FormatGuid(*pin.clsConnectsToFilter))) != ERROR_SUCCESS) {
    return rc;
  }
  if (pin.strConnectsToPin != nullptr && *pin.strConnectsToPin != '\0' &&
      (rc = SetString(k, "ConnectsToPin", pin.strConnectsToPin)) != ERROR_SUCCESS) {
    return rc;
  }
  for (UINT t = 0; t < pin.nMediaTypes; ++t) {
    const AMOVIESETUP_MEDIATYPE& type = pin.lpMediaType[t];
    const GUID major = type.clsMajorType != nullptr ? *type.clsMajorType : GUID_NULL;
    const GUID minor = type.clsMinorType != nullptr ? *type.clsMinorType : GUID_NULL;
    CKey typeKey;
    rc = RegCreateKeyEx(k, "Types\\" + FormatGuid(major) + "\\" + FormatGuid(minor), typeKey.Put());
    if (rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  return ERROR_SUCCESS;
}

LONG WriteFilterData(const AMOVIESETUP_FILTER& filter, REFCLSID category) {
  CKey classKey;
  LONG rc = RegOpenKeyEx(HKEY_CLASSES_ROOT, ClassKeyPath(*filter.clsID), 0, KEY_ALL_ACCESS, classKey.Put());
  if (rc != ERROR_SUCCESS || (rc = SetDword(classKey.Get(), "Merit", filter.dwMerit)) != ERROR_SUCCESS) {
    return rc;
  }
  CKey pinsKey;
  if ((rc = RegCreateKeyEx(classKey.Get(), "Pins", pinsKey.Put())) != ERROR_SUCCESS) {
    return rc;
  }
  for (UINT i = 0; i < filter.nPins; ++i) {
    if ((rc = WritePin(pinsKey.Get(), i, filter.lpPin[i])) != ERROR_SUCCESS) {
      return rc;
    }
  }
  const std::string instancePath = InstanceKeyPath(category, *filter.clsID);
  if ((rc = DeleteTreeIfPresent(instancePath)) != ERROR_SUCCESS) {
    return rc;
  }
  CKey instanceKey;
  if ((rc = RegCreateKeyEx(HKEY_CLASSES_ROOT, instancePath, instanceKey.Put())) != ERROR_SUCCESS) {
    return rc;
  }
  if ((rc = SetString(instanceKey.Get(), "FriendlyName", filter.strName)) != ERROR_SUCCESS ||
      (rc = SetString(instanceKey.Get(), "CLSID", FormatGuid(*filter.clsID))) != ERROR_SUCCESS) {
    return rc;
  }
  return SetDword(instanceKey.Get(), "Merit", filter.dwMerit);
}

RegisteredPin ReadPin(HKEY pinKey) {
  RegisteredPin pin;
  (void)ReadString(pinKey, "Name", &pin.name);
  DWORD value = 0;
  if (ReadDword(pinKey, "Direction", &value)) {
    pin.direction = value == 1 ? PinDirection::Output : PinDirection::Input;
  }
  pin.rendered = ReadDword(pinKey, "IsRendered", &value) && value != 0;
  pin.allowedZero = ReadDword(pinKey, "AllowedZero", &value) && value != 0;
  pin.allowedMany = ReadDword(pinKey, "AllowedMany", &value) && value != 0;
  std::string text;
  if (ReadString(pinKey, "ConnectsToFilter", &text)) {
    (void)ParseGuid(text, &pin.connectsToFilter);
  }
  (void)ReadString(pinKey, "ConnectsToPin", &pin.connectsToPin);
  CKey typesKey;
  if (RegOpenKeyEx(pinKey, "Types", 0, KEY_READ, typesKey.Put()) != ERROR_SUCCESS) {
    return pin;
  }
  for (const std::string& majorName : SubKeys(typesKey.Get())) {
    RegisteredMediaType type;
    CKey majorKey;
    if (!ParseGuid(majorName, &type.majorType) ||
        RegOpenKeyEx(typesKey.Get(), majorName, 0, KEY_READ, majorKey.Put()) != ERROR_SUCCESS) {
      continue;
    }
    for (const std::string& minorName : SubKeys(majorKey.Get())) {
      if (ParseGuid(minorName, &type.minorType)) {
        pin.mediaTypes.push_back(type);
      }
    }
  }
  return pin;
}

/// ReadFilterRegistration, telling also whether the class key carries a merit.
HRESULT ReadClass(REFCLSID clsid, RegisteredFilter* filter, bool* hasMerit) {
  *filter = RegisteredFilter{};
  *hasMerit = false;
  filter->clsid = clsid;
  CKey classKey;
  const LONG rc = RegOpenKeyEx(HKEY_CLASSES_ROOT, ClassKeyPath(clsid), 0, KEY_READ, classKey.Put());
  if (rc == ERROR_FILE_NOT_FOUND) {
    return REGDB_E_CLASSNOTREG;
  }
  if (rc != ERROR_SUCCESS) {
    return REGDB_E_READREGDB;
  }
  (void)ReadString(classKey.Get(), "", &filter->name);
  filter->merit = MERIT_DO_NOT_USE;
  DWORD merit = 0;
  if (ReadDword(classKey.Get(), "Merit", &merit)) {
    filter->merit = merit;
    *hasMerit = true;
  }
  CKey serverKey;
  if (RegOpenKeyEx(classKey.Get(), "InprocServer32", 0, KEY_READ, serverKey.Put()) == ERROR_SUCCESS) {
    (void)ReadString(serverKey.Get(), "", &filter->libraryPath);
  }
  CKey pinsKey;
  if (RegOpenKeyEx(classKey.Get(), "Pins", 0, KEY_READ, pinsKey.Put()) == ERROR_SUCCESS) {
    for (const std::string& pinName : SubKeys(pinsKey.Get())) {
      CKey pinKey;
      if (RegOpenKeyEx(pinsKey.Get(), pinName, 0, KEY_READ, pinKey.Put()) == ERROR_SUCCESS) {
        filter->pins.push_back(ReadPin(pinKey.Get()));
      }
    }
  }
  return S_OK;
}

}  // namespace

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (address == nullptr ||
      dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
    return {};
  }
  std::string name = map != nullptr && map->l_name != nullptr ? map->l_name : "";
  if (name.empty()) {
    // The main program has no name in its link map.
    std::array<char, 4096> self{};
    const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (n <= 0) {
      return {};
    }
    name.assign(self.data(), static_cast<std::size_t>(n));
  }
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
  return ec ? std::string{} : absolute.lexically_normal().string();
}

HRESULT RegisterClassServer(REFCLSID clsid, std::string_view displayName, const void* addressInModule) {
  try {
    if (addressInModule == nullptr) {
      return E_POINTER;
    }
    if (displayName.empty()) {
      return E_INVALIDARG;
    }
    const std::string libraryPath = ModulePathOf(addressInModule);
    if (libraryPath.empty()) {
      return E_FAIL;
    }
    const std::string classPath = ClassKeyPath(clsid);
    LONG rc = DeleteTreeIfPresent(classPath);
    if (rc != ERROR_SUCCESS) {
      return FromRegistry(rc);
    }
    {
      CKey classKey;
      CKey serverKey;
      if ((rc = RegCreateKeyEx(HKEY_CLASSES_ROOT, classPath, classKey.Put())) == ERROR_SUCCESS &&
          (rc = SetString(classKey.Get(), "", displayName)) == ERROR_SUCCESS &&
          (rc = RegCreateKeyEx(classKey.Get(), "InprocServer32", serverKey.Put())) == ERROR_SUCCESS &&
          (rc = SetString(serverKey.Get(), "", libraryPath)) == ERROR_SUCCESS) {
        rc = SetString(serverKey.Get(), "ThreadingModel", "Both");
      }
    }
    if (rc != ERROR_SUCCESS) {
      (void)DeleteTreeIfPresent(classPath);
    }
    return FromRegistry(rc);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterClassServer(REFCLSID clsid) {
  try {
    return FromRegistry(DeleteTreeIfPresent(ClassKeyPath(clsid)));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterFilter(const AMOVIESETUP_FILTER& filter, const void* addressInModule, REFCLSID category) {
  try {
    if (const HRESULT hr = ValidateFilter(filter); FAILED(hr)) {
      return hr;
    }
    if (const HRESULT hr = RegisterClassServer(*filter.clsID, filter.strName, addressInModule); FAILED(hr)) {
      return hr;
    }
    const LONG rc = WriteFilterData(filter, category);
    if (rc != ERROR_SUCCESS) {
      (void)DeleteTreeIfPresent(ClassKeyPath(*filter.clsID));
      (void)DeleteTreeIfPresent(InstanceKeyPath(category, *filter.clsID));
    }
    return FromRegistry(rc);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterFilter(REFCLSID clsid, REFCLSID category) {
  try {
    const LONG classRc = DeleteTreeIfPresent(ClassKeyPath(clsid));
    const LONG instanceRc = DeleteTreeIfPresent(InstanceKeyPath(category, clsid));
    return FromRegistry(classRc != ERROR_SUCCESS ? classRc : instanceRc);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ReadFilterRegistration(REFCLSID clsid, RegisteredFilter* filter) {
  if (filter == nullptr) {
    return E_POINTER;
  }
  try {
    bool hasMerit = false;
    return ReadClass(clsid, filter, &hasMerit);
  } catch (const std::bad_alloc&) {
    *filter = RegisteredFilter{};
    return E_OUTOFMEMORY;
  }
}

HRESULT EnumerateRegisteredFilters(REFCLSID category, std::vector<RegisteredFilter>* filters) {
  if (filters == nullptr) {
    return E_POINTER;
  }
  filters->clear();
  try {
    CKey instances;
    const LONG rc = RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID\\" + FormatGuid(category) + "\\Instance", 0, KEY_READ,
                                 instances.Put());
    if (rc == ERROR_FILE_NOT_FOUND) {
      return S_OK;
    }
    if (rc != ERROR_SUCCESS) {
      return REGDB_E_READREGDB;
    }
    for (const std::string& instanceName : SubKeys(instances.Get())) {
      CLSID clsid{};
      CKey instanceKey;
      if (!ParseGuid(instanceName, &clsid) ||
          RegOpenKeyEx(instances.Get(), instanceName, 0, KEY_READ, instanceKey.Put()) != ERROR_SUCCESS) {
        continue;
      }
      RegisteredFilter filter;
      bool hasMerit = false;
      const HRESULT hr = ReadClass(clsid, &filter, &hasMerit);
      if (FAILED(hr) && hr != REGDB_E_CLASSNOTREG) {
        filters->clear();
        return hr;
      }
      if (filter.name.empty()) {
        (void)ReadString(instanceKey.Get(), "FriendlyName", &filter.name);
      }
      DWORD merit = 0;
      if (!hasMerit && ReadDword(instanceKey.Get(), "Merit", &merit)) {
        filter.merit = merit;
      } else if (!hasMerit) {
        filter.merit = MERIT_DO_NOT_USE;
      }
      filters->push_back(std::move(filter));
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    filters->clear();
    return E_OUTOFMEMORY;
  }
}

}  // namespace halvard::com
