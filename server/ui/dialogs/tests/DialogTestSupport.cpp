#include "server/ui/dialogs/tests/DialogTestSupport.h"

#include <filesystem>

#include <QPixmap>

#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs::testing {

void RecordMessages(CDialogBase& dialog, std::vector<std::string>& messages) {
  dialog.SetMessageFunction([&messages](const std::string& text) { messages.push_back(text); });
}

std::vector<std::string> StoredValues(const std::string& keyPath) { return settings::ValueNames(keyPath); }

std::string RenderToPng(QWidget& widget, const std::string& name) {
  const std::filesystem::path folder = halvard::testing::BuildDir() / "screenshots";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  widget.adjustSize();
  widget.resize(widget.sizeHint().expandedTo(widget.minimumSizeHint()));
  const std::string path = (folder / (name + ".png")).string();
  return widget.grab().save(QString::fromStdString(path)) ? path : std::string();
}

}  // namespace halvard::ui::dialogs::testing
