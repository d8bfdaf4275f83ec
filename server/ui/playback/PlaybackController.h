#pragma once
/// The player of one open file, without widgets: the commands of the playback window
/// (play, pause/continue, step, faster, slower), the position slider's model, the
/// graph's events, the tear-down and rebuild around taking a frame, and closing.
///
/// The graph comes from a factory, so the same controller drives the real graph and the
/// tests' graphs. Results are booleans; a command on a closed player does nothing and
/// returns false.
///
/// Threads: the user-interface thread only.

#include <cstdint>
#include <functional>
#include <memory>

#include "server/ui/playback/PlaybackGraph.h"

namespace halvard::ui::playback {

/// The position slider: 0 .. 100, a tick every 10, moved by timer 55 every 200 ms.
inline constexpr int kSliderMaximum = 100;
inline constexpr int kSliderTickInterval = 10;
inline constexpr UINT kSliderTimerId = 55;
inline constexpr int kSliderTimerPeriodMs = 200;
/// The fastest rate "faster" reaches.
inline constexpr double kMaximumRate = 10.0;

/// Where a torn-down player was and whether it was paused.
struct PlayerPlace {
  std::int64_t position = 0;  ///< in the graph's time format
  double seconds = 0;         ///< the same in seconds
  std::int64_t mediaTime = 0; ///< the same in 100-nanosecond units
  bool paused = false;
};

class CPlaybackController {
 public:
  /// Builds a graph (null on a failure, with the error filled).
  using GraphFactory = std::function<std::unique_ptr<IPlaybackGraph>(GraphError* error)>;
  /// Starts (true) or stops (false) the slider timer.
  using TimerSwitch = std::function<void(bool run)>;

  CPlaybackController(GraphFactory factory, TimerSwitch timer);
  ~CPlaybackController();
  CPlaybackController(const CPlaybackController&) = delete;
  CPlaybackController& operator=(const CPlaybackController&) = delete;

  /// Builds the graph; it stays stopped until Play. False, with `error` filled, on a
  /// failure (nothing is kept).
  bool Open(GraphError* error = nullptr);
  [[nodiscard]] bool IsOpen() const { return m_graph != nullptr; }
  /// Stops the timer and the graph and releases it.
  void Close();

  /// 350: runs the graph and restarts the slider timer.
  bool Play();
  /// 351: runs a paused graph, pauses any other.
  bool PauseContinue();
  /// 352: pauses a graph that is not paused; steps a paused one one frame forward.
  bool Step();
  /// 32920: pause, rate x 2 (at most 10), run.
  bool Faster();
  /// 32925: pause, rate x 0.5, run.
  bool Slower();

  /// Absolute seek in the graph's time format; the graph's state is kept.
  bool SeekTo(std::int64_t position);
  /// Absolute seek to a time in seconds from the start.
  bool SeekToSeconds(double seconds);
  /// The operator moved the slider to `value` (0 .. 100): seek there and pause, so the
  /// picture shows the new place.
  bool OnSliderMoved(int value);

  /// Whether the slider is enabled: the graph is open and has a positive duration.
  [[nodiscard]] bool SliderEnabled() const;
  /// The slider position for the current place: position x 100 / duration, 0 without
  /// a duration, at most 100.
  [[nodiscard]] int SliderValue() const;

  /// Message 1026: reads every pending event. True when the end of the file was among
  /// them on a graph that can seek: the caller then posts pause/continue (351) so the
  /// player pauses at the end.
  bool OnGraphNotify();

  /// Takes the player down for taking a frame: remembers the place and the paused
  /// state, stops the timer and the graph and releases it.
  PlayerPlace TearDown();
  /// Rebuilds the graph after TearDown: open, run, pause again when it was paused, seek
  /// back to the place, restart the timer. False when the graph cannot be rebuilt (the
  /// player then stays closed).
  bool Rebuild(const PlayerPlace& place, GraphError* error = nullptr);

  [[nodiscard]] GraphState State() const;
  [[nodiscard]] double Rate() const;
  [[nodiscard]] std::int64_t Position() const;
  [[nodiscard]] double PositionSeconds() const;
  [[nodiscard]] IPlaybackGraph* Graph() const { return m_graph.get(); }

 private:
  void SwitchTimer(bool run);

  GraphFactory m_factory;
  TimerSwitch m_timer;
  std::unique_ptr<IPlaybackGraph> m_graph;
};

}  // namespace halvard::ui::playback
