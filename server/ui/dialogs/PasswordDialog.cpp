#include "server/ui/dialogs/PasswordDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/ui/Commands.h"

namespace halvard::ui::dialogs {

CPasswordDialog::CPasswordDialog(const TextFunction& texts, system::CDesktopLock& lock, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_lock(lock) {
  const QString title = QString::fromStdString(texts(kIdsEnterPassword));
  setWindowTitle(title);
  setMinimumWidth(320);
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(title, this);
  layout->addWidget(label);
  m_edit = new QLineEdit(this);
  m_edit->setObjectName("password");
  m_edit->setEchoMode(QLineEdit::Password);
  label->setBuddy(m_edit);
  layout->addWidget(m_edit);
  m_wrong = new QLabel(QString::fromStdString(texts(kIdsWrongPassword)), this);
  m_wrong->setObjectName("wrong");
  m_wrong->setVisible(false);
  layout->addWidget(m_wrong);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QString::fromStdString(texts(kIdsOk)), QDialogButtonBox::AcceptRole);
  ok->setDefault(true);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CPasswordDialog::accept);
}

bool CPasswordDialog::Refused() const { return !m_wrong->isHidden(); }

void CPasswordDialog::accept() {
  if (m_lock.TryUnlock(m_edit->text().toStdString())) {
    QDialog::accept();
    return;
  }
  m_edit->clear();
  m_wrong->setVisible(true);
}

}  // namespace halvard::ui::dialogs
