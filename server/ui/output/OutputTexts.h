#pragma once
/// Numbered texts and command numbers of the output pane. The texts live in the
/// resource module's string table; the widgets read them through a TextSource the main
/// frame gives them (tests give a table of their own).

#include <functional>
#include <string>

#include "platform/base/WinTypes.h"

namespace halvard::ui {

/// The text of a string number; empty when there is none.
using TextSource = std::function<std::string(unsigned id)>;

/// Reads a text through a source that may be empty.
[[nodiscard]] inline std::string TextOf(const TextSource& texts, unsigned id) { return texts ? texts(id) : std::string(); }

inline constexpr unsigned kTextMessageLogTab = 2100;        ///< "Messages"
inline constexpr unsigned kTextEventMatrixTab = 2101;       ///< "Event Matrix"
inline constexpr unsigned kTextMenuProperties = 2102;       ///< "Properties"
inline constexpr unsigned kTextMenuReload = 2103;           ///< "Event Matrix Reload"
inline constexpr unsigned kTextPropertiesTitle = 2104;      ///< "Event Matrix Properties"
inline constexpr unsigned kTextResolutionChoice = 2105;     ///< "%02d minutes"
inline constexpr unsigned kTextOk = 2106;                   ///< "OK"
inline constexpr unsigned kTextCancel = 2107;               ///< "Cancel"
inline constexpr unsigned kTextRecordingNotFound = 2108;    ///< no recording for the moment
inline constexpr unsigned kTextRecordingCannotOpen = 2109;  ///< the recording does not open
inline constexpr unsigned kTextPropertiesPrompt = 2110;     ///< status-bar prompt of "Properties"
inline constexpr unsigned kTextReloadPrompt = 2111;         ///< "Reload Event Matrix" (prompt of the menu item)
inline constexpr unsigned kTextResolutionLabel = 2112;      ///< "Time resolution of one cell:"

/// "Reload Event Matrix": posted by the archive clean-up, also a menu command.
inline constexpr UINT kCommandReloadEventMatrix = 32881;

}  // namespace halvard::ui
