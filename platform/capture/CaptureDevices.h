#pragma once
/// The video capture devices of this machine as the device enumerator lists them:
/// first the simulated cards ($HALVARD_SIMULATED_CARDS = N gives N of them), then the
/// V4L2 capture nodes, then the network cameras of the store (NetworkCamera.h).
///
/// Names. A simulated card and a V4L2 card of the "bttv" driver (the BT878 family) are
/// called "BT878 Capture <c>", where <c> is the card number's character ('0' ... '9',
/// then 'A', 'B', ...): the name from which the camera roster derives the card number
/// that the card library takes. Real BT878 cards are numbered after the simulated ones.
/// Other devices carry the driver's board name; when two devices have the same name
/// the second and later get " #2", " #3", ... so that every name is unique.
///
/// Device paths (the stable identity of a device): "simulated:<c>" for a simulated
/// card, "v4l2:<driver>:<bus>" for a V4L2 node, with "#<n>" appended for the n-th
/// further capture node of the same board, "network:<name>" for a network camera.
///
/// A network camera is named by its value's name. A name holding "BT878" would make the
/// roster take it for a card of the card library; such a name is listed with "BT878"
/// replaced by "BT-878". A name already taken gets " #2", ... as above.

#include <string>
#include <string_view>
#include <vector>

#include "platform/capture/CaptureFormats.h"

namespace halvard::capture {

enum class DeviceKind { Simulated, V4l2, Network };

/// The device path of a network camera starts with this.
inline constexpr std::string_view kNetworkDevicePrefix = "network:";
/// Whether a device path names a network camera (which the card library never serves).
[[nodiscard]] inline bool IsNetworkDevicePath(std::string_view devicePath) {
  return devicePath.starts_with(kNetworkDevicePrefix);
}

struct CaptureDevice {
  std::string friendlyName;
  std::string devicePath;
  DeviceKind kind = DeviceKind::Simulated;
  int card = -1;       ///< card library number; -1 for a device the library does not serve
  std::string node;    ///< V4L2 node ("/dev/video0"); empty for a simulated card
  std::string url;     ///< a network camera's address, with its credentials; else empty
};

/// $HALVARD_SIMULATED_CARDS as a number, limited to 0 ... 16 (anything else reads 0).
[[nodiscard]] int SimulatedCardCount();

/// "BT878 Capture <c>" for card number n (0 ... 35).
[[nodiscard]] std::string CardName(int card);

/// Every video capture device, in listing order. Threads: any.
[[nodiscard]] std::vector<CaptureDevice> EnumerateCaptureDevices();

}  // namespace halvard::capture
