#pragma once
/// The values of a camera's "Data Capture" dialog: the group's video standard,
/// resolution, colour depth and HD simulation level, and the camera's eight day and
/// night picture controls (0 .. 10000).
///
/// Threads: the user-interface thread.

#include <array>
#include <memory>
#include <string>

#include "platform/base/WinTypes.h"
#include "server/ui/dialogs/SettingsChanges.h"

namespace halvard::ui::dialogs {

/// The picture controls in the dialog's order: day brightness, contrast, saturation,
/// hue, then the same at night.
inline constexpr int kPictureControlCount = 8;

struct CaptureValues {
  DWORD standardIndex = 1;    ///< "Data Format" (group)
  DWORD resolutionIndex = 0;  ///< "Data Resolution" (group)
  DWORD colorIndex = 0;       ///< "Data Color" (group)
  DWORD hdLevel = 0;          ///< "Card HD Simulation Level" (group), 0 .. 2
  std::array<DWORD, kPictureControlCount> picture{5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000};
};

inline constexpr DWORD kMaxHdLevel = 2;
inline constexpr DWORD kMaxPictureValue = 10000;

class CCapturePage {
 public:
  CCapturePage(std::string group, std::string input);
  [[nodiscard]] const std::string& Group() const { return m_group; }
  [[nodiscard]] const std::string& Input() const { return m_input; }
  [[nodiscard]] const CaptureValues& Stored() const { return m_stored; }
  /// The writes of what changed. A chosen standard also records that the operator chose
  /// one ("Data Format Option"). A new resolution applies the channel-count rule of a
  /// multiplexing card inside the same transaction; `*inputCountChanged` tells afterwards
  /// whether the stored input count changed (the caller shows message 324).
  [[nodiscard]] CSettingsChanges Changes(const CaptureValues& values, std::shared_ptr<bool> inputCountChanged) const;

 private:
  std::string m_group;
  std::string m_input;
  CaptureValues m_stored;
};

}  // namespace halvard::ui::dialogs
