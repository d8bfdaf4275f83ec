#pragma once
// Small registry helpers shared by the component-model tests.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/com/Com.h"
#include "platform/registry/Registry.h"

namespace halvard::comtest {

/// A REG_SZ value as UTF-8, or "<missing>".
inline std::string ReadSz(const std::string& keyPath, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return "<missing>";
  }
  DWORD type = 0;
  std::vector<BYTE> data(4096);
  DWORD size = static_cast<DWORD>(data.size());
  const LONG rc = RegQueryValueEx(key, name, &type, data.data(), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) {
    return "<missing>";
  }
  return text::FromWideBytes(data.data(), size);
}

inline bool KeyExists(const std::string& keyPath) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

/// Points a class at a library path (or writes whatever value the test wants).
inline void WriteServer(REFCLSID clsid, const std::string& path) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "CLSID\\" + com::FormatGuid(clsid) + "\\InprocServer32", &key),
            ERROR_SUCCESS);
  const std::vector<BYTE> bytes = text::ToWideBytes(path);
  EXPECT_EQ(RegSetValueEx(key, "", REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
  RegCloseKey(key);
}

/// Whether the dynamic loader has the library mapped right now.
inline bool IsLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    return false;
  }
  dlclose(handle);
  return true;
}

inline std::string Canonical(const std::string& path) {
  return std::filesystem::weakly_canonical(std::filesystem::absolute(path)).string();
}

}  // namespace halvard::comtest
