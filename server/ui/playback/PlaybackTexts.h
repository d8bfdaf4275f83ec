#pragma once
/// Numbers of the texts of the playback windows, the still pictures and the file
/// property dialog in the resource module.

#include "platform/base/WinTypes.h"

namespace halvard::ui::playback {

inline constexpr UINT kIdsNoGraphBuilder = 3600;
inline constexpr UINT kIdsNoFilterGraph = 3601;
inline constexpr UINT kIdsSourceNotConnected = 3602;
inline constexpr UINT kIdsOpenFileFailed = 3603;  ///< "%s failed with error %d: %s"
inline constexpr UINT kIdsErrorTitle = 3604;  ///< the title of the open failure
inline constexpr UINT kIdsSaveFailed = 3605;
inline constexpr UINT kIdsPrintFailed = 3606;
inline constexpr UINT kIdsPrintHeading = 3607;
// The "Video File Property" dialog.
inline constexpr UINT kIdsPropertyTitle = 3610;
inline constexpr UINT kIdsPropertyFile = 3611;
inline constexpr UINT kIdsPropertyWidth = 3612;
inline constexpr UINT kIdsPropertyHeight = 3613;
inline constexpr UINT kIdsPropertyLength = 3614;
inline constexpr UINT kIdsPropertyBitrate = 3615;
inline constexpr UINT kIdsPropertyFrameRate = 3616;
inline constexpr UINT kIdsPropertyFrameNumber = 3617;
inline constexpr UINT kIdsPropertyNote = 3618;
inline constexpr UINT kIdsPropertyClose = 3619;

}  // namespace halvard::ui::playback
