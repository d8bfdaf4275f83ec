#include "server/ui/dialogs/DialogBase.h"

#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "platform/registry/Registry.h"
#include "server/ui/dialogs/SettingsChanges.h"

namespace halvard::ui::dialogs {

std::string FormatText(std::string_view format, std::initializer_list<std::string> arguments) {
  std::string text;
  auto next = arguments.begin();
  for (std::size_t i = 0; i < format.size();) {
    std::size_t used = 0;
    if (format[i] == '%' && next != arguments.end()) {
      for (std::string_view marker : {"%s", "%d", "%ld"}) {
        if (format.substr(i, marker.size()) == marker) {
          used = marker.size();
          break;
        }
      }
    }
    if (used != 0) {
      text += *next++;
      i += used;
    } else {
      text.push_back(format[i++]);
    }
  }
  return text;
}

std::string FieldName(std::string_view label) {
  std::string name;
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&' && i + 1 < label.size() && label[i + 1] != '&') {
      continue;
    }
    if (label[i] == '&') {
      ++i;  // "&&" is one literal ampersand
    }
    name.push_back(label[i]);
  }
  while (!name.empty() && (name.back() == ':' || name.back() == ' ')) {
    name.pop_back();
  }
  return name;
}

CDialogBase::CDialogBase(TextFunction texts, UINT titleId, QWidget* parent)
    : QDialog(parent), m_texts(std::move(texts)) {
  setWindowTitle(QText(titleId));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

QString CDialogBase::QText(UINT id) const { return QString::fromStdString(Text(id)); }

void CDialogBase::accept() {
  if (Apply()) {
    QDialog::accept();
  }
}

void CDialogBase::ShowMessage(const std::string& text) {
  m_lastMessage = text;
  if (m_showMessage) {
    m_showMessage(text);
    return;
  }
  QMessageBox box(QMessageBox::Warning, windowTitle(), QString::fromStdString(text), QMessageBox::Ok, this);
  box.exec();
}

bool CDialogBase::Refuse(const std::string& text, QWidget* field) {
  ShowMessage(text);
  if (field != nullptr) {
    field->setFocus(Qt::OtherFocusReason);
  }
  return false;
}

bool CDialogBase::Commit(CSettingsChanges& changes) {
  const LONG result = changes.Commit();
  if (result == ERROR_SUCCESS) {
    return true;
  }
  ShowMessage(Text(kIdsStoreFailed) + " " + registry::ErrorName(result));
  return false;
}

QGroupBox* CDialogBase::Box(UINT id) { return new QGroupBox(QText(id), this); }

QLabel* CDialogBase::Label(UINT id, QWidget* buddy) {
  auto* label = new QLabel(QText(id), this);
  label->setBuddy(buddy);
  return label;
}

QDialogButtonBox* CDialogBase::AddButtons(QBoxLayout* layout) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QText(kIdsDialogOk));
  buttons->button(QDialogButtonBox::Cancel)->setText(QText(kIdsDialogCancel));
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  return buttons;
}

void CDialogBase::SetTabOrder(std::initializer_list<QWidget*> widgets) {
  QWidget* previous = nullptr;
  for (QWidget* w : widgets) {
    if (previous != nullptr && w != nullptr) {
      QWidget::setTabOrder(previous, w);
    }
    if (w != nullptr) {
      previous = w;
    }
  }
}

}  // namespace halvard::ui::dialogs
