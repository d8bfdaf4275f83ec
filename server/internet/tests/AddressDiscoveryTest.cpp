#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "server/internet/AddressDiscovery.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace halvard::internet {
namespace {

TEST(PrivateAddressTest, PrivateRangesAndTheirNeighbours) {
  for (const char* address : {"10.0.0.2", "10.255.255.255", "172.16.0.1", "172.31.255.1", "192.168.1.5",
                              "169.254.3.4"}) {
    EXPECT_TRUE(IsPrivateAddress(address)) << address;
  }
  for (const char* address : {"172.15.0.1", "172.32.0.1", "169.253.0.1", "169.255.0.1", "192.167.1.1",
                              "192.169.0.1", "11.0.0.1", "9.255.255.255", "85.1.2.3", "127.0.0.1"}) {
    EXPECT_FALSE(IsPrivateAddress(address)) << address;
  }
}

TEST(PrivateAddressTest, OnlyTheFirstTwoNumbersMatterAndNonsenseIsPublic) {
  EXPECT_TRUE(IsPrivateAddress("192.168"));
  EXPECT_TRUE(IsPrivateAddress("10.1.x.y"));
  EXPECT_FALSE(IsPrivateAddress(""));
  EXPECT_FALSE(IsPrivateAddress("localhost"));
  EXPECT_FALSE(IsPrivateAddress("192"));
  EXPECT_FALSE(IsPrivateAddress("-10.0.0.1"));
  EXPECT_FALSE(IsPrivateAddress("1920.168.0.1"));
}

TEST(AutomaticAddressTest, FirstPublicElseLastElseEmpty) {
  EXPECT_EQ(ChooseAddress({"192.168.1.5", "172.20.0.7", "85.1.2.3"}), "85.1.2.3");
  EXPECT_EQ(ChooseAddress({"192.168.1.5", "85.1.2.3", "86.1.2.3"}), "85.1.2.3");
  EXPECT_EQ(ChooseAddress({"192.168.1.5", "10.0.0.2"}), "10.0.0.2");
  EXPECT_EQ(ChooseAddress({"172.16.0.9"}), "172.16.0.9");
  EXPECT_EQ(ChooseAddress({}), "");
}

TEST(AutomaticAddressTest, LocalListsAreDottedIpv4WithoutLoopback) {
  EXPECT_TRUE(IsLoopbackAddress("127.0.1.1"));
  EXPECT_FALSE(IsLoopbackAddress("128.0.0.1"));
  EXPECT_FALSE(IsLoopbackAddress("1270.0.0.1"));
  for (const std::string& address : InterfaceIpv4()) {
    in_addr parsed{};
    EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
    EXPECT_FALSE(IsLoopbackAddress(address)) << address;
  }
  // "localhost" comes from the hosts file: no name server is asked.
  const std::vector<std::string> local = ResolveIpv4("localhost");
  EXPECT_NE(std::find(local.begin(), local.end(), "127.0.0.1"), local.end());
  EXPECT_TRUE(ResolveIpv4("").empty());
}

TEST(CameraAddressTest, ManualAddressOnlyWhenTheCameraAsksForIt) {
  const halvard::testing::ScopedRegistry registry;
  settings::SetAutomaticAddressProvider([] { return std::string("85.1.2.3"); });
  EXPECT_EQ(CameraAddress("Lobby", "Door"), "85.1.2.3");
  settings::WriteSystemInternetIp("192.168.7.7");
  EXPECT_EQ(CameraAddress("Lobby", "Door"), "85.1.2.3");
  settings::kInternetIpManu.Write("Lobby", "Door", 1);
  EXPECT_EQ(CameraAddress("Lobby", "Door"), "192.168.7.7");
  EXPECT_EQ(CameraAddress("Lobby", "Gate"), "85.1.2.3");
  settings::SetAutomaticAddressProvider(nullptr);
}

}  // namespace
}  // namespace halvard::internet
