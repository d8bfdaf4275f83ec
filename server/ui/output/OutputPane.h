#pragma once
/// The output pane's content: the message log and the event matrix behind two tabs
/// along the bottom edge (message log first). The main frame puts it in its dock widget
/// titled "Output".
///
/// Threads: the user-interface thread (the message log's AddLine: any thread).

#include <QTabWidget>

#include <memory>

#include "server/ui/output/OutputTexts.h"

namespace halvard::ui {

class COutputViewMessage;
class COutputViewEvent;
class IEventSource;

class COutputPane final : public QTabWidget {
 public:
  COutputPane(const TextSource& texts, std::shared_ptr<IEventSource> events, QWidget* parent = nullptr);

  [[nodiscard]] COutputViewMessage& MessageView() const { return *m_messages; }
  [[nodiscard]] COutputViewEvent& EventView() const { return *m_events; }

 private:
  COutputViewMessage* m_messages = nullptr;  // owned by the tab widget
  COutputViewEvent* m_events = nullptr;      // owned by the tab widget
};

}  // namespace halvard::ui
