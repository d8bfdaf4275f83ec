#pragma once
/// What the player, the event matrix and the file property dialog know of a recording:
/// play length, bitrate, picture size and whether it is a Windows Media file.
///
/// Threads: the user-interface thread (opens the file and, for a Windows Media file,
/// renders it in a temporary graph).

#include <string>

#include "platform/base/WinTypes.h"

namespace halvard::ui::playback {

struct VideoFileInfo {
  double frameRate = 0;   ///< frames per second; the media detector's route only
  double playLength = 0;  ///< seconds; 0 when the file gives no length (being written)
  DWORD bitrate = 0;      ///< bits per second; the Windows Media route only
  LONG width = 0;
  LONG height = 0;
  bool windowsMedia = false;  ///< read through the Windows Media header
};

/// Reads the record: first the Windows Media header ("Duration", "Bitrate") and the
/// picture size of the file rendered in a temporary graph; if any of that fails, the
/// media detector (first video stream: size, frame rate, stream length). False, with
/// `info` reset, when neither reads the file (missing, empty, damaged beyond its
/// header). Never blocks on a file that is still being written.
bool ReadVideoFileInfo(const std::string& path, VideoFileInfo* info);

/// The property dialog's figures: "%ld Pixels", "%.3f Seconds", "%d Kbps" (bitrate /
/// 1024, truncated).
[[nodiscard]] std::string PixelsText(LONG pixels);
[[nodiscard]] std::string SecondsText(double seconds);
[[nodiscard]] std::string KbpsText(DWORD bitrate);

}  // namespace halvard::ui::playback
