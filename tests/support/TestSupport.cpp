#include "tests/support/TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/registry/Registry.h"

namespace fs = std::filesystem;

namespace halvard::testing {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "halvard-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

ScopedRegistry::ScopedRegistry() : m_path(m_dir.File("registry.db")) {
  if (const char* p = std::getenv("HALVARD_REGISTRY")) {
    m_previous = p;
  }
  setenv("HALVARD_REGISTRY", m_path.c_str(), 1);
  halvard::registry::ResetStore();
}

ScopedRegistry::~ScopedRegistry() {
  if (m_previous.empty()) {
    unsetenv("HALVARD_REGISTRY");
  } else {
    setenv("HALVARD_REGISTRY", m_previous.c_str(), 1);
  }
  halvard::registry::ResetStore();
}

fs::path BuildDir() {
  if (const char* p = std::getenv("HALVARD_BUILD_DIR"); p != nullptr && *p != '\0') {
    return p;
  }
  std::array<char, 4096> self{};
  const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (n > 0) {
    return fs::path(std::string(self.data(), static_cast<std::size_t>(n))).parent_path().parent_path();
  }
  return fs::current_path();
}

std::string ProgramPath(const std::string& name) { return (BuildDir() / "bin" / name).string(); }
std::string LibraryPath(const std::string& name) { return (BuildDir() / "lib" / name).string(); }

CommandResult RunCommand(const std::string& commandLine, bool mergeStderr) {
  CommandResult result;
  const std::string line = mergeStderr ? "(" + commandLine + ") 2>&1" : commandLine;
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) {
    return result;
  }
  std::array<char, 4096> buffer{};
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    result.output.append(buffer.data(), n);
  }
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace halvard::testing
