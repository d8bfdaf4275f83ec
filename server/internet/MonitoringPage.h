#pragma once
/// The logic behind the per-camera "Internet Video Monitoring" settings page: the
/// directory server list and the checks of its OK button. The page itself binds these
/// to its controls.

#include <string>
#include <string_view>
#include <vector>

namespace halvard::internet {

/// The shortest publication note accepted when the camera is published, in characters.
inline constexpr std::size_t kMinBroadcastNoteChars = 4;

/// The non-empty "Internet Server 00" to "03" host names, in slot order.
[[nodiscard]] std::vector<std::string> ListDirectoryServers();

/// Stores `host` in the first empty slot. False, with nothing stored, when the host is
/// empty or all four slots are taken.
[[nodiscard]] bool AddDirectoryServer(std::string_view host);

/// Empties the first slot holding exactly `host`. False when no slot holds it.
[[nodiscard]] bool RemoveDirectoryServer(std::string_view host);

/// Writes the default host name of every slot.
void ResetDirectoryServers();

/// Whether a note may be stored with publishing on: at least kMinBroadcastNoteChars
/// characters (UTF-16 units, as the design counts them).
[[nodiscard]] bool IsBroadcastNoteLongEnough(std::string_view note);

}  // namespace halvard::internet
