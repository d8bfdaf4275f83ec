#pragma once
/// The text form of the settings store used by `halvard-reg export` and `import`.
///
///   Halvard Registry Export 1
///
///   [HKEY_LOCAL_MACHINE\Software\Tesmark\Halvard Surveillance Server\System]
///   "Boot Auto Start"=dword:00000001
///   "Last Startup"="Mon 07 Dec 2026 20:10:33"
///   @="the key's default (unnamed) value"
///   "Motion Mark"=hex:ff,ff,ff
///   "Short"=hex(4):01,02
///
/// - The first line is the header above. Blank lines and lines starting with ';' are
///   ignored. Each key is a line "[ROOT\path]", ROOT being HKEY_LOCAL_MACHINE or
///   HKEY_CURRENT_USER (HKEY_CLASSES_ROOT and the abbreviations HKLM, HKCU, HKCR are
///   accepted on import); every key is listed, empty keys too, parents before children,
///   sub-keys in enumeration order, values in creation order.
/// - Values: "name" or @ (the empty name), '=', then the data:
///   "text"         REG_SZ holding exactly that text and its terminator
///   dword:XXXXXXXX a 4-byte REG_DWORD in hexadecimal
///   hex:bb,bb      REG_BINARY bytes
///   hex(T):bb,bb   any other type T (decimal) or size, byte for byte, e.g. a DWORD of
///                  size 0 is hex(4): and a string without terminator hex(1):...
///   In quoted names and texts, \\ \" \n \r \t stand for themselves.
/// - Export then import into an empty store reproduces every key, value, type, size and
///   byte. Import merges into what is there, all in one transaction: a file with any
///   error changes nothing.

#include <string>
#include <string_view>

#include "platform/registry/Registry.h"

namespace halvard::regtext {

inline constexpr std::string_view kHeader = "Halvard Registry Export 1";

/// Writes the tree under `keyPath` ("HKEY_LOCAL_MACHINE\...", or empty for both roots).
/// Returns false with *error set when the key does not exist or cannot be read, or a
/// key name holds a line break (it cannot be written on one line).
[[nodiscard]] bool Export(std::string_view keyPath, std::string* out, std::string* error);

/// Applies a text in one store transaction. Returns false with *error ("line N: ...")
/// and nothing changed on any error.
[[nodiscard]] bool Import(std::string_view text, std::string* error);

/// Splits "HKLM\a\b" or "HKEY_LOCAL_MACHINE\a\b" into root and sub-key path. False for
/// an unknown root.
[[nodiscard]] bool SplitRoot(std::string_view path, HKEY* root, std::string* subKey);

/// The text form of one value's data (what follows '=').
[[nodiscard]] std::string FormatData(DWORD type, const BYTE* data, DWORD size);

/// A quoted text with escapes.
[[nodiscard]] std::string Quote(std::string_view text);

}  // namespace halvard::regtext
