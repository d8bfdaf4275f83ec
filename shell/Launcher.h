#pragma once
/// The launcher's logic: which camera groups go to which display, the server command
/// line of each display, and starting the server processes.
///
/// One pass, on the launcher's only thread: the "Camera Group" values are read once,
/// every group's "Card Screen" and "Card Screen Delay" once, then the store is closed
/// and the servers are started, display 1 to 4, with a pause after each start.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"

namespace halvard::shell {

/// One value of the "Camera Group" key: value name (a device path) and data (the
/// group's display name).
struct GroupLaunchEntry {
  std::string valueName;
  std::string valueData;
  friend bool operator==(const GroupLaunchEntry&, const GroupLaunchEntry&) = default;
};

/// Read buffer of the value name and of the data: 200 bytes each. A name holds at most
/// 199 bytes (the buffer keeps its terminator); the data is the stored REG_SZ image, so
/// at most 99 characters, as with every settings read.
inline constexpr DWORD kEntryBufferBytes = 200;

/// The displays the launcher fills, 1 to 4.
inline constexpr DWORD kFirstScreen = 1;
inline constexpr DWORD kLastScreen = 4;

/// Reads every value of HKLM\...\Camera Group in enumeration order (creating the key
/// when it is missing) and keeps the first entry of each distinct data (exact,
/// case-sensitive comparison). Values that cannot be a group are skipped with one line
/// each on `diagnostics` (when set): a name or data that does not fit its 200-byte
/// buffer, data that is not a string, and empty data (it names no group; the server
/// itself treats such a value as a device not yet named). Skipping goes on to the next
/// value rather than ending the enumeration. An unusable store gives an empty list.
[[nodiscard]] std::vector<GroupLaunchEntry> CollectGroupEntries(std::vector<std::string>* diagnostics = nullptr);

/// What the launcher starts for one display.
struct ScreenLaunch {
  DWORD screen = 0;                 ///< 1 ... 4; 0 for the single server without arguments
  std::vector<std::string> groups;  ///< in entry order; empty for the server without arguments
  DWORD delaySeconds = 0;           ///< the pause after this start
  friend bool operator==(const ScreenLaunch&, const ScreenLaunch&) = default;
};

/// Reads a group's "Card Screen" or "Card Screen Delay" (tests pass their own).
using GroupDwordReader = std::function<DWORD(std::string_view group)>;

/// The starts for the entries: for each display 1 to 4 that at least one group names
/// (its "Card Screen"), one launch with those groups in entry order. The pause after a
/// display's start is the largest "Card Screen Delay" among its groups, so a slow card
/// gets the time it asks for whichever order the groups are in. When no group names a
/// display 1 ... 4 (an empty list included), one launch with screen 0 and no groups:
/// the server then starts every group itself. Groups on other displays are left out.
[[nodiscard]] std::vector<ScreenLaunch> PlanLaunches(const std::vector<GroupLaunchEntry>& entries,
                                                     const GroupDwordReader& cardScreen,
                                                     const GroupDwordReader& cardScreenDelay);
/// The same with the stored settings (kCardScreen, kCardScreenDelay).
[[nodiscard]] std::vector<ScreenLaunch> PlanLaunches(const std::vector<GroupLaunchEntry>& entries);

/// The server's tokens for a launch: the program path, then "-G", the group names,
/// "-M" and the display number; only the program path for the launch without groups.
[[nodiscard]] std::vector<std::string> LaunchArguments(std::string_view serverPath, const ScreenLaunch& launch);

/// The command line of the tokens as it is logged: every token in double quotation
/// marks, one blank between tokens ("/opt/halvard/bin/Halvard" "-G" "Yard" "-M" "1").
/// A quotation mark inside a token is written \" and backslashes before it or before
/// the closing mark are doubled, so that SplitCommandLine gives the tokens back
/// exactly; names without quotation marks and trailing backslashes read as written.
[[nodiscard]] std::string BuildCommandLine(const std::vector<std::string>& tokens);

/// Splits a command line into its tokens the way the server's command line is read:
/// blanks and tabs outside quotation marks separate tokens; a quotation mark opens or
/// closes a quoted run and is dropped; 2n backslashes before a quotation mark give n
/// backslashes and the mark acts as above, 2n + 1 give n backslashes and a literal
/// mark; other backslashes are literal. "" gives an empty token.
[[nodiscard]] std::vector<std::string> SplitCommandLine(std::string_view commandLine);

/// The server program: "Halvard" in the folder of the launcher's own executable
/// (/proc/self/exe). Empty when the executable's path cannot be read.
[[nodiscard]] std::string ServerPath();

/// Milliseconds per second of "Card Screen Delay": $HALVARD_SHELL_DELAY_SCALE_MS when it
/// is a decimal number (0 allowed: no pause), else 1000. Tests shorten the pauses with it.
[[nodiscard]] std::chrono::milliseconds DelayScale();

/// Starts the program argv[0] with the arguments argv[1...] (posix_spawn, path taken
/// as is, the launcher's environment, no descriptor beyond standard input, output and
/// error, default signal dispositions and an empty signal mask) and does not wait for
/// it. Returns the process id, or -1 with `error` (when set) holding the reason.
[[nodiscard]] int StartProcess(const std::vector<std::string>& argv, std::string* error = nullptr);

/// Waits `duration`, collecting every child process that ends meanwhile (and any that
/// had already ended), so that servers that quit during the pauses leave no zombies.
void PauseReapingChildren(std::chrono::milliseconds duration);

/// The whole launcher: collect, plan, close the store, start each launch (a failed
/// start prints one line on standard error and is otherwise ignored), pause after each
/// start. Diagnostics of skipped values go to standard error. Returns the exit status,
/// always 0.
int RunLauncher();

}  // namespace halvard::shell
