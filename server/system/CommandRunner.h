#pragma once
/// Running the desktop's own tools (systemctl, busctl, gsettings, ...) as child
/// processes with the caller's privileges. Everything in this folder that changes the
/// workstation goes through ICommandRunner, so tests replace it with CRecordingRunner
/// and nothing on the test machine changes.

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace halvard::system {

/// Outcome of one command.
struct CommandOutcome {
  /// Exit status of the program; kNotStarted when it could not be started (not
  /// installed, not executable), kTimedOut when it was killed at the deadline,
  /// kKilled when a signal ended it.
  int exitCode = kNotStarted;
  /// Standard output and standard error, merged, at most kMaxOutputBytes.
  std::string output;

  static constexpr int kNotStarted = -1;
  static constexpr int kTimedOut = -2;
  static constexpr int kKilled = -3;
  static constexpr std::size_t kMaxOutputBytes = 64 * 1024;

  [[nodiscard]] bool Succeeded() const { return exitCode == 0; }
  /// "exit status 3: <first output line>" and similar, for messages to the user.
  [[nodiscard]] std::string Describe() const;
};

/// Runs programs. Threads: any; implementations are thread-safe.
class ICommandRunner {
 public:
  virtual ~ICommandRunner() = default;
  /// Runs argv[0] (looked up in $PATH) with the arguments, no shell, standard input
  /// from /dev/null, and waits for it to end.
  [[nodiscard]] virtual CommandOutcome Run(const std::vector<std::string>& argv) = 0;
  /// Whether a program of that name can be found in $PATH (or is an executable path).
  [[nodiscard]] virtual bool HasProgram(const std::string& name) = 0;
};

/// The real runner: posix_spawnp, output collected through a pipe, killed after the
/// time-out so that a hanging tool never blocks the user-interface thread for good.
class CProcessRunner final : public ICommandRunner {
 public:
  explicit CProcessRunner(std::chrono::milliseconds timeout = std::chrono::seconds(30)) : m_timeout(timeout) {}
  [[nodiscard]] CommandOutcome Run(const std::vector<std::string>& argv) override;
  [[nodiscard]] bool HasProgram(const std::string& name) override;

 private:
  std::chrono::milliseconds m_timeout;
};

/// Records every command and answers from a script: the first responder that returns
/// an outcome decides, otherwise exit status 0 with no output. HasProgram answers from
/// the set of installed program names (all programs when the set is empty and
/// AssumeAllInstalled was called).
class CRecordingRunner final : public ICommandRunner {
 public:
  using Responder = std::function<bool(const std::vector<std::string>& argv, CommandOutcome* outcome)>;

  [[nodiscard]] CommandOutcome Run(const std::vector<std::string>& argv) override;
  [[nodiscard]] bool HasProgram(const std::string& name) override;

  void AddResponder(Responder responder);
  void SetInstalled(std::vector<std::string> programs);
  void AssumeAllInstalled();

  /// Every command so far, each joined with single spaces.
  [[nodiscard]] std::vector<std::string> CommandLines() const;
  [[nodiscard]] std::vector<std::vector<std::string>> Commands() const;
  void Clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<std::vector<std::string>> m_commands;
  std::vector<Responder> m_responders;
  std::vector<std::string> m_installed;
  bool m_allInstalled = false;
};

}  // namespace halvard::system
