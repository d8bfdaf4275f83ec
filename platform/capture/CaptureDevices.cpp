#include "platform/capture/CaptureDevices.h"

#include <cstdlib>
#include <map>

#include "platform/capture/CardState.h"
#include "platform/capture/NetworkCamera.h"
#include "platform/capture/V4l2Device.h"

namespace halvard::capture {

int SimulatedCardCount() {
  const char* env = std::getenv("HALVARD_SIMULATED_CARDS");
  if (env == nullptr || *env == '\0') {
    return 0;
  }
  char* end = nullptr;
  const long n = std::strtol(env, &end, 10);
  if (*end != '\0' || n < 0) {
    return 0;
  }
  return n > kMaxCards ? kMaxCards : static_cast<int>(n);
}

std::string CardName(int card) {
  const char c = card < 10 ? static_cast<char>('0' + card) : static_cast<char>('A' + card - 10);
  return std::string("BT878 Capture ") + c;
}

std::vector<CaptureDevice> EnumerateCaptureDevices() {
  std::vector<CaptureDevice> devices;
  const int simulated = SimulatedCardCount();
  for (int i = 0; i < simulated; ++i) {
    devices.push_back({CardName(i), "simulated:" + std::string(1, CardName(i).back()), DeviceKind::Simulated, i, {}});
  }
  int nextCard = simulated;
  std::map<std::string, int> nameCount;
  std::map<std::string, int> pathCount;
  for (const V4l2DeviceInfo& info : EnumerateV4l2Devices()) {
    CaptureDevice d;
    d.kind = DeviceKind::V4l2;
    d.node = info.node;
    if (info.driver == "bttv" && nextCard < kMaxCards) {
      d.card = nextCard++;
      d.friendlyName = CardName(d.card);
    } else {
      d.friendlyName = info.card.empty() ? info.driver : info.card;
    }
    if (const int n = ++nameCount[d.friendlyName]; n > 1) {
      d.friendlyName += " #" + std::to_string(n);
    }
    d.devicePath = "v4l2:" + info.driver + ":" + (info.busInfo.empty() ? info.node : info.busInfo);
    if (const int n = ++pathCount[d.devicePath]; n > 1) {
      d.devicePath += "#" + std::to_string(n);
    }
    devices.push_back(std::move(d));
  }
  for (const NetworkCameraConfig& camera : ReadNetworkCameras()) {
    CaptureDevice d;
    d.kind = DeviceKind::Network;
    d.card = -1;
    d.url = camera.url;
    d.devicePath = std::string(kNetworkDevicePrefix) + camera.name;
    d.friendlyName = camera.name;
    for (std::size_t at = d.friendlyName.find("BT878"); at != std::string::npos;
         at = d.friendlyName.find("BT878", at)) {
      d.friendlyName.replace(at, 5, "BT-878");
    }
    if (const int n = ++nameCount[d.friendlyName]; n > 1) {
      d.friendlyName += " #" + std::to_string(n);
    }
    devices.push_back(std::move(d));
  }
  return devices;
}

}  // namespace halvard::capture
