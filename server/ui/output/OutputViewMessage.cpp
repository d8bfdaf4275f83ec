#include "server/ui/output/OutputViewMessage.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QMetaObject>
#include <QScrollBar>
#include <QStringList>

#include <algorithm>
#include <cstdio>

#include "platform/time/Time.h"

namespace halvard::ui {

HRESULT CMessageSink::AddLine(std::string_view line) {
  std::lock_guard lock(m_lock);
  if (m_view == nullptr) {
    return E_FAIL;
  }
  // One report is one line, in the list and in the journal alike.
  std::string text(line);
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  if (m_echoToStderr) {
    const std::tm local = halvard::time::LocalTimeNow();
    std::fprintf(stderr, "%04d-%02d-%02d %02d:%02d:%02d %s\n", local.tm_year + 1900, local.tm_mon + 1,
                 local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, text.c_str());
  }
  m_pending.push_back(std::move(text));
  // The view keeps only its newest lines, so a stalled event loop cannot make the
  // queue grow without end either.
  if (m_pending.size() > static_cast<std::size_t>(COutputViewMessage::kMaxLines)) {
    m_pending.pop_front();
  }
  if (!m_drainPosted) {
    // Posted while the lock is held: the view's destructor detaches under the same lock,
    // so the view is alive here. A queued call to a deleted object is dropped by Qt.
    m_drainPosted = true;
    COutputViewMessage* view = m_view;
    QMetaObject::invokeMethod(view, [view] { view->DrainPending(); }, Qt::QueuedConnection);
  }
  return S_OK;
}

void CMessageSink::Detach() {
  std::lock_guard lock(m_lock);
  m_view = nullptr;
  m_pending.clear();
}

std::deque<std::string> CMessageSink::TakePending() {
  std::lock_guard lock(m_lock);
  m_drainPosted = false;
  return std::exchange(m_pending, {});
}

COutputViewMessage::COutputViewMessage(QWidget* parent, StderrEcho echo)
    : QListWidget(parent), m_sink(std::make_shared<CMessageSink>()) {
  m_sink->m_view = this;
  m_sink->m_echoToStderr = echo == StderrEcho::On;
  setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWordWrap(false);
  setTextElideMode(Qt::ElideNone);
  // Lines of many lengths: each item keeps its own width, so the list scrolls sideways
  // to the widest; the layout runs in batches to stay quick at thousands of lines.
  setUniformItemSizes(false);
  setLayoutMode(QListView::Batched);
  setBatchSize(200);
}

COutputViewMessage::~COutputViewMessage() { m_sink->Detach(); }

HRESULT COutputViewMessage::AddLine(std::string_view line) { return m_sink->AddLine(line); }

void COutputViewMessage::DrainPending() { AppendLines(m_sink->TakePending()); }

void COutputViewMessage::AppendLines(std::deque<std::string> lines) {
  if (lines.empty()) {
    return;
  }
  const QFontMetrics metrics(font());
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) {
    QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    m_widestPx = std::max(m_widestPx, metrics.horizontalAdvance(text));
    texts.push_back(std::move(text));
  }
  // Only the newest kMaxLines are shown; drop from the batch first, then from the top.
  if (texts.size() > kMaxLines) {
    texts.erase(texts.begin(), texts.begin() + (texts.size() - kMaxLines));
  }
  const int excess = count() + static_cast<int>(texts.size()) - kMaxLines;
  if (excess > 0) {
    model()->removeRows(0, excess);
  }
  addItems(texts);
  setCurrentRow(count() - 1);
  scrollToBottom();
}

}  // namespace halvard::ui
