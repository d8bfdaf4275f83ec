#pragma once
/// "Video Recording": a camera's display name, archive, file length, history, video
/// encoding and audio, over CRecordingPage. The changes apply when the camera's group
/// starts next (the dialog says so).
///
/// Threads: the user-interface thread.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "server/ui/dialogs/DialogBase.h"
#include "server/ui/dialogs/RecordingPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSlider;

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsVideoRecordingTitle = 4100;

class CVideoRecordingDialog final : public CDialogBase {
 public:
  /// Renames a camera (group, old name, new name) with its archive folder and key; false
  /// when refused (it has told the operator why). Without one the name cannot be edited.
  using Renamer = std::function<bool(std::string_view group, std::string_view oldName, std::string_view newName)>;
  /// Asks for a folder, starting at the given one; empty when the operator cancels.
  using FolderChooser = std::function<std::string(const std::string& start)>;

  /// Reads the camera's values; the audio sources come from the device enumerator and
  /// the audio formats from the encoder.
  CVideoRecordingDialog(TextFunction texts, std::string group, std::string input, Renamer renamer,
                        QWidget* parent = nullptr);

  void SetFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }
  /// The form as the widgets show it now.
  [[nodiscard]] RecordingForm Form() const;
  [[nodiscard]] const std::vector<AudioFormatChoice>& AudioFormats() const { return m_formats; }

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  void Build();
  void Show(const RecordingForm& form);
  void FillBitrates(DWORD sampleRateKhz, DWORD wantedKbps);
  void Browse();
  [[nodiscard]] QWidget* FieldOf(RecordingField field) const;
  [[nodiscard]] UINT LabelOf(RecordingField field) const;

  CRecordingPage m_page;
  Renamer m_rename;
  FolderChooser m_chooseFolder;
  std::vector<AudioFormatChoice> m_formats;
  QLineEdit* m_name = nullptr;
  QCheckBox* m_record = nullptr;
  QLineEdit* m_root = nullptr;
  QComboBox* m_fileLength = nullptr;
  QLineEdit* m_history = nullptr;
  QLineEdit* m_bitrate = nullptr;
  QLineEdit* m_frameRate = nullptr;
  QLineEdit* m_keyFrame = nullptr;
  QSlider* m_quality = nullptr;
  QCheckBox* m_audio = nullptr;
  QComboBox* m_audioSource = nullptr;
  QComboBox* m_sampleRate = nullptr;
  QComboBox* m_audioBitrate = nullptr;
  QCheckBox* m_audition = nullptr;
};

}  // namespace halvard::ui::dialogs
