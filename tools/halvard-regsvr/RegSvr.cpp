// halvard-regsvr [-u] LIBRARY...
// Registers (or with -u unregisters) component libraries by calling their
// DllRegisterServer (DllUnregisterServer) export. One line per library; exit status 0
// when every library succeeded, 1 when any failed, 2 for bad arguments.

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/Com.h"

namespace {

enum class Action { Register, Unregister };

void PrintUsage() {
  std::fprintf(stderr,
               "usage: halvard-regsvr [-u] LIBRARY...\n"
               "  Registers each component library in the settings store by calling its\n"
               "  DllRegisterServer; with -u, unregisters it through DllUnregisterServer.\n");
}

std::string NameOf(HRESULT hr) {
  // 0x80040201 is both VFW_E_INVALIDSUBTYPE and SELFREG_E_CLASS; here it can only be the
  // registration code.
  std::string name = hr == SELFREG_E_CLASS ? "SELFREG_E_CLASS" : halvard::com::ResultName(hr);
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08X", static_cast<std::uint32_t>(hr));
  return name == code ? name : name + " (" + code + ")";
}

/// The path handed to dlopen: a file that exists is made absolute (so that the library
/// registers its full path even when named relative to the current folder); a bare name
/// without such a file is left to the loader's search.
std::string LoadPath(const std::string& argument) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::exists(argument, ec)) {
    const fs::path absolute = fs::absolute(argument, ec);
    if (!ec) {
      return absolute.lexically_normal().string();
    }
  }
  return argument;
}

bool Process(const std::string& argument, Action action) {
  const char* entry = action == Action::Register ? "DllRegisterServer" : "DllUnregisterServer";
  const std::string path = LoadPath(argument);
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    std::fprintf(stderr, "halvard-regsvr: %s: cannot load the library: %s\n", argument.c_str(),
                 why != nullptr ? why : "unknown error");
    return false;
  }
  auto function = reinterpret_cast<PfnDllRegisterServer>(dlsym(handle, entry));
  if (function == nullptr) {
    std::fprintf(stderr, "halvard-regsvr: %s: %s not found; not a self-registering component library.\n",
                 argument.c_str(), entry);
    dlclose(handle);
    return false;
  }
  const HRESULT hr = function();
  dlclose(handle);
  if (FAILED(hr)) {
    std::fprintf(stderr, "halvard-regsvr: %s in %s failed: %s.\n", entry, argument.c_str(), NameOf(hr).c_str());
    return false;
  }
  std::printf("%s in %s succeeded.\n", entry, argument.c_str());
  std::fflush(stdout);  // keep the order of lines when both streams go to one place
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Action action = Action::Register;
  std::vector<std::string> libraries;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && (arg == "-u" || arg == "-U")) {
      action = Action::Unregister;
    } else if (!optionsDone && (arg == "-h" || arg == "--help")) {
      PrintUsage();
      return 0;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "halvard-regsvr: unknown option %s\n", arg.c_str());
      PrintUsage();
      return 2;
    } else if (arg.empty()) {
      std::fprintf(stderr, "halvard-regsvr: empty library name\n");
      PrintUsage();
      return 2;
    } else {
      libraries.push_back(arg);
    }
  }
  if (libraries.empty()) {
    PrintUsage();
    return 2;
  }
  (void)CoInitialize(nullptr);
  bool allSucceeded = true;
  for (const std::string& library : libraries) {
    allSucceeded = Process(library, action) && allSucceeded;
  }
  CoUninitialize();
  return allSucceeded ? 0 : 1;
}
