#include "server/ui/dialogs/BootScheduleDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "server/settings/Settings.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

namespace {
constexpr UINT kIdsStartupBox = 4501;
constexpr UINT kIdsAutoStart = 4502;
constexpr UINT kIdsLockDesktop = 4503;
constexpr UINT kIdsRebootBox = 4504;
constexpr UINT kIdsRebootAdvice = 4505;
constexpr UINT kIdsReboot = 4506;
constexpr UINT kIdsEveryDay = 4507;  // 4507 .. 4513, Sunday first
}  // namespace

CSettingsChanges BootScheduleChanges(const system::BootScheduleSettings& stored,
                                     const system::BootScheduleSettings& values) {
  CSettingsChanges changes;
  const auto flag = [&changes](const s::SystemDword& value, bool now, bool before) {
    if (now != before) {
      changes.Add(std::string(value.name), [&value, now] { value.Write(now ? 1 : 0); });
    }
  };
  flag(s::kBootAutoStart, values.bootAutoStart, stored.bootAutoStart);
  flag(s::kPrivacyLockDesktop, values.lockDesktop, stored.lockDesktop);
  for (int day = 0; day < 7; ++day) {
    const bool on = values.schedule.days[static_cast<std::size_t>(day)];
    if (on != stored.schedule.days[static_cast<std::size_t>(day)]) {
      changes.Add(s::RebootDayName(day), [day, on] { s::WriteRebootDay(day, on ? 1 : 0); });
    }
  }
  flag(s::kReboot, values.schedule.enabled, stored.schedule.enabled);
  for (int day = 0; day < 7; ++day) {
    const DWORD hour = values.schedule.hours[static_cast<std::size_t>(day)];
    if (hour != stored.schedule.hours[static_cast<std::size_t>(day)] && hour < 24) {
      changes.Add(s::RebootTimeName(day), [day, hour] { s::WriteRebootTime(day, hour); });
    }
  }
  return changes;
}

CBootScheduleDialog::CBootScheduleDialog(TextFunction texts, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsBootScheduleTitle, parent), m_stored(system::ReadBootScheduleSettings()) {
  auto* layout = new QVBoxLayout(this);
  QGroupBox* startup = Box(kIdsStartupBox);
  auto* startupLayout = new QVBoxLayout(startup);
  m_autoStart = new QCheckBox(QText(kIdsAutoStart), startup);
  m_autoStart->setObjectName("autoStart");
  m_lockDesktop = new QCheckBox(QText(kIdsLockDesktop), startup);
  m_lockDesktop->setObjectName("lockDesktop");
  startupLayout->addWidget(m_autoStart);
  startupLayout->addWidget(m_lockDesktop);
  layout->addWidget(startup);

  QGroupBox* reboot = Box(kIdsRebootBox);
  auto* grid = new QGridLayout(reboot);
  auto* advice = new QLabel(QText(kIdsRebootAdvice), reboot);
  advice->setWordWrap(true);
  grid->addWidget(advice, 0, 0, 1, 2);
  m_reboot = new QCheckBox(QText(kIdsReboot), reboot);
  m_reboot->setObjectName("reboot");
  grid->addWidget(m_reboot, 1, 0, 1, 2);
  for (int day = 0; day < 7; ++day) {
    auto* box = new QCheckBox(QText(kIdsEveryDay + static_cast<UINT>(day)), reboot);
    box->setObjectName(QString("day%1").arg(day));
    auto* hours = new QComboBox(reboot);
    hours->setObjectName(QString("hour%1").arg(day));
    for (int hour = 0; hour < 24; ++hour) {
      hours->addItem(QString::fromStdString(system::RebootHourLabel(hour)));
    }
    const DWORD stored = m_stored.schedule.hours[static_cast<std::size_t>(day)];
    if (stored >= 24) {
      // A stored hour no list position stands for: kept until the operator picks one.
      hours->addItem(QString::number(stored));
    }
    hours->setCurrentIndex(stored < 24 ? static_cast<int>(stored) : 24);
    box->setChecked(m_stored.schedule.days[static_cast<std::size_t>(day)]);
    grid->addWidget(box, 2 + day, 0);
    grid->addWidget(hours, 2 + day, 1, Qt::AlignLeft);
    m_days[static_cast<std::size_t>(day)] = box;
    m_hours[static_cast<std::size_t>(day)] = hours;
    box->setEnabled(m_stored.schedule.enabled);
    hours->setEnabled(m_stored.schedule.enabled);
    connect(m_reboot, &QCheckBox::toggled, box, &QWidget::setEnabled);
    connect(m_reboot, &QCheckBox::toggled, hours, &QWidget::setEnabled);
  }
  layout->addWidget(reboot);
  AddButtons(layout);
  m_autoStart->setChecked(m_stored.bootAutoStart);
  m_lockDesktop->setChecked(m_stored.lockDesktop);
  m_reboot->setChecked(m_stored.schedule.enabled);
}

system::BootScheduleSettings CBootScheduleDialog::Values() const {
  system::BootScheduleSettings values = m_stored;
  values.bootAutoStart = m_autoStart->isChecked();
  values.lockDesktop = m_lockDesktop->isChecked();
  values.schedule.enabled = m_reboot->isChecked();
  for (std::size_t day = 0; day < 7; ++day) {
    values.schedule.days[day] = m_days[day]->isChecked();
    const int index = m_hours[day]->currentIndex();
    values.schedule.hours[day] = index >= 0 && index < 24 ? static_cast<DWORD>(index) : m_stored.schedule.hours[day];
  }
  return values;
}

bool CBootScheduleDialog::Apply() {
  CSettingsChanges changes = BootScheduleChanges(m_stored, Values());
  return Commit(changes);
}

}  // namespace halvard::ui::dialogs
