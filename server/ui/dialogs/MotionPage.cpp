#include "server/ui/dialogs/MotionPage.h"

#include <algorithm>
#include <filesystem>

#include "server/settings/Settings.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

CMotionMark::CMotionMark(int width, int height, int blockSize, std::vector<BYTE> bytes)
    : m_width(width), m_height(height), m_block(std::max(1, blockSize)), m_bytes(std::move(bytes)) {
  m_columns = std::max(0, m_width / m_block);
  m_rows = std::max(0, (m_height - kMotionGridTopMargin) / m_block);
  // The bitmap holds 5,760 blocks; a grid beyond it is cut at the last full row.
  const int maxBlocks = static_cast<int>(s::kMotionMarkBytes) * 8;
  if (m_columns > 0 && m_columns * m_rows > maxBlocks) {
    m_rows = maxBlocks / m_columns;
  }
  if (m_bytes.size() != s::kMotionMarkBytes) {
    m_bytes.assign(s::kMotionMarkBytes, 0);
    MarkAll();
  }
}

bool CMotionMark::IsMarked(int column, int row) const {
  if (column < 0 || row < 0 || column >= m_columns || row >= m_rows) {
    return false;
  }
  const int bit = column + row * m_columns;
  return (m_bytes[static_cast<std::size_t>(bit / 8)] >> (bit % 8) & 1) != 0;
}

void CMotionMark::Set(int column, int row, bool marked) {
  if (column < 0 || row < 0 || column >= m_columns || row >= m_rows) {
    return;
  }
  const int bit = column + row * m_columns;
  BYTE& byte = m_bytes[static_cast<std::size_t>(bit / 8)];
  byte = static_cast<BYTE>(marked ? byte | (1u << (bit % 8)) : byte & ~(1u << (bit % 8)));
}

void CMotionMark::MarkAll() {
  std::fill(m_bytes.begin(), m_bytes.end(), BYTE{0});
  for (int r = 0; r < m_rows; ++r) {
    for (int c = 0; c < m_columns; ++c) {
      Set(c, r, true);
    }
  }
}

void CMotionMark::ClearAll() { std::fill(m_bytes.begin(), m_bytes.end(), BYTE{0}); }

CMotionMark CMotionMark::WithBlockSize(int blockSize) const {
  CMotionMark other(m_width, m_height, blockSize, std::vector<BYTE>(s::kMotionMarkBytes, 0));
  for (int r = 0; r < other.m_rows; ++r) {
    for (int c = 0; c < other.m_columns; ++c) {
      const int x = c * other.m_block + other.m_block / 2;
      const int y = r * other.m_block + other.m_block / 2;
      other.Set(c, r, IsMarked(x / m_block, y / m_block));
    }
  }
  return other;
}

CMotionPage::CMotionPage(std::string group, std::string input) : m_group(std::move(group)), m_input(std::move(input)) {
  MotionValues& v = m_stored;
  v.detection = s::kInputMotionDetection.Read(m_group, m_input) != 0;
  v.sizeIndex = std::min<DWORD>(s::kMotionSensitivitySize.Read(m_group, m_input), std::size(s::kMotionSizeBlocks) - 1);
  v.brightnessIndex = std::min<DWORD>(s::kMotionSensitivityBrightness.Read(m_group, m_input),
                                      std::size(s::kMotionBrightnessLevels) - 1);
  v.holdIndex = std::min<DWORD>(s::kMotionNoMotion.Read(m_group, m_input), std::size(s::kMotionNoMotionMinutes) - 1);
  v.rearmIndex = std::min<DWORD>(s::kMotionNoAlarm.Read(m_group, m_input), std::size(s::kMotionNoAlarmFactors) - 1);
  v.sound = s::kMotionSound.Read(m_group, m_input) != 0;
  v.soundFile = s::ReadMotionSoundFile(m_group, m_input);
  const s::PictureSize size = s::ReadEffectivePictureSize(m_group);
  m_width = static_cast<int>(size.width);
  m_height = static_cast<int>(size.height);
  v.mark = s::ReadMotionMark(m_group, m_input);
  if (!s::ValueExists(s::CameraKeyPath(m_group, m_input), s::kMotionMarkName)) {
    // What the pipeline would watch without a stored area: every block of the grid.
    const DWORD block = s::Lookup(s::kMotionSizeBlocks, v.sizeIndex, s::kMotionSensitivitySize.def);
    v.mark = CMotionMark(m_width, m_height, static_cast<int>(block), {}).Bytes();
  }
}

std::optional<UINT> CMotionPage::Check(const MotionValues& values) const {
  if (values.sound && values.soundFile != m_stored.soundFile) {
    std::error_code error;
    if (values.soundFile.empty() || values.soundFile.size() > 99 ||
        !std::filesystem::is_regular_file(values.soundFile, error)) {
      return kIdsSoundFileInvalid;
    }
  }
  return std::nullopt;
}

CSettingsChanges CMotionPage::Changes(const MotionValues& values) const {
  CSettingsChanges changes;
  const std::string group = m_group;
  const std::string input = m_input;
  const auto dword = [&](const s::CameraDword& value, DWORD now, DWORD before) {
    if (now != before) {
      changes.Add(std::string(value.name), [&value, group, input, now] { value.Write(group, input, now); });
    }
  };
  const MotionValues& old = m_stored;
  dword(s::kInputMotionDetection, values.detection ? 1 : 0, old.detection ? 1 : 0);
  dword(s::kMotionSensitivitySize, values.sizeIndex, old.sizeIndex);
  dword(s::kMotionSensitivityBrightness, values.brightnessIndex, old.brightnessIndex);
  dword(s::kMotionNoMotion, values.holdIndex, old.holdIndex);
  dword(s::kMotionNoAlarm, values.rearmIndex, old.rearmIndex);
  dword(s::kMotionSound, values.sound ? 1 : 0, old.sound ? 1 : 0);
  if (values.soundFile != old.soundFile) {
    const std::string file = values.soundFile;
    changes.Add(std::string(s::kMotionSoundFileName), [group, input, file] { s::WriteMotionSoundFile(group, input, file); });
  }
  if (values.mark != old.mark && values.mark.size() == s::kMotionMarkBytes) {
    const std::vector<BYTE> mark = values.mark;
    changes.Add(std::string(s::kMotionMarkName), [group, input, mark] { s::WriteMotionMark(group, input, mark); });
  }
  return changes;
}

}  // namespace halvard::ui::dialogs
