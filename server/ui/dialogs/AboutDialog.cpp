#include "server/ui/dialogs/AboutDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "server/ui/Commands.h"

#ifndef HALVARD_VERSION_TEXT
#define HALVARD_VERSION_TEXT "0"
#endif

namespace halvard::ui::dialogs {

namespace {
constexpr UINT kIdsVersion = 4616;
}  // namespace

CAboutDialog::CAboutDialog(TextFunction texts, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsAboutTitle, parent) {
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout();
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);
  row->addWidget(icon);
  auto* column = new QVBoxLayout();
  auto* name = new QLabel(QText(kIdsMainTitle), this);
  QFont bold = name->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  name->setFont(bold);
  column->addWidget(name);
  auto* version = new QLabel(QString::fromStdString(VersionLine()), this);
  version->setObjectName("version");
  column->addWidget(version);
  auto* about = new QLabel(QText(kIdsAboutText), this);
  about->setWordWrap(true);
  about->setMinimumWidth(320);
  column->addWidget(about);
  row->addLayout(column, 1);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QText(kIdsDialogOk));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

std::string CAboutDialog::VersionLine() const { return FormatText(Text(kIdsVersion), {HALVARD_VERSION_TEXT}); }

}  // namespace halvard::ui::dialogs
