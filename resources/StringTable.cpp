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
    {177, " Motion detected."},
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
    {230, "Change the display name of this device. You can choose a friendly name. The new "
          "name must be unique in the group."},
    {232, "Delete the device from the list. If the device is physically connected, it will be discovered when "
          "restarting."},
    {250, "Open or close the video file."},
    {251, "Pause/Continue the video file playback."},
    {252, "Step forward the video frame by frame."},
    {273, "Show video file property."},
    {300, "Show or hide the workspace window"},
    {301, "Show or hide the output window"},
    {324, "The number of camera inputs of this card changed with the resolution. Restart the program to "
          "see every input."},
    // Our own reports of the camera engine (2000 onwards).
    {2000, "Failed to run the graph."},
    {2001, "recording stopped:"},
    {2002, "Removed the archive day to keep free disk space:"},
    {2003, "The archive's disk has less free space than \"Video Free Space Reserve\" and no older recording is "
           "left to remove."},
    {2004, "The capture device stopped delivering pictures; the camera group was stopped:"},
    {2005, "The camera group was stopped: rotation of its recording files failed:"},
    {2006, "Recording file"},
    {2007, "recording again into"},
    {2008, "The name is not allowed: names of camera groups become folder names; use up to 99 characters, "
           "none of \\ / : * ? \" < > |, and not \".\" or \"..\"."},
    {2009, "A camera group of that name already exists."},
    {2010, "the broadcast could not listen on port"},
    {2011, "the sound device is not present; recording with silence instead of"},
    {2020, "network camera offline:"},
    {2021, "network camera back; recording goes on"},
    // The output pane: tabs, menu and dialog texts.
    {2100, "Messages"},
    {2101, "Event Matrix"},
    {2102, "Properties"},
    {2103, "Event Matrix Reload"},
    {2104, "Event Matrix Properties"},
    {2105, "%02d minutes"},
    {2106, "OK"},
    {2107, "Cancel"},
    {2108, "No recording holds this moment:"},
    {2112, "Time resolution of one cell:"},

    // The server's windows: pane and tree texts, menu titles, questions (3000 on), menu labels
    // (3100 on); the prompts of window commands sit at their command numbers.
    {3000, "Ready"},
    {3001, "Workspace"},
    {3002, "Output"},
    {3003, "Cameras"},
    {3004, "Camera Groups"},
    {3005, "Start"},
    {3006, "Stop"},
    {3007, "\nVideo File\nVideo File\nVideo Files "
          "(*.avi;*.qt;*.mov;*.mpg;*.mpeg;*.mlv;*.asf;*.wma;*.wmv)\n.wmv\nVideoFile.Document\nVideo File Document"},
    {3008, "Toolbar"},
    {3010, "&System"},
    {3011, "&View"},
    {3012, "&Window"},
    {3013, "&Help"},
    {3020, "Stop all the cameras and close all recording files?"},
    {3021, "Delete this video folder and everything in it from the hard drive?"},
    {3022, "Delete this video file and all of its still pictures from the hard drive?"},
    {3023, "Delete all of the still pictures of this video file from the hard drive?"},
    {3024, "Delete this still picture from the hard drive?"},
    {3025, "Delete this camera group from the list?"},
    {3026, "Could not delete from the hard drive:"},
    {3027, "Copied to"},
    {3028, "Could not copy:"},
    {3029, "The video file is open for playback. Close it first."},
    {3030, "The video file is not open."},
    {3031, "Could not open the video file:"},
    {3032, "This window is not available in this version yet."},
    {3033, "The desktop could not be locked on this display:"},
    {3034, "New name of the camera group:"},
    {3035, "Archive clean-up removed"},
    {3036, "Halvard Surveillance Server started; its texts come from"},
    {3037, "Closing: stopping every camera group."},
    {3038, "Enter Password:"},
    {3039, "The password is not correct."},
    {3040, "OK"},
    {3041, "Open"},
    {3042, "Signal received; closing as the operator would:"},
    {3043, "Halvard Surveillance Server: records, shows and streams the cameras of this workstation."},
    {3044, "The workstation restarts now, as its reboot schedule asks."},
    {3101, "S&top All Cameras"},
    {3102, "Start/Stop"},
    {3103, "&Start All Cameras"},
    {3104, "&Rename..."},
    {3105, "Delete"},
    {3106, "Pl&ay/Stop"},
    {3107, "&Pause/Play"},
    {3108, "S&tep Forward"},
    {3109, "&Video Property"},
    {3110, "&Workspace"},
    {3111, "&Output"},
    {3112, "Image Enhancement..."},
    {3113, "&Boot Schedule..."},
    {3114, "&Lock Desktop"},
    {3115, "&Windows Lockdown..."},
    {3116, "&Access && Privacy..."},
    {3117, "&Data Capture..."},
    {3118, "&Internet Video Monitoring..."},
    {3119, "&Motion Detection..."},
    {3120, "P&an-Tilt-Zoom..."},
    {3121, "&Video Recording..."},
    {3122, "&Delete From Disk"},
    {3123, "Play Faster"},
    {3124, "Play Slower"},
    {3125, "&Save Current Picture"},
    {3126, "&Copy Video File To..."},
    {3127, "C&opy Still Pictures To..."},
    {3128, "&Delete Video && Still Pictures"},
    {3129, "D&elete Still Pictures"},
    {3130, "&Play"},
    {3131, "P&rint"},
    {3132, "&Copy To..."},
    {3133, "&Delete From Disk"},
    {3134, "&Contents..."},
    {3135, "&Index..."},
    {3136, "&Search..."},
    {3137, "&Arrange Icons"},
    {3138, "&Cascade"},
    {3139, "Tile H&orizontally"},
    {3140, "&Tile Vertically"},
    {3141, "&About Halvard Surveillance Server..."},
    {3142, "E&xit"},
    {3143, "&Toolbar"},
    {3144, "&Status Bar"},
    {3145, "Ima&ge Enhancement..."},
    // Settings dialogs: the buttons and notes they share, and the refusal of a number.
    {4000, "OK"},
    {4001, "Cancel"},
    {4002, "Changes apply when the cameras restart."},
    {4003, "The settings could not be stored; nothing was changed:"},
    {4004, "Bro&wse..."},
    {4010, "%s must be a whole number from %ld to %ld."},
    // "Video Recording", in the order of the dialog.
    {4100, "Video Recording"},
    {4101, "Camera"},
    {4102, "Camera &Name:"},
    {4103, "Recording"},
    {4104, "&Record video of this camera"},
    {4105, "Archive F&older:"},
    {4106, "File &Length:"},
    {4107, "%d minutes"},
    {4108, "&Keep Recordings (days):"},
    {4109, "Video"},
    {4110, "&Bitrate (Kbps):"},
    {4111, "&Frame Rate (frames/s):"},
    {4112, "Key Frame &Interval (seconds):"},
    {4113, "&Quality:"},
    {4114, "Smooth Motion"},
    {4115, "Sharp Image"},
    {4116, "Audio"},
    {4117, "Record a&udio"},
    {4118, "Audio &Source:"},
    {4119, "Sa&mple Rate:"},
    {4120, "%d kHz"},
    {4121, "Audio Bi&trate:"},
    {4122, "%d Kbps"},
    {4123, "Au&dition"},
    {4124, "Default audio input"},
    {4125, "Choose the archive folder"},
    {4126, "The archive folder must be a full path starting with \"/\", of at most 99 characters, without \"..\"."},
    {4127, "The audio encoder offers no format at this sample rate and bitrate. Choose one of the listed bitrates."},
    // "Access & Privacy Control".
    {4200, "Access & Privacy Control"},
    {4201, "Enable or Disable"},
    {4202, "&Enable this input channel. If disabled, other input channels would run faster."},
    {4203, "Hide Camera Window"},
    {4204, "&Hide the video window for this camera at start."},
    {4205, "When checked, the video window for this camera will be minimized at start."},
    // "Motion Detection", in the order of the dialog.
    {4300, "Motion Detection"},
    {4301, "Enable or Disable?"},
    {4302, "&Enable motion detection on this camera."},
    {4303, "Sensitivity"},
    {4304, "Object &Size:"},
    {4305, "Large objects"},
    {4306, "Medium objects"},
    {4307, "Small objects"},
    {4308, "&Brightness Change:"},
    {4309, "Lowest"},
    {4310, "Low"},
    {4311, "Medium"},
    {4312, "High"},
    {4313, "Highest"},
    {4314, "Alarm"},
    {4315, "&Pause After Motion:"},
    {4316, "minute"},
    {4317, "minutes"},
    {4318, "&Quiet Time Before Next Alarm:"},
    {4319, "None"},
    {4320, "Twice the pause"},
    {4321, "Three times the pause"},
    {4322, "Play a so&und:"},
    {4323, "&Test"},
    {4324, "Send an email to:"},
    {4325, "Test"},
    {4326, "Save as event file:"},
    {4327, "Motion Mark"},
    {4328, "Mark &All"},
    {4329, "&Clear All"},
    {4330, "The sound file must be an existing wave file whose path has at most 99 characters."},
    {4331, "Choose the alarm sound"},
    {4332, "Wave Files (*.wav)"},
    {4333, "Click or drag over the picture to mark the blocks to watch; start on a marked block to clear."},
    {4334, "The sound could not be played:"},
    {32849, "Turn on or turn off the Intelligent Detail Enhancement."},
    {32851, "Lock the desktop, which will need password to unlock."},
    {32860, "Delete the video file folder from hard drive."},
    {32863, "Save current video frame to image file.\nSave current video frame to image file"},
    {32866, "Delete the video file and all of the still pictures under this video file."},
    {32867, "Delete all of the still pictures under this video file."},
    {32870, "Open the still picture."},
    {32871, "Print the still picture."},
    {32873, "Delete the still picture from hard drive.\nDelete the still picture from hard drive."},
    {32874, "Display the table of the online help document."},
    {32875, "Display the index of the online help document."},
    {32876, "Search the online help document.\nSearch"},
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
