#pragma once
/// Editing the key files of display managers in place: a change touches only the one
/// line it sets, keeping comments, order and everything it does not know.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvard::system {

class CIniText {
 public:
  explicit CIniText(std::string_view text = {});

  /// The value of `key` in `[section]` (first occurrence; names compared exactly,
  /// spaces around '=' ignored), nullopt when absent.
  [[nodiscard]] std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  /// Replaces the key's line, or adds it at the end of the section, or adds the
  /// section at the end of the text.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  [[nodiscard]] std::string Text() const;

 private:
  std::vector<std::string> m_lines;
};

/// Reads a whole file; nullopt when it cannot be read.
[[nodiscard]] std::optional<std::string> ReadTextFile(const std::filesystem::path& path);

/// Writes a file through a temporary file in the same folder and a rename, so that a
/// reader never sees half a file; the file gets mode `mode` (before the umask is not
/// applied). False with *error set on failure, the old file left as it was.
[[nodiscard]] bool WriteTextFileAtomically(const std::filesystem::path& path, std::string_view text,
                                           std::string* error, unsigned mode = 0644);

}  // namespace halvard::system
