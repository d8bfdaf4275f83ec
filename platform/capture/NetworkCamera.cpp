#include "platform/capture/NetworkCamera.h"

#include <cctype>
#include <cstdio>

#include "platform/base/Text.h"
#include "platform/registry/Registry.h"

namespace halvard::capture {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// End of the authority part that starts at `from`.
std::size_t AuthorityEnd(std::string_view text, std::size_t from) {
  const std::size_t end = text.find_first_of("/?#", from);
  return end == std::string_view::npos ? text.size() : end;
}

}  // namespace

std::vector<NetworkCameraConfig> ReadNetworkCameras() {
  std::vector<NetworkCameraConfig> cameras;
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kNetworkCamerasPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return cameras;
  }
  for (DWORD index = 0;; ++index) {
    std::string name;
    DWORD type = 0;
    DWORD size = 0;
    LONG rc = RegEnumValue(key, index, &name, &type, nullptr, &size);
    if (rc == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (rc != ERROR_SUCCESS || type != REG_SZ || name.empty() || size == 0) {
      continue;
    }
    std::vector<BYTE> data(size);
    if (RegQueryValueEx(key, name, &type, data.data(), &size) != ERROR_SUCCESS || type != REG_SZ) {
      continue;
    }
    std::string url = text::FromWideBytes(data.data(), size);
    while (!url.empty() && std::isspace(static_cast<unsigned char>(url.back())) != 0) {
      url.pop_back();
    }
    if (!url.empty()) {
      cameras.push_back({std::move(name), std::move(url)});
    }
  }
  (void)RegCloseKey(key);
  return cameras;
}

std::optional<NetworkAddress> ParseNetworkAddress(std::string_view url) {
  const std::size_t sep = url.find("://");
  if (sep == std::string_view::npos) {
    return std::nullopt;
  }
  NetworkAddress a;
  a.scheme = Lower(url.substr(0, sep));
  if (a.scheme != "rtsp" && a.scheme != "rtsps" && a.scheme != "http" && a.scheme != "https") {
    return std::nullopt;
  }
  const std::size_t hostStart = sep + 3;
  const std::size_t end = AuthorityEnd(url, hostStart);
  std::string_view authority = url.substr(hostStart, end - hostStart);
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  if (authority.empty() || authority.front() == ':') {
    return std::nullopt;
  }
  // Control characters would reach the request line of the camera's protocol.
  for (const char c : url) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return std::nullopt;
    }
  }
  std::string_view open = url;
  if (const std::size_t hash = url.find('#', end); hash != std::string_view::npos) {
    a.rtspOverUdp = Lower(url.substr(hash + 1)) == "udp";
    open = url.substr(0, hash);
  }
  a.openUrl = std::string(open);
  return a;
}

std::string MaskUrl(std::string_view text) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t sep = text.find("://", pos);
    if (sep == std::string_view::npos) {
      break;
    }
    const std::size_t start = sep + 3;
    // An address inside text ends at white space or a quote as well.
    std::size_t end = AuthorityEnd(text, start);
    const std::size_t stop = text.find_first_of(" \t\r\n'\"<>", start);
    if (stop != std::string_view::npos && stop < end) {
      end = stop;
    }
    const std::string_view authority = text.substr(start, end - start);
    const std::size_t at = authority.rfind('@');
    out.append(text.substr(pos, start - pos));
    if (at != std::string_view::npos) {
      const std::string_view user = authority.substr(0, at);
      if (const std::size_t colon = user.find(':'); colon != std::string_view::npos) {
        out.append(user.substr(0, colon + 1));
      }
      out.append("***");
      out.append(authority.substr(at));
    } else {
      out.append(authority);
    }
    pos = end;
  }
  out.append(text.substr(pos));
  return out;
}

std::string NetworkFailureText(HRESULT failure) {
  switch (failure) {
    case kNetUnreachable:
      return "the camera cannot be reached (connection refused, host unreachable or no answer)";
    case kNetUnauthorized:
      return "the camera refused the user name or password";
    case kNetNoVideo:
      return "the camera's stream holds no video";
    case kNetBadScheme:
      return "the address does not start with rtsp://, rtsps://, http:// or https://";
    case kNetBadStream:
      return "the camera sends data that cannot be decoded";
    case kNetStreamLost:
      return "the camera stopped sending pictures";
    case kNetNotFound:
      return "the camera has no stream at that address";
    default: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "error 0x%08X", static_cast<unsigned>(failure));
      return buffer;
    }
  }
}

}  // namespace halvard::capture
