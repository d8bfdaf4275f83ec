#include "server/ui/dialogs/PictureExportDialogs.h"

#include <algorithm>
#include <string_view>

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace halvard::ui::dialogs {

namespace {
constexpr UINT kIdsFormatBox = 4618;
constexpr UINT kIdsJpeg = 4619;
constexpr UINT kIdsBmp = 4620;
constexpr UINT kIdsQuality = 4621;
constexpr UINT kIdsSmaller = 4622;
constexpr UINT kIdsBetter = 4623;
constexpr UINT kIdsNamesBox = 4625;
constexpr UINT kIdsPrefix = 4626;
constexpr UINT kIdsPostfix = 4627;
constexpr UINT kIdsFramesBox = 4628;
constexpr UINT kIdsFrom = 4629;
constexpr UINT kIdsTo = 4630;
constexpr UINT kIdsSizeBox = 4631;
constexpr UINT kIdsWidth = 4632;
constexpr UINT kIdsHeight = 4633;
constexpr int kDefaultJpegQuality = 75;
constexpr int kSmallestSide = 16;
constexpr int kLargestSide = 4096;

QSpinBox* Number(QWidget* parent, const char* name, int low, int high, int value) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(name);
  box->setRange(low, high);
  box->setValue(value);
  box->setMinimumWidth(80);
  return box;
}
}  // namespace

bool IsFileNameAffix(std::string_view text) {
  return text.size() <= kMaxAffixChars && std::none_of(text.begin(), text.end(), [](char c) {
           return static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
         });
}

CSavePictureDialog::CSavePictureDialog(TextFunction texts, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsSavePictureTitle, parent) {
  auto* layout = new QVBoxLayout(this);
  QGroupBox* box = Box(kIdsFormatBox);
  auto* grid = new QGridLayout(box);
  m_jpeg = new QRadioButton(QText(kIdsJpeg), box);
  m_jpeg->setObjectName("jpeg");
  m_bmp = new QRadioButton(QText(kIdsBmp), box);
  m_bmp->setObjectName("bmp");
  auto* formats = new QButtonGroup(box);
  formats->addButton(m_jpeg);
  formats->addButton(m_bmp);
  m_jpeg->setChecked(true);
  grid->addWidget(m_jpeg, 0, 0);
  grid->addWidget(m_bmp, 0, 1);
  m_quality = new QSlider(Qt::Horizontal, box);
  m_quality->setObjectName("quality");
  m_quality->setRange(0, 100);
  m_quality->setValue(kDefaultJpegQuality);
  m_quality->setMinimumWidth(240);
  grid->addWidget(Label(kIdsQuality, m_quality), 1, 0, 1, 2);
  grid->addWidget(m_quality, 2, 0, 1, 2);
  auto* ends = new QHBoxLayout();
  ends->addWidget(new QLabel(QText(kIdsSmaller), box));
  ends->addStretch(1);
  ends->addWidget(new QLabel(QText(kIdsBetter), box));
  grid->addLayout(ends, 3, 0, 1, 2);
  connect(m_jpeg, &QRadioButton::toggled, m_quality, &QWidget::setEnabled);
  layout->addWidget(box);
  AddButtons(layout);
  SetTabOrder({m_jpeg, m_bmp, m_quality});
}

bool CSavePictureDialog::Jpeg() const { return m_jpeg->isChecked(); }

int CSavePictureDialog::Quality() const { return m_quality->value(); }

CBmpSequenceDialog::CBmpSequenceDialog(TextFunction texts, int frames, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsBmpSequenceTitle, parent) {
  frames = std::max(frames, 1);
  auto* layout = new QVBoxLayout(this);
  QGroupBox* names = Box(kIdsNamesBox);
  auto* namesGrid = new QGridLayout(names);
  m_prefix = new QLineEdit(names);
  m_prefix->setObjectName("prefix");
  m_postfix = new QLineEdit(names);
  m_postfix->setObjectName("postfix");
  namesGrid->addWidget(Label(kIdsPrefix, m_prefix), 0, 0);
  namesGrid->addWidget(m_prefix, 0, 1);
  namesGrid->addWidget(Label(kIdsPostfix, m_postfix), 1, 0);
  namesGrid->addWidget(m_postfix, 1, 1);
  layout->addWidget(names);

  QGroupBox* range = Box(kIdsFramesBox);
  auto* rangeRow = new QHBoxLayout(range);
  m_from = Number(range, "from", 1, frames, 1);
  m_to = Number(range, "to", 1, frames, frames);
  rangeRow->addWidget(Label(kIdsFrom, m_from));
  rangeRow->addWidget(m_from);
  rangeRow->addWidget(Label(kIdsTo, m_to));
  rangeRow->addWidget(m_to);
  rangeRow->addStretch(1);
  layout->addWidget(range);

  QGroupBox* size = Box(kIdsSizeBox);
  auto* sizeRow = new QHBoxLayout(size);
  m_width = Number(size, "width", kSmallestSide, kLargestSide, 640);
  m_height = Number(size, "height", kSmallestSide, kLargestSide, 480);
  sizeRow->addWidget(Label(kIdsWidth, m_width));
  sizeRow->addWidget(m_width);
  sizeRow->addWidget(Label(kIdsHeight, m_height));
  sizeRow->addWidget(m_height);
  sizeRow->addStretch(1);
  layout->addWidget(size);
  AddButtons(layout);
  SetTabOrder({m_prefix, m_postfix, m_from, m_to, m_width, m_height});
}

bool CBmpSequenceDialog::Apply() {
  for (QLineEdit* edit : {m_prefix, m_postfix}) {
    if (!IsFileNameAffix(edit->text().toStdString())) {
      return Refuse(Text(kIdsAffixInvalid), edit);
    }
  }
  if (m_from->value() > m_to->value()) {
    return Refuse(Text(kIdsFrameRangeInvalid), m_from);
  }
  return true;
}

}  // namespace halvard::ui::dialogs
