#include "server/system/CommandRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace halvard::system {

std::string CommandOutcome::Describe() const {
  std::string text;
  switch (exitCode) {
    case kNotStarted:
      text = "could not be started";
      break;
    case kTimedOut:
      text = "did not finish in time and was stopped";
      break;
    case kKilled:
      text = "was ended by a signal";
      break;
    default:
      text = "exit status " + std::to_string(exitCode);
      break;
  }
  const std::string firstLine = output.substr(0, output.find('\n'));
  if (!firstLine.empty()) {
    text += ": " + firstLine;
  }
  return text;
}

namespace {

// Closes a descriptor once.
struct Fd {
  int fd = -1;
  ~Fd() { Close(); }
  void Close() {
    if (fd >= 0) {
      ::close(fd);
      fd = -1;
    }
  }
};

bool IsExecutable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

bool CProcessRunner::HasProgram(const std::string& name) {
  if (name.empty()) {
    return false;
  }
  if (name.find('/') != std::string::npos) {
    return IsExecutable(name);
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
    if (IsExecutable(dir + "/" + name)) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

CommandOutcome CProcessRunner::Run(const std::vector<std::string>& argv) {
  CommandOutcome outcome;
  if (argv.empty() || argv[0].empty()) {
    return outcome;
  }
  int pipeFds[2] = {-1, -1};
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    return outcome;
  }
  Fd readEnd{pipeFds[0]};
  Fd writeEnd{pipeFds[1]};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, 1);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, 2);
  // The child gets its own process group so that a time-out can end the tool
  // together with anything it started.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  writeEnd.Close();
  if (rc != 0) {
    return outcome;
  }

  // Output is read until the tool has ended and its output is drained. A helper the
  // tool left behind may keep the pipe open (a bus daemon started on demand, say), so
  // the end of the tool, not the end of the output, finishes the run.
  const auto deadline = std::chrono::steady_clock::now() + m_timeout;
  const auto append = [&outcome](const char* data, ssize_t n) {
    const std::size_t have = std::min(outcome.output.size(), CommandOutcome::kMaxOutputBytes);
    outcome.output.append(data, std::min(CommandOutcome::kMaxOutputBytes - have, static_cast<std::size_t>(n)));
  };
  char buffer[4096];
  int status = 0;
  bool ended = false;
  bool outputOpen = true;
  while (!ended) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      outcome.exitCode = CommandOutcome::kTimedOut;
      return outcome;
    }
    if (outputOpen) {
      pollfd pfd{readEnd.fd, POLLIN, 0};
      if (::poll(&pfd, 1, 50) > 0) {
        const ssize_t n = ::read(readEnd.fd, buffer, sizeof buffer);
        if (n > 0) {
          append(buffer, n);
        } else if (n == 0 || errno != EINTR) {
          outputOpen = false;
        }
      }
    } else {
      ::usleep(10000);
    }
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      ended = true;
    } else if (done < 0 && errno != EINTR) {
      outcome.exitCode = CommandOutcome::kKilled;
      return outcome;
    }
  }
  // What the tool wrote before it ended, without waiting for anyone else.
  while (outputOpen) {
    pollfd pfd{readEnd.fd, POLLIN, 0};
    if (::poll(&pfd, 1, 0) <= 0) {
      break;
    }
    const ssize_t n = ::read(readEnd.fd, buffer, sizeof buffer);
    if (n <= 0) {
      break;
    }
    append(buffer, n);
  }
  if (WIFEXITED(status)) {
    // posix_spawnp reports a missing program as exit status 127 from the child.
    outcome.exitCode = WEXITSTATUS(status) == 127 && !HasProgram(argv[0]) ? CommandOutcome::kNotStarted
                                                                           : WEXITSTATUS(status);
  } else {
    outcome.exitCode = CommandOutcome::kKilled;
  }
  return outcome;
}

CommandOutcome CRecordingRunner::Run(const std::vector<std::string>& argv) {
  std::vector<Responder> responders;
  {
    const std::lock_guard lock(m_mutex);
    m_commands.push_back(argv);
    responders = m_responders;
  }
  CommandOutcome outcome;
  outcome.exitCode = 0;
  for (const Responder& responder : responders) {
    CommandOutcome scripted;
    scripted.exitCode = 0;
    if (responder(argv, &scripted)) {
      return scripted;
    }
  }
  return outcome;
}

bool CRecordingRunner::HasProgram(const std::string& name) {
  const std::lock_guard lock(m_mutex);
  return m_allInstalled || std::find(m_installed.begin(), m_installed.end(), name) != m_installed.end();
}

void CRecordingRunner::AddResponder(Responder responder) {
  const std::lock_guard lock(m_mutex);
  m_responders.push_back(std::move(responder));
}

void CRecordingRunner::SetInstalled(std::vector<std::string> programs) {
  const std::lock_guard lock(m_mutex);
  m_installed = std::move(programs);
  m_allInstalled = false;
}

void CRecordingRunner::AssumeAllInstalled() {
  const std::lock_guard lock(m_mutex);
  m_allInstalled = true;
}

std::vector<std::string> CRecordingRunner::CommandLines() const {
  const std::lock_guard lock(m_mutex);
  std::vector<std::string> lines;
  for (const auto& argv : m_commands) {
    std::string line;
    for (const std::string& a : argv) {
      if (!line.empty()) {
        line += ' ';
      }
      line += a;
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::vector<std::string>> CRecordingRunner::Commands() const {
  const std::lock_guard lock(m_mutex);
  return m_commands;
}

void CRecordingRunner::Clear() {
  const std::lock_guard lock(m_mutex);
  m_commands.clear();
}

}  // namespace halvard::system
