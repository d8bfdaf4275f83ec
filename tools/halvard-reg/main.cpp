// halvard-reg: reads and writes the settings store from the command line.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/registry/Registry.h"
#include "platform/capture/NetworkCamera.h"
#include "server/settings/Settings.h"
#include "tools/halvard-reg/RegText.h"

namespace {

using halvard::registry::ErrorName;
namespace settings = halvard::settings;
namespace regtext = halvard::regtext;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: halvard-reg COMMAND ...\n"
    "  query KEY [VALUE]              list a key's values and sub-keys, or print one value\n"
    "  set KEY VALUE TYPE DATA        write a value; TYPE is dword (decimal or 0x...), sz or\n"
    "                                 binary (hexadecimal bytes, e.g. ff00a1)\n"
    "  delete KEY [VALUE]             delete a key with everything below it, or one value\n"
    "  export FILE [KEY]              write the store (or one key) as text; FILE - is standard output\n"
    "  import FILE                    apply an exported text in one transaction; FILE - is standard input\n"
    "  settings [GROUP [CAMERA]]      every system, group or camera setting with its effective value\n"
    "KEY starts with HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU) or HKEY_CLASSES_ROOT (HKCR);\n"
    "an empty VALUE (\"\") names the key's default value.\n"
    "The store is $HALVARD_REGISTRY, else ${XDG_DATA_HOME:-~/.local/share}/halvard/registry.db.\n";

int Usage(const std::string& why) {
  if (!why.empty()) {
    std::cerr << "halvard-reg: " << why << "\n";
  }
  std::cerr << kUsage;
  return kExitUsage;
}

int Fail(const std::string& why) {
  std::cerr << "halvard-reg: " << why << "\n";
  return kExitFailed;
}

struct KeyHolder {
  HKEY h = nullptr;
  ~KeyHolder() {
    if (h != nullptr) {
      RegCloseKey(h);
    }
  }
};

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    case REG_NONE: return "REG_NONE";
    default: return "type " + std::to_string(type);
  }
}

// Opens KEY for reading, or explains why not.
bool OpenForRead(const std::string& path, KeyHolder* key, std::string* error) {
  HKEY root = nullptr;
  std::string sub;
  if (!regtext::SplitRoot(path, &root, &sub)) {
    *error = "unknown root key in \"" + path + "\" (HKLM, HKCU or HKCR)";
    return false;
  }
  const LONG rc = RegOpenKeyEx(root, sub, 0, KEY_READ, &key->h);
  if (rc != ERROR_SUCCESS) {
    *error = "\"" + path + "\": " + ErrorName(rc);
    return false;
  }
  return true;
}

std::string ValueLine(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
  std::string shown;
  if (type == REG_DWORD && data.size() == 4) {
    DWORD v = 0;
    std::memcpy(&v, data.data(), 4);
    shown = std::to_string(v);
  } else {
    // Addresses of network cameras carry passwords: never shown.
    shown = halvard::capture::MaskUrl(regtext::FormatData(type, data.data(), static_cast<DWORD>(data.size())));
  }
  return (name.empty() ? std::string("@") : regtext::Quote(name)) + "  " + TypeName(type) + "  " +
         std::to_string(data.size()) + " bytes  " + shown;
}

int Query(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) {
    return Usage("query takes KEY [VALUE]");
  }
  KeyHolder key;
  std::string error;
  if (!OpenForRead(args[0], &key, &error)) {
    return Fail(error);
  }
  if (args.size() == 2) {
    DWORD size = 0;
    DWORD type = 0;
    LONG rc = RegQueryValueEx(key.h, args[1], &type, nullptr, &size);
    std::vector<BYTE> data(size);
    if (rc == ERROR_SUCCESS) {
      rc = RegQueryValueEx(key.h, args[1], &type, data.data(), &size);
    }
    if (rc != ERROR_SUCCESS) {
      return Fail("value \"" + args[1] + "\" of \"" + args[0] + "\": " + ErrorName(rc));
    }
    std::cout << ValueLine(args[1], type, data) << "\n";
    return kExitOk;
  }
  std::string name;
  for (DWORD i = 0;; ++i) {
    DWORD size = 0;
    DWORD type = 0;
    if (RegEnumValue(key.h, i, &name, &type, nullptr, &size) != ERROR_SUCCESS) {
      break;
    }
    std::vector<BYTE> data(size);
    if (RegEnumValue(key.h, i, &name, &type, data.data(), &size) == ERROR_SUCCESS) {
      std::cout << ValueLine(name, type, data) << "\n";
    }
  }
  for (DWORD i = 0; RegEnumKeyEx(key.h, i, &name) == ERROR_SUCCESS; ++i) {
    std::cout << "[" << name << "]\n";
  }
  return kExitOk;
}

bool ParseDword(const std::string& text, DWORD* out) {
  if (text.empty()) {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  const bool negative = text[0] == '-';
  if (negative) {
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v < INT32_MIN) {
      return false;
    }
    *out = static_cast<DWORD>(static_cast<std::int32_t>(v));
    return true;
  }
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (*end != '\0' || errno != 0 || v > 0xFFFFFFFFull) {
    return false;
  }
  *out = static_cast<DWORD>(v);
  return true;
}

bool ParseHex(std::string text, std::vector<BYTE>* out) {
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == ':') {
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      return false;
    }
    digits += c;
  }
  if (digits.size() % 2 != 0) {
    return false;
  }
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    out->push_back(static_cast<BYTE>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return true;
}

int Set(const std::vector<std::string>& args) {
  if (args.size() != 4) {
    return Usage("set takes KEY VALUE TYPE DATA");
  }
  const std::string& type = args[2];
  const std::string& dataText = args[3];
  DWORD regType = REG_NONE;
  std::vector<BYTE> data;
  if (halvard::text::EqualsNoCase(type, "dword")) {
    DWORD v = 0;
    if (!ParseDword(dataText, &v)) {
      return Fail("\"" + dataText + "\" is not a 32-bit number");
    }
    regType = REG_DWORD;
    data.resize(4);
    std::memcpy(data.data(), &v, 4);
  } else if (halvard::text::EqualsNoCase(type, "sz")) {
    regType = REG_SZ;
    data = halvard::text::ToWideBytes(dataText);
  } else if (halvard::text::EqualsNoCase(type, "binary")) {
    if (!ParseHex(dataText, &data)) {
      return Fail("\"" + dataText + "\" is not a list of hexadecimal bytes");
    }
    regType = REG_BINARY;
  } else {
    return Usage("unknown type \"" + type + "\" (dword, sz or binary)");
  }
  HKEY root = nullptr;
  std::string sub;
  if (!regtext::SplitRoot(args[0], &root, &sub)) {
    return Fail("unknown root key in \"" + args[0] + "\" (HKLM, HKCU or HKCR)");
  }
  KeyHolder key;
  LONG rc = RegCreateKeyEx(root, sub, &key.h);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueEx(key.h, args[1], regType, data.data(), static_cast<DWORD>(data.size()));
  }
  if (rc != ERROR_SUCCESS) {
    return Fail("cannot write \"" + args[1] + "\" of \"" + args[0] + "\": " + ErrorName(rc));
  }
  return kExitOk;
}

int Delete(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) {
    return Usage("delete takes KEY [VALUE]");
  }
  HKEY root = nullptr;
  std::string sub;
  if (!regtext::SplitRoot(args[0], &root, &sub)) {
    return Fail("unknown root key in \"" + args[0] + "\" (HKLM, HKCU or HKCR)");
  }
  if (args.size() == 2) {
    KeyHolder key;
    LONG rc = RegOpenKeyEx(root, sub, 0, KEY_ALL_ACCESS, &key.h);
    if (rc == ERROR_SUCCESS) {
      rc = RegDeleteValue(key.h, args[1]);
    }
    if (rc != ERROR_SUCCESS) {
      return Fail("cannot delete \"" + args[1] + "\" of \"" + args[0] + "\": " + ErrorName(rc));
    }
    return kExitOk;
  }
  while (!sub.empty() && sub.back() == '\\') {
    sub.pop_back();
  }
  if (sub.empty()) {
    return Fail("a root key cannot be deleted");
  }
  const LONG rc = RegDeleteTree(root, sub);
  if (rc != ERROR_SUCCESS) {
    return Fail("cannot delete \"" + args[0] + "\": " + ErrorName(rc));
  }
  return kExitOk;
}

int Export(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) {
    return Usage("export takes FILE [KEY]");
  }
  std::string text;
  std::string error;
  if (!regtext::Export(args.size() == 2 ? args[1] : std::string(), &text, &error)) {
    return Fail(error);
  }
  if (args[0] == "-") {
    std::cout << text;
    return std::cout.good() ? kExitOk : Fail("cannot write to standard output");
  }
  // Written beside the target and renamed over it, so a failed export never leaves a
  // truncated file where a good one was.
  const std::string temp = args[0] + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out.good()) {
      std::remove(temp.c_str());
      return Fail("cannot write \"" + args[0] + "\": " + std::strerror(errno));
    }
  }
  if (std::rename(temp.c_str(), args[0].c_str()) != 0) {
    const std::string why = std::strerror(errno);
    std::remove(temp.c_str());
    return Fail("cannot write \"" + args[0] + "\": " + why);
  }
  return kExitOk;
}

int Import(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    return Usage("import takes FILE");
  }
  std::stringstream buffer;
  if (args[0] == "-") {
    buffer << std::cin.rdbuf();
  } else {
    std::ifstream in(args[0], std::ios::binary);
    if (!in) {
      return Fail("cannot read \"" + args[0] + "\": " + std::strerror(errno));
    }
    buffer << in.rdbuf();
  }
  std::string error;
  if (!regtext::Import(buffer.str(), &error)) {
    return Fail(args[0] + ": " + error + " (nothing was changed)");
  }
  return kExitOk;
}

std::string Shorten(std::string text) {
  constexpr std::size_t kMax = 48;
  if (text.size() > kMax) {
    text = text.substr(0, kMax - 3) + "...";
  }
  return text;
}

int Settings(const std::vector<std::string>& args) {
  if (args.size() > 2) {
    return Usage("settings takes [GROUP [CAMERA]]");
  }
  settings::Level level = settings::Level::System;
  std::string title = "System settings";
  std::string keyPath(settings::kSystemPath);
  if (args.size() >= 1) {
    level = settings::Level::Group;
    title = "Settings of group \"" + args[0] + "\"";
    keyPath = settings::GroupKeyPath(args[0]);
  }
  if (args.size() == 2) {
    level = settings::Level::Camera;
    title = "Settings of camera \"" + args[1] + "\" in group \"" + args[0] + "\"";
    keyPath = settings::CameraKeyPath(args[0], args[1]);
  }
  KeyHolder probe;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &probe.h) != ERROR_SUCCESS) {
    std::cerr << "halvard-reg: note: the key does not exist yet; every value reads its default\n";
  }
  const auto rows = settings::ListSettings(level, args.size() >= 1 ? args[0] : std::string(),
                                           args.size() == 2 ? args[1] : std::string());
  std::cout << title << "\n";
  std::cout << "Key: HKEY_LOCAL_MACHINE\\" << keyPath << "\n\n";
  std::printf("%-32s %-6s %-50s %s\n", "Value", "Type", "Effective value", "Source");
  for (const auto& row : rows) {
    const char* type = row.type == settings::ValueType::Dword ? "DWORD" : row.type == settings::ValueType::Sz ? "SZ" : "BIN";
    const std::string value =
        row.type == settings::ValueType::Sz ? regtext::Quote(row.effective) : Shorten(row.effective);
    const std::string source = row.isDefault ? "default" : "stored (default " + row.defaultText + ")";
    std::printf("%-32s %-6s %-50s %s\n", row.name.c_str(), type, Shorten(value).c_str(), source.c_str());
  }
  if (level == settings::Level::System) {
    const auto cameras = halvard::capture::ReadNetworkCameras();
    if (!cameras.empty()) {
      std::cout << "\nNetwork cameras (HKEY_LOCAL_MACHINE\\" << halvard::capture::kNetworkCamerasPath << ")\n";
      for (const auto& camera : cameras) {
        std::printf("%-32s %s\n", camera.name.c_str(), halvard::capture::MaskUrl(camera.url).c_str());
      }
    }
  }
  return std::cout.good() ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    return Usage("");
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "query") return Query(args);
  if (command == "set") return Set(args);
  if (command == "delete") return Delete(args);
  if (command == "export") return Export(args);
  if (command == "import") return Import(args);
  if (command == "settings") return Settings(args);
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << kUsage;
    return kExitOk;
  }
  return Usage("unknown command \"" + command + "\"");
}
