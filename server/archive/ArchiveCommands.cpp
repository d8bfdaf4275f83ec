#include "server/archive/ArchiveCommands.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "server/archive/Archive.h"
#include "server/settings/Settings.h"

namespace halvard::archive {
namespace {

namespace fs = std::filesystem;
using Status = ArchiveCommandResult::Status;

ArchiveCommandResult Done() { return {Status::Done, {}}; }
ArchiveCommandResult Invalid() { return {Status::InvalidItem, {}}; }
ArchiveCommandResult Failed(int error) { return {Status::Failed, std::strerror(error)}; }
ArchiveCommandResult Failed(const std::error_code& ec) { return {Status::Failed, std::strerror(ec.value())}; }

std::string WithSlash(std::string_view folder) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') {
    out += '/';
  }
  return out;
}

bool IsInsideOrSame(const fs::path& path, const fs::path& folder) {
  std::error_code ec;
  const std::string p = fs::weakly_canonical(fs::absolute(path, ec), ec).generic_string();
  std::string f = fs::weakly_canonical(fs::absolute(folder, ec), ec).generic_string();
  if (p == f) {
    return true;
  }
  if (f.empty() || f.back() != '/') {
    f += '/';
  }
  return p.starts_with(f);
}

ArchiveCommandResult CopyOneFile(const std::string& source, std::string_view folder) {
  if (folder.empty()) {
    return Invalid();
  }
  const fs::path target = WithSlash(folder) + fs::path(source).filename().string();
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) {
    return Failed(ec ? ec.value() : ENOENT);
  }
  // Overwriting the source with itself would truncate it.
  if (fs::exists(target, ec) && fs::equivalent(source, target, ec)) {
    return Failed(EEXIST);
  }
  fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
  return ec ? Failed(ec) : Done();
}

std::string RecordingPath(const ArchiveItem& item) {
  if (item.file.empty()) {
    return {};
  }
  return ItemPath(item.group, item.input, item.day, item.file);
}

// Removes a file or a folder tree (links removed, never followed). A missing one is
// fine: what the key lists is gone either way.
std::error_code RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
  return ec;
}

}  // namespace

ArchiveCommandResult CopyRecordingFile(const ArchiveItem& item, std::string_view folder) {
  const std::string source = RecordingPath(item);
  if (source.empty()) {
    return Invalid();
  }
  return CopyOneFile(source, folder);
}

ArchiveCommandResult CopyStillPictures(const ArchiveItem& item, std::string_view folder) {
  const std::string stills = StillFolderOf(RecordingPath(item));
  if (stills.empty() || folder.empty()) {
    return Invalid();
  }
  const fs::path target = WithSlash(folder) + fs::path(stills).filename().string();
  std::error_code ec;
  if (!fs::is_directory(stills, ec)) {
    return Failed(ec ? ec.value() : ENOENT);
  }
  // A target inside the still folder would copy the folder into itself without end.
  if (IsInsideOrSame(target, stills)) {
    return Failed(EINVAL);
  }
  fs::create_directories(target, ec);
  if (ec) {
    return Failed(ec);
  }
  for (fs::directory_iterator it(stills, ec), end; !ec && it != end; it.increment(ec)) {
    fs::copy(it->path(), target / it->path().filename(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing | fs::copy_options::copy_symlinks,
             ec);
    if (ec) {
      return Failed(ec);
    }
  }
  return ec ? Failed(ec) : Done();
}

ArchiveCommandResult CopyStillPicture(const ArchiveItem& item, std::string_view folder) {
  if (item.still.empty()) {
    return Invalid();
  }
  const std::string source = ItemPath(item.group, item.input, item.day, item.file, item.still);
  if (source.empty()) {
    return Invalid();
  }
  return CopyOneFile(source, folder);
}

ArchiveCommandResult DeleteRecordingAndStills(const ArchiveItem& item, Playback playback) {
  const std::string recording = RecordingPath(item);
  const std::string key = ArchiveIndexKey(item.group, item.input, item.day, item.file);
  if (recording.empty() || key.empty()) {
    return Invalid();
  }
  if (playback == Playback::Open) {
    return {Status::OpenForPlayback, {}};
  }
  const std::string stills = StillFolderOf(recording);
  if (!stills.empty()) {
    if (const std::error_code ec = RemoveTree(stills)) {
      return Failed(ec);
    }
  }
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(recording, ec))) {
    return Failed(EISDIR);  // a folder of the file's name is not a recording
  }
  if (!fs::remove(recording, ec) && ec) {
    return Failed(ec);
  }
  settings::DeleteKeyTree(key);
  return Done();
}

ArchiveCommandResult DeleteStillPictures(const ArchiveItem& item) {
  const std::string stills = StillFolderOf(RecordingPath(item));
  const std::string key = ArchiveIndexKey(item.group, item.input, item.day, item.file);
  if (stills.empty() || key.empty()) {
    return Invalid();
  }
  if (const std::error_code ec = RemoveTree(stills)) {
    return Failed(ec);
  }
  for (const std::string& still : settings::SubKeyNames(key)) {
    const std::string stillKey = ArchiveIndexKey(item.group, item.input, item.day, item.file, still);
    if (!stillKey.empty()) {
      settings::DeleteKeyTree(stillKey);
    }
  }
  return Done();
}

ArchiveCommandResult DeleteDayFolder(const ArchiveItem& item) {
  const std::string folder = ItemPath(item.group, item.input, item.day);
  const std::string key = ArchiveIndexKey(item.group, item.input, item.day);
  if (folder.empty() || key.empty()) {
    return Invalid();
  }
  if (const std::error_code ec = RemoveTree(folder)) {
    return Failed(ec);
  }
  settings::DeleteKeyTree(key);
  return Done();
}

ArchiveCommandResult DeleteStillPicture(const ArchiveItem& item) {
  if (item.still.empty()) {
    return Invalid();
  }
  const std::string path = ItemPath(item.group, item.input, item.day, item.file, item.still);
  const std::string key = ArchiveIndexKey(item.group, item.input, item.day, item.file, item.still);
  if (path.empty() || key.empty()) {
    return Invalid();
  }
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(path, ec))) {
    return Failed(EISDIR);
  }
  if (!fs::remove(path, ec) && ec) {
    return Failed(ec);
  }
  settings::DeleteKeyTree(key);
  return Done();
}

}  // namespace halvard::archive
