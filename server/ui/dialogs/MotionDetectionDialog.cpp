#include "server/ui/dialogs/MotionDetectionDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/audio/PlaySound.h"
#include "server/settings/Settings.h"
#include "server/ui/dialogs/MotionMarkEditor.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

namespace {
constexpr UINT kIdsEnableBox = 4301;
constexpr UINT kIdsEnable = 4302;
constexpr UINT kIdsSensitivityBox = 4303;
constexpr UINT kIdsSize = 4304;
constexpr UINT kIdsSizeChoices = 4305;  // 4305 .. 4307
constexpr UINT kIdsBrightness = 4308;
constexpr UINT kIdsBrightnessChoices = 4309;  // 4309 .. 4313
constexpr UINT kIdsAlarmBox = 4314;
constexpr UINT kIdsHold = 4315;
constexpr UINT kIdsMinute = 4316;
constexpr UINT kIdsMinutes = 4317;
constexpr UINT kIdsRearm = 4318;
constexpr UINT kIdsRearmChoices = 4319;  // 4319 .. 4321
constexpr UINT kIdsSound = 4322;
constexpr UINT kIdsTestSound = 4323;
constexpr UINT kIdsEmail = 4324;
constexpr UINT kIdsTestEmail = 4325;
constexpr UINT kIdsEventFile = 4326;
constexpr UINT kIdsMarkBox = 4327;
constexpr UINT kIdsMarkAll = 4328;
constexpr UINT kIdsClearAll = 4329;
constexpr UINT kIdsChooseSound = 4331;
constexpr UINT kIdsWaveFiles = 4332;
constexpr UINT kIdsMarkHelp = 4333;
constexpr UINT kIdsSoundNotPlayed = 4334;

int BlockOf(DWORD sizeIndex) {
  return static_cast<int>(s::Lookup(s::kMotionSizeBlocks, sizeIndex, s::kMotionSensitivitySize.def));
}

}  // namespace

CMotionDetectionDialog::CMotionDetectionDialog(TextFunction texts, std::string group, std::string input, QImage still,
                                               QWidget* parent)
    : CDialogBase(std::move(texts), kIdsMotionDetectionTitle, parent), m_page(std::move(group), std::move(input)) {
  m_play = [](const std::string& path) {
    return ::PlaySound(path.c_str(), nullptr, SND_ASYNC | SND_FILENAME) != FALSE;
  };
  m_chooseFile = [this](const std::string& start) {
    return QFileDialog::getOpenFileName(this, QText(kIdsChooseSound), QString::fromStdString(start),
                                        QText(kIdsWaveFiles))
        .toStdString();
  };
  const MotionValues& stored = m_page.Stored();
  auto* columns = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  columns->addLayout(left);

  QGroupBox* enable = Box(kIdsEnableBox);
  auto* enableLayout = new QVBoxLayout(enable);
  m_detection = new QCheckBox(QText(kIdsEnable), enable);
  m_detection->setObjectName("detection");
  m_detection->setChecked(stored.detection);
  enableLayout->addWidget(m_detection);
  left->addWidget(enable);

  QGroupBox* sensitivity = Box(kIdsSensitivityBox);
  auto* sensitivityGrid = new QGridLayout(sensitivity);
  m_size = new QComboBox(sensitivity);
  m_size->setObjectName("size");
  for (DWORD i = 0; i < kOfferedSizes; ++i) {
    m_size->addItem(QText(kIdsSizeChoices + i));
  }
  m_brightness = new QComboBox(sensitivity);
  m_brightness->setObjectName("brightness");
  for (DWORD i = 0; i < kOfferedBrightness; ++i) {
    m_brightness->addItem(QText(kIdsBrightnessChoices + i));
  }
  // A stored index beyond what is offered stays as it is until the operator picks another.
  if (stored.sizeIndex >= kOfferedSizes) {
    m_size->addItem(QString::number(BlockOf(stored.sizeIndex)));
  }
  if (stored.brightnessIndex >= kOfferedBrightness) {
    m_brightness->addItem(QString::number(s::kMotionBrightnessLevels[stored.brightnessIndex]));
  }
  m_size->setCurrentIndex(static_cast<int>(std::min<DWORD>(stored.sizeIndex, m_size->count() - 1)));
  m_brightness->setCurrentIndex(static_cast<int>(std::min<DWORD>(stored.brightnessIndex, m_brightness->count() - 1)));
  sensitivityGrid->addWidget(Label(kIdsSize, m_size), 0, 0);
  sensitivityGrid->addWidget(m_size, 0, 1);
  sensitivityGrid->addWidget(Label(kIdsBrightness, m_brightness), 1, 0);
  sensitivityGrid->addWidget(m_brightness, 1, 1);
  left->addWidget(sensitivity);

  QGroupBox* alarm = Box(kIdsAlarmBox);
  auto* alarmGrid = new QGridLayout(alarm);
  m_hold = new QComboBox(alarm);
  m_hold->setObjectName("hold");
  for (DWORD minutes : s::kMotionNoMotionMinutes) {
    m_hold->addItem(QString::fromStdString(
        FormatText("%d %s", {std::to_string(minutes), Text(minutes == 1 ? kIdsMinute : kIdsMinutes)})));
  }
  m_hold->setCurrentIndex(static_cast<int>(stored.holdIndex));
  m_rearm = new QComboBox(alarm);
  m_rearm->setObjectName("rearm");
  for (UINT i = 0; i < std::size(s::kMotionNoAlarmFactors); ++i) {
    m_rearm->addItem(QText(kIdsRearmChoices + i));
  }
  m_rearm->setCurrentIndex(static_cast<int>(stored.rearmIndex));
  alarmGrid->addWidget(Label(kIdsHold, m_hold), 0, 0);
  alarmGrid->addWidget(m_hold, 0, 1, 1, 3);
  alarmGrid->addWidget(Label(kIdsRearm, m_rearm), 1, 0);
  alarmGrid->addWidget(m_rearm, 1, 1, 1, 3);
  m_sound = new QCheckBox(QText(kIdsSound), alarm);
  m_sound->setObjectName("sound");
  m_sound->setChecked(stored.sound);
  m_soundFile = new QLineEdit(QString::fromStdString(stored.soundFile), alarm);
  m_soundFile->setObjectName("soundFile");
  m_soundFile->setMaxLength(99);
  m_soundFile->setMinimumWidth(200);
  auto* browse = new QPushButton(QText(kIdsBrowse), alarm);
  browse->setObjectName("browseSound");
  auto* test = new QPushButton(QText(kIdsTestSound), alarm);
  test->setObjectName("testSound");
  alarmGrid->addWidget(m_sound, 2, 0);
  alarmGrid->addWidget(m_soundFile, 2, 1);
  alarmGrid->addWidget(browse, 2, 2);
  alarmGrid->addWidget(test, 2, 3);
  // The e-mail row is shown for completeness of the alarm choices; mail goes out only
  // through the alert mailer, never from this dialog.
  auto* emailLabel = new QLabel(QText(kIdsEmail), alarm);
  auto* email = new QLineEdit(alarm);
  email->setObjectName("email");
  auto* testEmail = new QPushButton(QText(kIdsTestEmail), alarm);
  testEmail->setObjectName("testEmail");
  for (QWidget* w : {static_cast<QWidget*>(emailLabel), static_cast<QWidget*>(email), static_cast<QWidget*>(testEmail)}) {
    w->setEnabled(false);
  }
  alarmGrid->addWidget(emailLabel, 3, 0);
  alarmGrid->addWidget(email, 3, 1, 1, 2);
  alarmGrid->addWidget(testEmail, 3, 3);
  auto* eventFile = new QCheckBox(QText(kIdsEventFile), alarm);
  eventFile->setObjectName("eventFile");
  eventFile->setChecked(true);
  eventFile->setEnabled(false);
  auto* eventDir = new QLineEdit(QString::fromStdString(s::ReadMotionEventDir(m_page.Group(), m_page.Input())), alarm);
  eventDir->setReadOnly(true);
  eventDir->setEnabled(false);
  alarmGrid->addWidget(eventFile, 4, 0);
  alarmGrid->addWidget(eventDir, 4, 1, 1, 3);
  left->addWidget(alarm);
  left->addStretch(1);

  QGroupBox* markBox = Box(kIdsMarkBox);
  auto* markLayout = new QVBoxLayout(markBox);
  const int width = m_page.PictureWidth();
  const int height = m_page.PictureHeight();
  m_editor = new CMotionMarkEditor(CMotionMark(width, height, BlockOf(stored.sizeIndex), stored.mark), width, height,
                                   std::move(still), markBox);
  m_editor->setObjectName("mark");
  markLayout->addWidget(m_editor, 0, Qt::AlignCenter);
  auto* help = new QLabel(QText(kIdsMarkHelp), markBox);
  help->setWordWrap(true);
  markLayout->addWidget(help);
  auto* markButtons = new QHBoxLayout;
  auto* markAll = new QPushButton(QText(kIdsMarkAll), markBox);
  markAll->setObjectName("markAll");
  auto* clearAll = new QPushButton(QText(kIdsClearAll), markBox);
  clearAll->setObjectName("clearAll");
  markButtons->addWidget(markAll);
  markButtons->addWidget(clearAll);
  markButtons->addStretch(1);
  markLayout->addLayout(markButtons);
  markLayout->addStretch(1);
  auto* right = new QVBoxLayout;
  right->addWidget(markBox);
  auto* note = new QLabel(QText(kIdsAppliesAtRestart), this);
  note->setWordWrap(true);
  right->addWidget(note);
  AddButtons(right);
  columns->addLayout(right);

  connect(markAll, &QPushButton::clicked, this, [this] { m_editor->MarkAll(); });
  connect(clearAll, &QPushButton::clicked, this, [this] { m_editor->ClearAll(); });
  connect(m_size, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) {
      m_editor->SetMark(m_editor->Mark().WithBlockSize(BlockOf(static_cast<DWORD>(index))));
    }
  });
  connect(test, &QPushButton::clicked, this, [this] { TestSound(); });
  connect(browse, &QPushButton::clicked, this, [this] {
    const std::string file = m_chooseFile ? m_chooseFile(m_soundFile->text().toStdString()) : std::string();
    if (!file.empty()) {
      m_soundFile->setText(QString::fromStdString(file));
    }
  });
  SetTabOrder({m_detection, m_size, m_brightness, m_hold, m_rearm, m_sound, m_soundFile, browse, test, markAll,
               clearAll});
}

void CMotionDetectionDialog::TestSound() {
  const std::string file = m_soundFile->text().toStdString();
  if (!m_play || !m_play(file)) {
    ShowMessage(Text(kIdsSoundNotPlayed) + " " + file);
  }
}

MotionValues CMotionDetectionDialog::Values() const {
  MotionValues values = m_page.Stored();
  values.detection = m_detection->isChecked();
  values.sizeIndex = m_size->currentIndex() < static_cast<int>(kOfferedSizes) ? static_cast<DWORD>(m_size->currentIndex())
                                                                              : m_page.Stored().sizeIndex;
  values.brightnessIndex = m_brightness->currentIndex() < static_cast<int>(kOfferedBrightness)
                               ? static_cast<DWORD>(m_brightness->currentIndex())
                               : m_page.Stored().brightnessIndex;
  values.holdIndex = static_cast<DWORD>(std::max(0, m_hold->currentIndex()));
  values.rearmIndex = static_cast<DWORD>(std::max(0, m_rearm->currentIndex()));
  values.sound = m_sound->isChecked();
  values.soundFile = m_soundFile->text().toStdString();
  values.mark = m_editor->Mark().Bytes();
  return values;
}

bool CMotionDetectionDialog::Apply() {
  const MotionValues values = Values();
  if (const std::optional<UINT> refusal = m_page.Check(values)) {
    return Refuse(Text(*refusal), m_soundFile);
  }
  CSettingsChanges changes = m_page.Changes(values);
  return Commit(changes);
}

}  // namespace halvard::ui::dialogs
