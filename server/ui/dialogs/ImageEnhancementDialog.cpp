#include "server/ui/dialogs/ImageEnhancementDialog.h"

#include <algorithm>

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "server/settings/Settings.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

namespace {
constexpr UINT kIdsLevelsBox = 4587;
constexpr UINT kIdsLevelOff = 4588;  // 4588 .. 4590, one per level
constexpr UINT kIdsLevelStored = 4591;
constexpr UINT kIdsWholeGroup = 4592;
}  // namespace

CSettingsChanges ImageEnhancementChanges(const std::string& group, DWORD stored, DWORD level) {
  CSettingsChanges changes;
  if (level != stored) {
    changes.Add(std::string(s::kCardIdeLevel.name), [group, level] { s::kCardIdeLevel.Write(group, level); });
  }
  return changes;
}

CImageEnhancementDialog::CImageEnhancementDialog(TextFunction texts, std::string group, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsImageEnhancementTitle, parent),
      m_group(std::move(group)),
      m_stored(s::kCardIdeLevel.Read(m_group)) {
  auto* layout = new QVBoxLayout(this);
  QGroupBox* box = Box(kIdsLevelsBox);
  auto* boxLayout = new QVBoxLayout(box);
  m_levels = new QButtonGroup(this);
  for (DWORD level = 0; level < kIdeLevels; ++level) {
    auto* button = new QRadioButton(QText(kIdsLevelOff + level), box);
    button->setObjectName(QString("level%1").arg(level));
    m_levels->addButton(button, static_cast<int>(level));
    boxLayout->addWidget(button);
  }
  if (m_stored >= kIdeLevels) {
    auto* button =
        new QRadioButton(QString::fromStdString(FormatText(Text(kIdsLevelStored), {std::to_string(m_stored)})), box);
    button->setObjectName("levelStored");
    m_levels->addButton(button, static_cast<int>(kIdeLevels));
    boxLayout->addWidget(button);
  }
  m_levels->button(static_cast<int>(std::min(m_stored, kIdeLevels)))->setChecked(true);
  layout->addWidget(box);
  for (const std::string& note : {FormatText(Text(kIdsWholeGroup), {m_group}), Text(kIdsAppliesAtRestart)}) {
    auto* label = new QLabel(QString::fromStdString(note), this);
    label->setWordWrap(true);
    layout->addWidget(label);
  }
  AddButtons(layout);
}

DWORD CImageEnhancementDialog::Level() const {
  const int id = m_levels->checkedId();
  return id >= 0 && static_cast<DWORD>(id) < kIdeLevels ? static_cast<DWORD>(id) : m_stored;
}

bool CImageEnhancementDialog::Apply() {
  CSettingsChanges changes = ImageEnhancementChanges(m_group, m_stored, Level());
  return Commit(changes);
}

}  // namespace halvard::ui::dialogs
