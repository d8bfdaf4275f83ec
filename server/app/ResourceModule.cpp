#include "server/app/ResourceModule.h"

#include <dlfcn.h>
#include <link.h>

#include <cstddef>
#include <filesystem>
#include <vector>

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

namespace {

/// The folders the dynamic loader searches when this library opens a bare name, in the
/// loader's order (LD_LIBRARY_PATH and this library's run path with $ORIGIN expanded,
/// then the default folders), as the loader itself reports them.
std::vector<std::string> SearchPathOfThisLibrary() {
  std::vector<std::string> folders;
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&SearchPathOfThisLibrary), &info) == 0 || info.dli_fname == nullptr) {
    return folders;
  }
  void* self = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (self == nullptr) {
    return folders;
  }
  Dl_serinfo size{};
  if (dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size >= sizeof(Dl_serinfo)) {
    std::vector<std::max_align_t> buffer(size.dls_size / sizeof(std::max_align_t) + 1);
    auto* serinfo = reinterpret_cast<Dl_serinfo*>(buffer.data());
    *serinfo = size;
    if (dlinfo(self, RTLD_DI_SERINFOSIZE, serinfo) == 0 && dlinfo(self, RTLD_DI_SERINFO, serinfo) == 0) {
      for (unsigned i = 0; i < serinfo->dls_cnt; ++i) {
        folders.emplace_back(serinfo->dls_serpath[i].dls_name);
      }
    }
  }
  dlclose(self);
  return folders;
}

}  // namespace

bool CResourceModule::Load(const std::string& name) {
  Unload();
  m_error.clear();
  void* handle = nullptr;
  dlerror();
  if (name.find('/') == std::string::npos) {
    // A bare name: search the folders the loader would search for a dlopen from this
    // library. Asking dlopen directly is not enough: when a sanitizer intercepts dlopen,
    // the loader sees the interceptor as the caller and ignores our run path.
    for (const std::string& folder : SearchPathOfThisLibrary()) {
      const std::string candidate = folder + "/" + name;
      std::error_code ec;
      if (!std::filesystem::is_regular_file(candidate, ec)) {
        continue;
      }
      handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle != nullptr) {
        break;
      }
      const char* why = dlerror();  // e.g. a file of another architecture: keep looking, as the loader does
      m_error = why != nullptr ? why : candidate + ": cannot be loaded";
    }
  }
  if (handle == nullptr) {
    // A path, or a name the loader finds through its cache of system libraries.
    handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) {
    const char* why = dlerror();
    if (m_error.empty()) {
      m_error = why != nullptr ? why : name + ": cannot be loaded";
    }
    return false;
  }
  m_error.clear();
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
