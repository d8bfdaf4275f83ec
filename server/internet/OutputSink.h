#pragma once
/// Where the internet monitoring reports: one line per event or failure, for the
/// message log of the output pane.

#include <string_view>

#include "platform/com/Com.h"

namespace halvard::internet {

/// Receives message-log lines. The output pane implements it with the user interface;
/// tests record the lines.
///
/// Threads: AddLine is called from the update workers' own threads, several at once, so
/// every implementation must be thread-safe and must not block for long (the pane posts
/// the line to its window and returns).
class IOutputSink {
 public:
  virtual ~IOutputSink() = default;
  /// Appends one line. S_OK when accepted; a failure code when the line was dropped
  /// (the pane is gone). The caller has nowhere else to report, so it ignores failures.
  [[nodiscard]] virtual HRESULT AddLine(std::string_view line) = 0;
};

/// Adds a line and drops a failure: the sink is the only place a worker reports to.
inline void Report(IOutputSink& sink, std::string_view line) { static_cast<void>(sink.AddLine(line)); }

}  // namespace halvard::internet
