#pragma once
/// "Internet Video Monitoring": whether the camera is streamed to remote viewers, the
/// address and port it is published under, the directory servers told about it, and
/// publishing at the public camera directory, over CMonitoringPage. The server list's
/// buttons edit the dialog's copy; OK stores it with the rest.
///
/// Threads: the user-interface thread.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/ui/dialogs/DialogBase.h"
#include "server/ui/dialogs/InternetMonitoringPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsInternetMonitoringTitle = 4514;

class CInternetMonitoringDialog final : public CDialogBase {
 public:
  /// Asks a yes/no question (true: yes).
  using QuestionFunction = std::function<bool(const std::string& text)>;
  /// Asks for a host name (nullopt: cancelled).
  using HostFunction = std::function<std::optional<std::string>()>;

  /// `addresses`: the workstation's addresses (internet::WorkstationAddresses()).
  CInternetMonitoringDialog(TextFunction texts, std::string group, std::string input,
                            std::vector<std::string> addresses, QWidget* parent = nullptr);
  [[nodiscard]] MonitoringForm Form() const;
  /// Replace the questions the server buttons ask (tests answer them).
  void SetQuestionFunction(QuestionFunction ask) { m_ask = std::move(ask); }
  void SetHostFunction(HostFunction host) { m_askHost = std::move(host); }

  /// The server list's buttons.
  void AddServer();
  void RemoveServer();
  void ResetServers();

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  void Show(const MonitoringForm& form);
  void ShowServers();
  void UpdateEnabled();

  CMonitoringPage m_page;
  std::array<std::string, settings::kInternetServerSlots> m_servers;
  QuestionFunction m_ask;
  HostFunction m_askHost;
  QCheckBox* m_enabled = nullptr;
  QCheckBox* m_manual = nullptr;
  QComboBox* m_address = nullptr;
  QLineEdit* m_port = nullptr;
  QCheckBox* m_noUpdate = nullptr;
  QListWidget* m_serverList = nullptr;
  QPushButton* m_add = nullptr;
  QPushButton* m_remove = nullptr;
  QPushButton* m_reset = nullptr;
  QCheckBox* m_publish = nullptr;
  QLineEdit* m_note = nullptr;
  std::vector<QWidget*> m_dependents;  ///< enabled only while monitoring is on
};

/// The small dialog of the server list's add button: one host name.
class CHostNameDialog final : public CDialogBase {
 public:
  explicit CHostNameDialog(TextFunction texts, QWidget* parent = nullptr);
  [[nodiscard]] std::string Host() const;
  QLineEdit* Edit() const { return m_host; }

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  QLineEdit* m_host = nullptr;
};

}  // namespace halvard::ui::dialogs
