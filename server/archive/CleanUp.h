#pragma once
/// Removal of old archive days: the daily clean-up by age ("Video History") with the
/// trimming of the event logs, and the guard that keeps free space on the archive's
/// file systems ("Video Free Space Reserve").
///
/// Days are listed by the registry index (the day keys below each camera key) for the
/// clean-up, and by the day folders on disk for the free-space guard. Folders are
/// deleted with everything in them; links inside are removed, never followed. Names
/// that could leave the archive (Archive.h) never reach the disk: such a day's index
/// key is removed, its "folder" is not touched.
///
/// Threads: the user-interface thread (with rotation and the operator commands).

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvard::archive {

/// One camera by its names.
struct CameraRef {
  std::string group;
  std::string input;
};

struct CleanUpResult {
  std::vector<std::string> removedDayKeys;  ///< ArchiveIndexKey of each day removed
};

/// Age in days of a day name at `now`: the date parsed with "%d-%d-%d" (year, month,
/// day) at 23:59:59 local time, (now - that) / 86400 truncated toward zero; 1000 when
/// the name does not start with a date. Today and future days are 0 or less.
[[nodiscard]] long DayAge(std::string_view dayName, std::time_t now);

/// For each camera, every day key whose age is at least the camera's "Video History"
/// (with the default 3: today and the three days before are kept) loses its index key
/// tree and its day folder; then the camera's event log is trimmed to the same number
/// of days. A day folder holding a file of `filesBeingWritten` (absolute paths) is kept,
/// with its key, whatever its age. Folder deletion errors are not reported; the key is
/// removed in any case. Now is halvard::time::WallClockNow().
CleanUpResult CleanUpArchive(const std::vector<CameraRef>& cameras,
                             const std::vector<std::string>& filesBeingWritten = {});

/// Bytes free for unprivileged users on the file system holding `path`; nullopt when it
/// cannot be told.
using FreeSpaceFunction = std::function<std::optional<std::uint64_t>(const std::string& path)>;
/// statvfs: f_bavail x f_frsize.
[[nodiscard]] FreeSpaceFunction SystemFreeSpace();

struct FreeSpaceResult {
  std::vector<std::string> removedDayFolders;  ///< in removal order
  /// False when a file system stayed below the reserve with nothing left to remove,
  /// or its free space could not be told.
  bool reserveMet = true;
};

/// For each file system that holds a camera archive directory (cameras grouped by
/// st_dev of the directory, or of its nearest existing parent): while its free space is
/// below "Video Free Space Reserve" MiB, removes the oldest day folder (by day name,
/// across every camera on that file system) that holds no file of `filesBeingWritten`,
/// with its index key. Links to folders are not day folders. Stops when the reserve is
/// met or nothing removable is left.
FreeSpaceResult EnforceFreeSpaceReserve(const std::vector<CameraRef>& cameras,
                                        const std::vector<std::string>& filesBeingWritten,
                                        const FreeSpaceFunction& freeSpace);

}  // namespace halvard::archive
