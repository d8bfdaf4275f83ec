#include "server/app/ResourceModule.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>

namespace halvard::app {

CResourceModule::~CResourceModule() { Unload(); }

void CResourceModule::Unload() {
  m_loadString = nullptr;
  m_path.clear();
  if (m_handle != nullptr) {
    dlclose(m_handle);
    m_handle = nullptr;
  }
}

bool CResourceModule::Load(const std::string& name) {
  Unload();
  m_error.clear();
  // The loader searches the run path of the object that calls dlopen: this library's,
  // which names its own folder.
  dlerror();
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    m_error = why != nullptr ? why : name + ": cannot be loaded";
    return false;
  }
  const auto version =
      reinterpret_cast<PfnZelResInterfaceVersion>(dlsym(handle, kZelResInterfaceVersionSymbol));
  const auto loadString = reinterpret_cast<PfnZelResLoadString>(dlsym(handle, kZelResLoadStringSymbol));
  if (version == nullptr || loadString == nullptr) {
    m_error = name + ": not a resource module (no string table)";
    dlclose(handle);
    return false;
  }
  if (version() != kZelResInterfaceVersion) {
    m_error = name + ": resource module of interface version " + std::to_string(version()) + ", expected " +
              std::to_string(kZelResInterfaceVersion);
    dlclose(handle);
    return false;
  }
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
    m_path = std::filesystem::path(map->l_name).lexically_normal().string();  // the run path adds "lib/../lib"
  }
  m_handle = handle;
  m_loadString = loadString;
  return true;
}

std::string CResourceModule::LoadString(UINT id) const {
  const char* text = m_loadString != nullptr ? m_loadString(id) : nullptr;
  return text != nullptr ? std::string(text) : std::string();
}

bool CResourceModule::HasString(UINT id) const { return m_loadString != nullptr && m_loadString(id) != nullptr; }

}  // namespace halvard::app
