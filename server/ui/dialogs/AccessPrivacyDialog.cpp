#include "server/ui/dialogs/AccessPrivacyDialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace halvard::ui::dialogs {

namespace {
constexpr UINT kIdsEnableBox = 4201;
constexpr UINT kIdsEnableInput = 4202;
constexpr UINT kIdsHideBox = 4203;
constexpr UINT kIdsHideWindow = 4204;
constexpr UINT kIdsHideRemark = 4205;
}  // namespace

CAccessPrivacyDialog::CAccessPrivacyDialog(TextFunction texts, std::string group, std::string input, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsAccessPrivacyTitle, parent), m_page(std::move(group), std::move(input)) {
  auto* layout = new QVBoxLayout(this);
  QGroupBox* enable = Box(kIdsEnableBox);
  auto* enableLayout = new QVBoxLayout(enable);
  m_enabled = new QCheckBox(QText(kIdsEnableInput), enable);
  m_enabled->setObjectName("inputEnabled");
  enableLayout->addWidget(m_enabled);
  layout->addWidget(enable);

  QGroupBox* hide = Box(kIdsHideBox);
  auto* hideLayout = new QVBoxLayout(hide);
  m_minimize = new QCheckBox(QText(kIdsHideWindow), hide);
  m_minimize->setObjectName("minimizeWindow");
  hideLayout->addWidget(m_minimize);
  auto* remark = new QLabel(QText(kIdsHideRemark), hide);
  remark->setWordWrap(true);
  hideLayout->addWidget(remark);
  layout->addWidget(hide);
  AddButtons(layout);

  m_enabled->setChecked(m_page.Stored().inputEnabled);
  m_minimize->setChecked(m_page.Stored().minimizeWindow);
  m_minimize->setEnabled(m_page.Stored().inputEnabled);
  connect(m_enabled, &QCheckBox::toggled, m_minimize, &QWidget::setEnabled);
  SetTabOrder({m_enabled, m_minimize});
}

AccessValues CAccessPrivacyDialog::Values() const { return {m_enabled->isChecked(), m_minimize->isChecked()}; }

bool CAccessPrivacyDialog::Apply() {
  CSettingsChanges changes = m_page.Changes(Values());
  return Commit(changes);
}

}  // namespace halvard::ui::dialogs
