#pragma once
/// The values stored by the "Pan-Tilt-Zoom" dialog's OK (the switch, the serial link
/// and the image-adjustment modes) and the writes of those that changed. Presets and
/// tours are stored at once by their own buttons, through ptz's settings page logic.
///
/// Threads: the user-interface thread.

#include <string>

#include "server/ptz/PtzSettingsPage.h"
#include "server/ui/dialogs/SettingsChanges.h"

namespace halvard::ui::dialogs {

/// Baud rates behind the "PTZ bpp" index.
inline constexpr int kPtzBaudRates[] = {1200, 2400, 4800, 9600, 19200};
/// Addresses a head may have.
inline constexpr int kPtzAddresses = 256;

class CPanTiltZoomPage {
 public:
  /// Reads the stored values (defaults where nothing is stored).
  CPanTiltZoomPage(std::string group, std::string input);
  [[nodiscard]] const std::string& Group() const { return m_group; }
  [[nodiscard]] const std::string& Input() const { return m_input; }
  [[nodiscard]] const ptz::PtzPageSettings& Stored() const { return m_stored; }
  /// The writes of the values that differ from the stored ones.
  [[nodiscard]] CSettingsChanges Changes(const ptz::PtzPageSettings& values) const;

 private:
  std::string m_group;
  std::string m_input;
  ptz::PtzPageSettings m_stored;
};

}  // namespace halvard::ui::dialogs
