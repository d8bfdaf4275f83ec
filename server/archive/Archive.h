#pragma once
/// The recording archive on disk and its registry index: folder and file names of
/// recordings and stills, the index keys the workspace tree is built from, and the
/// folder move of input and group renames.
///
/// Layout (every component from one reading of the local clock):
///   "Video File Root" + group + "/" + input            camera archive directory
///     + "/" + "2007-05-01, TUE MAY 01"                   day folder
///       + "/" + "13H-05M-22S.wmv"                        recording file
///       + "/" + "13H-05M-22S/"                           its still folder
/// "Video File Root" is used as stored: nothing is inserted between it and the group
/// name, so a root without a trailing '/' runs into the group name.
///
/// Names come from the settings store, which a user can edit. A name that could take a
/// path out of its parent folder (empty, ".", "..", or holding '/' or '\') is refused:
/// the path functions then return an empty string, and nothing is created, moved or
/// deleted for it.
///
/// Threads: the user-interface thread (rotation, clean-up and operator commands never
/// overlap); the functions keep no state.

#include <ctime>
#include <string>
#include <string_view>

namespace halvard::archive {

/// Day folder name "%04d-%02d-%02d, %s %s %02d" (year, month, day, weekday and month
/// abbreviation, day), e.g. "2007-05-01, TUE MAY 01". The abbreviations are fixed
/// English texts whatever the locale; a weekday or month out of range gives "???".
[[nodiscard]] std::string DayName(const std::tm& local);
/// Recording file name "%02dH-%02dM-%02dS.wmv", e.g. "13H-05M-22S.wmv".
[[nodiscard]] std::string RecordingFileName(const std::tm& local);

/// Whether a name may become one folder or file name below its parent: not empty, not
/// "." or "..", no '/', '\' or NUL.
[[nodiscard]] bool IsSafeName(std::string_view name);

/// "Video File Root" of the camera + group + "/" + input; empty when a name is refused.
[[nodiscard]] std::string MakeCameraArchiveDir(std::string_view group, std::string_view input);
/// A new recording path for the current local time (halvard::time::LocalTimeNow).
/// A restart within the same second gives the same path. Empty when a name is refused.
[[nodiscard]] std::string MakeRecordingPath(std::string_view group, std::string_view input);
/// The recording path for a given local time; empty when a name is refused.
[[nodiscard]] std::string MakeRecordingPathAt(std::string_view group, std::string_view input,
                                              const std::tm& local);

/// Creates every missing folder of the path up to its last '/' (the whole chain).
/// True when the folder exists afterwards (or the path has no '/'); false on an error,
/// which callers may ignore: opening the file then fails.
bool CreateParentFolders(std::string_view path);

/// Creates the empty index key of a recording: the camera key + the last two
/// components of the path (day folder and file). Always true; a failure only leaves
/// the file unlisted, and a path whose last two components are refused names is not
/// indexed.
bool RegisterArchiveFile(std::string_view group, std::string_view input, std::string_view path);

/// Registry key of an archive item below HKEY_LOCAL_MACHINE:
/// "Software\...\Camera Group\group\input[\day[\file[\still]]]". Trailing empty parts
/// are left out. Empty (refused) when group or input is empty, a part is empty while a
/// later one is given, or a part holds '\' (it would name another key). Registry names
/// cannot leave their key, so ".." and '/' are allowed here: a day key named ".." can
/// still be removed from the index although no folder of that name is ever touched.
/// Callers must never delete an empty key path (it would be the whole store).
[[nodiscard]] std::string ArchiveIndexKey(std::string_view group, std::string_view input,
                                          std::string_view day = {}, std::string_view file = {},
                                          std::string_view still = {});

/// Still folder of a recording: the path less ".wmv". Empty when the path does not end
/// in ".wmv" (any letter case) after a non-empty file stem, so that the still folder can
/// never be the day folder or the recording itself.
[[nodiscard]] std::string StillFolderOf(std::string_view recordingPath);

/// The result of a folder move.
struct MoveOutcome {
  enum class Result { Moved, SourceMissing, TargetExists, AccessDenied, Failed };
  Result result = Result::Failed;
  std::string systemText;  ///< strerror text of the failure; empty on Moved and SourceMissing
  /// Moved, or SourceMissing (nothing to move counts as success).
  [[nodiscard]] bool Ok() const { return result == Result::Moved || result == Result::SourceMissing; }
};

/// Moves a folder (input and group renames). A source that does not exist is
/// SourceMissing; an existing target (file, folder or link) is TargetExists and is never
/// replaced, not even an empty folder; EACCES and EPERM are AccessDenied; an empty path
/// or any other error is Failed. Across file systems the folder is copied (links kept as
/// links) and the source removed after a complete copy; a copy that fails is removed
/// again and the source stays whole.
[[nodiscard]] MoveOutcome MoveArchiveDir(const std::string& from, const std::string& to);

/// Path of a tree item on disk: root + group/input/day for a day, + "/" + file for a
/// recording, the recording's still folder + "/" + still for a still picture. Empty
/// when a name is refused or the day is missing (or the file, when a still is given).
[[nodiscard]] std::string ItemPath(std::string_view group, std::string_view input, std::string_view day,
                                   std::string_view file = {}, std::string_view still = {});

}  // namespace halvard::archive
