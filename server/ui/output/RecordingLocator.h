#pragma once
/// Finding the recording of a moment: which archive file of a camera holds a given time
/// and how far into it the moment lies. The event matrix's double click uses it; the
/// main frame then opens the file in a player and seeks to the offset.
///
/// The archive is read through its registry index (Camera Group\group\input\day\file,
/// the keys the workspace tree is built from), which lists day names
/// "2007-05-01, TUE MAY 01" and file names "13H-05M-22S.wmv" in chronological order.
///
/// Threads: the user-interface thread (reads the settings store and file headers).

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace halvard::ui {

/// Play length of a recording in seconds; nothing when the file cannot be read.
using DurationReader = std::function<std::optional<double>(const std::string& path)>;

/// The "Duration" header attribute of a Windows Media file (through the metadata editor);
/// nothing for a file that does not open or whose header gives no length (0: the file
/// is still being written).
[[nodiscard]] DurationReader WindowsMediaDuration();

struct RecordingLocation {
  std::string dayName;    ///< the day item, e.g. "2007-05-01, TUE MAY 01"
  std::string fileName;   ///< the file item, e.g. "13H-05M-22S.wmv"
  std::string path;       ///< "Video File Root" + group/input/day/file
  std::time_t fileStart = 0;
  std::int64_t offsetSeconds = 0;  ///< from the file's start, never negative
};

/// Seconds of tolerance: a file that starts at most this long after the moment still
/// plays it (from its start), so an event in the first seconds of a file is found.
inline constexpr int kFileStartToleranceSeconds = 60;

/// The recording of (group, input) holding `moment`, and the offset of `playFrom`
/// (a few seconds earlier for an event) into it, at least 0: an event in the first
/// seconds of a file plays that file from its start.
///
/// The candidates are the files of the moment's day, the last file of the day item before it (a
/// recording that runs past midnight keeps the earlier day's folder) and the first file
/// of the day item after it. The file chosen is the last one starting at or before the moment,
/// unless it ends before the moment (the camera was stopped in between); then, or when no file
/// starts before it, the first file starting within kFileStartToleranceSeconds after it
/// plays from its start. A file whose duration cannot be read (the file being written
/// has none yet) counts as 120 minutes long, the longest file length.
///
/// Nothing when no file qualifies, when a name would leave its folder, or when the
/// index holds names that are not day or file names (those are skipped).
[[nodiscard]] std::optional<RecordingLocation> FindRecordingAt(std::string_view group, std::string_view input,
                                                               std::time_t moment, std::time_t playFrom,
                                                               const DurationReader& duration);

/// Start of a recording from its day and file names (local time); nothing when a name
/// does not parse ("%d-%d-%d" of the day, "%dH-%dM-%dS" of the file).
[[nodiscard]] std::optional<std::time_t> RecordingStartOf(std::string_view dayName, std::string_view fileName);

}  // namespace halvard::ui
