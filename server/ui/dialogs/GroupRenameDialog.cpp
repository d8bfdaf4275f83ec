#include "server/ui/dialogs/GroupRenameDialog.h"

#include <algorithm>
#include <cctype>

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "server/engine/CameraRoster.h"
#include "server/ui/Commands.h"

namespace halvard::ui::dialogs {

namespace {
// Key names compare without regard to ASCII letter case, so two groups may not differ
// by case alone.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

CGroupRenameDialog::CGroupRenameDialog(TextFunction texts, std::string group, std::vector<std::string> groups,
                                       Renamer renamer, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsGroupRenameTitle, parent),
      m_group(std::move(group)),
      m_groups(std::move(groups)),
      m_rename(std::move(renamer)) {
  setMinimumWidth(380);
  auto* layout = new QVBoxLayout(this);
  m_name = new QLineEdit(QString::fromStdString(m_group), this);
  m_name->setObjectName("name");
  m_name->selectAll();
  layout->addWidget(Label(kIdsRenameGroupPrompt, m_name));
  layout->addWidget(m_name);
  auto* remark = new QLabel(QText(kCmdRenameGroup), this);
  remark->setWordWrap(true);
  layout->addWidget(remark);
  AddButtons(layout);
}

bool CGroupRenameDialog::Apply() {
  const std::string name = m_name->text().toStdString();
  if (name == m_group) {
    return true;
  }
  if (!engine::IsValidFolderName(name)) {
    return Refuse(Text(kIdsGroupNameInvalid), m_name);
  }
  const bool used = std::any_of(m_groups.begin(), m_groups.end(), [&](const std::string& other) {
    return SameName(other, name) && other != m_group;
  });
  if (used) {
    return Refuse(Text(kIdsGroupNameUsed), m_name);
  }
  if (!m_rename || !m_rename(m_group, name)) {
    m_name->setFocus(Qt::OtherFocusReason);
    return false;
  }
  m_renamed = true;
  return true;
}

}  // namespace halvard::ui::dialogs
