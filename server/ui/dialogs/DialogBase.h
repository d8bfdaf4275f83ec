#pragma once
/// What every settings dialog of the operator shares: texts by number from the resource
/// module, the "OK" and "Cancel" buttons, and their meaning. Cancel (and the title bar's
/// close) stores nothing. OK asks the dialog to check every field; a refused field gets a
/// message that says what is allowed, the focus, and nothing is stored; otherwise the
/// dialog's changed values are written in one store transaction and the dialog closes.
///
/// Threads: the user-interface thread. A modal dialog keeps the event loop running.

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include <QDialog>

#include "platform/base/WinTypes.h"

class QBoxLayout;
class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QWidget;

namespace halvard::ui::dialogs {

class CSettingsChanges;

/// Texts shared by the dialogs.
inline constexpr UINT kIdsDialogOk = 4000;
inline constexpr UINT kIdsDialogCancel = 4001;
inline constexpr UINT kIdsAppliesAtRestart = 4002;
inline constexpr UINT kIdsStoreFailed = 4003;
inline constexpr UINT kIdsBrowse = 4004;

/// A text of the table with its "%s", "%d" and "%ld" replaced by `arguments` in order
/// (by hand: a text of the string table is never handed to printf). Surplus markers stay.
[[nodiscard]] std::string FormatText(std::string_view format, std::initializer_list<std::string> arguments);
/// A label's text without its mnemonic marks and final colon ("&Bitrate (Kbps):" gives
/// "Bitrate (Kbps)"), for messages that name the field.
[[nodiscard]] std::string FieldName(std::string_view label);

class CDialogBase : public QDialog {
 public:
  using TextFunction = std::function<std::string(UINT id)>;
  using MessageFunction = std::function<void(const std::string& text)>;

  /// `texts` must outlive the dialog.
  CDialogBase(TextFunction texts, UINT titleId, QWidget* parent);

  [[nodiscard]] std::string Text(UINT id) const { return m_texts ? m_texts(id) : std::string(); }
  [[nodiscard]] QString QText(UINT id) const;

  /// Where messages go (a modal box unless replaced; tests record them).
  void SetMessageFunction(MessageFunction show) { m_showMessage = std::move(show); }
  /// The last message shown (empty when none).
  [[nodiscard]] const std::string& LastMessage() const { return m_lastMessage; }

  /// OK: Apply(); closes with Accepted only when it succeeds.
  void accept() override;

 protected:
  /// Checks every field and stores the changed values; false keeps the dialog open
  /// (the dialog has shown why).
  [[nodiscard]] virtual bool Apply() = 0;

  void ShowMessage(const std::string& text);
  /// Shows `text`, puts the focus on `field`, and returns false (for Apply).
  bool Refuse(const std::string& text, QWidget* field);
  /// Commits the changes; on failure shows kIdsStoreFailed with the store's error name.
  [[nodiscard]] bool Commit(CSettingsChanges& changes);

  /// A group box titled by text `id`.
  [[nodiscard]] QGroupBox* Box(UINT id);
  /// A label of text `id` whose mnemonic moves the focus to `buddy`.
  [[nodiscard]] QLabel* Label(UINT id, QWidget* buddy);
  /// "OK" and "Cancel" at the bottom of `layout`, "OK" the default button.
  QDialogButtonBox* AddButtons(QBoxLayout* layout);
  /// The tab order of `widgets` as listed (the boxes' order on the screen).
  static void SetTabOrder(std::initializer_list<QWidget*> widgets);

 private:
  TextFunction m_texts;
  MessageFunction m_showMessage;
  std::string m_lastMessage;
};

}  // namespace halvard::ui::dialogs
