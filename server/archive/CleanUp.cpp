#include "server/archive/CleanUp.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <system_error>

#include "platform/time/Time.h"
#include "server/archive/Archive.h"
#include "server/motion/EventLog.h"
#include "server/settings/Settings.h"

namespace halvard::archive {
namespace {

namespace fs = std::filesystem;

constexpr long kUnparsedAge = 1000;
constexpr std::uint64_t kMiB = 1024 * 1024;

// Canonical form for "is this file inside that folder": links and "." resolved, so two
// spellings of one place compare equal.
std::string Canonical(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) {
    p = fs::path(path).lexically_normal();
  }
  return p.generic_string();
}

class CBusyFiles {
 public:
  explicit CBusyFiles(const std::vector<std::string>& files) {
    for (const std::string& f : files) {
      if (!f.empty()) {
        m_files.push_back(Canonical(f));
      }
    }
  }
  [[nodiscard]] bool AnyInside(const std::string& folder) const {
    if (m_files.empty()) {
      return false;
    }
    std::string prefix = Canonical(folder);
    if (prefix.empty() || prefix.back() != '/') {
      prefix += '/';
    }
    return std::any_of(m_files.begin(), m_files.end(), [&](const std::string& f) { return f.starts_with(prefix); });
  }

 private:
  std::vector<std::string> m_files;
};

// Deletes a folder tree; links inside are removed, never followed. True when it is gone.
bool RemoveFolder(const std::string& folder) {
  std::error_code ec;
  fs::remove_all(folder, ec);
  return !fs::exists(fs::symlink_status(folder, ec));
}

// The nearest existing folder of a path (the archive folder may not exist yet).
std::string ExistingAncestor(const std::string& path) {
  std::error_code ec;
  fs::path p(path);
  while (!p.empty() && !fs::exists(p, ec)) {
    const fs::path parent = p.parent_path();
    if (parent == p) {
      break;
    }
    p = parent;
  }
  return p.empty() ? std::string(".") : p.string();
}

struct DayFolder {
  std::string dayName;
  std::string folder;
  std::string key;
};

struct FileSystem {
  std::string probePath;
  std::vector<DayFolder> days;
};

}  // namespace

long DayAge(std::string_view dayName, std::time_t now) {
  const std::string text(dayName);
  int year = 0;
  int month = 0;
  int day = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d", &year, &month, &day) != 3) {
    return kUnparsedAge;
  }
  // Keeps mktime's arithmetic (year - 1900, ...) far from overflowing.
  constexpr int kLimit = 1000000;
  if (std::abs(year) > kLimit || std::abs(month) > kLimit || std::abs(day) > kLimit) {
    return kUnparsedAge;
  }
  const std::time_t endOfDay = time::MakeLocalTime(year, month, day, 23, 59, 59);
  if (endOfDay == -1) {
    return kUnparsedAge;
  }
  return static_cast<long>((now - endOfDay) / 86400);
}

CleanUpResult CleanUpArchive(const std::vector<CameraRef>& cameras, const std::vector<std::string>& filesBeingWritten) {
  CleanUpResult result;
  const CBusyFiles busy(filesBeingWritten);
  const std::time_t now = time::WallClockNow();
  for (const CameraRef& camera : cameras) {
    const std::string cameraKey = ArchiveIndexKey(camera.group, camera.input);
    if (cameraKey.empty()) {
      continue;
    }
    const DWORD history = settings::kVideoHistory.Read(camera.group, camera.input);
    for (const std::string& day : settings::SubKeyNames(cameraKey)) {
      if (DayAge(day, now) < static_cast<long>(history)) {
        continue;
      }
      const std::string folder = ItemPath(camera.group, camera.input, day);
      if (!folder.empty() && busy.AnyInside(folder)) {
        continue;
      }
      const std::string dayKey = ArchiveIndexKey(camera.group, camera.input, day);
      if (dayKey.empty()) {
        continue;
      }
      settings::DeleteKeyTree(dayKey);
      if (!folder.empty()) {
        (void)RemoveFolder(folder);
      }
      result.removedDayKeys.push_back(dayKey);
    }
    // "Video History" is a DWORD; a value beyond int keeps every event.
    const int days = history > 1000000u ? 1000000 : static_cast<int>(history);
    motion::TrimEventLog(camera.group, camera.input, days);
  }
  return result;
}

FreeSpaceFunction SystemFreeSpace() {
  return [](const std::string& path) -> std::optional<std::uint64_t> {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) {
      return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.f_bavail) * static_cast<std::uint64_t>(st.f_frsize);
  };
}

FreeSpaceResult EnforceFreeSpaceReserve(const std::vector<CameraRef>& cameras,
                                        const std::vector<std::string>& filesBeingWritten,
                                        const FreeSpaceFunction& freeSpace) {
  FreeSpaceResult result;
  if (!freeSpace) {
    result.reserveMet = false;
    return result;
  }
  const std::uint64_t reserve = static_cast<std::uint64_t>(settings::kVideoFreeSpaceReserve.Read()) * kMiB;
  const CBusyFiles busy(filesBeingWritten);

  std::map<dev_t, FileSystem> fileSystems;
  std::vector<std::string> seen;  // cameras sharing one folder list it once
  for (const CameraRef& camera : cameras) {
    const std::string dir = MakeCameraArchiveDir(camera.group, camera.input);
    if (dir.empty()) {
      continue;
    }
    const std::string probe = ExistingAncestor(dir);
    struct stat st {};
    if (::stat(probe.c_str(), &st) != 0) {
      continue;
    }
    FileSystem& fsEntry = fileSystems[st.st_dev];
    if (fsEntry.probePath.empty()) {
      fsEntry.probePath = probe;
    }
    const std::string canonicalDir = Canonical(dir);
    if (std::find(seen.begin(), seen.end(), canonicalDir) != seen.end()) {
      continue;
    }
    seen.push_back(canonicalDir);
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      std::error_code statEc;
      if (!fs::is_directory(it->symlink_status(statEc)) || !IsSafeName(name)) {
        continue;
      }
      const std::string folder = dir + "/" + name;
      if (busy.AnyInside(folder)) {
        continue;
      }
      fsEntry.days.push_back({name, folder, ArchiveIndexKey(camera.group, camera.input, name)});
    }
  }

  for (auto& [device, entry] : fileSystems) {
    std::sort(entry.days.begin(), entry.days.end(), [](const DayFolder& a, const DayFolder& b) {
      return a.dayName != b.dayName ? a.dayName < b.dayName : a.folder < b.folder;
    });
    std::optional<std::uint64_t> free = freeSpace(entry.probePath);
    for (const DayFolder& day : entry.days) {
      if (!free || *free >= reserve) {
        break;
      }
      if (!RemoveFolder(day.folder)) {
        continue;
      }
      if (!day.key.empty()) {
        settings::DeleteKeyTree(day.key);
      }
      result.removedDayFolders.push_back(day.folder);
      free = freeSpace(entry.probePath);
    }
    if (!free || *free < reserve) {
      result.reserveMet = false;
    }
  }
  return result;
}

}  // namespace halvard::archive
