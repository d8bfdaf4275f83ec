#include "server/ui/VMDoc.h"

namespace halvard::ui {

CVMDoc::CVMDoc(ICameraDocumentOwner& owner, engine::CameraGroup* group, int input, std::string groupName,
               std::string inputName)
    : m_owner(owner),
      m_group(group),
      m_input(input),
      m_groupName(std::move(groupName)),
      m_inputName(std::move(inputName)) {}

CVMDoc::~CVMDoc() = default;

void CVMDoc::LoadSettings() { m_ptzEnabled = ptz::ConfigureFromSettings(m_ptz, m_groupName, m_inputName); }

}  // namespace halvard::ui
