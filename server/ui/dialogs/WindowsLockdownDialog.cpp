#include "server/ui/dialogs/WindowsLockdownDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace halvard::ui::dialogs {

namespace {
constexpr UINT kIdsAutoLogonBox = 4594;
constexpr UINT kIdsAutoLogon = 4595;
constexpr UINT kIdsNoChange = 4596;
constexpr UINT kIdsUserName = 4597;
constexpr UINT kIdsPassword = 4598;
constexpr UINT kIdsAutoLogonRemark = 4599;
constexpr UINT kIdsRemoteDesktopBox = 4600;
constexpr UINT kIdsRemoteDesktop = 4601;
constexpr UINT kIdsRemoteDesktopRemark = 4602;
constexpr UINT kIdsAutorunBox = 4603;
constexpr UINT kIdsAutorun = 4604;
constexpr UINT kIdsAutorunRemark = 4605;
constexpr UINT kIdsVisualStyleBox = 4606;
constexpr UINT kIdsClassic = 4607;
constexpr UINT kIdsTaskbarBox = 4608;
constexpr UINT kIdsAutoHide = 4609;
constexpr UINT kIdsPower = 4610;
constexpr UINT kNoRemark = 0;
}  // namespace

CWindowsLockdownDialog::CWindowsLockdownDialog(TextFunction texts, system::ISystemLockdown& lockdown, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsWindowsLockdownTitle, parent), m_lockdown(lockdown) {
  using namespace system;
  const LockdownChoices stored = ReadLockdownChoices();
  setMinimumWidth(560);
  auto* layout = new QVBoxLayout(this);
  QGridLayout* logonRows = nullptr;
  m_autoLogon = Section(layout, kIdsAutoLogonBox, kIdsAutoLogon, kIdsAutoLogonRemark,
                        stored.autoLogon == AutoLogon::Enable, "autoLogon", &logonRows);
  m_user = new QLineEdit(QString::fromStdString(stored.userName), this);
  m_user->setObjectName("userName");
  m_password = new QLineEdit(QString::fromStdString(stored.password), this);
  m_password->setObjectName("password");
  m_password->setEchoMode(QLineEdit::Password);
  logonRows->addWidget(Label(kIdsUserName, m_user), 0, 1);
  logonRows->addWidget(m_user, 0, 2);
  logonRows->addWidget(Label(kIdsPassword, m_password), 1, 1);
  logonRows->addWidget(m_password, 1, 2);
  logonRows->setColumnMinimumWidth(0, 20);
  // The boxes count only for the action; as the dialog opens they follow its choice.
  m_user->setEnabled(m_autoLogon->isChecked());
  m_password->setEnabled(m_autoLogon->isChecked());
  connect(m_autoLogon, &QRadioButton::toggled, m_user, &QWidget::setEnabled);
  connect(m_autoLogon, &QRadioButton::toggled, m_password, &QWidget::setEnabled);

  m_remoteDesktop = Section(layout, kIdsRemoteDesktopBox, kIdsRemoteDesktop, kIdsRemoteDesktopRemark,
                            stored.remoteDesktop == RemoteDesktop::Enable, "remoteDesktop");
  m_autorun = Section(layout, kIdsAutorunBox, kIdsAutorun, kIdsAutorunRemark, stored.autorun == Autorun::Disable,
                      "autorun");
  m_classic = Section(layout, kIdsVisualStyleBox, kIdsClassic, kNoRemark, stored.visualStyle == VisualStyle::Classic,
                      "classic");
  m_autoHide = Section(layout, kIdsTaskbarBox, kIdsAutoHide, kNoRemark, stored.taskbar == TaskbarHiding::AutoHide,
                       "autoHide");
  m_power = new QCheckBox(QText(kIdsPower), this);
  m_power->setObjectName("power");
  m_power->setChecked(true);
  layout->addWidget(m_power);
  AddButtons(layout);
  SetTabOrder({m_autoLogon, m_user, m_password, m_remoteDesktop, m_autorun, m_classic, m_autoHide, m_power});
}

QRadioButton* CWindowsLockdownDialog::Section(QVBoxLayout* layout, UINT box, UINT action, UINT remark, bool on,
                                              const char* name, QGridLayout** extra) {
  QGroupBox* group = Box(box);
  auto* grid = new QGridLayout(group);
  auto* buttons = new QButtonGroup(group);
  auto* act = new QRadioButton(QText(action), group);
  act->setObjectName(name);
  auto* leave = new QRadioButton(QText(kIdsNoChange), group);
  leave->setObjectName(QString(name) + "NoChange");
  buttons->addButton(act);
  buttons->addButton(leave);
  (on ? act : leave)->setChecked(true);
  int row = 0;
  grid->addWidget(act, row++, 0, 1, 3);
  if (extra != nullptr) {
    *extra = new QGridLayout();
    grid->addLayout(*extra, row++, 0, 1, 3);
  }
  grid->addWidget(leave, row++, 0, 1, 3);
  if (remark != kNoRemark) {
    auto* text = new QLabel(QText(remark), group);
    text->setWordWrap(true);
    grid->addWidget(text, row++, 0, 1, 3);
  }
  layout->addWidget(group);
  return act;
}

system::LockdownChoices CWindowsLockdownDialog::Choices() const {
  using namespace system;
  LockdownChoices c;
  c.autoLogon = m_autoLogon->isChecked() ? AutoLogon::Enable : AutoLogon::Disable;
  c.userName = m_user->text().toStdString();
  c.password = m_password->text().toStdString();
  c.remoteDesktop = m_remoteDesktop->isChecked() ? RemoteDesktop::Enable : RemoteDesktop::Disable;
  c.autorun = m_autorun->isChecked() ? Autorun::Disable : Autorun::Allow;
  c.visualStyle = m_classic->isChecked() ? VisualStyle::Classic : VisualStyle::Default;
  c.taskbar = m_autoHide->isChecked() ? TaskbarHiding::AutoHide : TaskbarHiding::Normal;
  c.power = m_power->isChecked() ? PowerSettings::Apply : PowerSettings::Leave;
  return c;
}

bool CWindowsLockdownDialog::Apply() {
  const system::LockdownResult result = system::ApplyLockdownChoices(Choices(), m_lockdown);
  if (result.outcome == system::LockdownResult::Outcome::AutoLogonRefused) {
    return Refuse(Text(kIdsAutoLogonRefused), m_user->text().isEmpty() ? m_user : m_password);
  }
  if (!result.notes.empty()) {
    std::string text = Text(kIdsLockdownNotes);
    for (const std::string& note : result.notes) {
      text += "\n" + note;
    }
    ShowMessage(text);
  }
  if (result.restartNeeded) {
    ShowMessage(Text(kIdsLockdownRestart));
  }
  return true;
}

}  // namespace halvard::ui::dialogs
