#include "server/system/IniText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace halvard::system {

namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

// "[name]" gives name; other lines give nullopt.
std::optional<std::string_view> SectionOf(std::string_view line) {
  const std::string_view t = Trim(line);
  if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
    return t.substr(1, t.size() - 2);
  }
  return std::nullopt;
}

// "key = value" gives key and value; comments and other lines give false.
bool KeyOf(std::string_view line, std::string_view* key, std::string_view* value) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() == '#' || t.front() == ';') {
    return false;
  }
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) {
    return false;
  }
  *key = Trim(t.substr(0, eq));
  *value = Trim(t.substr(eq + 1));
  return true;
}

}  // namespace

CIniText::CIniText(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      m_lines.emplace_back(text.substr(start));
      break;
    }
    m_lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::optional<std::string> CIniText::Get(std::string_view section, std::string_view key) const {
  bool inSection = false;
  for (const std::string& line : m_lines) {
    if (const auto name = SectionOf(line)) {
      inSection = *name == section;
      continue;
    }
    std::string_view k;
    std::string_view v;
    if (inSection && KeyOf(line, &k, &v) && k == key) {
      return std::string(v);
    }
  }
  return std::nullopt;
}

void CIniText::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string newLine = std::string(key) + "=" + std::string(value);
  bool inSection = false;
  std::optional<std::size_t> sectionEnd;  // index after the last non-blank line of the section
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    if (const auto name = SectionOf(m_lines[i])) {
      if (inSection) {
        break;
      }
      inSection = *name == section;
      if (inSection) {
        sectionEnd = i + 1;
      }
      continue;
    }
    if (!inSection) {
      continue;
    }
    std::string_view k;
    std::string_view v;
    if (KeyOf(m_lines[i], &k, &v) && k == key) {
      m_lines[i] = newLine;
      return;
    }
    if (!Trim(m_lines[i]).empty()) {
      sectionEnd = i + 1;
    }
  }
  if (sectionEnd) {
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), newLine);
    return;
  }
  if (!m_lines.empty() && !Trim(m_lines.back()).empty()) {
    m_lines.emplace_back();
  }
  m_lines.push_back("[" + std::string(section) + "]");
  m_lines.push_back(newLine);
}

std::string CIniText::Text() const {
  std::string text;
  for (const std::string& line : m_lines) {
    text += line;
    text += '\n';
  }
  return text;
}

std::optional<std::string> ReadTextFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    return std::nullopt;
  }
  return text.str();
}

bool WriteTextFileAtomically(const std::filesystem::path& path, std::string_view text, std::string* error,
                             unsigned mode) {
  const auto fail = [&](const std::string& what) {
    if (error != nullptr) {
      *error = what + ": " + std::strerror(errno);
    }
    return false;
  };
  std::string temp = path.string() + ".halvard-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    return fail("cannot write " + path.string());
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      const int saved = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      errno = saved;
      return fail("cannot write " + path.string());
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
    const int saved = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    errno = saved;
    return fail("cannot write " + path.string());
  }
  ::close(fd);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return fail("cannot replace " + path.string());
  }
  return true;
}

}  // namespace halvard::system
