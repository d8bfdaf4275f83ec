#pragma once
/// The message log of the output pane: one line per event or failure that any part of
/// the server reports, newest at the bottom and selected so it is in view. The list
/// scrolls sideways to the widest line seen so far.
///
/// Memory is bounded: the log keeps the newest kMaxLines lines and drops the oldest
/// (a server running for months would otherwise grow without end).
///
/// A line holding CR or LF is shown as one line (they become blanks).
///
/// Every line is also written to standard error with its local time
/// ("2007-05-01 13:05:22 <line>"), so a headless server and its system journal keep a log.

#include <QListWidget>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "server/internet/OutputSink.h"

namespace halvard::ui {

class COutputViewMessage;

/// The thread-safe door of the message log. Lines are queued under a lock and handed to
/// the view on the user-interface thread in one queued call per batch. The sink may
/// outlive its view (a worker thread still holding it): it then drops lines and
/// returns E_FAIL.
class CMessageSink final : public halvard::internet::IOutputSink {
 public:
  /// Threads: any. S_OK when queued; E_FAIL once the view is gone.
  [[nodiscard]] HRESULT AddLine(std::string_view line) override;

 private:
  friend class COutputViewMessage;
  /// The view's end: no more lines are handed over (called by the view's destructor).
  void Detach();
  /// Takes the queued lines (user-interface thread).
  std::deque<std::string> TakePending();

  std::mutex m_lock;  // guards everything below
  COutputViewMessage* m_view = nullptr;
  std::deque<std::string> m_pending;
  bool m_drainPosted = false;
  bool m_echoToStderr = true;
};

class COutputViewMessage final : public QListWidget, public halvard::internet::IOutputSink {
 public:
  /// Lines kept; older ones are dropped.
  static constexpr int kMaxLines = 10000;

  enum class StderrEcho { On, Off };

  explicit COutputViewMessage(QWidget* parent = nullptr, StderrEcho echo = StderrEcho::On);
  ~COutputViewMessage() override;

  /// Threads: any. Queues the line for the view (see CMessageSink). S_OK when queued.
  [[nodiscard]] HRESULT AddLine(std::string_view line) override;

  /// A sink that stays valid after the view is destroyed (for worker threads).
  [[nodiscard]] std::shared_ptr<CMessageSink> Sink() const { return m_sink; }

  /// The widest line's width in pixels so far (the horizontal extent).
  [[nodiscard]] int HorizontalExtent() const { return m_widestPx; }

  /// Appends queued lines now (user-interface thread; the queued call does the same).
  void DrainPending();

 private:
  void AppendLines(std::deque<std::string> lines);

  std::shared_ptr<CMessageSink> m_sink;
  int m_widestPx = 0;
};

}  // namespace halvard::ui
