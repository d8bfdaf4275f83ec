#include "tools/halvard-reg/RegText.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/base/Text.h"

namespace halvard::regtext {
namespace {

struct KeyHolder {
  HKEY h = nullptr;
  ~KeyHolder() {
    if (h != nullptr) {
      RegCloseKey(h);
    }
  }
};

std::string HexBytes(const BYTE* data, DWORD size) {
  std::string out;
  char buf[4];
  for (DWORD i = 0; i < size; ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02x" : ",%02x", data[i]);
    out += buf;
  }
  return out;
}

bool ExportKey(HKEY key, const std::string& path, std::string* out, std::string* error) {
  if (path.find_first_of("\r\n") != std::string::npos) {
    *error = "key name with a line break cannot be exported: " + path;
    return false;
  }
  *out += "\n[" + path + "]\n";
  std::string name;
  for (DWORD i = 0;; ++i) {
    DWORD size = 0;
    DWORD type = 0;
    LONG rc = RegEnumValue(key, i, &name, &type, nullptr, &size);
    if (rc == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (rc != ERROR_SUCCESS) {
      *error = std::string("cannot read a value of ") + path + ": " + halvard::registry::ErrorName(rc);
      return false;
    }
    std::vector<BYTE> data(size);
    rc = RegEnumValue(key, i, &name, &type, data.data(), &size);
    if (rc != ERROR_SUCCESS) {
      *error = std::string("cannot read a value of ") + path + ": " + halvard::registry::ErrorName(rc);
      return false;
    }
    *out += (name.empty() ? std::string("@") : Quote(name)) + "=" + FormatData(type, data.data(), size) + "\n";
  }
  for (DWORD i = 0;; ++i) {
    const LONG rc = RegEnumKeyEx(key, i, &name);
    if (rc == ERROR_NO_MORE_ITEMS) {
      break;
    }
    KeyHolder child;
    if (rc != ERROR_SUCCESS || RegOpenKeyEx(key, name, 0, KEY_READ, &child.h) != ERROR_SUCCESS) {
      *error = "cannot read the sub-keys of " + path;
      return false;
    }
    if (!ExportKey(child.h, path + "\\" + name, out, error)) {
      return false;
    }
  }
  return true;
}

// ---- parsing ------------------------------------------------------------------------

class Cursor {
 public:
  explicit Cursor(std::string_view s) : m_s(s) {}
  [[nodiscard]] bool AtEnd() const { return m_i >= m_s.size(); }
  [[nodiscard]] char Peek() const { return AtEnd() ? '\0' : m_s[m_i]; }
  bool Take(char c) {
    if (Peek() == c && !AtEnd()) {
      ++m_i;
      return true;
    }
    return false;
  }
  bool TakeWord(std::string_view w) {
    if (m_s.substr(m_i).starts_with(w)) {
      m_i += w.size();
      return true;
    }
    return false;
  }
  // A quoted text with escapes; the opening quote must be next.
  std::optional<std::string> Quoted() {
    if (!Take('"')) {
      return std::nullopt;
    }
    std::string out;
    while (!AtEnd()) {
      const char c = m_s[m_i++];
      if (c == '"') {
        return out;
      }
      if (c == '\\') {
        if (AtEnd()) {
          return std::nullopt;
        }
        const char e = m_s[m_i++];
        switch (e) {
          case '\\': out += '\\'; break;
          case '"': out += '"'; break;
          case 'n': out += '\n'; break;
          case 'r': out += '\r'; break;
          case 't': out += '\t'; break;
          default: return std::nullopt;
        }
      } else {
        out += c;
      }
    }
    return std::nullopt;
  }
  [[nodiscard]] std::string_view Rest() const { return m_s.substr(std::min(m_i, m_s.size())); }

 private:
  std::string_view m_s;
  std::size_t m_i = 0;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::vector<BYTE>> ParseHexList(std::string_view s) {
  std::vector<BYTE> out;
  if (s.empty()) {
    return out;
  }
  std::size_t i = 0;
  while (true) {
    if (i + 2 > s.size()) {
      return std::nullopt;
    }
    const int hi = HexDigit(s[i]);
    const int lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) {
      return std::nullopt;
    }
    out.push_back(static_cast<BYTE>(hi * 16 + lo));
    i += 2;
    if (i == s.size()) {
      return out;
    }
    if (s[i] != ',') {
      return std::nullopt;
    }
    ++i;
  }
}

struct ParsedValue {
  std::string name;
  DWORD type;
  std::vector<BYTE> data;
};

std::optional<ParsedValue> ParseValueLine(std::string_view line, std::string* why) {
  Cursor c(line);
  ParsedValue v;
  if (c.Take('@')) {
    v.name.clear();
  } else if (auto name = c.Quoted()) {
    v.name = *name;
  } else {
    *why = "expected a quoted value name or @";
    return std::nullopt;
  }
  if (!c.Take('=')) {
    *why = "expected '=' after the value name";
    return std::nullopt;
  }
  if (c.Peek() == '"') {
    auto text = c.Quoted();
    if (!text || !c.AtEnd()) {
      *why = "bad quoted text";
      return std::nullopt;
    }
    v.type = REG_SZ;
    v.data = halvard::text::ToWideBytes(*text);
    return v;
  }
  if (c.TakeWord("dword:")) {
    const std::string_view digits = c.Rest();
    if (digits.size() != 8) {
      *why = "dword: takes eight hexadecimal digits";
      return std::nullopt;
    }
    DWORD value = 0;
    for (char d : digits) {
      const int h = HexDigit(d);
      if (h < 0) {
        *why = "dword: takes eight hexadecimal digits";
        return std::nullopt;
      }
      value = value * 16 + static_cast<DWORD>(h);
    }
    v.type = REG_DWORD;
    v.data.resize(4);
    std::memcpy(v.data.data(), &value, 4);
    return v;
  }
  if (c.TakeWord("hex(")) {
    const std::string_view rest = c.Rest();
    const std::size_t close = rest.find("):");
    if (close == std::string_view::npos || close == 0 || close > 10) {
      *why = "hex( takes a decimal type and \"):\"";
      return std::nullopt;
    }
    std::uint64_t type = 0;
    for (char d : rest.substr(0, close)) {
      if (d < '0' || d > '9') {
        *why = "hex( takes a decimal type";
        return std::nullopt;
      }
      type = type * 10 + static_cast<std::uint64_t>(d - '0');
    }
    if (type > 0xFFFFFFFFu) {
      *why = "type out of range";
      return std::nullopt;
    }
    auto bytes = ParseHexList(rest.substr(close + 2));
    if (!bytes) {
      *why = "bad byte list (two hexadecimal digits per byte, separated by commas)";
      return std::nullopt;
    }
    v.type = static_cast<DWORD>(type);
    v.data = std::move(*bytes);
    return v;
  }
  if (c.TakeWord("hex:")) {
    auto bytes = ParseHexList(c.Rest());
    if (!bytes) {
      *why = "bad byte list (two hexadecimal digits per byte, separated by commas)";
      return std::nullopt;
    }
    v.type = REG_BINARY;
    v.data = std::move(*bytes);
    return v;
  }
  *why = "unknown data form (expected \"text\", dword:, hex: or hex(T):)";
  return std::nullopt;
}

}  // namespace

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

std::string FormatData(DWORD type, const BYTE* data, DWORD size) {
  if (type == REG_DWORD && size == 4) {
    DWORD v = 0;
    std::memcpy(&v, data, 4);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    return buf;
  }
  if (type == REG_SZ) {
    // Only a string that reads back to the very same bytes is written as text.
    const std::string text = halvard::text::FromWideBytes(data, size);
    const std::vector<BYTE> again = halvard::text::ToWideBytes(text);
    bool control = false;
    for (unsigned char ch : text) {
      control = control || (ch < 0x20 && ch != '\n' && ch != '\r' && ch != '\t');
    }
    if (!control && again.size() == size && std::memcmp(again.data(), data, size) == 0) {
      return Quote(text);
    }
  }
  if (type == REG_BINARY) {
    return "hex:" + HexBytes(data, size);
  }
  return "hex(" + std::to_string(type) + "):" + HexBytes(data, size);
}

bool SplitRoot(std::string_view path, HKEY* root, std::string* subKey) {
  const std::size_t slash = path.find('\\');
  const std::string rootName = halvard::text::FoldCase(path.substr(0, slash));
  subKey->assign(slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1));
  if (rootName == "HKEY_LOCAL_MACHINE" || rootName == "HKLM") {
    *root = HKEY_LOCAL_MACHINE;
  } else if (rootName == "HKEY_CURRENT_USER" || rootName == "HKCU") {
    *root = HKEY_CURRENT_USER;
  } else if (rootName == "HKEY_CLASSES_ROOT" || rootName == "HKCR") {
    *root = HKEY_CLASSES_ROOT;
  } else {
    return false;
  }
  return true;
}

bool Export(std::string_view keyPath, std::string* out, std::string* error) {
  out->assign(kHeader);
  *out += "\n";
  if (keyPath.empty()) {
    return ExportKey(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", out, error) &&
           ExportKey(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", out, error);
  }
  HKEY root = nullptr;
  std::string sub;
  if (!SplitRoot(keyPath, &root, &sub)) {
    *error = "unknown root key in " + std::string(keyPath);
    return false;
  }
  KeyHolder key;
  const LONG rc = RegOpenKeyEx(root, sub, 0, KEY_READ, &key.h);
  if (rc != ERROR_SUCCESS) {
    *error = std::string(keyPath) + ": " + halvard::registry::ErrorName(rc);
    return false;
  }
  // Exported paths always name the machine or user root, never the classes alias.
  std::string path = root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CLASSES_ROOT) {
    path += "\\Software\\Classes";
  }
  if (!sub.empty()) {
    path += "\\" + sub;
  }
  return ExportKey(key.h, path, out, error);
}

bool Import(std::string_view text, std::string* error) {
  halvard::registry::CStoreTransaction txn;
  if (txn.Status() != ERROR_SUCCESS) {
    *error = std::string("settings store: ") + halvard::registry::ErrorName(txn.Status());
    return false;
  }
  KeyHolder current;
  std::size_t lineNo = 0;
  bool sawHeader = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    auto fail = [&](const std::string& why) {
      *error = "line " + std::to_string(lineNo) + ": " + why;
      return false;
    };
    if (!sawHeader) {
      if (line != kHeader) {
        return fail("the file does not start with \"" + std::string(kHeader) + "\"");
      }
      sawHeader = true;
      continue;
    }
    if (line.empty() || line.front() == ';') {
      if (end == text.size()) {
        break;
      }
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']') {
        return fail("a key line ends with ']'");
      }
      HKEY root = nullptr;
      std::string sub;
      if (!SplitRoot(line.substr(1, line.size() - 2), &root, &sub)) {
        return fail("unknown root key");
      }
      if (current.h != nullptr) {
        RegCloseKey(current.h);
        current.h = nullptr;
      }
      const LONG rc = RegCreateKeyEx(root, sub, &current.h);
      if (rc != ERROR_SUCCESS) {
        return fail(std::string("cannot create the key: ") + halvard::registry::ErrorName(rc));
      }
      continue;
    }
    if (current.h == nullptr) {
      return fail("a value before the first key line");
    }
    std::string why;
    auto value = ParseValueLine(line, &why);
    if (!value) {
      return fail(why);
    }
    const LONG rc = RegSetValueEx(current.h, value->name, value->type, value->data.data(),
                                  static_cast<DWORD>(value->data.size()));
    if (rc != ERROR_SUCCESS) {
      return fail(std::string("cannot write the value: ") + halvard::registry::ErrorName(rc));
    }
    if (end == text.size()) {
      break;
    }
  }
  if (!sawHeader) {
    *error = "empty file";
    return false;
  }
  const LONG rc = txn.Commit();
  if (rc != ERROR_SUCCESS) {
    *error = std::string("settings store: ") + halvard::registry::ErrorName(rc);
    return false;
  }
  return true;
}

}  // namespace halvard::regtext
