#include "server/internet/AddressDiscovery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

#include "server/settings/Settings.h"

namespace halvard::internet {
namespace {

/// The host-name buffer of the design: 80 characters with the terminator.
constexpr std::size_t kHostNameBufferChars = 80;

/// Reads one decimal number at `pos` and moves past it; nullopt when there is none.
std::optional<long> ReadNumber(std::string_view text, std::size_t& pos) {
  long value = 0;
  const char* begin = text.data() + pos;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc{} || ptr == begin) {
    return std::nullopt;
  }
  pos += static_cast<std::size_t>(ptr - begin);
  return value;
}

std::string ToDotted(const in_addr& address) {
  std::array<char, INET_ADDRSTRLEN> text{};
  if (inet_ntop(AF_INET, &address, text.data(), text.size()) == nullptr) {
    return {};
  }
  return text.data();
}

void AppendUnique(std::vector<std::string>& list, std::string address) {
  if (!address.empty() && std::find(list.begin(), list.end(), address) == list.end()) {
    list.push_back(std::move(address));
  }
}

}  // namespace

bool IsPrivateAddress(std::string_view address) {
  std::size_t pos = 0;
  const std::optional<long> first = ReadNumber(address, pos);
  if (!first || pos >= address.size() || address[pos] != '.') {
    return false;
  }
  ++pos;
  const std::optional<long> second = ReadNumber(address, pos);
  if (!second) {
    return false;
  }
  const long a = *first;
  const long b = *second;
  return a == 10 || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168) || (a == 169 && b == 254);
}

std::string ChooseAddress(const std::vector<std::string>& addresses) {
  for (const std::string& address : addresses) {
    if (!IsPrivateAddress(address)) {
      return address;
    }
  }
  return addresses.empty() ? std::string() : addresses.back();
}

bool IsLoopbackAddress(std::string_view address) {
  std::size_t pos = 0;
  const std::optional<long> first = ReadNumber(address, pos);
  return first && *first == 127 && pos < address.size() && address[pos] == '.';
}

std::vector<std::string> ResolveIpv4(const std::string& hostName) {
  std::vector<std::string> result;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address rather than one per socket type
  addrinfo* list = nullptr;
  if (hostName.empty() || getaddrinfo(hostName.c_str(), nullptr, &hints, &list) != 0) {
    return result;
  }
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      AppendUnique(result, ToDotted(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr));
    }
  }
  freeaddrinfo(list);
  return result;
}

std::vector<std::string> InterfaceIpv4() {
  std::vector<std::string> result;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    return result;
  }
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || (entry->ifa_flags & IFF_UP) == 0 ||
        (entry->ifa_flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    std::string address = ToDotted(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr);
    if (!IsLoopbackAddress(address)) {
      AppendUnique(result, std::move(address));
    }
  }
  freeifaddrs(list);
  return result;
}

std::vector<std::string> WorkstationAddresses() {
  std::array<char, kHostNameBufferChars> name{};
  std::vector<std::string> result;
  if (gethostname(name.data(), name.size() - 1) == 0) {
    for (std::string& address : ResolveIpv4(name.data())) {
      if (!IsLoopbackAddress(address)) {
        result.push_back(std::move(address));
      }
    }
  }
  if (result.empty()) {
    result = InterfaceIpv4();
  }
  return result;
}

std::string AutomaticAddress() { return ChooseAddress(WorkstationAddresses()); }

void InstallAutomaticAddressProvider() { settings::SetAutomaticAddressProvider([] { return AutomaticAddress(); }); }

std::string CameraAddress(std::string_view group, std::string_view camera) {
  return settings::ReadInternetIp(group, camera);
}

}  // namespace halvard::internet
