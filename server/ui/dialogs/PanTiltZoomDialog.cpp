#include "server/ui/dialogs/PanTiltZoomDialog.h"

#include <algorithm>
#include <ctime>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/time/Time.h"
#include "server/ptz/PtzController.h"
#include "server/ptz/PtzTour.h"

namespace halvard::ui::dialogs {

namespace {
constexpr UINT kIdsEnableBox = 4543;
constexpr UINT kIdsEnable = 4544;
constexpr UINT kIdsBasicBox = 4545;
constexpr UINT kIdsAddress = 4546;
constexpr UINT kIdsProtocol = 4547;
constexpr UINT kIdsPort = 4548;
constexpr UINT kIdsBaud = 4549;
constexpr UINT kIdsImageBox = 4550;
constexpr UINT kIdsAutoFocus = 4551;
constexpr UINT kIdsAutoWhiteBalance = 4552;
constexpr UINT kIdsAutoGain = 4553;
constexpr UINT kIdsAutoIris = 4554;
constexpr UINT kIdsBacklight = 4555;
constexpr UINT kIdsFocusNear = 4556;
constexpr UINT kIdsFocusFar = 4557;
constexpr UINT kIdsPresetBox = 4558;
constexpr UINT kIdsSave = 4559;
constexpr UINT kIdsGoTo = 4560;
constexpr UINT kIdsPatrolBox = 4561;
constexpr UINT kIdsDeactivate = 4562;
constexpr UINT kIdsActivate = 4563;
constexpr UINT kIdsInsert = 4564;
constexpr UINT kIdsEdit = 4565;
constexpr UINT kIdsDelete = 4566;
constexpr UINT kIdsUp = 4567;
constexpr UINT kIdsDown = 4568;
constexpr UINT kIdsDefaultPreset = 240;
constexpr UINT kIdsActive = 4570;
constexpr UINT kIdsInactive = 4571;
constexpr UINT kIdsStartMidnight = 4572;
constexpr UINT kIdsStartActivation = 4573;
constexpr UINT kIdsHeadingStep = 4574;  // 4574 .. 4577
constexpr UINT kIdsNotAvailable = 4579;
constexpr UINT kIdsPreset = 4581;
constexpr UINT kIdsStayTime = 4582;
constexpr UINT kIdsColon = 4583;
constexpr UINT kIdsWhenApplied = 4584;

int NowMinuteOfDay() {
  const std::tm local = time::LocalTimeNow();
  return local.tm_hour * 60 + local.tm_min;
}

/// A list of `count` entries whose item data is the stored index; a stored index no
/// entry stands for gets an entry of its own, so that OK keeps it.
QComboBox* IndexList(QWidget* parent, const char* name, const std::vector<QString>& entries, DWORD stored) {
  auto* list = new QComboBox(parent);
  list->setObjectName(name);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    list->addItem(entries[i], static_cast<uint>(i));
  }
  if (stored >= entries.size()) {
    list->addItem(QString::number(stored), static_cast<uint>(stored));
  }
  list->setCurrentIndex(list->findData(static_cast<uint>(stored)));
  return list;
}

DWORD IndexOf(const QComboBox* list) { return list->currentData().toUInt(); }

QPushButton* Button(const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setAutoDefault(false);
  return button;
}
}  // namespace

ptz::PtzTexts PtzTextsOf(const CDialogBase& dialog) {
  ptz::PtzTexts t;
  t.defaultPresetName = dialog.Text(kIdsDefaultPreset);
  t.activeLabel = dialog.Text(kIdsActive);
  t.inactiveLabel = dialog.Text(kIdsInactive);
  t.startList = {dialog.Text(kIdsStartMidnight), dialog.Text(kIdsStartActivation)};
  for (UINT i = 0; i < 4; ++i) {
    t.columnHeadings[i] = dialog.Text(kIdsHeadingStep + i);
  }
  t.zeroStayMessage = dialog.Text(kIdsZeroStay);
  t.notAvailableMessage = dialog.Text(kIdsNotAvailable);
  return t;
}

CPanTiltZoomDialog::CPanTiltZoomDialog(TextFunction texts, std::string group, std::string input,
                                       ptz::CPtzController* controller, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsPanTiltZoomTitle, parent),
      m_page(std::move(group), std::move(input)),
      m_controller(controller),
      m_ptzTexts(PtzTextsOf(*this)) {
  Build();
}

void CPanTiltZoomDialog::Build() {
  const ptz::PtzPageSettings& stored = m_page.Stored();
  auto* layout = new QVBoxLayout(this);

  QGroupBox* enable = Box(kIdsEnableBox);
  auto* enableLayout = new QVBoxLayout(enable);
  m_enabled = new QCheckBox(QText(kIdsEnable), enable);
  m_enabled->setObjectName("enabled");
  m_enabled->setChecked(stored.enabled != 0);
  enableLayout->addWidget(m_enabled);
  layout->addWidget(enable);

  QGroupBox* basic = Box(kIdsBasicBox);
  auto* basicLayout = new QHBoxLayout(basic);
  std::vector<QString> addresses;
  for (int a = 0; a < kPtzAddresses; ++a) {
    addresses.push_back(QString::fromStdString(ptz::AddressListText(a)));
  }
  m_address = IndexList(basic, "address", addresses, stored.address);
  std::vector<QString> protocols;
  for (std::string_view p : ptz::kPtzProtocols) {
    protocols.push_back(QString::fromUtf8(p.data(), static_cast<int>(p.size())));
  }
  m_protocol = IndexList(basic, "protocol", protocols, stored.protocol);
  std::vector<QString> ports;
  for (int p = 1; p <= ptz::kPortsOffered; ++p) {
    ports.push_back(QString::fromStdString(ptz::PortListText(p)));
  }
  m_port = IndexList(basic, "port", ports, stored.portIndex);
  std::vector<QString> rates;
  for (int rate : kPtzBaudRates) {
    rates.push_back(QString::number(rate));
  }
  m_baud = IndexList(basic, "baud", rates, stored.speedIndex);
  for (auto [id, list] : {std::pair{kIdsAddress, m_address}, std::pair{kIdsProtocol, m_protocol},
                          std::pair{kIdsPort, m_port}, std::pair{kIdsBaud, m_baud}}) {
    basicLayout->addWidget(Label(id, list));
    basicLayout->addWidget(list);
  }
  basicLayout->addStretch(1);
  layout->addWidget(basic);

  QGroupBox* image = Box(kIdsImageBox);
  auto* imageLayout = new QGridLayout(image);
  std::vector<QString> modes;
  for (std::string_view m : ptz::kImageAdjustmentModes) {
    modes.push_back(QString::fromUtf8(m.data(), static_cast<int>(m.size())));
  }
  using IA = ptz::ImageAdjustment;
  struct ModeList {
    IA list;
    UINT label;
    DWORD stored;
    const char* name;
    int row, column;
  };
  const ModeList lists[] = {{IA::AutoFocus, kIdsAutoFocus, stored.autoFocus, "autoFocus", 0, 0},
                            {IA::AutoWhiteBalance, kIdsAutoWhiteBalance, stored.autoWhiteBalance, "autoWhiteBalance", 0, 2},
                            {IA::AutoGainControl, kIdsAutoGain, stored.autoGainControl, "autoGainControl", 0, 4},
                            {IA::AutoIris, kIdsAutoIris, stored.autoIris, "autoIris", 1, 0},
                            {IA::BacklightCompensation, kIdsBacklight, stored.autoBlc, "backlight", 1, 2}};
  for (const ModeList& m : lists) {
    QComboBox* list = IndexList(image, m.name, modes, m.stored);
    m_modes[static_cast<std::size_t>(m.list)] = list;
    imageLayout->addWidget(Label(m.label, list), m.row, m.column);
    imageLayout->addWidget(list, m.row, m.column + 1);
    const IA which = m.list;
    connect(list, &QComboBox::activated, this, [this, which](int index) {
      (void)ptz::ImageAdjustmentSelected(m_controller, which, index);
    });
  }
  auto* focusButtons = new QHBoxLayout();
  QPushButton* near = Button(QText(kIdsFocusNear), image);
  QPushButton* far = Button(QText(kIdsFocusFar), image);
  focusButtons->addWidget(near);
  focusButtons->addWidget(far);
  imageLayout->addLayout(focusButtons, 1, 4, 1, 2);
  connect(near, &QPushButton::clicked, this, [this] { (void)ptz::FocusButton(m_controller, ptz::kFocusNear); });
  connect(far, &QPushButton::clicked, this, [this] { (void)ptz::FocusButton(m_controller, ptz::kFocusFar); });
  layout->addWidget(image);

  QGroupBox* preset = Box(kIdsPresetBox);
  auto* presetLayout = new QHBoxLayout(preset);
  m_presets = new QComboBox(preset);
  m_presets->setObjectName("presets");
  for (const std::string& entry : ptz::PresetListEntries(m_page.Group(), m_page.Input(), m_ptzTexts)) {
    m_presets->addItem(QString::fromStdString(entry));
  }
  m_presetName = new QLineEdit(preset);
  m_presetName->setObjectName("presetName");
  m_presetName->setMaxLength(static_cast<int>(ptz::kMaxPresetNameUnits));
  QPushButton* save = Button(QText(kIdsSave), preset);
  QPushButton* go = Button(QText(kIdsGoTo), preset);
  presetLayout->addWidget(m_presets);
  presetLayout->addWidget(m_presetName, 1);
  presetLayout->addWidget(save);
  presetLayout->addWidget(go);
  const auto showName = [this](int position) {
    m_presetName->setText(QString::fromStdString(
        ptz::PresetName(m_page.Group(), m_page.Input(), position + ptz::kFirstPreset, m_ptzTexts)));
  };
  connect(m_presets, &QComboBox::currentIndexChanged, this, showName);
  showName(0);
  connect(save, &QPushButton::clicked, this, &CPanTiltZoomDialog::SavePreset);
  connect(go, &QPushButton::clicked, this, &CPanTiltZoomDialog::GotoPreset);
  layout->addWidget(preset);

  QGroupBox* patrol = Box(kIdsPatrolBox);
  auto* patrolLayout = new QGridLayout(patrol);
  auto* tourRow = new QHBoxLayout();
  m_tours = new QComboBox(patrol);
  m_tours->setObjectName("tours");
  m_start = new QComboBox(patrol);
  m_start->setObjectName("start");
  for (const std::string& entry : m_ptzTexts.startList) {
    m_start->addItem(QString::fromStdString(entry));
  }
  QPushButton* deactivate = Button(QText(kIdsDeactivate), patrol);
  QPushButton* activate = Button(QText(kIdsActivate), patrol);
  tourRow->addWidget(m_tours);
  tourRow->addWidget(m_start);
  tourRow->addWidget(deactivate);
  tourRow->addWidget(activate);
  tourRow->addStretch(1);
  patrolLayout->addLayout(tourRow, 0, 0, 1, 2);
  m_steps = new QTreeWidget(patrol);
  m_steps->setObjectName("steps");
  m_steps->setRootIsDecorated(false);
  m_steps->setAllColumnsShowFocus(true);
  m_steps->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_steps->setColumnCount(4);
  QStringList headings;
  for (const std::string& h : m_ptzTexts.columnHeadings) {
    headings << QString::fromStdString(h);
  }
  m_steps->setHeaderLabels(headings);
  m_steps->setMinimumWidth(440);
  const std::array<int, 4> widths = ptz::StepTableColumnWidths(m_steps->minimumWidth());
  for (int c = 0; c < 4; ++c) {
    m_steps->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
  }
  m_steps->setMinimumHeight(150);
  patrolLayout->addWidget(m_steps, 1, 0);
  auto* stepButtons = new QVBoxLayout();
  QPushButton* insert = Button(QText(kIdsInsert), patrol);
  QPushButton* edit = Button(QText(kIdsEdit), patrol);
  QPushButton* remove = Button(QText(kIdsDelete), patrol);
  QPushButton* up = Button(QText(kIdsUp), patrol);
  QPushButton* down = Button(QText(kIdsDown), patrol);
  for (QPushButton* b : {insert, edit, remove, up, down}) {
    stepButtons->addWidget(b);
  }
  stepButtons->addStretch(1);
  patrolLayout->addLayout(stepButtons, 1, 1);
  connect(insert, &QPushButton::clicked, this, &CPanTiltZoomDialog::InsertStep);
  connect(edit, &QPushButton::clicked, this, &CPanTiltZoomDialog::EditStep);
  connect(remove, &QPushButton::clicked, this, &CPanTiltZoomDialog::DeleteStep);
  connect(up, &QPushButton::clicked, this, &CPanTiltZoomDialog::MoveStepUp);
  connect(down, &QPushButton::clicked, this, &CPanTiltZoomDialog::MoveStepDown);
  connect(activate, &QPushButton::clicked, this, &CPanTiltZoomDialog::ActivateTour);
  connect(deactivate, &QPushButton::clicked, this, &CPanTiltZoomDialog::DeactivateTour);
  connect(m_tours, &QComboBox::currentIndexChanged, this, [this](int) {
    m_start->setCurrentIndex(ptz::StartListSelection(ptz::ReadTourAnchor(m_page.Group(), m_page.Input(), Tour())));
    ShowSteps(std::nullopt);
  });
  connect(m_start, &QComboBox::currentIndexChanged, this, [this](int) { ShowSteps(std::nullopt); });
  layout->addWidget(patrol);
  const ptz::TourList tours = ptz::TourListEntries(m_page.Group(), m_page.Input(), m_ptzTexts);
  for (const std::string& entry : tours.entries) {
    m_tours->addItem(QString::fromStdString(entry));
  }
  m_tours->setCurrentIndex(tours.selection);
  m_start->setCurrentIndex(ptz::StartListSelection(ptz::ReadTourAnchor(m_page.Group(), m_page.Input(), Tour())));
  ShowSteps(std::nullopt);

  auto* when = new QLabel(QText(kIdsWhenApplied), this);
  when->setWordWrap(true);
  layout->addWidget(when);
  AddButtons(layout);

  m_dependents = {basic, image, preset, patrol};
  connect(m_enabled, &QCheckBox::toggled, this, &CPanTiltZoomDialog::UpdateEnabled);
  UpdateEnabled();
  SetTabOrder({m_enabled, m_address, m_protocol, m_port, m_baud, m_modes[0], m_modes[4], m_modes[2], m_modes[1],
               m_modes[3], near, far, m_presets, m_presetName, save, go, m_tours, m_start, deactivate, activate,
               m_steps, insert, edit, remove, up, down});
}

void CPanTiltZoomDialog::UpdateEnabled() {
  for (QWidget* w : m_dependents) {
    w->setEnabled(m_enabled->isChecked());
  }
}

ptz::PtzPageSettings CPanTiltZoomDialog::Values() const {
  ptz::PtzPageSettings v;
  v.enabled = m_enabled->isChecked() ? 1 : 0;
  v.address = IndexOf(m_address);
  v.protocol = IndexOf(m_protocol);
  v.portIndex = IndexOf(m_port);
  v.speedIndex = IndexOf(m_baud);
  using IA = ptz::ImageAdjustment;
  v.autoFocus = IndexOf(m_modes[static_cast<std::size_t>(IA::AutoFocus)]);
  v.autoIris = IndexOf(m_modes[static_cast<std::size_t>(IA::AutoIris)]);
  v.autoGainControl = IndexOf(m_modes[static_cast<std::size_t>(IA::AutoGainControl)]);
  v.autoBlc = IndexOf(m_modes[static_cast<std::size_t>(IA::BacklightCompensation)]);
  v.autoWhiteBalance = IndexOf(m_modes[static_cast<std::size_t>(IA::AutoWhiteBalance)]);
  return v;
}

int CPanTiltZoomDialog::Tour() const { return m_tours->currentIndex(); }

int CPanTiltZoomDialog::SelectedStep() const {
  QTreeWidgetItem* item = m_steps->currentItem();
  return item != nullptr && item->isSelected() ? m_steps->indexOfTopLevelItem(item) : -1;
}

void CPanTiltZoomDialog::ShowTours(int selection) {
  const ptz::TourList tours = ptz::TourListEntries(m_page.Group(), m_page.Input(), m_ptzTexts);
  for (std::size_t i = 0; i < tours.entries.size() && static_cast<int>(i) < m_tours->count(); ++i) {
    m_tours->setItemText(static_cast<int>(i), QString::fromStdString(tours.entries[i]));
  }
  m_tours->setCurrentIndex(selection);
}

void CPanTiltZoomDialog::ShowSteps(std::optional<int> select) {
  m_steps->clear();
  if (Tour() < 0) {
    return;
  }
  const std::int64_t anchor = ptz::TableAnchorMinutes(
      m_start->currentIndex(), ptz::ReadTourAnchor(m_page.Group(), m_page.Input(), Tour()), NowMinuteOfDay());
  for (const ptz::StepRow& row : ptz::StepTable(m_page.Group(), m_page.Input(), Tour(), anchor, m_ptzTexts)) {
    m_steps->addTopLevelItem(new QTreeWidgetItem(
        QStringList{QString::fromStdString(row.number), QString::fromStdString(row.preset),
                    QString::fromStdString(row.stay), QString::fromStdString(row.window)}));
  }
  if (select && *select >= 0 && *select < m_steps->topLevelItemCount()) {
    m_steps->setCurrentItem(m_steps->topLevelItem(*select));
    m_steps->topLevelItem(*select)->setSelected(true);
  }
}

void CPanTiltZoomDialog::SavePreset() {
  const int position = m_presets->currentIndex();
  const ptz::SavedPreset saved =
      ptz::SavePreset(m_page.Group(), m_page.Input(), m_controller, position, m_presetName->text().toStdString());
  if (saved.result == ptz::SavePresetResult::NotAvailable) {
    ShowMessage(m_ptzTexts.notAvailableMessage);
  } else if (saved.result == ptz::SavePresetResult::Saved) {
    m_presets->setItemText(position, QString::fromStdString(saved.listText));
  }
}

void CPanTiltZoomDialog::GotoPreset() { (void)ptz::GotoSelectedPreset(m_controller, m_presets->currentIndex()); }

void CPanTiltZoomDialog::OpenStepDialog(ptz::StepDialogMode mode, int position) {
  CPresetItemDialog dialog([this](UINT id) { return Text(id); }, m_page.Group(), m_page.Input(), Tour(), mode,
                           position, m_ptzTexts, this);
  if (m_stepDriver) {
    m_stepDriver(dialog);
  } else {
    dialog.exec();
  }
  if (dialog.result() == QDialog::Accepted) {
    ShowSteps(dialog.Selection());
  }
}

void CPanTiltZoomDialog::InsertStep() {
  if (Tour() >= 0) {
    OpenStepDialog(ptz::StepDialogMode::Insert, SelectedStep());
  }
}

void CPanTiltZoomDialog::EditStep() {
  if (Tour() >= 0 && SelectedStep() >= 0) {
    OpenStepDialog(ptz::StepDialogMode::Edit, SelectedStep());
  }
}

void CPanTiltZoomDialog::DeleteStep() {
  if (Tour() >= 0 && SelectedStep() >= 0) {
    ShowSteps(ptz::DeleteTourStep(m_page.Group(), m_page.Input(), Tour(), SelectedStep()));
  }
}

void CPanTiltZoomDialog::MoveStepUp() {
  if (Tour() >= 0 && SelectedStep() >= 0) {
    ShowSteps(ptz::MoveTourStepUp(m_page.Group(), m_page.Input(), Tour(), SelectedStep()));
  }
}

void CPanTiltZoomDialog::MoveStepDown() {
  if (Tour() >= 0 && SelectedStep() >= 0) {
    ShowSteps(ptz::MoveTourStepDown(m_page.Group(), m_page.Input(), Tour(), SelectedStep()));
  }
}

void CPanTiltZoomDialog::ActivateTour() {
  if (Tour() < 0 || m_start->currentIndex() < 0) {
    return;
  }
  const int tour = Tour();
  const std::vector<ptz::Relabel> relabels =
      ptz::ActivateTour(m_page.Group(), m_page.Input(), tour, m_start->currentIndex(), NowMinuteOfDay(), m_ptzTexts);
  for (const ptz::Relabel& r : relabels) {
    m_tours->setItemText(r.tour, QString::fromStdString(r.text));
  }
  ShowSteps(std::nullopt);
}

void CPanTiltZoomDialog::DeactivateTour() {
  if (Tour() < 0) {
    return;
  }
  for (const ptz::Relabel& r : ptz::DeactivateTour(m_page.Group(), m_page.Input(), Tour())) {
    m_tours->setItemText(r.tour, QString::fromStdString(r.text));
  }
}

bool CPanTiltZoomDialog::Apply() {
  CSettingsChanges changes = m_page.Changes(Values());
  return Commit(changes);
}

// ---- "Insert/Edit Preset Item" -------------------------------------------------------

CPresetItemDialog::CPresetItemDialog(TextFunction texts, std::string group, std::string input, int tour,
                                     ptz::StepDialogMode mode, int position, const ptz::PtzTexts& ptzTexts,
                                     QWidget* parent)
    : CDialogBase(std::move(texts), kIdsPresetItemTitle, parent),
      m_group(std::move(group)),
      m_input(std::move(input)),
      m_tour(tour),
      m_mode(mode),
      m_position(position) {
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout();
  m_preset = new QComboBox(this);
  m_preset->setObjectName("preset");
  for (const std::string& entry : ptz::PresetListEntries(m_group, m_input, ptzTexts)) {
    m_preset->addItem(QString::fromStdString(entry));
  }
  m_hours = new QSpinBox(this);
  m_hours->setObjectName("hours");
  m_hours->setRange(0, 23);
  m_minutes = new QSpinBox(this);
  m_minutes->setObjectName("minutes");
  m_minutes->setRange(0, 59);
  for (QSpinBox* box : {m_hours, m_minutes}) {
    box->setAlignment(Qt::AlignRight);
    box->setMinimumWidth(60);
  }
  grid->addWidget(Label(kIdsPreset, m_preset), 0, 0);
  grid->addWidget(m_preset, 0, 1, 1, 3);
  grid->addWidget(Label(kIdsStayTime, m_hours), 1, 0);
  grid->addWidget(m_hours, 1, 1);
  grid->addWidget(new QLabel(QText(kIdsColon), this), 1, 2);
  grid->addWidget(m_minutes, 1, 3);
  layout->addLayout(grid);
  AddButtons(layout);

  const ptz::StepDialogValues values = ptz::StepDialogFill(m_group, m_input, m_tour, position);
  m_preset->setCurrentIndex(values.presetSelection);
  // A stored stay time beyond a day cannot be shown; the boxes then start on 23:59.
  const int stay = std::min(values.hours * 60 + values.minutes, 23 * 60 + 59);
  m_hours->setValue(stay / 60);
  m_minutes->setValue(stay % 60);
  SetTabOrder({m_preset, m_hours, m_minutes});
}

bool CPresetItemDialog::Apply() {
  if (m_hours->value() == 0 && m_minutes->value() == 0) {
    return Refuse(Text(kIdsZeroStay), m_minutes);
  }
  if (m_mode == ptz::StepDialogMode::Insert &&
      ptz::CPtzTour::Load(m_group, m_input, m_tour).StepCount() >= ptz::kTourSlots) {
    return Refuse(Text(kIdsTourFull), m_preset);
  }
  const ptz::StepDialogOutcome outcome = ptz::ApplyStepDialog(
      m_group, m_input, m_tour, m_mode, m_position, m_preset->currentIndex(), m_hours->value(), m_minutes->value());
  if (outcome.result != ptz::StepDialogResult::Applied) {
    return Refuse(Text(outcome.result == ptz::StepDialogResult::TourFull ? kIdsTourFull : kIdsZeroStay), m_preset);
  }
  m_selection = outcome.selection;
  return true;
}

}  // namespace halvard::ui::dialogs
