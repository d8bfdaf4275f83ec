#include "server/ui/Commands.h"

#include <algorithm>
#include <iterator>

namespace halvard::ui {

namespace {

struct LabelEntry {
  UINT command;
  UINT label;
};

// Menu labels live at 3100 onwards in the resource module, in command order.
constexpr LabelEntry kLabels[] = {
    {kCmdStopAll, 3101},
    {kCmdStartStop, 3102},
    {kCmdStartAll, 3103},
    {kCmdRenameGroup, 3104},
    {kCmdDeleteGroup, 3105},
    {kCmdPlayStop, 3106},
    {kCmdPauseContinue, 3107},
    {kCmdStepForward, 3108},
    {kCmdVideoProperty, 3109},
    {kCmdViewWorkspace, 3110},
    {kCmdViewOutput, 3111},
    {kCmdImageEnhancement, 3112},
    {kCmdBootSchedule, 3113},
    {kCmdLockDesktop, 3114},
    {kCmdWindowsLockdown, 3115},
    {kCmdAccessPrivacy, 3116},
    {kCmdDataCapture, 3117},
    {kCmdInternetMonitoring, 3118},
    {kCmdMotionDetection, 3119},
    {kCmdPanTiltZoom, 3120},
    {kCmdVideoRecording, 3121},
    {kCmdDeleteDay, 3122},
    {kCmdPlayFaster, 3123},
    {kCmdPlaySlower, 3124},
    {kCmdSavePicture, 3125},
    {kCmdCopyVideo, 3126},
    {kCmdCopyStills, 3127},
    {kCmdDeleteVideoAndStills, 3128},
    {kCmdDeleteStills, 3129},
    {kCmdStillPlay, 3130},
    {kCmdStillPrint, 3131},
    {kCmdStillCopy, 3132},
    {kCmdStillDelete, 3133},
    {kCmdHelpContents, 3134},
    {kCmdHelpIndex, 3135},
    {kCmdHelpSearch, 3136},
    {kCmdWindowArrange, 3137},
    {kCmdWindowCascade, 3138},
    {kCmdWindowTileHorizontal, 3139},
    {kCmdWindowTileVertical, 3140},
    {kCmdAppAbout, 3141},
    {kCmdAppExit, 3142},
    {kCmdViewToolbar, 3143},
    {kCmdViewStatusBar, 3144},
};

}  // namespace

UINT MenuLabelId(UINT command) {
  const auto* it = std::find_if(std::begin(kLabels), std::end(kLabels),
                                [command](const LabelEntry& e) { return e.command == command; });
  return it != std::end(kLabels) ? it->label : 0;
}

}  // namespace halvard::ui
