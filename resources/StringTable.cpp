// The numbered string table of the English resource module.
//
// One entry per string: { number, "text" }, sorted by number (checked when compiling).
// Texts are UTF-8; "\n" separates a command's status-bar prompt from its tooltip and
// the fields of a document template string. Add strings in number order.

#include <algorithm>
#include <iterator>

#include "resources/ZelRes.h"

namespace {

struct ResourceString {
  UINT id;
  const char* text;
};

constexpr ResourceString kStrings[] = {
    // Main frame: the window title.
    {120, "Halvard Surveillance Server"},
    // Messages of the camera roster.
    {122, "The input name is invalid or is already used by another input of this camera group."},
    // Document template of the camera windows.
    {129, "\nCamera\nCamera\nCamera (*.cam)\n.cam\nCamera.Document\nCamera Document"},
    // Archive folder moves: 173 <new name> 174, and "<system error text> 175".
    {173, "The archive folder"},
    {174, "already exists. The name was not changed."},
    {175, "The archive folder could not be moved. The name was not changed."},
    {176, "The capture card library already serves another resolution. Restart the program to use this "
          "camera group."},
    // A group without enabled inputs: 178 <group name> 179.
    {178, "No input of the camera group"},
    {179, "is enabled. The group was not started."},
    // Command prompts (status bar text, then the tooltip after "\n").
    {182, "Stop all the cameras and close all recording files.\nStop all the cameras and close all recording files."},
    {183, "Start or stop the device."},
    {212, "Start all the cameras.\nStart all the cameras."},
    {232, "Delete the device from the list. If the device is physically connected, it will be discovered when "
          "restarting."},
};

constexpr bool IsSortedAndUnique() {
  for (std::size_t i = 1; i < std::size(kStrings); ++i) {
    if (kStrings[i - 1].id >= kStrings[i].id) {
      return false;
    }
  }
  return true;
}
static_assert(IsSortedAndUnique(), "keep the string table sorted by number, each number once");

}  // namespace

extern "C" UINT ZelResInterfaceVersion() { return kZelResInterfaceVersion; }

extern "C" const char* ZelResLoadString(UINT id) {
  const auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                   [](const ResourceString& s, UINT wanted) { return s.id < wanted; });
  return it != std::end(kStrings) && it->id == id ? it->text : nullptr;
}
