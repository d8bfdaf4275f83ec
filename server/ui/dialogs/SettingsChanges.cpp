#include "server/ui/dialogs/SettingsChanges.h"

#include "platform/registry/Registry.h"

namespace halvard::ui::dialogs {

void CSettingsChanges::Add(std::string name, std::function<void()> write) {
  m_writes.push_back({std::move(name), std::move(write)});
}

std::vector<std::string> CSettingsChanges::Names() const {
  std::vector<std::string> names;
  names.reserve(m_writes.size());
  for (const Write& w : m_writes) {
    names.push_back(w.name);
  }
  return names;
}

LONG CSettingsChanges::Commit() {
  if (m_writes.empty()) {
    return ERROR_SUCCESS;
  }
  registry::CStoreTransaction transaction;
  if (transaction.Status() != ERROR_SUCCESS) {
    return transaction.Status();
  }
  for (const Write& w : m_writes) {
    w.write();
  }
  return transaction.Commit();
}

}  // namespace halvard::ui::dialogs
