#pragma once
/// The server's reaction to one motion command of a camera: a line in the camera's
/// event log, a line for the output pane's message log, and the alarm sound when the
/// camera has one. Recording is not affected.
///
/// Threads: the user-interface thread (the motion filter only posts the command). The
/// synchronous sound blocks that thread for the sound's length.

#include <functional>
#include <string>
#include <string_view>

namespace halvard::motion {

/// A camera's alarm settings, read once when its document is set up.
struct MotionAlarm {
  bool sound = false;     ///< "Motion Sound"
  std::string soundFile;  ///< "Motion Sound File"; empty when sound is off
};

/// "Motion Sound" and, only when it is set, "Motion Sound File".
[[nodiscard]] MotionAlarm ReadMotionAlarm(std::string_view group, std::string_view input);

/// What the reaction hands on. Both may be left empty.
struct MotionEventHooks {
  /// Receives the output line before the sound plays, so that it shows at once.
  std::function<void(const std::string& line)> output;
  /// Plays the alarm file synchronously; empty: PlaySound(file, SND_SYNC | SND_FILENAME).
  std::function<void(const std::string& file)> playSound;
};

/// The event time text of now (halvard::time::LocalTimeNow), appended to the event log;
/// then the output line "<title>: <event time text><motionText>" goes to hooks.output;
/// then, when alarm.sound is set, the sound file plays (no sound when it cannot be
/// played). Returns the output line.
std::string OnMotionDetected(std::string_view group, std::string_view input, std::string_view title,
                             std::string_view motionText, const MotionAlarm& alarm,
                             const MotionEventHooks& hooks = {});

}  // namespace halvard::motion
