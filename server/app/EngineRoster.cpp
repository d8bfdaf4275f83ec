#include "server/app/EngineRoster.h"

namespace halvard::app {

std::vector<std::string> CEngineRoster::GroupNames() const {
  std::vector<std::string> names;
  for (const auto& group : m_roster.Groups()) {
    names.push_back(group->DisplayName());
  }
  return names;
}

bool CEngineRoster::IsGroupRunning(std::string_view group) const {
  const engine::CameraGroup* found = m_roster.FindGroup(group);
  return found != nullptr && !found->IsStopped();
}

}  // namespace halvard::app
