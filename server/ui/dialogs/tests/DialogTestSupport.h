#pragma once
// Shared pieces of the dialog tests: the application and the module's texts (from the
// window tests), a dialog's messages recorded instead of shown, the values a key holds,
// and pictures of a dialog as the offscreen platform draws it.

#include <string>
#include <vector>

#include <QWidget>

#include "server/ui/dialogs/DialogBase.h"
#include "server/ui/tests/UiTestSupport.h"

namespace halvard::ui::dialogs::testing {

using halvard::ui::testing::App;
using halvard::ui::testing::ModuleText;

/// Messages go to `messages` instead of a modal box.
void RecordMessages(CDialogBase& dialog, std::vector<std::string>& messages);

/// Names of the values stored in a key (empty when the key does not exist).
[[nodiscard]] std::vector<std::string> StoredValues(const std::string& keyPath);

/// Draws the widget at its size hint into <build>/screenshots/<name>.png and returns the
/// path (empty when the picture could not be written).
std::string RenderToPng(QWidget& widget, const std::string& name);

}  // namespace halvard::ui::dialogs::testing
