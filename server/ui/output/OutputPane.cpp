#include "server/ui/output/OutputPane.h"

#include "server/ui/output/OutputViewEvent.h"
#include "server/ui/output/OutputViewMessage.h"

namespace halvard::ui {

COutputPane::COutputPane(const TextSource& texts, std::shared_ptr<IEventSource> events, QWidget* parent)
    : QTabWidget(parent) {
  setTabPosition(QTabWidget::South);
  setDocumentMode(true);
  m_messages = new COutputViewMessage(this);
  m_events = new COutputViewEvent(texts, std::move(events), this);
  addTab(m_messages, QString::fromStdString(TextOf(texts, kTextMessageLogTab)));
  addTab(m_events, QString::fromStdString(TextOf(texts, kTextEventMatrixTab)));
}

}  // namespace halvard::ui
