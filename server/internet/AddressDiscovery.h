#pragma once
/// The address under which the workstation's cameras are published: the automatic
/// address (first public IPv4 address of the workstation), the private-address test,
/// and the address of one camera.

#include <string>
#include <string_view>
#include <vector>

namespace halvard::internet {

/// True for 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16 and 169.254.0.0/16. The text is
/// read as four dot-separated decimal numbers of which only the first two matter; text
/// that does not start with two such numbers is not private.
[[nodiscard]] bool IsPrivateAddress(std::string_view address);

/// The published choice from an address list: the first address that is not private;
/// when every address is private the last one; "" for an empty list.
[[nodiscard]] std::string ChooseAddress(const std::vector<std::string>& addresses);

/// True for 127.0.0.0/8 in dotted decimal text.
[[nodiscard]] bool IsLoopbackAddress(std::string_view address);

/// The IPv4 addresses a host name resolves to, in resolver order, dotted decimal,
/// without repeats. Empty when the name does not resolve. The look-up may query the
/// configured name servers.
[[nodiscard]] std::vector<std::string> ResolveIpv4(const std::string& hostName);

/// The IPv4 addresses of the workstation's interfaces that are up, in interface order,
/// loopback excluded, without repeats. Purely local.
[[nodiscard]] std::vector<std::string> InterfaceIpv4();

/// The workstation's addresses, as the settings page lists them: the host name (at most
/// 79 characters, as the name buffer allows) resolved, loopback addresses left out;
/// when that leaves nothing, the interface addresses. A resolver that maps the host name
/// to loopback only, as many Linux installations do, would otherwise publish an address
/// no remote viewer can reach.
[[nodiscard]] std::vector<std::string> WorkstationAddresses();

/// ChooseAddress(WorkstationAddresses()): "" when the host has no address at all.
[[nodiscard]] std::string AutomaticAddress();

/// Installs AutomaticAddress as the settings store's automatic address provider, so
/// that "Internet IP" and every camera address use it. Called once at start-up.
void InstallAutomaticAddressProvider();

/// The address published for a camera: "Internet IP" when the camera's "Internet IP
/// Manu" is set (with the automatic address as its default), else the automatic address.
[[nodiscard]] std::string CameraAddress(std::string_view group, std::string_view camera);

}  // namespace halvard::internet
