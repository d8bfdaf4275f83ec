#include "server/ui/dialogs/InternetMonitoringDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/ui/dialogs/RecordingPage.h"

namespace halvard::ui::dialogs {

namespace {
constexpr UINT kIdsEnableBox = 4515;
constexpr UINT kIdsEnable = 4516;
constexpr UINT kIdsIpBox = 4517;
constexpr UINT kIdsIpRemark = 4518;
constexpr UINT kIdsManual = 4519;
constexpr UINT kIdsPortBox = 4520;
constexpr UINT kIdsPort = 4521;
constexpr UINT kIdsNoUpdate = 4522;
constexpr UINT kIdsServersBox = 4523;
constexpr UINT kIdsAdd = 4524;
constexpr UINT kIdsRemove = 4525;
constexpr UINT kIdsReset = 4526;
constexpr UINT kIdsPublishBox = 4527;
constexpr UINT kIdsPublishRemark = 4528;
constexpr UINT kIdsPublish = 4529;
constexpr UINT kIdsNote = 4536;
constexpr UINT kIdsNoteRemark = 4537;
constexpr UINT kIdsAddTitle = 4538;
constexpr UINT kIdsHostName = 4539;
constexpr UINT kIdsAskRemove = 4540;
constexpr UINT kIdsSelectServer = 4541;

QLabel* Remark(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}
}  // namespace

CInternetMonitoringDialog::CInternetMonitoringDialog(TextFunction texts, std::string group, std::string input,
                                                     std::vector<std::string> addresses, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsInternetMonitoringTitle, parent),
      m_page(std::move(group), std::move(input), std::move(addresses)) {
  m_ask = [this](const std::string& text) {
    return QMessageBox::question(this, windowTitle(), QString::fromStdString(text)) == QMessageBox::Yes;
  };
  m_askHost = [this]() -> std::optional<std::string> {
    CHostNameDialog dialog([this](UINT id) { return Text(id); }, this);
    return dialog.exec() == QDialog::Accepted ? std::optional<std::string>(dialog.Host()) : std::nullopt;
  };
  setMinimumWidth(520);
  auto* layout = new QVBoxLayout(this);

  QGroupBox* enable = Box(kIdsEnableBox);
  auto* enableLayout = new QVBoxLayout(enable);
  m_enabled = new QCheckBox(QText(kIdsEnable), enable);
  m_enabled->setObjectName("enabled");
  enableLayout->addWidget(m_enabled);
  layout->addWidget(enable);

  QGroupBox* ip = Box(kIdsIpBox);
  auto* ipLayout = new QGridLayout(ip);
  ipLayout->addWidget(Remark(QText(kIdsIpRemark), ip), 0, 0, 1, 2);
  m_manual = new QCheckBox(QText(kIdsManual), ip);
  m_manual->setObjectName("manualAddress");
  m_address = new QComboBox(ip);
  m_address->setObjectName("address");
  m_address->setMinimumContentsLength(15);
  for (const std::string& address : m_page.Addresses()) {
    m_address->addItem(QString::fromStdString(address));
  }
  ipLayout->addWidget(m_manual, 1, 0);
  ipLayout->addWidget(m_address, 1, 1);
  layout->addWidget(ip);

  QGroupBox* port = Box(kIdsPortBox);
  auto* portLayout = new QGridLayout(port);
  m_port = new QLineEdit(port);
  m_port->setObjectName("port");
  m_port->setMaximumWidth(90);
  portLayout->addWidget(Label(kIdsPort, m_port), 0, 0);
  portLayout->addWidget(m_port, 0, 1, Qt::AlignLeft);
  m_noUpdate = new QCheckBox(QText(kIdsNoUpdate), port);
  m_noUpdate->setObjectName("noIpUpdate");
  portLayout->addWidget(m_noUpdate, 1, 0, 1, 2);
  portLayout->setColumnStretch(1, 1);
  layout->addWidget(port);

  QGroupBox* servers = Box(kIdsServersBox);
  auto* serversLayout = new QHBoxLayout(servers);
  m_serverList = new QListWidget(servers);
  m_serverList->setObjectName("servers");
  m_serverList->setMaximumHeight(90);
  serversLayout->addWidget(m_serverList, 1);
  auto* buttons = new QVBoxLayout();
  m_add = new QPushButton(QText(kIdsAdd), servers);
  m_remove = new QPushButton(QText(kIdsRemove), servers);
  m_reset = new QPushButton(QText(kIdsReset), servers);
  for (QPushButton* b : {m_add, m_remove, m_reset}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch(1);
  serversLayout->addLayout(buttons);
  connect(m_add, &QPushButton::clicked, this, &CInternetMonitoringDialog::AddServer);
  connect(m_remove, &QPushButton::clicked, this, &CInternetMonitoringDialog::RemoveServer);
  connect(m_reset, &QPushButton::clicked, this, &CInternetMonitoringDialog::ResetServers);
  layout->addWidget(servers);

  QGroupBox* publish = Box(kIdsPublishBox);
  auto* publishLayout = new QGridLayout(publish);
  publishLayout->addWidget(Remark(QText(kIdsPublishRemark), publish), 0, 0, 1, 2);
  m_publish = new QCheckBox(QText(kIdsPublish), publish);
  m_publish->setObjectName("publish");
  publishLayout->addWidget(m_publish, 1, 0, 1, 2);
  m_note = new QLineEdit(publish);
  m_note->setObjectName("note");
  publishLayout->addWidget(Label(kIdsNote, m_note), 2, 0);
  publishLayout->addWidget(m_note, 2, 1);
  publishLayout->addWidget(Remark(QText(kIdsNoteRemark), publish), 3, 0, 1, 2);
  layout->addWidget(publish);

  layout->addWidget(Remark(QText(kIdsAppliesAtRestart), this));
  AddButtons(layout);

  m_dependents = {ip, port, servers, publish};
  connect(m_enabled, &QCheckBox::toggled, this, &CInternetMonitoringDialog::UpdateEnabled);
  connect(m_manual, &QCheckBox::toggled, this, &CInternetMonitoringDialog::UpdateEnabled);
  connect(m_publish, &QCheckBox::toggled, this, &CInternetMonitoringDialog::UpdateEnabled);
  Show(m_page.Stored());
  SetTabOrder({m_enabled, m_manual, m_address, m_port, m_noUpdate, m_serverList, m_add, m_remove, m_reset,
               m_publish, m_note});
}

void CInternetMonitoringDialog::Show(const MonitoringForm& form) {
  m_enabled->setChecked(form.enabled);
  m_manual->setChecked(form.manualAddress);
  m_address->setCurrentIndex(m_address->findText(QString::fromStdString(form.address)));
  m_port->setText(QString::fromStdString(form.port));
  m_noUpdate->setChecked(form.noIpUpdate);
  m_publish->setChecked(form.publish);
  m_note->setText(QString::fromStdString(form.note));
  m_servers = form.servers;
  ShowServers();
  UpdateEnabled();
}

void CInternetMonitoringDialog::ShowServers() {
  m_serverList->clear();
  for (const std::string& host : CMonitoringPage::ServerList(Form())) {
    m_serverList->addItem(QString::fromStdString(host));
  }
}

void CInternetMonitoringDialog::UpdateEnabled() {
  const bool on = m_enabled->isChecked();
  for (QWidget* w : m_dependents) {
    w->setEnabled(on);
  }
  m_address->setEnabled(on && m_manual->isChecked());
  m_note->setEnabled(on && m_publish->isChecked());
}

MonitoringForm CInternetMonitoringDialog::Form() const {
  MonitoringForm form;
  form.enabled = m_enabled->isChecked();
  form.manualAddress = m_manual->isChecked();
  form.address = m_address->currentIndex() >= 0 ? m_address->currentText().toStdString() : std::string();
  form.port = m_port->text().trimmed().toStdString();
  form.noIpUpdate = m_noUpdate->isChecked();
  form.publish = m_publish->isChecked();
  form.note = m_note->text().toStdString();
  form.servers = m_servers;
  return form;
}

void CInternetMonitoringDialog::AddServer() {
  const std::optional<std::string> host = m_askHost ? m_askHost() : std::nullopt;
  if (!host || host->empty()) {
    return;
  }
  MonitoringForm form = Form();
  if (!CMonitoringPage::IsHostName(*host)) {
    ShowMessage(Text(kIdsHostInvalid));
    return;
  }
  if (!CMonitoringPage::AddServer(form, *host)) {
    ShowMessage(Text(kIdsServerListFull));
    return;
  }
  m_servers = form.servers;
  ShowServers();
}

void CInternetMonitoringDialog::RemoveServer() {
  const QListWidgetItem* item = m_serverList->currentItem();
  if (item == nullptr) {
    ShowMessage(Text(kIdsSelectServer));
    return;
  }
  const std::string host = item->text().toStdString();
  if (!m_ask || !m_ask(Text(kIdsAskRemove) + "\n" + host)) {
    return;
  }
  MonitoringForm form = Form();
  if (CMonitoringPage::RemoveServer(form, host)) {
    m_servers = form.servers;
    ShowServers();
  }
}

void CInternetMonitoringDialog::ResetServers() {
  MonitoringForm form = Form();
  CMonitoringPage::ResetServers(form);
  m_servers = form.servers;
  ShowServers();
}

bool CInternetMonitoringDialog::Apply() {
  const MonitoringForm form = Form();
  if (const std::optional<MonitoringRefusal> refusal = m_page.Check(form)) {
    QWidget* field = refusal->field == MonitoringField::Port      ? static_cast<QWidget*>(m_port)
                     : refusal->field == MonitoringField::Address ? static_cast<QWidget*>(m_address)
                                                                  : static_cast<QWidget*>(m_note);
    const std::string text =
        refusal->textId == kIdsNumberRange
            ? FormatText(Text(kIdsNumberRange), {FieldName(Text(kIdsPort)), std::to_string(refusal->minimum),
                                                 std::to_string(refusal->maximum)})
            : Text(refusal->textId);
    return Refuse(text, field);
  }
  if (CMonitoringPage::WarnsPrivateAddress(form) &&
      (form.address != m_page.Stored().address || !m_page.Stored().manualAddress)) {
    ShowMessage(FormatText(Text(kIdsPrivateAddress), {form.address}));
  }
  CSettingsChanges changes = m_page.Changes(form);
  return Commit(changes);
}

CHostNameDialog::CHostNameDialog(TextFunction texts, QWidget* parent)
    : CDialogBase(std::move(texts), kIdsAddTitle, parent) {
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout();
  m_host = new QLineEdit(this);
  m_host->setObjectName("host");
  m_host->setMinimumWidth(240);
  row->addWidget(Label(kIdsHostName, m_host));
  row->addWidget(m_host, 1);
  layout->addLayout(row);
  AddButtons(layout);
}

std::string CHostNameDialog::Host() const { return m_host->text().trimmed().toStdString(); }

bool CHostNameDialog::Apply() {
  if (!Host().empty() && !CMonitoringPage::IsHostName(Host())) {
    return Refuse(Text(kIdsHostInvalid), m_host);
  }
  return true;
}

}  // namespace halvard::ui::dialogs
