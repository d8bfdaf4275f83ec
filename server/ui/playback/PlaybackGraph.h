#pragma once
/// The playback graph of one file as the player sees it: run, pause, stop, position,
/// rate, one frame forward, and the events the graph reports. CreatePlaybackGraph
/// builds the real one over the media framework; tests give the controller a graph of
/// their own.
///
/// Positions are in the graph's time format: 100-nanosecond units for a Windows Media
/// file, frames for a file played by the direct route (UnitsPerSecond tells which).
///
/// Threads: the user-interface thread; the real graph's streaming threads only post
/// the notification message to the window given at creation.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/com/Com.h"
#include "platform/window/Window.h"
#include "server/ui/playback/PlaybackTexts.h"
#include "server/ui/playback/VideoFileInfo.h"

struct IVideoSurface;

namespace halvard::ui::playback {

/// The event code of the end of the file.
inline constexpr long kEventComplete = 1;

/// The message the graph posts to its window when events wait (read them with TakeEvents).
inline constexpr UINT kMsgGraphNotify = 1026;

enum class GraphState { Stopped, Paused, Running };

class IPlaybackGraph {
 public:
  virtual ~IPlaybackGraph() = default;
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
  [[nodiscard]] virtual GraphState State() = 0;
  /// Whether the graph can seek (absolute positions).
  [[nodiscard]] virtual bool CanSeek() = 0;
  /// Length in the time format; 0 when unknown.
  [[nodiscard]] virtual std::int64_t Duration() = 0;
  [[nodiscard]] virtual std::int64_t Position() = 0;
  /// Absolute position; the stop position is left alone.
  virtual HRESULT SetPosition(std::int64_t position) = 0;
  [[nodiscard]] virtual double Rate() = 0;
  virtual HRESULT SetRate(double rate) = 0;
  /// Shows the next frame of a paused graph.
  virtual HRESULT StepFrame() = 0;
  /// Every pending event code (each read and freed).
  [[nodiscard]] virtual std::vector<long> TakeEvents() = 0;
  /// Units of a position per second: 1e7 for media time, the frame rate for frames.
  [[nodiscard]] virtual double UnitsPerSecond() = 0;
  /// The source picture size from the video renderer; false without one.
  virtual bool VideoSize(LONG* width, LONG* height) = 0;
};

/// Why a graph could not be built: the text to show and the failing step.
struct GraphError {
  UINT textId = 0;    ///< a text of the resource module (0: the "OpenFile" report)
  HRESULT hr = S_OK;
  std::string step;   ///< the call that failed, for the report
};

/// Builds the graph for `path`. A Windows Media file (info.windowsMedia): a capture
/// graph builder and a filter graph, the file source "Async Reader" loading the file,
/// the demultiplexer "WMF Demux" connected to it and every output of the
/// demultiplexer rendered. Any other file is rendered directly and positioned in
/// frames. The renderers present to `surface` (may be null) and the graph posts
/// kMsgGraphNotify to `notify`. Null, with `error` filled, on a failure; what was built
/// is released.
[[nodiscard]] std::unique_ptr<IPlaybackGraph> CreatePlaybackGraph(const std::string& path, const VideoFileInfo& info,
                                                                   HWND notify, IVideoSurface* surface,
                                                                   GraphError* error);

}  // namespace halvard::ui::playback
