#pragma once
/// The motion event log of a camera: one ASCII line per event, "13:05:22, TUE 05/01/2007"
/// (local time), CR LF line ends, appended in time order. The event matrix reads it,
/// the daily clean-up trims it.
///
/// File: "Motion Event Dir" + "Card Friendly Name" + "-" + "Input Original Name" +
/// ".txt". Both names are the ones stored at the camera's first event, so the log keeps
/// its name across renames. In the file name every character a file name cannot hold
/// ('/', '\', and control characters such as NUL) becomes '_': a device name such as
/// "USB2.0 PC/Camera" can never move the log out of "Motion Event Dir".
///
/// Reading rule shared by CountEvents and ReadEventCells: lines from the start whose
/// times are strictly increasing, beginning after 2000-01-01 00:00:00; a line not later
/// than the last counted one is skipped (two events in one second count once); the
/// first line that does not parse ends the reading. Only the first 63 characters of a
/// line are parsed.
///
/// Threads: the user-interface thread (events of every camera are handled one after
/// another; the clean-up runs on the same thread). Failures to create or write a file
/// lose that line silently: callers go on with the output line and the sound.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace halvard::motion {

/// "%02d:%02d:%02d, %s %02d/%02d/%04d" of hour, minute, second, weekday ("SUN".."SAT",
/// fixed English), month, day, year: "13:05:22, TUE 05/01/2007".
[[nodiscard]] std::string EventTimeText(const std::tm& local);

/// Parses "%d:%d:%d, %*s %d/%d/%d" (hour, minute, second, weekday skipped, month, day,
/// year) as a local time; nullopt when a field is missing or the time cannot be
/// represented. Fields out of range are normalised as mktime does.
[[nodiscard]] std::optional<std::time_t> ParseEventLine(std::string_view line);

/// The log's path. On first use writes the group's display name into "Card Friendly
/// Name" and the input's display name into "Input Original Name" when they are empty.
/// Empty when the group or input name is empty.
[[nodiscard]] std::string EventLogPath(std::string_view group, std::string_view input);

/// Appends the line and CR LF, creating "Motion Event Dir" (one level) and the log as
/// needed. Only the text before a CR or LF in `line` is written, so one call is one line.
void AppendEventLog(std::string_view group, std::string_view input, std::string_view line);

/// Midnight (local) of the first line's date when that is before today, else midnight
/// today. A missing log or a first line that does not parse gives today.
[[nodiscard]] std::time_t FirstEventDate(std::string_view group, std::string_view input);

/// Number of events by the reading rule; 0 for a missing log.
[[nodiscard]] int CountEvents(std::string_view group, std::string_view input);

/// Fills the event cells of the events by the reading rule, at most maxCount:
/// cells[i] = minutes / resolution and offsets[i] = (minutes % resolution) x 60 + the
/// event's seconds, where minutes = (event time - start) / 60 truncated toward zero.
/// Returns how many were filled; 0 for a missing log, a resolution below 1, a maxCount
/// below 1 or a null array. The log is read in one go and parsed in one pass.
[[nodiscard]] int ReadEventCells(std::string_view group, std::string_view input, std::time_t start,
                                 int resolutionMinutes, int maxCount, int* cells, int* offsets);

/// Keeps the last `days` days: from the first line at or after now - days x 86400 s
/// (lines that do not parse before it are dropped), the rest of the log is written
/// unchanged to the log's name + "2", which then replaces the log by rename. When no
/// line qualifies the log is deleted. A missing log is left alone; a log whose first
/// line qualifies is not rewritten; when the copy cannot be written completely the log
/// stays as it was.
void TrimEventLog(std::string_view group, std::string_view input, int days);

}  // namespace halvard::motion
