#pragma once
/// "Enter Password:": the prompt of the desktop lock. One masked box and "OK"; no
/// cancel button and no close box, and Escape does not leave it: only the password
/// (system::CDesktopLock::TryUnlock) does. A wrong password clears the box and says so.
///
/// Threads: the user-interface thread.

#include <functional>
#include <string>

#include <QDialog>

#include "platform/base/WinTypes.h"
#include "server/system/DesktopLock.h"

class QLabel;
class QLineEdit;

namespace halvard::ui::dialogs {

class CPasswordDialog final : public QDialog {
 public:
  using TextFunction = std::function<std::string(UINT id)>;
  /// `lock` must outlive the dialog.
  CPasswordDialog(const TextFunction& texts, system::CDesktopLock& lock, QWidget* parent = nullptr);
  [[nodiscard]] QLineEdit* Edit() const { return m_edit; }
  /// Whether the last OK was refused (the wrong-password line shows).
  [[nodiscard]] bool Refused() const;

  void accept() override;
  void reject() override {}

 private:
  system::CDesktopLock& m_lock;
  QLineEdit* m_edit = nullptr;
  QLabel* m_wrong = nullptr;
};

}  // namespace halvard::ui::dialogs
