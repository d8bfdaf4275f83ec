#include "server/ui/output/EventMatrixPropertiesDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

#include "server/ui/output/EventMatrix.h"

namespace halvard::ui {

CEventMatrixPropertiesDialog::CEventMatrixPropertiesDialog(const TextSource& texts, DWORD current, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QString::fromStdString(TextOf(texts, kTextPropertiesTitle)));
  auto* layout = new QVBoxLayout(this);
  const std::string label = TextOf(texts, kTextResolutionLabel);
  if (!label.empty()) {
    layout->addWidget(new QLabel(QString::fromStdString(label), this));
  }
  m_list = new QListWidget(this);
  const std::string format = TextOf(texts, kTextResolutionChoice);
  for (int minutes : CEventMatrix::kResolutionsMinutes) {
    m_list->addItem(QString::fromStdString(ChoiceText(format, minutes)));
  }
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  layout->addWidget(m_list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QString::fromStdString(TextOf(texts, kTextOk)));
  buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromStdString(TextOf(texts, kTextCancel)));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  layout->addWidget(buttons);
  SelectIndex(current);
}

DWORD CEventMatrixPropertiesDialog::SelectedIndex() const {
  const int row = m_list->currentRow();
  return row >= 0 && row < static_cast<int>(CEventMatrix::kResolutionCount) ? static_cast<DWORD>(row) : 1;
}

void CEventMatrixPropertiesDialog::SelectIndex(DWORD index) {
  m_list->setCurrentRow(index < CEventMatrix::kResolutionCount ? static_cast<int>(index) : 1);
}

std::string CEventMatrixPropertiesDialog::ChoiceText(const std::string& format, int minutes) {
  char number[16];
  std::snprintf(number, sizeof number, "%02d", minutes);
  // The number is put in by hand: a text of the string table is never a printf format.
  const std::string::size_type at = format.find("%02d");
  if (at == std::string::npos) {
    return format.empty() ? std::string(number) : std::string(number) + " " + format;
  }
  std::string text = format;
  text.replace(at, 4, number);
  return text;
}

}  // namespace halvard::ui
