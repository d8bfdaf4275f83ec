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
    {123, "The camera group is not running. Start it to open the device's property pages."},
    // Document template of the camera windows.
    {129, "\nCamera\nCamera\nCamera (*.cam)\n.cam\nCamera.Document\nCamera Document"},
    // Archive folder moves: 173 <new name> 174, and "<system error text> 175".
    {173, "The archive folder"},
    {174, "already exists. The name was not changed."},
    {175, "The archive folder could not be moved. The name was not changed."},
    {176, "The capture card library already serves another resolution. Restart the program to use this "
          "camera group."},
    {177, "Motion detected."},
    // A group without enabled inputs: 178 <group name> 179.
    {178, "No input of the camera group"},
    {179, "is enabled. The group was not started."},
    // Reports of the capture pipeline (output pane).
    {180, "The capture device of the camera group could not be set up."},
    // Command prompts (status bar text, then the tooltip after "\n").
    {182, "Stop all the cameras and close all recording files.\nStop all the cameras and close all recording files."},
    {183, "Start or stop the device."},
    {184, "The camera streams could not be split."},
    {185, "A camera's recording could not be set up."},
    {186, "A camera's preview could not be set up."},
    {187, "The camera group's graph could not be run."},
    {188, "The capture graph builder could not be created."},
    {189, "The filter graph could not be created."},
    {190, "The capture device could not be added to the graph."},
    {192, "The HD simulation filter could not be added to the graph."},
    {193, "The HD simulation filter could not be created. Is it registered?"},
    {194, "The HD simulation filter does not offer its size interface."},
    {195, "The capture device could not be connected to the HD simulation filter."},
    {196, "The splitter filter could not be created. Is it registered?"},
    {197, "The splitter filter could not be added to the graph."},
    {198, "The splitter filter does not offer its configuration interface."},
    {199, "The HD simulation filter could not be connected to the splitter."},
    {200, "The capture device could not be connected to the splitter."},
    {201, "The motion detection filter could not be created. Is it registered?"},
    {202, "The motion detection filter could not be added to the graph."},
    {203, "The motion detection filter does not offer its parameter interface."},
    {204, "The motion detection filter could not be connected."},
    {205, "The snapshot filter could not be created."},
    {206, "The snapshot filter could not be added to the graph."},
    {207, "The snapshot filter could not be connected."},
    {212, "Start all the cameras.\nStart all the cameras."},
    {228, "The capture device of this camera group is not present."},
    {229, "The filter graph could not be given to the capture graph builder."},
    {232, "Delete the device from the list. If the device is physically connected, it will be discovered when "
          "restarting."},
    {324, "The number of camera inputs of this card changed with the resolution. Restart the program to "
          "see every input."},
    // Our own reports of the camera engine (2000 onwards).
    {2000, "Failed to run the graph."},
    {2001, "recording stopped:"},
    {2002, "Removed the archive day to keep free disk space:"},
    {2003, "The free disk space reserve cannot be met on"},
    {2004, "The capture device stopped delivering pictures; the camera group was stopped:"},
    {2005, "The camera group was stopped: rotation of its recording files failed:"},
    {2006, "Recording file"},
    {2007, "recording again into"},
    {2008, "The name is not allowed: names of camera groups become folder names; use up to 99 characters, "
           "none of \\ / : * ? \" < > |, and not \".\" or \"..\"."},
    {2009, "A camera group of that name already exists."},
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
