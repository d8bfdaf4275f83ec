#include "server/ui/dialogs/DataCaptureDialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "server/engine/CameraRoster.h"
#include "server/engine/CardAdjustments.h"
#include "server/settings/Settings.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

namespace {
constexpr UINT kIdsFormatBox = 4401;
constexpr UINT kIdsStandard = 4402;
constexpr UINT kIdsResolution = 4403;
constexpr UINT kIdsSizeChoice = 4404;
constexpr UINT kIdsColor = 4405;
constexpr UINT kIdsHd = 4406;
constexpr UINT kIdsHdChoices = 4407;  // 4407 .. 4409
constexpr UINT kIdsDayBox = 4410;
constexpr UINT kIdsNightBox = 4411;
constexpr UINT kIdsControls = 4412;  // 4412 .. 4415: brightness, contrast, saturation, hue
constexpr UINT kIdsPropertyPages = 4416;
constexpr UINT kIdsCaptureNote = 4417;

constexpr engine::PictureControl kControls[4] = {engine::PictureControl::Brightness, engine::PictureControl::Contrast,
                                                 engine::PictureControl::Saturation, engine::PictureControl::Hue};
}  // namespace

CDataCaptureDialog::CDataCaptureDialog(TextFunction texts, std::string group, std::string input,
                                       const engine::CameraGroup* live, std::function<void()> propertyPages,
                                       QWidget* parent)
    : CDialogBase(std::move(texts), kIdsDataCaptureTitle, parent),
      m_page(std::move(group), std::move(input)),
      m_live(live),
      m_propertyPages(std::move(propertyPages)) {
  const CaptureValues& stored = m_page.Stored();
  auto* layout = new QVBoxLayout(this);

  QGroupBox* format = Box(kIdsFormatBox);
  auto* formatGrid = new QGridLayout(format);
  m_standard = new QComboBox(format);
  m_standard->setObjectName("standard");
  for (const s::VideoStandard& standard : s::kVideoStandards) {
    m_standard->addItem(QString::fromStdString(std::string(standard.label)));
  }
  m_resolution = new QComboBox(format);
  m_resolution->setObjectName("resolution");
  for (const s::CaptureSize& size : s::kCaptureSizes) {
    m_resolution->addItem(QString::fromStdString(
        FormatText(Text(kIdsSizeChoice), {std::to_string(size.width), std::to_string(size.height)})));
  }
  m_color = new QComboBox(format);
  m_color->setObjectName("color");
  for (const s::ColorDepth& depth : s::kColorDepths) {
    m_color->addItem(QString::fromStdString(std::string(depth.label)));
  }
  m_hd = new QComboBox(format);
  m_hd->setObjectName("hd");
  for (UINT i = 0; i <= kMaxHdLevel; ++i) {
    m_hd->addItem(QText(kIdsHdChoices + i));
  }
  m_standard->setCurrentIndex(static_cast<int>(stored.standardIndex));
  m_resolution->setCurrentIndex(static_cast<int>(stored.resolutionIndex));
  m_color->setCurrentIndex(static_cast<int>(stored.colorIndex));
  m_hd->setCurrentIndex(static_cast<int>(stored.hdLevel));
  int row = 0;
  for (auto [id, box] : {std::pair{kIdsStandard, m_standard}, std::pair{kIdsResolution, m_resolution},
                         std::pair{kIdsColor, m_color}, std::pair{kIdsHd, m_hd}}) {
    formatGrid->addWidget(Label(id, box), row, 0);
    formatGrid->addWidget(box, row++, 1);
  }
  layout->addWidget(format);

  auto* pictures = new QHBoxLayout;
  for (int half = 0; half < 2; ++half) {
    QGroupBox* box = Box(half == 0 ? kIdsDayBox : kIdsNightBox);
    auto* grid = new QGridLayout(box);
    for (int c = 0; c < 4; ++c) {
      const int index = half * 4 + c;
      auto* slider = new QSlider(Qt::Horizontal, box);
      slider->setObjectName(QString("picture%1").arg(index));
      slider->setRange(0, static_cast<int>(kMaxPictureValue));
      slider->setPageStep(500);
      slider->setSingleStep(100);
      slider->setMinimumWidth(160);
      slider->setValue(static_cast<int>(stored.picture[static_cast<std::size_t>(index)]));
      // The card follows a slider when the operator lets go of it (or moves it by key),
      // not at every step of a drag.
      connect(slider, &QSlider::sliderReleased, this, [this, index] { Preview(index); });
      connect(slider, &QSlider::valueChanged, this, [this, index, slider](int) {
        if (!slider->isSliderDown()) {
          Preview(index);
        }
      });
      m_sliders[static_cast<std::size_t>(index)] = slider;
      grid->addWidget(Label(kIdsControls + static_cast<UINT>(c), slider), c, 0);
      grid->addWidget(slider, c, 1);
    }
    pictures->addWidget(box);
  }
  layout->addLayout(pictures);

  auto* pages = new QPushButton(QText(kIdsPropertyPages), this);
  pages->setObjectName("propertyPages");
  connect(pages, &QPushButton::clicked, this, [this] { ShowPropertyPages(); });
  auto* pagesRow = new QHBoxLayout;
  pagesRow->addWidget(pages);
  pagesRow->addStretch(1);
  layout->addLayout(pagesRow);
  auto* note = new QLabel(QText(kIdsCaptureNote), this);
  note->setWordWrap(true);
  layout->addWidget(note);
  AddButtons(layout);
  SetTabOrder({m_standard, m_resolution, m_color, m_hd, m_sliders[0], m_sliders[1], m_sliders[2], m_sliders[3],
               m_sliders[4], m_sliders[5], m_sliders[6], m_sliders[7], pages});
}

void CDataCaptureDialog::Preview(int index) {
  if (m_live == nullptr) {
    return;
  }
  const std::optional<int> position = settings::InputPosition(m_page.Group(), m_page.Input());
  if (!position) {
    return;
  }
  engine::PreviewPictureControl(*m_live, *position, kControls[index % 4], Slider(index)->value());
}

void CDataCaptureDialog::ShowPropertyPages() {
  if (m_live == nullptr || m_live->IsStopped()) {
    ShowMessage(Text(kIdsGroupNotRunning));
    return;
  }
  if (m_propertyPages) {
    m_propertyPages();
  }
}

CaptureValues CDataCaptureDialog::Values() const {
  CaptureValues values;
  values.standardIndex = static_cast<DWORD>(std::max(0, m_standard->currentIndex()));
  values.resolutionIndex = static_cast<DWORD>(std::max(0, m_resolution->currentIndex()));
  values.colorIndex = static_cast<DWORD>(std::max(0, m_color->currentIndex()));
  values.hdLevel = static_cast<DWORD>(std::max(0, m_hd->currentIndex()));
  for (int i = 0; i < kPictureControlCount; ++i) {
    values.picture[static_cast<std::size_t>(i)] = static_cast<DWORD>(Slider(i)->value());
  }
  return values;
}

bool CDataCaptureDialog::Apply() {
  auto inputCountChanged = std::make_shared<bool>(false);
  CSettingsChanges changes = m_page.Changes(Values(), inputCountChanged);
  if (!Commit(changes)) {
    return false;
  }
  if (*inputCountChanged) {
    ShowMessage(Text(kIdsInputCountChanged));
  }
  return true;
}

}  // namespace halvard::ui::dialogs
