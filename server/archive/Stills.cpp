#include "server/archive/Stills.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "server/archive/Archive.h"
#include "server/settings/Settings.h"

namespace halvard::archive {

std::string StillPictureName(std::int64_t position) {
  constexpr std::int64_t kUnitsPerMillisecond = 10'000;
  const std::int64_t milliseconds = std::max<std::int64_t>(position, 0) / kUnitsPerMillisecond;
  const std::int64_t seconds = milliseconds / 1000;
  char name[64];
  std::snprintf(name, sizeof name, "%02lld-%02lld-%02lld-%03lld.bmp", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds % 3600 / 60), static_cast<long long>(seconds % 60),
                static_cast<long long>(milliseconds % 1000));
  return name;
}

std::string StillPicturePath(std::string_view recordingPath, std::string_view stillName) {
  const std::string folder = StillFolderOf(recordingPath);
  if (folder.empty() || !IsSafeName(stillName)) {
    return {};
  }
  return folder + "/" + std::string(stillName);
}

bool RegisterStillPicture(std::string_view group, std::string_view input, std::string_view day,
                          std::string_view file, std::string_view still) {
  if (!IsSafeName(day) || !IsSafeName(file) || !IsSafeName(still)) {
    return false;
  }
  const std::string key = ArchiveIndexKey(group, input, day, file, still);
  if (key.empty()) {
    return false;
  }
  settings::CreateKey(key);
  return true;
}

bool IsStillPicturePath(std::string_view path) {
  constexpr std::string_view kExtension = ".bmp";
  if (path.size() <= kExtension.size()) {
    return false;
  }
  const std::string_view tail = path.substr(path.size() - kExtension.size());
  return std::equal(tail.begin(), tail.end(), kExtension.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

}  // namespace halvard::archive
