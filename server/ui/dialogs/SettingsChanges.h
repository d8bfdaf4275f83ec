#pragma once
/// The values a dialog's OK writes, collected first and then written together: every
/// write runs inside one store transaction, so another process (or a failure half-way)
/// never sees part of a dialog's changes.
///
/// Threads: the user-interface thread (the one that commits).

#include <functional>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"

namespace halvard::ui::dialogs {

class CSettingsChanges {
 public:
  /// Adds one write; `name` is the value's name (for tests and the log).
  void Add(std::string name, std::function<void()> write);
  [[nodiscard]] bool Empty() const { return m_writes.empty(); }
  /// Names of the values added, in order.
  [[nodiscard]] std::vector<std::string> Names() const;
  /// Runs every write in one transaction and commits it. ERROR_SUCCESS (also when
  /// nothing was added, with no transaction begun); the store's failure to begin
  /// (ERROR_ACCESS_DENIED, ERROR_REGISTRY_IO_FAILED) or to commit, with nothing written.
  [[nodiscard]] LONG Commit();

 private:
  struct Write {
    std::string name;
    std::function<void()> write;
  };
  std::vector<Write> m_writes;
};

}  // namespace halvard::ui::dialogs
