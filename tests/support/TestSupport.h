#pragma once
/// Support for every test program. The test main gives each test process a private
/// data folder: $HALVARD_DATA and $HALVARD_REGISTRY point into a fresh temporary
/// folder, and $XDG_DATA_HOME too, so no test touches the user's settings or archive.
/// It also sets $QT_QPA_PLATFORM=offscreen (unless set), $HALVARD_BUILD_DIR and
/// $HALVARD_SOURCE_DIR (the build and source trees).

#include <filesystem>
#include <string>

namespace halvard::testing {

/// A temporary folder removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::filesystem::path& Path() const { return m_path; }
  [[nodiscard]] std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

/// Points the settings store at a fresh database file for the lifetime of the object
/// and restores the previous one afterwards.
class ScopedRegistry {
 public:
  ScopedRegistry();
  ~ScopedRegistry();
  ScopedRegistry(const ScopedRegistry&) = delete;
  ScopedRegistry& operator=(const ScopedRegistry&) = delete;
  [[nodiscard]] std::string Path() const { return m_path; }

 private:
  TempDir m_dir;
  std::string m_path;
  std::string m_previous;
};

/// The build tree (from $HALVARD_BUILD_DIR, else the folder above the test program).
[[nodiscard]] std::filesystem::path BuildDir();
/// A program of the build: BuildDir()/bin/name.
[[nodiscard]] std::string ProgramPath(const std::string& name);
/// A library or component of the build: BuildDir()/lib/name.
[[nodiscard]] std::string LibraryPath(const std::string& name);

/// Runs a shell command line; returns its exit status (or -1) and its standard output
/// (standard error too when mergeStderr is set).
struct CommandResult {
  int status = -1;
  std::string output;
};
[[nodiscard]] CommandResult RunCommand(const std::string& commandLine, bool mergeStderr = false);

/// Quotes text for /bin/sh.
[[nodiscard]] std::string ShellQuote(const std::string& text);

}  // namespace halvard::testing
