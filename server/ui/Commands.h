#pragma once
/// Command identifiers of the server's windows and the numbers of their texts in the
/// resource module. A command's status-bar prompt is the string of the same number
/// (text before "\n"; the tooltip after it); its menu label has a number of its own.
///
/// Numbers other parts post (275 clean-up, 324 motion, 32881 event matrix reload) are
/// fixed; the rest are ours.

#include "platform/base/WinTypes.h"

namespace halvard::ui {

// ---- commands ---------------------------------------------------------------------
inline constexpr UINT kCmdPlayStop = 250;
inline constexpr UINT kCmdPauseContinue = 251;
inline constexpr UINT kCmdStepForward = 252;
inline constexpr UINT kCmdVideoProperty = 273;
inline constexpr UINT kCmdArchiveCleanUp = 275;
inline constexpr UINT kCmdMotion = 324;
inline constexpr UINT kCmdStopAll = 182;
inline constexpr UINT kCmdStartStop = 183;
inline constexpr UINT kCmdStartAll = 212;
inline constexpr UINT kCmdRenameGroup = 230;
inline constexpr UINT kCmdDeleteGroup = 232;
inline constexpr UINT kCmdViewWorkspace = 300;
inline constexpr UINT kCmdViewOutput = 301;
inline constexpr UINT kCmdImageEnhancement = 32849;
inline constexpr UINT kCmdBootSchedule = 32850;
inline constexpr UINT kCmdLockDesktop = 32851;
inline constexpr UINT kCmdWindowsLockdown = 32852;
inline constexpr UINT kCmdAccessPrivacy = 32853;
inline constexpr UINT kCmdDataCapture = 32854;
inline constexpr UINT kCmdInternetMonitoring = 32855;
inline constexpr UINT kCmdMotionDetection = 32856;
inline constexpr UINT kCmdPanTiltZoom = 32857;
inline constexpr UINT kCmdVideoRecording = 32858;
inline constexpr UINT kCmdDeleteDay = 32860;
inline constexpr UINT kCmdPlayFaster = 32861;
inline constexpr UINT kCmdPlaySlower = 32862;
inline constexpr UINT kCmdSavePicture = 32863;
inline constexpr UINT kCmdCopyVideo = 32864;
inline constexpr UINT kCmdCopyStills = 32865;
inline constexpr UINT kCmdDeleteVideoAndStills = 32866;
inline constexpr UINT kCmdDeleteStills = 32867;
inline constexpr UINT kCmdStillPlay = 32870;
inline constexpr UINT kCmdStillPrint = 32871;
inline constexpr UINT kCmdStillCopy = 32872;
inline constexpr UINT kCmdStillDelete = 32873;
inline constexpr UINT kCmdHelpContents = 32874;
inline constexpr UINT kCmdHelpIndex = 32875;
inline constexpr UINT kCmdHelpSearch = 32876;
inline constexpr UINT kCmdReloadEventMatrix = 32881;
inline constexpr UINT kCmdActivateTileVertical = 32939;
inline constexpr UINT kCmdActivateTileHorizontal = 32940;
inline constexpr UINT kCmdWindowArrange = 57648;
inline constexpr UINT kCmdWindowCascade = 57650;
inline constexpr UINT kCmdWindowTileHorizontal = 57651;
inline constexpr UINT kCmdWindowTileVertical = 57652;
inline constexpr UINT kCmdAppAbout = 57664;
inline constexpr UINT kCmdAppExit = 57665;
inline constexpr UINT kCmdViewToolbar = 59392;
inline constexpr UINT kCmdViewStatusBar = 59393;
// The playback window's own commands (what the tree's file and still items post to it).
inline constexpr UINT kCmdPlayerPrint = 276;
inline constexpr UINT kCmdPlayerPlay = 350;
inline constexpr UINT kCmdPlayerPauseContinue = 351;
inline constexpr UINT kCmdPlayerStep = 352;
inline constexpr UINT kCmdPlayerSavePicture = 362;
inline constexpr UINT kCmdPlayerFaster = 32920;
inline constexpr UINT kCmdPlayerSlower = 32925;

// ---- timers of the main frame -------------------------------------------------------
inline constexpr UINT kTimerTour = 1982;
inline constexpr UINT kTimerCleanUp = 1983;
inline constexpr int kCleanUpPeriodMs = 86'400'000;

// ---- texts --------------------------------------------------------------------------
inline constexpr UINT kIdsMainTitle = 120;
inline constexpr UINT kIdsCameraTemplate = 129;
inline constexpr UINT kIdsReady = 3000;
inline constexpr UINT kIdsWorkspaceTitle = 3001;
inline constexpr UINT kIdsOutputTitle = 3002;
inline constexpr UINT kIdsWorkspaceTab = 3003;
inline constexpr UINT kIdsTreeRoot = 3004;
inline constexpr UINT kIdsGroupStart = 3005;  ///< the Start/Stop item of a stopped group
inline constexpr UINT kIdsGroupStop = 3006;   ///< ... of a running group
inline constexpr UINT kIdsVideoFileTemplate = 3007;
inline constexpr UINT kIdsToolbarTitle = 3008;
// Menu titles.
inline constexpr UINT kIdsMenuSystem = 3010;
inline constexpr UINT kIdsMenuView = 3011;
inline constexpr UINT kIdsMenuWindow = 3012;
inline constexpr UINT kIdsMenuHelp = 3013;
// Questions and messages.
inline constexpr UINT kIdsAskStopAll = 3020;
inline constexpr UINT kIdsAskDeleteDay = 3021;
inline constexpr UINT kIdsAskDeleteVideo = 3022;
inline constexpr UINT kIdsAskDeleteStills = 3023;
inline constexpr UINT kIdsAskDeleteStill = 3024;
inline constexpr UINT kIdsAskDeleteGroup = 3025;
inline constexpr UINT kIdsDeleteFailed = 3026;
inline constexpr UINT kIdsCopyDone = 3027;
inline constexpr UINT kIdsCopyFailed = 3028;
inline constexpr UINT kIdsFileOpenForPlayback = 3029;
inline constexpr UINT kIdsFileNotOpen = 3030;
inline constexpr UINT kIdsCannotOpenFile = 3031;
inline constexpr UINT kIdsNotAvailableYet = 3032;
inline constexpr UINT kIdsLockUnavailable = 3033;
inline constexpr UINT kIdsRenameGroupPrompt = 3034;
inline constexpr UINT kIdsCleanUpRemoved = 3035;
inline constexpr UINT kIdsStarted = 3036;
inline constexpr UINT kIdsStopping = 3037;
inline constexpr UINT kIdsEnterPassword = 3038;
inline constexpr UINT kIdsWrongPassword = 3039;
inline constexpr UINT kIdsOk = 3040;
inline constexpr UINT kIdsCopyTargetTitle = 3041;
inline constexpr UINT kIdsSignalClose = 3042;
inline constexpr UINT kIdsAboutText = 3043;

/// The menu label of a command (0 when it has none).
[[nodiscard]] UINT MenuLabelId(UINT command);

}  // namespace halvard::ui
