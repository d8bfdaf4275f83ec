#include "server/motion/MotionEvent.h"

#include "platform/audio/PlaySound.h"
#include "platform/time/Time.h"
#include "server/motion/EventLog.h"
#include "server/settings/Settings.h"

namespace halvard::motion {

MotionAlarm ReadMotionAlarm(std::string_view group, std::string_view input) {
  MotionAlarm alarm;
  alarm.sound = settings::kMotionSound.Read(group, input) != 0;
  if (alarm.sound) {
    alarm.soundFile = settings::ReadMotionSoundFile(group, input);
  }
  return alarm;
}

std::string OnMotionDetected(std::string_view group, std::string_view input, std::string_view title,
                             std::string_view motionText, const MotionAlarm& alarm, const MotionEventHooks& hooks) {
  const std::string when = EventTimeText(time::LocalTimeNow());
  AppendEventLog(group, input, when);
  std::string line(title);
  line += ": ";
  line += when;
  line += motionText;
  if (hooks.output) {
    hooks.output(line);
  }
  if (alarm.sound) {
    if (hooks.playSound) {
      hooks.playSound(alarm.soundFile);
    } else {
      (void)PlaySound(alarm.soundFile.c_str(), nullptr, SND_SYNC | SND_FILENAME);
    }
  }
  return line;
}

}  // namespace halvard::motion
