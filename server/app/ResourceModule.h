#pragma once
/// The user-interface resource module (libZelRes_ENU.so): every user-visible text of
/// the server, as numbered strings.

#include <string>

#include "platform/base/WinTypes.h"
#include "resources/ZelRes.h"

namespace halvard::app {

/// Loads the resource module by name through the dynamic loader's normal search for a
/// dlopen from this library: LD_LIBRARY_PATH, this library's run path ($ORIGIN/../lib
/// and $ORIGIN: the folder the server's libraries live in), the default folders, then
/// the loader's cache. The folder list comes from the loader itself (dlinfo), so the
/// search stays right when a sanitizer's dlopen interceptor hides the real caller.
/// A module is accepted only when it has the string-table entry point and the expected
/// interface version.
///
/// Threads: Load and the destructor on one thread (start-up and exit); LoadString from
/// any thread once loaded.
class CResourceModule {
 public:
  /// The module's file name; "ZelRes_ENU" is the English module.
  static constexpr const char* kModuleName = "libZelRes_ENU.so";

  CResourceModule() = default;
  ~CResourceModule();
  CResourceModule(const CResourceModule&) = delete;
  CResourceModule& operator=(const CResourceModule&) = delete;

  /// Loads the module (a bare name is searched, a name with '/' is a path). Returns
  /// false, with LastError() telling why, when it cannot be loaded or is not a resource
  /// module; a module loaded before is unloaded first.
  [[nodiscard]] bool Load(const std::string& name = kModuleName);
  /// Unloads the module (texts handed out as const char* become invalid).
  void Unload();

  [[nodiscard]] bool IsLoaded() const { return m_loadString != nullptr; }
  /// The file the loader found ("" when not loaded).
  [[nodiscard]] const std::string& Path() const { return m_path; }
  /// Why the last Load failed ("" after a success).
  [[nodiscard]] const std::string& LastError() const { return m_error; }

  /// The UTF-8 text of string number `id`; "" when the module lacks it or is not loaded.
  [[nodiscard]] std::string LoadString(UINT id) const;
  /// Whether the module has string number `id`.
  [[nodiscard]] bool HasString(UINT id) const;

 private:
  void* m_handle = nullptr;
  PfnZelResLoadString m_loadString = nullptr;
  std::string m_path;
  std::string m_error;
};

}  // namespace halvard::app
