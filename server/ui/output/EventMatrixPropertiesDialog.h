#pragma once
/// "Event Matrix Properties": the six cell resolutions, each "%02d minutes", with the
/// current one selected. The dialog only chooses; COutputViewEvent stores and reloads.
///
/// Threads: the user-interface thread.

#include <QDialog>

#include "platform/base/WinTypes.h"
#include "server/ui/output/OutputTexts.h"

class QListWidget;

namespace halvard::ui {

class CEventMatrixPropertiesDialog final : public QDialog {
 public:
  /// `current` is a resolution index (outside the table: the default is selected).
  CEventMatrixPropertiesDialog(const TextSource& texts, DWORD current, QWidget* parent = nullptr);

  /// The selected resolution index (0 .. 5).
  [[nodiscard]] DWORD SelectedIndex() const;
  void SelectIndex(DWORD index);
  [[nodiscard]] QListWidget* List() const { return m_list; }

  /// "%02d minutes" with the number put in; a text without "%02d" is shown as it is
  /// after the number.
  [[nodiscard]] static std::string ChoiceText(const std::string& format, int minutes);

 private:
  QListWidget* m_list = nullptr;
};

}  // namespace halvard::ui
