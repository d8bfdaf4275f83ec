#include "server/ui/OutputPlaceholder.h"

#include <QPointer>

namespace halvard::ui {

COutputLogPlaceholder::COutputLogPlaceholder(QWidget* parent) : QListWidget(parent) {
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

HRESULT COutputLogPlaceholder::AddLine(std::string_view line) {
  const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
  const bool queued = QMetaObject::invokeMethod(
      this,
      [this, text] {
        addItem(text);
        while (count() > kMaxLines) {
          delete takeItem(0);
        }
        scrollToBottom();
      },
      Qt::QueuedConnection);
  return queued ? S_OK : E_FAIL;
}

}  // namespace halvard::ui
