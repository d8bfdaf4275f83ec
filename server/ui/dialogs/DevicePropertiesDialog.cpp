#include "server/ui/dialogs/DevicePropertiesDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

#include "platform/media/Types.h"

namespace halvard::ui::dialogs {

namespace {
/// More controls than this scroll instead of growing the dialog past the screen.
constexpr int kRowsWithoutScrolling = 14;
}  // namespace

CDevicePropertiesDialog::CDevicePropertiesDialog(TextFunction texts, ICaptureDeviceControls* controls,
                                                 const std::string& caption, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsDevicePropertiesTitle, parent), m_controls(controls) {
  setWindowTitle(QString::fromStdString(FormatText(Text(kIdsDevicePropertiesTitle), {caption})));
  auto* layout = new QVBoxLayout(this);
  LONG count = 0;
  if (!m_controls || FAILED(m_controls->GetControlCount(&count)) || count <= 0) {
    auto* none = new QLabel(QText(kIdsNoDeviceProperties), this);
    none->setWordWrap(true);
    layout->addWidget(none);
    AddButtons(layout);
    return;
  }
  auto* page = new QWidget(this);
  auto* grid = new QGridLayout(page);
  for (LONG i = 0; i < count; ++i) {
    CAPTURE_DEVICE_CONTROL control{};
    if (FAILED(m_controls->GetControl(i, &control))) {
      continue;
    }
    auto* slider = new QSlider(Qt::Horizontal, page);
    slider->setObjectName(QString("control%1").arg(i));
    slider->setRange(control.minimum, control.maximum);
    slider->setSingleStep(std::max<LONG>(control.step, 1));
    slider->setPageStep(std::max<LONG>((control.maximum - control.minimum) / 10, 1));
    slider->setValue(control.value);
    slider->setMinimumWidth(220);
    slider->setProperty("index", static_cast<int>(i));
    auto* value = new QLabel(QString::number(control.value), page);
    value->setMinimumWidth(50);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(slider, &QSlider::valueChanged, value, [value](int v) { value->setText(QString::number(v)); });
    const int row = static_cast<int>(m_sliders.size());
    auto* name = new QLabel(QString::fromStdString(media::ToUtf8(control.name)), page);
    name->setBuddy(slider);
    grid->addWidget(name, row, 0);
    grid->addWidget(slider, row, 1);
    grid->addWidget(value, row, 2);
    m_shown.push_back(control);
    m_sliders.push_back(slider);
  }
  if (static_cast<int>(m_sliders.size()) > kRowsWithoutScrolling) {
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(page);
    scroll->setWidgetResizable(true);
    scroll->setMinimumWidth(page->sizeHint().width() + 30);
    scroll->setMinimumHeight(kRowsWithoutScrolling * 30);
    layout->addWidget(scroll);
  } else {
    layout->addWidget(page);
  }
  AddButtons(layout);
}

bool CDevicePropertiesDialog::Apply() {
  for (std::size_t i = 0; i < m_sliders.size(); ++i) {
    const int value = m_sliders[i]->value();
    if (value == m_shown[i].value) {
      continue;
    }
    const LONG index = m_sliders[i]->property("index").toInt();
    if (FAILED(m_controls->SetControl(index, value))) {
      return Refuse(FormatText(Text(kIdsControlRefused), {media::ToUtf8(m_shown[i].name), std::to_string(value)}),
                    m_sliders[i]);
    }
    m_shown[i].value = value;  // sent: a later refusal does not send it again
  }
  return true;
}

}  // namespace halvard::ui::dialogs
