#include "server/ui/dialogs/VideoRecordingDialog.h"

#include <algorithm>
#include <set>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "platform/audio/AudioDevices.h"
#include "server/settings/Settings.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

namespace {

// Texts of the dialog, in the order they appear.
constexpr UINT kIdsCameraBox = 4101;
constexpr UINT kIdsName = 4102;
constexpr UINT kIdsRecordingBox = 4103;
constexpr UINT kIdsRecord = 4104;
constexpr UINT kIdsRoot = 4105;
constexpr UINT kIdsFileLength = 4106;
constexpr UINT kIdsMinutesChoice = 4107;
constexpr UINT kIdsHistory = 4108;
constexpr UINT kIdsVideoBox = 4109;
constexpr UINT kIdsBitrate = 4110;
constexpr UINT kIdsFrameRate = 4111;
constexpr UINT kIdsKeyFrame = 4112;
constexpr UINT kIdsQuality = 4113;
constexpr UINT kIdsSmoothMotion = 4114;
constexpr UINT kIdsSharpImage = 4115;
constexpr UINT kIdsAudioBox = 4116;
constexpr UINT kIdsAudio = 4117;
constexpr UINT kIdsAudioSource = 4118;
constexpr UINT kIdsSampleRate = 4119;
constexpr UINT kIdsKhzChoice = 4120;
constexpr UINT kIdsAudioBitrate = 4121;
constexpr UINT kIdsKbpsChoice = 4122;
constexpr UINT kIdsAudition = 4123;
constexpr UINT kIdsDefaultAudioSource = 4124;
constexpr UINT kIdsChooseRoot = 4125;

QLineEdit* NumberEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setMaximumWidth(90);
  return edit;
}

}  // namespace

CVideoRecordingDialog::CVideoRecordingDialog(TextFunction texts, std::string group, std::string input,
                                             Renamer renamer, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsVideoRecordingTitle, parent),
      m_page(std::move(group), std::move(input)),
      m_rename(std::move(renamer)),
      m_formats(EncoderAudioFormats()) {
  m_chooseFolder = [this](const std::string& start) {
    return QFileDialog::getExistingDirectory(this, QText(kIdsChooseRoot), QString::fromStdString(start))
        .toStdString();
  };
  Build();
  Show(m_page.Stored());
}

void CVideoRecordingDialog::Build() {
  auto* layout = new QVBoxLayout(this);

  QGroupBox* camera = Box(kIdsCameraBox);
  auto* cameraGrid = new QGridLayout(camera);
  m_name = new QLineEdit(camera);
  m_name->setObjectName("name");
  m_name->setMaxLength(99);
  // Without the roster nothing could move the archive folder and key along.
  m_name->setReadOnly(!m_rename);
  cameraGrid->addWidget(Label(kIdsName, m_name), 0, 0);
  cameraGrid->addWidget(m_name, 0, 1);
  layout->addWidget(camera);

  QGroupBox* recording = Box(kIdsRecordingBox);
  auto* recordingGrid = new QGridLayout(recording);
  m_record = new QCheckBox(QText(kIdsRecord), recording);
  m_record->setObjectName("record");
  recordingGrid->addWidget(m_record, 0, 0, 1, 3);
  m_root = new QLineEdit(recording);
  m_root->setObjectName("root");
  m_root->setMaxLength(static_cast<int>(kMaxRootChars));
  m_root->setMinimumWidth(260);
  auto* browse = new QPushButton(QText(kIdsBrowse), recording);
  browse->setObjectName("browse");
  connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
  recordingGrid->addWidget(Label(kIdsRoot, m_root), 1, 0);
  recordingGrid->addWidget(m_root, 1, 1);
  recordingGrid->addWidget(browse, 1, 2);
  m_fileLength = new QComboBox(recording);
  m_fileLength->setObjectName("fileLength");
  for (DWORD minutes : s::kFileLengthMinutes) {
    m_fileLength->addItem(QString::fromStdString(FormatText(Text(kIdsMinutesChoice), {std::to_string(minutes)})));
  }
  recordingGrid->addWidget(Label(kIdsFileLength, m_fileLength), 2, 0);
  recordingGrid->addWidget(m_fileLength, 2, 1, Qt::AlignLeft);
  m_history = NumberEdit(recording, "history");
  recordingGrid->addWidget(Label(kIdsHistory, m_history), 3, 0);
  recordingGrid->addWidget(m_history, 3, 1, Qt::AlignLeft);
  layout->addWidget(recording);

  QGroupBox* video = Box(kIdsVideoBox);
  auto* videoGrid = new QGridLayout(video);
  m_bitrate = NumberEdit(video, "bitrate");
  m_frameRate = NumberEdit(video, "frameRate");
  m_keyFrame = NumberEdit(video, "keyFrame");
  videoGrid->addWidget(Label(kIdsBitrate, m_bitrate), 0, 0);
  videoGrid->addWidget(m_bitrate, 0, 1, Qt::AlignLeft);
  videoGrid->addWidget(Label(kIdsFrameRate, m_frameRate), 1, 0);
  videoGrid->addWidget(m_frameRate, 1, 1, Qt::AlignLeft);
  videoGrid->addWidget(Label(kIdsKeyFrame, m_keyFrame), 2, 0);
  videoGrid->addWidget(m_keyFrame, 2, 1, Qt::AlignLeft);
  m_quality = new QSlider(Qt::Horizontal, video);
  m_quality->setObjectName("quality");
  m_quality->setRange(0, 100);
  m_quality->setTickInterval(10);
  m_quality->setTickPosition(QSlider::TicksBelow);
  m_quality->setPageStep(10);
  auto* qualityRow = new QHBoxLayout;
  qualityRow->addWidget(new QLabel(QText(kIdsSmoothMotion), video));
  qualityRow->addWidget(m_quality, 1);
  qualityRow->addWidget(new QLabel(QText(kIdsSharpImage), video));
  videoGrid->addWidget(Label(kIdsQuality, m_quality), 3, 0);
  videoGrid->addLayout(qualityRow, 3, 1);
  videoGrid->setColumnStretch(1, 1);
  layout->addWidget(video);

  QGroupBox* audio = Box(kIdsAudioBox);
  auto* audioGrid = new QGridLayout(audio);
  m_audio = new QCheckBox(QText(kIdsAudio), audio);
  m_audio->setObjectName("audio");
  audioGrid->addWidget(m_audio, 0, 0, 1, 2);
  m_audioSource = new QComboBox(audio);
  m_audioSource->setObjectName("audioSource");
  m_audioSource->addItem(QText(kIdsDefaultAudioSource), QString());
  for (const audio::AudioDevice& device : audio::EnumerateAudioInputs()) {
    const QString name = QString::fromStdString(device.friendlyName);
    m_audioSource->addItem(name, name);
  }
  audioGrid->addWidget(Label(kIdsAudioSource, m_audioSource), 1, 0);
  audioGrid->addWidget(m_audioSource, 1, 1);
  m_sampleRate = new QComboBox(audio);
  m_sampleRate->setObjectName("sampleRate");
  m_audioBitrate = new QComboBox(audio);
  m_audioBitrate->setObjectName("audioBitrate");
  audioGrid->addWidget(Label(kIdsSampleRate, m_sampleRate), 2, 0);
  audioGrid->addWidget(m_sampleRate, 2, 1, Qt::AlignLeft);
  audioGrid->addWidget(Label(kIdsAudioBitrate, m_audioBitrate), 3, 0);
  audioGrid->addWidget(m_audioBitrate, 3, 1, Qt::AlignLeft);
  m_audition = new QCheckBox(QText(kIdsAudition), audio);
  m_audition->setObjectName("audition");
  audioGrid->addWidget(m_audition, 4, 0, 1, 2);
  audioGrid->setColumnStretch(1, 1);
  layout->addWidget(audio);
  connect(m_audio, &QCheckBox::toggled, m_audioSource, &QWidget::setEnabled);
  connect(m_sampleRate, &QComboBox::activated, this, [this](int) {
    FillBitrates(m_sampleRate->currentData().toUInt(), m_audioBitrate->currentData().toUInt());
  });

  auto* note = new QLabel(QText(kIdsAppliesAtRestart), this);
  note->setWordWrap(true);
  layout->addWidget(note);
  AddButtons(layout);
  SetTabOrder({m_name, m_record, m_root, browse, m_fileLength, m_history, m_bitrate, m_frameRate, m_keyFrame,
               m_quality, m_audio, m_audioSource, m_sampleRate, m_audioBitrate, m_audition});
}

void CVideoRecordingDialog::Show(const RecordingForm& form) {
  m_name->setText(QString::fromStdString(form.name));
  m_record->setChecked(form.record);
  m_root->setText(QString::fromStdString(form.root));
  m_fileLength->setCurrentIndex(static_cast<int>(form.fileLengthIndex));
  m_history->setText(QString::fromStdString(form.historyDays));
  m_bitrate->setText(QString::fromStdString(form.bitrateKbps));
  m_frameRate->setText(QString::fromStdString(form.frameRate));
  m_keyFrame->setText(QString::fromStdString(form.keyFrameSeconds));
  m_quality->setValue(static_cast<int>(form.quality));
  m_audio->setChecked(form.audio);
  m_audioSource->setEnabled(form.audio);
  const QString source = QString::fromStdString(form.audioSource);
  int at = m_audioSource->findData(source);
  if (at < 0) {
    // A source that is not plugged in now stays chosen rather than being lost.
    m_audioSource->addItem(source, source);
    at = m_audioSource->count() - 1;
  }
  m_audioSource->setCurrentIndex(at);
  std::set<DWORD> rates;
  for (const AudioFormatChoice& f : m_formats) {
    rates.insert(f.sampleRateKhz);
  }
  rates.insert(form.audioFormat.sampleRateKhz);
  m_sampleRate->clear();
  for (DWORD rate : rates) {
    m_sampleRate->addItem(QString::fromStdString(FormatText(Text(kIdsKhzChoice), {std::to_string(rate)})), rate);
  }
  m_sampleRate->setCurrentIndex(m_sampleRate->findData(form.audioFormat.sampleRateKhz));
  FillBitrates(form.audioFormat.sampleRateKhz, form.audioFormat.bitrateKbps);
  m_audition->setChecked(form.audition);
}

void CVideoRecordingDialog::FillBitrates(DWORD sampleRateKhz, DWORD wantedKbps) {
  std::set<DWORD> rates;
  for (const AudioFormatChoice& f : m_formats) {
    if (f.sampleRateKhz == sampleRateKhz) {
      rates.insert(f.bitrateKbps);
    }
  }
  const AudioFormatChoice& stored = m_page.Stored().audioFormat;
  if (sampleRateKhz == stored.sampleRateKhz) {
    rates.insert(stored.bitrateKbps);
  }
  m_audioBitrate->clear();
  for (DWORD kbps : rates) {
    m_audioBitrate->addItem(QString::fromStdString(FormatText(Text(kIdsKbpsChoice), {std::to_string(kbps)})), kbps);
  }
  // The wanted rate when this sample rate has it, else the nearest one below it.
  int index = 0;
  for (int i = 0; i < m_audioBitrate->count(); ++i) {
    if (m_audioBitrate->itemData(i).toUInt() <= wantedKbps) {
      index = i;
    }
  }
  m_audioBitrate->setCurrentIndex(m_audioBitrate->count() > 0 ? index : -1);
}

void CVideoRecordingDialog::Browse() {
  const std::string folder = m_chooseFolder ? m_chooseFolder(m_root->text().toStdString()) : std::string();
  if (!folder.empty()) {
    m_root->setText(QString::fromStdString(CRecordingPage::NormaliseRoot(folder)));
  }
}

RecordingForm CVideoRecordingDialog::Form() const {
  RecordingForm form;
  form.name = m_name->text().toStdString();
  form.record = m_record->isChecked();
  form.root = m_root->text().toStdString();
  form.fileLengthIndex = static_cast<DWORD>(std::max(0, m_fileLength->currentIndex()));
  form.historyDays = m_history->text().toStdString();
  form.bitrateKbps = m_bitrate->text().toStdString();
  form.frameRate = m_frameRate->text().toStdString();
  form.keyFrameSeconds = m_keyFrame->text().toStdString();
  form.quality = static_cast<DWORD>(m_quality->value());
  form.audio = m_audio->isChecked();
  form.audioSource = m_audioSource->currentData().toString().toStdString();
  form.audioFormat = {m_sampleRate->currentData().toUInt(), m_audioBitrate->currentData().toUInt()};
  form.audition = m_audition->isChecked();
  return form;
}

QWidget* CVideoRecordingDialog::FieldOf(RecordingField field) const {
  switch (field) {
    case RecordingField::Name: return m_name;
    case RecordingField::Root: return m_root;
    case RecordingField::FileLength: return m_fileLength;
    case RecordingField::History: return m_history;
    case RecordingField::Bitrate: return m_bitrate;
    case RecordingField::FrameRate: return m_frameRate;
    case RecordingField::KeyFrame: return m_keyFrame;
    case RecordingField::Quality: return m_quality;
    case RecordingField::AudioFormat: return m_audioBitrate;
  }
  return nullptr;
}

UINT CVideoRecordingDialog::LabelOf(RecordingField field) const {
  switch (field) {
    case RecordingField::Name: return kIdsName;
    case RecordingField::Root: return kIdsRoot;
    case RecordingField::FileLength: return kIdsFileLength;
    case RecordingField::History: return kIdsHistory;
    case RecordingField::Bitrate: return kIdsBitrate;
    case RecordingField::FrameRate: return kIdsFrameRate;
    case RecordingField::KeyFrame: return kIdsKeyFrame;
    case RecordingField::Quality: return kIdsQuality;
    case RecordingField::AudioFormat: return kIdsAudioBitrate;
  }
  return 0;
}

bool CVideoRecordingDialog::Apply() {
  const RecordingForm form = Form();
  if (const std::optional<RecordingRefusal> refusal = m_page.Check(form, m_formats)) {
    const std::string text =
        refusal->textId == kIdsNumberRange
            ? FormatText(Text(kIdsNumberRange), {FieldName(Text(LabelOf(refusal->field))),
                                                 std::to_string(refusal->minimum), std::to_string(refusal->maximum)})
            : Text(refusal->textId);
    return Refuse(text, FieldOf(refusal->field));
  }
  std::string input = m_page.Input();
  if (m_page.NameChanged(form)) {
    // The roster moves the archive folder and the key, or says why it cannot.
    if (!m_rename || !m_rename(m_page.Group(), m_page.Input(), form.name)) {
      m_name->setFocus(Qt::OtherFocusReason);
      return false;
    }
    input = form.name;
  }
  CSettingsChanges changes = m_page.Changes(form, input);
  return Commit(changes);
}

}  // namespace halvard::ui::dialogs
