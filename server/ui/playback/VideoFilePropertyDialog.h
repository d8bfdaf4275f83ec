#pragma once
/// "Video File Property": the picture size, play length and bitrate of a recording.
/// Frame rate and frame number stay empty; a note says that the bitrate is not known
/// for AVI files and the frame figures not for Windows Media files.
///
/// Threads: the user-interface thread.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <QDialog>

#include "platform/base/WinTypes.h"
#include "server/ui/playback/VideoFileInfo.h"

class QFormLayout;
class QLabel;

namespace halvard::ui::playback {

class CVideoFilePropertyDialog final : public QDialog {
 public:
  using TextFunction = std::function<std::string(UINT id)>;

  /// Shows `info` of the file at `path`.
  CVideoFilePropertyDialog(TextFunction texts, const std::string& path, const VideoFileInfo& info,
                           QWidget* parent = nullptr);

  /// The value shown in a row (the row's label text id), for the tests.
  [[nodiscard]] std::string ValueOf(UINT labelId) const;

 private:
  void AddRow(UINT labelId, const std::string& value);

  TextFunction m_texts;
  std::vector<std::pair<UINT, QLabel*>> m_values;
  QFormLayout* m_form = nullptr;
};

}  // namespace halvard::ui::playback
