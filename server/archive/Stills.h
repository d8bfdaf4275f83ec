#pragma once
/// Still pictures of a recording: the name a frame is stored under, its file beside the
/// recording, and its registry index key (the recording's key + the picture's name).
///
/// Threads: the user-interface thread; the functions keep no state.

#include <cstdint>
#include <string>
#include <string_view>

namespace halvard::archive {

/// The name of the still taken at `position` (100-nanosecond units from the start of
/// the recording): "%02d-%02d-%02d-%03d.bmp" of hours, minutes, seconds and
/// milliseconds, the milliseconds truncated. 754.25 s gives "00-12-34-250.bmp". The
/// position is counted in whole units, so no rounding of a double can move a frame
/// into the neighbouring millisecond; a negative position counts as 0.
[[nodiscard]] std::string StillPictureName(std::int64_t position);

/// The still's file: the recording's still folder + "/" + `stillName`. Empty when the
/// recording has no still folder (not a ".wmv" path) or the name could leave it.
[[nodiscard]] std::string StillPicturePath(std::string_view recordingPath, std::string_view stillName);

/// Creates the still's index key below the recording's key ("Camera Group", group,
/// input, day, file, still). False, with nothing created, when a name is refused. Creating a key
/// that exists changes nothing, so a second save at one position lists one picture.
bool RegisterStillPicture(std::string_view group, std::string_view input, std::string_view day,
                          std::string_view file, std::string_view still);

/// Whether a path names a still picture (ends in ".bmp", any letter case).
[[nodiscard]] bool IsStillPicturePath(std::string_view path);

}  // namespace halvard::archive
