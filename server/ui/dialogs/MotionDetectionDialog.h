#pragma once
/// "Motion Detection": detection on or off, the sensitivities, the pause and quiet time
/// after an alarm, the alarm sound with a test, the e-mail row (present, never enabled),
/// the event file (always written), and the marked area over a still of the camera.
///
/// Threads: the user-interface thread.

#include <functional>
#include <string>

#include <QImage>

#include "server/ui/dialogs/DialogBase.h"
#include "server/ui/dialogs/MotionPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace halvard::ui::dialogs {

class CMotionMarkEditor;

inline constexpr UINT kIdsMotionDetectionTitle = 4300;

class CMotionDetectionDialog final : public CDialogBase {
 public:
  /// Plays a wave file for the test button; false when it could not be played.
  using SoundPlayer = std::function<bool(const std::string& path)>;
  /// Asks for a wave file, starting at the given one; empty when cancelled.
  using FileChooser = std::function<std::string(const std::string& start)>;

  /// `still` is the camera's current picture (null: a grey field).
  CMotionDetectionDialog(TextFunction texts, std::string group, std::string input, QImage still,
                         QWidget* parent = nullptr);

  void SetSoundPlayer(SoundPlayer player) { m_play = std::move(player); }
  void SetFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
  [[nodiscard]] MotionValues Values() const;
  [[nodiscard]] CMotionMarkEditor& Editor() const { return *m_editor; }

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  void TestSound();

  CMotionPage m_page;
  SoundPlayer m_play;
  FileChooser m_chooseFile;
  QCheckBox* m_detection = nullptr;
  QComboBox* m_size = nullptr;
  QComboBox* m_brightness = nullptr;
  QComboBox* m_hold = nullptr;
  QComboBox* m_rearm = nullptr;
  QCheckBox* m_sound = nullptr;
  QLineEdit* m_soundFile = nullptr;
  CMotionMarkEditor* m_editor = nullptr;
};

}  // namespace halvard::ui::dialogs
