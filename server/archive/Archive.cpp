#include "server/archive/Archive.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/time/Time.h"
#include "server/settings/Settings.h"

namespace halvard::archive {
namespace {

namespace fs = std::filesystem;

constexpr const char* kWeekdays[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr const char* kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

std::string Join(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) {
    out += p;
  }
  return out;
}

// A registry key name: one level, never empty.
bool IsKeyName(std::string_view name) { return !name.empty() && name.find('\\') == std::string_view::npos; }

std::string_view LastComponent(std::string_view path, std::string_view* rest) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    *rest = {};
    return path;
  }
  *rest = path.substr(0, slash);
  return path.substr(slash + 1);
}

MoveOutcome Failure(MoveOutcome::Result result, int error) {
  return {result, std::strerror(error)};
}

MoveOutcome FromErrno(int error) {
  switch (error) {
    case EEXIST:
    case ENOTEMPTY:
      return Failure(MoveOutcome::Result::TargetExists, error);
    case EACCES:
    case EPERM:
      return Failure(MoveOutcome::Result::AccessDenied, error);
    default:
      return Failure(MoveOutcome::Result::Failed, error);
  }
}

// Moving to another file system: a whole copy first, so that a failure half-way leaves
// the source as it was and no partial target behind.
MoveOutcome CopyThenRemove(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove_all(to, ignored);
    return FromErrno(ec.value());
  }
  // The copy is complete: whatever of the source cannot be removed is a duplicate, not
  // a loss, so the move counts as done.
  fs::remove_all(from, ec);
  return {MoveOutcome::Result::Moved, {}};
}

}  // namespace

std::string DayName(const std::tm& local) {
  const char* weekday = local.tm_wday >= 0 && local.tm_wday < 7 ? kWeekdays[local.tm_wday] : "???";
  const char* month = local.tm_mon >= 0 && local.tm_mon < 12 ? kMonths[local.tm_mon] : "???";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d, %s %s %02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, weekday, month, local.tm_mday);
  return text;
}

std::string RecordingFileName(const std::tm& local) {
  char text[48];
  std::snprintf(text, sizeof text, "%02dH-%02dM-%02dS.wmv", local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

bool IsSafeName(std::string_view name) {
  constexpr std::string_view kForbidden("/\\\0", 3);
  return !name.empty() && name != "." && name != ".." && name.find_first_of(kForbidden) == std::string_view::npos;
}

std::string MakeCameraArchiveDir(std::string_view group, std::string_view input) {
  if (!IsSafeName(group) || !IsSafeName(input)) {
    return {};
  }
  return Join({settings::ReadVideoFileRoot(group, input), group, "/", input});
}

std::string MakeRecordingPath(std::string_view group, std::string_view input) {
  return MakeRecordingPathAt(group, input, time::LocalTimeNow());
}

std::string MakeRecordingPathAt(std::string_view group, std::string_view input, const std::tm& local) {
  const std::string dir = MakeCameraArchiveDir(group, input);
  if (dir.empty()) {
    return {};
  }
  return Join({dir, "/", DayName(local), "/", RecordingFileName(local)});
}

bool CreateParentFolders(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos || slash == 0) {
    return true;
  }
  std::error_code ec;
  const fs::path folder(std::string(path.substr(0, slash)));
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

bool RegisterArchiveFile(std::string_view group, std::string_view input, std::string_view path) {
  std::string_view rest;
  const std::string_view file = LastComponent(path, &rest);
  std::string_view ignored;
  const std::string_view day = LastComponent(rest, &ignored);
  if (IsSafeName(day) && IsSafeName(file)) {
    const std::string key = ArchiveIndexKey(group, input, day, file);
    if (!key.empty()) {
      settings::CreateKey(key);
    }
  }
  return true;
}

std::string ArchiveIndexKey(std::string_view group, std::string_view input, std::string_view day,
                            std::string_view file, std::string_view still) {
  if (!IsKeyName(group) || !IsKeyName(input)) {
    return {};
  }
  std::string key = Join({settings::kCameraGroupPath, "\\", group, "\\", input});
  const std::string_view tail[] = {day, file, still};
  bool ended = false;
  for (std::string_view part : tail) {
    if (part.empty()) {
      ended = true;
      continue;
    }
    if (ended || !IsKeyName(part)) {
      return {};
    }
    key += '\\';
    key += part;
  }
  return key;
}

std::string StillFolderOf(std::string_view recordingPath) {
  constexpr std::string_view kExtension = ".wmv";
  if (recordingPath.size() <= kExtension.size()) {
    return {};
  }
  const std::string_view stemPath = recordingPath.substr(0, recordingPath.size() - kExtension.size());
  const std::string_view extension = recordingPath.substr(stemPath.size());
  for (std::size_t i = 0; i < kExtension.size(); ++i) {
    const char c = extension[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kExtension[i]) {
      return {};
    }
  }
  if (stemPath.back() == '/') {
    return {};
  }
  return std::string(stemPath);
}

MoveOutcome MoveArchiveDir(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) {
    return Failure(MoveOutcome::Result::Failed, EINVAL);
  }
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return {MoveOutcome::Result::SourceMissing, {}};
    }
    return FromErrno(errno);
  }
  if (::lstat(to.c_str(), &st) == 0) {
    return Failure(MoveOutcome::Result::TargetExists, EEXIST);
  }
  // RENAME_NOREPLACE closes the window between the check above and the move; plain
  // rename(2) would silently replace an empty folder created meanwhile.
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return {MoveOutcome::Result::Moved, {}};
  }
  int error = errno;
  if (error == EINVAL || error == ENOSYS) {
    // A file system without the flag; the existence check above has to do.
    if (::rename(from.c_str(), to.c_str()) == 0) {
      return {MoveOutcome::Result::Moved, {}};
    }
    error = errno;
  }
  if (error == EXDEV) {
    return CopyThenRemove(from, to);
  }
  return FromErrno(error);
}

std::string ItemPath(std::string_view group, std::string_view input, std::string_view day, std::string_view file,
                     std::string_view still) {
  if (!IsSafeName(day)) {
    return {};
  }
  const std::string dir = MakeCameraArchiveDir(group, input);
  if (dir.empty()) {
    return {};
  }
  std::string path = Join({dir, "/", day});
  if (file.empty()) {
    return still.empty() ? path : std::string();
  }
  if (!IsSafeName(file)) {
    return {};
  }
  path += '/';
  path += file;
  if (still.empty()) {
    return path;
  }
  const std::string stills = StillFolderOf(path);
  if (!IsSafeName(still) || stills.empty()) {
    return {};
  }
  return Join({stills, "/", still});
}

}  // namespace halvard::archive
