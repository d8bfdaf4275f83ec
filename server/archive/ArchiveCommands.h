#pragma once
/// The operator's copy and delete commands on archive items of the workspace tree. The
/// window asks Yes/No and shows the outcome; these functions only act. Items are named
/// as in the tree (group, input, day, file, still); paths follow ItemPath (Archive.h),
/// index keys ArchiveIndexKey.
///
/// Deletes are permanent and touch the disk first: the index key goes only when what it
/// lists is gone (or was missing already), so an item that could not be deleted stays
/// listed and can be tried again. Copies overwrite files of the same name; a copy onto
/// the source itself is refused (it would destroy the source).
///
/// Threads: the user-interface thread (with rotation and clean-up).

#include <string>
#include <string_view>

namespace halvard::archive {

/// An item of the tree by its names; the later ones empty where the item has none.
struct ArchiveItem {
  std::string group;
  std::string input;
  std::string day;
  std::string file;   ///< recording file name ("13H-05M-22S.wmv")
  std::string still;  ///< still picture name ("00-12-34-250.bmp")
};

struct ArchiveCommandResult {
  enum class Status {
    Done,
    InvalidItem,       ///< a name is missing or could leave its folder; nothing done
    OpenForPlayback,   ///< refused: the recording is open in a playback window
    Failed,            ///< the file system refused; see systemText
  };
  Status status = Status::Failed;
  std::string systemText;  ///< the system's text of the failure (strerror); empty on Done
  [[nodiscard]] bool Ok() const { return status == Status::Done; }
};

/// Whether the recording to delete is open in a playback window.
enum class Playback { Closed, Open };

/// Copies the recording into `folder` (a '/' is added when missing) under its file name,
/// replacing a file of that name.
[[nodiscard]] ArchiveCommandResult CopyRecordingFile(const ArchiveItem& item, std::string_view folder);
/// Copies the contents of the recording's still folder (sub-folders included) into
/// folder + "/" + the file's stem, created when missing; files there are replaced.
[[nodiscard]] ArchiveCommandResult CopyStillPictures(const ArchiveItem& item, std::string_view folder);
/// Copies one still picture into `folder`, replacing a file of that name.
[[nodiscard]] ArchiveCommandResult CopyStillPicture(const ArchiveItem& item, std::string_view folder);

/// Deletes the still folder, then the recording, then the recording's index key (with
/// its still keys). Refused with OpenForPlayback while the file plays.
[[nodiscard]] ArchiveCommandResult DeleteRecordingAndStills(const ArchiveItem& item, Playback playback);
/// Deletes the still folder and the still keys below the recording's key; the recording
/// and its key stay.
[[nodiscard]] ArchiveCommandResult DeleteStillPictures(const ArchiveItem& item);
/// Deletes the day folder with everything in it, then the day's index key tree.
[[nodiscard]] ArchiveCommandResult DeleteDayFolder(const ArchiveItem& item);
/// Deletes one still picture file, then its index key.
[[nodiscard]] ArchiveCommandResult DeleteStillPicture(const ArchiveItem& item);

}  // namespace halvard::archive
