#pragma once
/// A plain message log for the output pane, used until the pane's own message log and
/// event matrix take its place: one line per item, lines posted from any thread.

#include <QListWidget>

#include "server/internet/OutputSink.h"

namespace halvard::ui {

/// Threads: AddLine from any thread (the line is queued into the event loop); the
/// widget itself on the user-interface thread.
class COutputLogPlaceholder final : public QListWidget, public internet::IOutputSink {
 public:
  explicit COutputLogPlaceholder(QWidget* parent = nullptr);
  [[nodiscard]] HRESULT AddLine(std::string_view line) override;
  /// Most lines kept; the oldest go first.
  static constexpr int kMaxLines = 5000;
};

}  // namespace halvard::ui
