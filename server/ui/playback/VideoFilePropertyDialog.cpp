#include "server/ui/playback/VideoFilePropertyDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/ui/playback/PlaybackTexts.h"

namespace halvard::ui::playback {

CVideoFilePropertyDialog::CVideoFilePropertyDialog(TextFunction texts, const std::string& path,
                                                   const VideoFileInfo& info, QWidget* parent)
    : QDialog(parent), m_texts(std::move(texts)) {
  setWindowTitle(QString::fromStdString(m_texts(kIdsPropertyTitle)));
  auto* layout = new QVBoxLayout(this);
  m_form = new QFormLayout;
  layout->addLayout(m_form);
  AddRow(kIdsPropertyFile, path);
  AddRow(kIdsPropertyWidth, PixelsText(info.width));
  AddRow(kIdsPropertyHeight, PixelsText(info.height));
  AddRow(kIdsPropertyLength, SecondsText(info.playLength));
  // Only the Windows Media header carries a bitrate.
  AddRow(kIdsPropertyBitrate, info.windowsMedia ? KbpsText(info.bitrate) : std::string());
  AddRow(kIdsPropertyFrameRate, {});
  AddRow(kIdsPropertyFrameNumber, {});
  auto* note = new QLabel(QString::fromStdString(m_texts(kIdsPropertyNote)), this);
  note->setWordWrap(true);
  layout->addWidget(note);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QString::fromStdString(m_texts(kIdsPropertyClose)));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

void CVideoFilePropertyDialog::AddRow(UINT labelId, const std::string& value) {
  auto* label = new QLabel(QString::fromStdString(value), this);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setMinimumWidth(180);
  m_form->addRow(QString::fromStdString(m_texts(labelId)), label);
  m_values.emplace_back(labelId, label);
}

std::string CVideoFilePropertyDialog::ValueOf(UINT labelId) const {
  for (const auto& [id, label] : m_values) {
    if (id == labelId) {
      return label->text().toStdString();
    }
  }
  return {};
}

}  // namespace halvard::ui::playback
