#include "server/ui/output/RecordingLocator.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/time/Time.h"
#include "platform/wmf/Wmf.h"
#include "server/settings/Settings.h"

namespace halvard::ui {

namespace {

// A name from the index that could take the path out of its folder is never used.
bool IsSafeName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// The longest "Video File Length" is 120 minutes.
constexpr double kUnknownLengthSeconds = 120 * 60;

struct DateOfDay {
  int year = 0;
  int month = 0;
  int day = 0;
  friend auto operator<=>(const DateOfDay&, const DateOfDay&) = default;
};

std::optional<DateOfDay> ParseDayName(std::string_view name) {
  const std::string text(name);
  DateOfDay date;
  if (std::sscanf(text.c_str(), "%d-%d-%d", &date.year, &date.month, &date.day) != 3 || date.month < 1 ||
      date.month > 12 || date.day < 1 || date.day > 31) {
    return std::nullopt;
  }
  return date;
}

struct Candidate {
  std::string day;
  std::string file;
  std::time_t start = 0;
};

std::string CameraIndexKey(std::string_view group, std::string_view input) {
  std::string key(settings::kCameraGroupPath);
  key.append("\\").append(group).append("\\").append(input);
  return key;
}

// The recording files of one day item, in start order.
void AppendFilesOfDay(const std::string& cameraKey, const std::string& day, std::vector<Candidate>& out) {
  std::vector<Candidate> files;
  for (std::string& file : settings::SubKeyNames(cameraKey + "\\" + day)) {
    if (!IsSafeName(file)) {
      continue;
    }
    if (const auto start = RecordingStartOf(day, file)) {
      files.push_back({day, std::move(file), *start});
    }
  }
  std::stable_sort(files.begin(), files.end(), [](const Candidate& a, const Candidate& b) { return a.start < b.start; });
  out.insert(out.end(), std::make_move_iterator(files.begin()), std::make_move_iterator(files.end()));
}

}  // namespace

DurationReader WindowsMediaDuration() {
  return [](const std::string& path) -> std::optional<double> {
    ComPtr<IWMMetadataEditor> editor;
    if (WMCreateEditor(editor.ReleaseAndGetAddressOf()) != S_OK || editor->Open(path.c_str()) != S_OK) {
      return std::nullopt;
    }
    std::optional<double> seconds;
    ComPtr<IWMHeaderInfo> header;
    if (editor.As(&header) == S_OK) {
      WORD stream = 0;
      WMT_ATTR_DATATYPE type{};
      QWORD duration = 0;
      WORD length = sizeof(duration);
      if (header->GetAttributeByName(&stream, "Duration", &type, reinterpret_cast<BYTE*>(&duration), &length) ==
              S_OK &&
          (length == 8 || length == 4)) {
        if (length == 4) {
          duration &= 0xFFFFFFFFu;
        }
        // A file still being written carries no length yet (0 until it is closed).
        if (duration != 0) {
          seconds = static_cast<double>(duration) * 1e-7;
        }
      }
    }
    static_cast<void>(editor->Close());
    return seconds;
  };
}

std::optional<std::time_t> RecordingStartOf(std::string_view dayName, std::string_view fileName) {
  const auto date = ParseDayName(dayName);
  if (!date) {
    return std::nullopt;
  }
  const std::string file(fileName);
  int hour = 0;
  int minute = 0;
  int second = 0;
  if (std::sscanf(file.c_str(), "%dH-%dM-%dS", &hour, &minute, &second) != 3 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 60) {
    return std::nullopt;
  }
  return halvard::time::MakeLocalTime(date->year, date->month, date->day, hour, minute, second);
}

std::optional<RecordingLocation> FindRecordingAt(std::string_view group, std::string_view input, std::time_t moment,
                                                 std::time_t playFrom, const DurationReader& duration) {
  const std::time_t t = moment;
  if (!IsSafeName(group) || !IsSafeName(input)) {
    return std::nullopt;
  }
  const std::string cameraKey = CameraIndexKey(group, input);

  // Day items by date; names that are no dates cannot hold the moment.
  std::vector<std::pair<DateOfDay, std::string>> days;
  for (std::string& day : settings::SubKeyNames(cameraKey)) {
    if (!IsSafeName(day)) {
      continue;
    }
    if (const auto date = ParseDayName(day)) {
      days.emplace_back(*date, std::move(day));
    }
  }
  std::stable_sort(days.begin(), days.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

  std::tm local{};
  localtime_r(&t, &local);
  const DateOfDay wanted{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
  // The first day item after t's day; the one before it is t's day or the day before.
  const auto after = std::upper_bound(days.begin(), days.end(), wanted,
                                      [](const DateOfDay& d, const auto& item) { return d < item.first; });
  std::vector<Candidate> candidates;
  if (after != days.begin()) {
    auto day = std::prev(after);
    if (day->first == wanted) {
      // t's own day, after the last file of the day before it.
      if (day != days.begin()) {
        std::vector<Candidate> earlier;
        AppendFilesOfDay(cameraKey, std::prev(day)->second, earlier);
        if (!earlier.empty()) {
          candidates.push_back(std::move(earlier.back()));
        }
      }
      AppendFilesOfDay(cameraKey, day->second, candidates);
    } else {
      // No folder for t's day: only the last file of an earlier day can run into it.
      std::vector<Candidate> earlier;
      AppendFilesOfDay(cameraKey, day->second, earlier);
      if (!earlier.empty()) {
        candidates.push_back(std::move(earlier.back()));
      }
    }
  }
  if (after != days.end()) {
    // A file starting just after midnight may still play a moment just before it.
    std::vector<Candidate> later;
    AppendFilesOfDay(cameraKey, after->second, later);
    if (!later.empty()) {
      candidates.push_back(std::move(later.front()));
    }
  }
  std::string root = settings::ReadVideoFileRoot(group, input);
  const auto pathOf = [&](const Candidate& c) {
    std::string path = root;
    path.append(group).append("/").append(input).append("/").append(c.day).append("/").append(c.file);
    return path;
  };
  const auto located = [&](const Candidate& c) {
    RecordingLocation location;
    location.dayName = c.day;
    location.fileName = c.file;
    location.path = pathOf(c);
    location.fileStart = c.start;
    location.offsetSeconds = std::max<std::int64_t>(0, playFrom - c.start);
    return location;
  };

  // The last file starting at or before t.
  const auto next = std::upper_bound(candidates.begin(), candidates.end(), t,
                                     [](std::time_t value, const Candidate& c) { return value < c.start; });
  if (next != candidates.begin()) {
    const Candidate& before = *std::prev(next);
    const std::optional<double> seconds = duration ? duration(pathOf(before)) : std::nullopt;
    // Unknown length (the file being written has none yet): it runs until the next
    // file starts, but never longer than the longest file length.
    const double length = seconds ? *seconds : kUnknownLengthSeconds;
    if (static_cast<double>(before.start) + length >= static_cast<double>(t)) {
      return located(before);
    }
  }
  if (next != candidates.end() && next->start <= t + kFileStartToleranceSeconds) {
    return located(*next);
  }
  return std::nullopt;
}

}  // namespace halvard::ui
