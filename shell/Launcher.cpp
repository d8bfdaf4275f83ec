#include "shell/Launcher.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/base/Text.h"
#include "platform/registry/Registry.h"
#include "server/settings/Settings.h"

extern char** environ;

namespace halvard::shell {
namespace {

// Owns an open key handle.
class CKey {
 public:
  CKey() = default;
  CKey(const CKey&) = delete;
  CKey& operator=(const CKey&) = delete;
  ~CKey() {
    if (m_key != nullptr) {
      RegCloseKey(m_key);
    }
  }
  [[nodiscard]] HKEY* Out() { return &m_key; }
  [[nodiscard]] HKEY Get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

void Note(std::vector<std::string>* diagnostics, std::string line) {
  if (diagnostics != nullptr) {
    diagnostics->push_back(std::move(line));
  }
}

// The longest pause honoured; keeps the deadline arithmetic far from overflow for any
// stored delay and scale (about 30 years).
constexpr std::chrono::milliseconds kLongestPause{1'000'000'000'000LL};

}  // namespace

std::vector<GroupLaunchEntry> CollectGroupEntries(std::vector<std::string>* diagnostics) {
  std::vector<GroupLaunchEntry> entries;
  CKey key;
  LONG rc = RegCreateKeyEx(HKEY_LOCAL_MACHINE, settings::kCameraGroupPath, key.Out());
  if (rc != ERROR_SUCCESS) {
    // A read-only store cannot create the key but may still hold it.
    rc = RegOpenKeyEx(HKEY_LOCAL_MACHINE, settings::kCameraGroupPath, 0, KEY_READ, key.Out());
  }
  if (rc != ERROR_SUCCESS) {
    if (rc != ERROR_FILE_NOT_FOUND) {
      Note(diagnostics, std::string("camera groups cannot be read: ") + registry::ErrorName(rc));
    }
    return entries;
  }
  std::string name;
  std::array<BYTE, kEntryBufferBytes> data{};
  for (DWORD index = 0;; ++index) {
    DWORD type = REG_NONE;
    DWORD size = kEntryBufferBytes;
    rc = RegEnumValue(key.Get(), index, &name, &type, data.data(), &size);
    if (rc == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (rc == ERROR_MORE_DATA) {
      Note(diagnostics, "camera group value \"" + name + "\" skipped: its data exceeds " +
                            std::to_string(kEntryBufferBytes) + " bytes");
      continue;
    }
    if (rc != ERROR_SUCCESS) {
      Note(diagnostics, std::string("camera groups cannot be read further: ") + registry::ErrorName(rc));
      break;
    }
    if (name.size() >= kEntryBufferBytes) {
      Note(diagnostics, "a camera group value skipped: its name exceeds " + std::to_string(kEntryBufferBytes - 1) +
                            " bytes");
      continue;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      Note(diagnostics, "camera group value \"" + name + "\" skipped: not a string");
      continue;
    }
    std::string group = text::FromWideBytes(data.data(), size);
    if (group.empty()) {
      Note(diagnostics, "camera group value \"" + name + "\" skipped: no group name");
      continue;
    }
    const bool seen = std::any_of(entries.begin(), entries.end(),
                                  [&](const GroupLaunchEntry& e) { return e.valueData == group; });
    if (!seen) {
      entries.push_back({name, std::move(group)});
    }
  }
  return entries;
}

std::vector<ScreenLaunch> PlanLaunches(const std::vector<GroupLaunchEntry>& entries, const GroupDwordReader& cardScreen,
                                       const GroupDwordReader& cardScreenDelay) {
  // Each group's display is read once: the whole plan stands before the first start.
  std::vector<DWORD> screens;
  screens.reserve(entries.size());
  for (const GroupLaunchEntry& e : entries) {
    screens.push_back(cardScreen(e.valueData));
  }
  std::vector<ScreenLaunch> launches;
  for (DWORD screen = kFirstScreen; screen <= kLastScreen; ++screen) {
    ScreenLaunch launch;
    launch.screen = screen;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (screens[i] == screen) {
        launch.groups.push_back(entries[i].valueData);
        launch.delaySeconds = std::max(launch.delaySeconds, cardScreenDelay(entries[i].valueData));
      }
    }
    if (!launch.groups.empty()) {
      launches.push_back(std::move(launch));
    }
  }
  if (launches.empty()) {
    launches.push_back(ScreenLaunch{});
  }
  return launches;
}

std::vector<ScreenLaunch> PlanLaunches(const std::vector<GroupLaunchEntry>& entries) {
  return PlanLaunches(
      entries, [](std::string_view group) { return settings::kCardScreen.Read(group); },
      [](std::string_view group) { return settings::kCardScreenDelay.Read(group); });
}

std::vector<std::string> LaunchArguments(std::string_view serverPath, const ScreenLaunch& launch) {
  std::vector<std::string> tokens{std::string(serverPath)};
  if (launch.groups.empty()) {
    return tokens;
  }
  tokens.emplace_back("-G");
  tokens.insert(tokens.end(), launch.groups.begin(), launch.groups.end());
  tokens.emplace_back("-M");
  tokens.push_back(std::to_string(launch.screen));
  return tokens;
}

std::string BuildCommandLine(const std::vector<std::string>& tokens) {
  std::string line;
  for (const std::string& token : tokens) {
    if (!line.empty()) {
      line += ' ';
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : token) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      // Backslashes count only before a quotation mark: double them there, and escape
      // the mark itself.
      line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, '\\');  // before the closing mark
    line += '"';
  }
  return line;
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> tokens;
  std::string token;
  bool inToken = false;
  bool quoted = false;
  std::size_t i = 0;
  while (i < commandLine.size()) {
    const char c = commandLine[i];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inToken) {
        tokens.push_back(std::move(token));
        token.clear();
        inToken = false;
      }
      ++i;
      continue;
    }
    inToken = true;
    if (c == '\\') {
      std::size_t backslashes = 0;
      while (i < commandLine.size() && commandLine[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < commandLine.size() && commandLine[i] == '"') {
        token.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          token += '"';
          ++i;
        }
        // With an even count the mark is handled by the next round.
      } else {
        token.append(backslashes, '\\');
      }
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
    } else {
      token += c;
    }
    ++i;
  }
  if (inToken) {
    tokens.push_back(std::move(token));
  }
  return tokens;
}

std::string ServerPath() {
  std::array<char, 4096> buffer{};
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size() - 1) {
    return {};
  }
  const std::string self(buffer.data(), static_cast<std::size_t>(n));
  const std::size_t slash = self.rfind('/');
  if (slash == std::string::npos) {
    return {};
  }
  return self.substr(0, slash + 1) + "Halvard";
}

std::chrono::milliseconds DelayScale() {
  constexpr std::chrono::milliseconds kDefault{1000};
  const char* text = std::getenv("HALVARD_SHELL_DELAY_SCALE_MS");
  if (text == nullptr || *text < '0' || *text > '9') {
    return kDefault;
  }
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || value > static_cast<unsigned long long>(kLongestPause.count())) {
    return kDefault;
  }
  return std::chrono::milliseconds(static_cast<std::int64_t>(value));
}

int StartProcess(const std::vector<std::string>& argv, std::string* error) {
  if (argv.empty() || argv[0].empty()) {
    if (error != nullptr) {
      *error = "no program";
    }
    return -1;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);

  // The server inherits standard input, output and error only, never a descriptor the
  // launcher happened to hold (the settings store's among them).
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (error != nullptr) {
      *error = std::strerror(rc);
    }
    return -1;
  }
  return static_cast<int>(pid);
}

void PauseReapingChildren(std::chrono::milliseconds duration) {
  // Servers are not waited for, but one that ends during a pause must not stay a
  // zombie until the launcher exits: collect every ended child at least every 50 ms.
  constexpr std::chrono::milliseconds kSlice{50};
  const auto reap = [] {
    int status = 0;
    while (waitpid(-1, &status, WNOHANG) > 0) {
    }
  };
  duration = std::clamp(duration, std::chrono::milliseconds{0}, kLongestPause);
  const auto deadline = std::chrono::steady_clock::now() + duration;
  for (;;) {
    reap();
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= decltype(left)::zero()) {
      break;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kSlice));
  }
}

int RunLauncher() {
  std::vector<std::string> diagnostics;
  const std::vector<GroupLaunchEntry> entries = CollectGroupEntries(&diagnostics);
  for (const std::string& line : diagnostics) {
    std::fprintf(stderr, "HalvardShell: %s\n", line.c_str());
  }
  const std::vector<ScreenLaunch> launches = PlanLaunches(entries);
  // Everything is read: close the store before any server starts.
  registry::ResetStore();

  const std::string server = ServerPath();
  const std::chrono::milliseconds scale = DelayScale();
  for (const ScreenLaunch& launch : launches) {
    const std::string line = BuildCommandLine(LaunchArguments(server, launch));
    std::string error;
    const int pid = StartProcess(SplitCommandLine(line), &error);
    if (pid < 0) {
      std::fprintf(stderr, "HalvardShell: cannot start %s: %s\n", line.c_str(), error.c_str());
    } else {
      std::fprintf(stderr, "HalvardShell: started %s (process %d)\n", line.c_str(), pid);
    }
    // The pause after each display's server, whether or not it started; a stored delay
    // beyond the longest pause waits the longest pause.
    const auto seconds = static_cast<std::int64_t>(launch.delaySeconds);
    const std::int64_t limit = kLongestPause.count() / std::max<std::int64_t>(scale.count(), 1);
    PauseReapingChildren(seconds > limit ? kLongestPause : scale * seconds);
  }
  PauseReapingChildren(std::chrono::milliseconds{0});
  return 0;
}

}  // namespace halvard::shell
