#include <gtest/gtest.h>

#include <algorithm>

#include "platform/com/ComRegistration.h"
#include "platform/com/tests/ComTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using halvard::com::EnumerateRegisteredFilters;
using halvard::com::FormatGuid;
using halvard::com::kLegacyFilterCategory;
using halvard::com::PinDirection;
using halvard::com::ReadFilterRegistration;
using halvard::com::RegisteredFilter;
using halvard::com::RegisterFilter;
using halvard::com::UnregisterFilter;
using halvard::comtest::Canonical;
using halvard::comtest::KeyExists;
using halvard::comtest::ReadSz;
using halvard::testing::ScopedRegistry;

HALVARD_DEFINE_GUID(kSplitterLike, 0xB1C4CADD, 0x7820, 0x4434, 0x8D, 0xA1, 0x91, 0x77, 0xF1, 0x10, 0xED, 0xA1);
HALVARD_DEFINE_GUID(kScalerLike, 0x3115AB6A, 0x7174, 0x4DE4, 0x82, 0x6A, 0x0A, 0x31, 0x74, 0x16, 0xB2, 0x77);
HALVARD_DEFINE_GUID(kVideo, 0x73646976, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
HALVARD_DEFINE_GUID(kYuy2, 0x32595559, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
HALVARD_DEFINE_GUID(kRgb24, 0xE436EB7D, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

const AMOVIESETUP_MEDIATYPE kAnyType[] = {{&GUID_NULL, &GUID_NULL}};
const AMOVIESETUP_PIN kSplitterPins[] = {
    {"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kAnyType},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kAnyType},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kAnyType},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kAnyType},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kAnyType},
};
const AMOVIESETUP_FILTER kSplitter = {&kSplitterLike, "ZEL Splitter", MERIT_DO_NOT_USE, 5, kSplitterPins};

const void* Self() { return reinterpret_cast<const void*>(&Self); }

TEST(FilterRegistration, WritesTheDocumentedKeysAndReadsThemBack) {
  const ScopedRegistry registry;
  ASSERT_EQ(RegisterFilter(kSplitter, Self()), S_OK);

  const std::string classKey = "CLSID\\" + FormatGuid(kSplitterLike);
  EXPECT_EQ(ReadSz(classKey, ""), "ZEL Splitter");
  EXPECT_EQ(ReadSz(classKey + "\\InprocServer32", "ThreadingModel"), "Both");
  EXPECT_EQ(Canonical(ReadSz(classKey + "\\InprocServer32", "")), Canonical("/proc/self/exe"));
  EXPECT_EQ(ReadSz(classKey + "\\Pins\\000", "Name"), "Input");
  EXPECT_EQ(ReadSz(classKey + "\\Pins\\004", "Name"), "Output");
  EXPECT_TRUE(KeyExists(classKey + "\\Pins\\001\\Types\\" + FormatGuid(GUID_NULL) + "\\" + FormatGuid(GUID_NULL)));
  const std::string instanceKey =
      "CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\" + FormatGuid(kSplitterLike);
  EXPECT_EQ(ReadSz(instanceKey, "FriendlyName"), "ZEL Splitter");
  EXPECT_EQ(ReadSz(instanceKey, "CLSID"), FormatGuid(kSplitterLike));

  RegisteredFilter filter;
  ASSERT_EQ(ReadFilterRegistration(kSplitterLike, &filter), S_OK);
  EXPECT_EQ(filter.clsid, kSplitterLike);
  EXPECT_EQ(filter.name, "ZEL Splitter");
  EXPECT_EQ(filter.merit, MERIT_DO_NOT_USE);
  ASSERT_EQ(filter.pins.size(), 5u);  // all four "Output" pins survive
  EXPECT_EQ(filter.pins[0].name, "Input");
  EXPECT_EQ(filter.pins[0].direction, PinDirection::Input);
  for (std::size_t i = 1; i < 5; ++i) {
    EXPECT_EQ(filter.pins[i].name, "Output");
    EXPECT_EQ(filter.pins[i].direction, PinDirection::Output);
    EXPECT_FALSE(filter.pins[i].allowedMany);
    EXPECT_FALSE(filter.pins[i].allowedZero);
    EXPECT_FALSE(filter.pins[i].rendered);
    ASSERT_EQ(filter.pins[i].mediaTypes.size(), 1u);
    EXPECT_EQ(filter.pins[i].mediaTypes[0].majorType, GUID_NULL);
    EXPECT_EQ(filter.pins[i].mediaTypes[0].minorType, GUID_NULL);
  }
}

TEST(FilterRegistration, FlagsTypesAndConnectionHintsRoundTrip) {
  const ScopedRegistry registry;
  const AMOVIESETUP_MEDIATYPE inputTypes[] = {{&kVideo, &kYuy2}, {&kVideo, &kRgb24}, {&kVideo, nullptr}};
  const AMOVIESETUP_PIN pins[] = {
      {"In\\put é", TRUE, FALSE, TRUE, TRUE, &kSplitterLike, "Output", 3, inputTypes},
      {"Output", FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 0, nullptr},
  };
  const AMOVIESETUP_FILTER scaler = {&kScalerLike, "ZelHDSimulation", MERIT_NORMAL + 1, 2, pins};
  ASSERT_EQ(RegisterFilter(scaler, Self()), S_OK);

  RegisteredFilter filter;
  ASSERT_EQ(ReadFilterRegistration(kScalerLike, &filter), S_OK);
  EXPECT_EQ(filter.merit, MERIT_NORMAL + 1);
  ASSERT_EQ(filter.pins.size(), 2u);
  const auto& in = filter.pins[0];
  EXPECT_EQ(in.name, "In\\put é");  // a backslash cannot be a key name, but a pin name may hold one
  EXPECT_TRUE(in.rendered);
  EXPECT_TRUE(in.allowedZero);
  EXPECT_TRUE(in.allowedMany);
  EXPECT_EQ(in.connectsToFilter, kSplitterLike);
  EXPECT_EQ(in.connectsToPin, "Output");
  ASSERT_EQ(in.mediaTypes.size(), 3u);
  const auto has = [&](REFGUID major, REFGUID minor) {
    return std::any_of(in.mediaTypes.begin(), in.mediaTypes.end(),
                       [&](const auto& t) { return t.majorType == major && t.minorType == minor; });
  };
  EXPECT_TRUE(has(kVideo, kYuy2));
  EXPECT_TRUE(has(kVideo, kRgb24));
  EXPECT_TRUE(has(kVideo, GUID_NULL));
  EXPECT_EQ(filter.pins[1].connectsToFilter, GUID_NULL);
  EXPECT_TRUE(filter.pins[1].mediaTypes.empty());
}

TEST(FilterRegistration, RegisteringAgainReplacesAndUnregisterRemovesEverything) {
  const ScopedRegistry registry;
  ASSERT_EQ(RegisterFilter(kSplitter, Self()), S_OK);
  const AMOVIESETUP_FILTER smaller = {&kSplitterLike, "Renamed", MERIT_UNLIKELY, 1, kSplitterPins};
  ASSERT_EQ(RegisterFilter(smaller, Self()), S_OK);
  RegisteredFilter filter;
  ASSERT_EQ(ReadFilterRegistration(kSplitterLike, &filter), S_OK);
  EXPECT_EQ(filter.name, "Renamed");
  EXPECT_EQ(filter.merit, MERIT_UNLIKELY);
  EXPECT_EQ(filter.pins.size(), 1u);  // no stale pins of the first registration

  ASSERT_EQ(UnregisterFilter(kSplitterLike), S_OK);
  EXPECT_FALSE(KeyExists("CLSID\\" + FormatGuid(kSplitterLike)));
  std::vector<RegisteredFilter> filters;
  ASSERT_EQ(EnumerateRegisteredFilters(kLegacyFilterCategory, &filters), S_OK);
  EXPECT_TRUE(filters.empty());
  EXPECT_EQ(ReadFilterRegistration(kSplitterLike, &filter), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(UnregisterFilter(kSplitterLike), S_OK);  // again: nothing to remove, no error
}

TEST(FilterRegistration, EnumerationListsEveryFilterOfTheCategory) {
  const ScopedRegistry registry;
  std::vector<RegisteredFilter> filters;
  ASSERT_EQ(EnumerateRegisteredFilters(kLegacyFilterCategory, &filters), S_OK);  // empty store
  EXPECT_TRUE(filters.empty());

  ASSERT_EQ(RegisterFilter(kSplitter, Self()), S_OK);
  const AMOVIESETUP_FILTER scaler = {&kScalerLike, "ZelHDSimulation", MERIT_DO_NOT_USE, 1, kSplitterPins};
  ASSERT_EQ(RegisterFilter(scaler, Self()), S_OK);
  // Another category is kept apart.
  const AMOVIESETUP_FILTER device = {&kRgb24, "Capture Device", MERIT_NORMAL, 0, nullptr};
  ASSERT_EQ(RegisterFilter(device, Self(), kVideo), S_OK);

  ASSERT_EQ(EnumerateRegisteredFilters(kLegacyFilterCategory, &filters), S_OK);
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].clsid, kScalerLike);  // instance keys in GUID text order
  EXPECT_EQ(filters[1].clsid, kSplitterLike);
  EXPECT_EQ(filters[1].pins.size(), 5u);
  EXPECT_FALSE(filters[1].libraryPath.empty());

  // An instance whose class key was removed by hand still lists with the instance's data.
  ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID\\" + FormatGuid(kScalerLike)), ERROR_SUCCESS);
  ASSERT_EQ(EnumerateRegisteredFilters(kLegacyFilterCategory, &filters), S_OK);
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].name, "ZelHDSimulation");
  EXPECT_EQ(filters[0].merit, MERIT_DO_NOT_USE);
  EXPECT_TRUE(filters[0].libraryPath.empty());

  ASSERT_EQ(EnumerateRegisteredFilters(kVideo, &filters), S_OK);
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_EQ(filters[0].name, "Capture Device");
  EXPECT_EQ(filters[0].merit, MERIT_NORMAL);
}

TEST(FilterRegistration, RefusesIncompleteDataAndWritesNothing) {
  const ScopedRegistry registry;
  const AMOVIESETUP_PIN unnamed[] = {{"", FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, 0, nullptr}};
  const AMOVIESETUP_PIN typeless[] = {{"In", FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, 2, nullptr}};
  EXPECT_EQ(RegisterFilter({nullptr, "X", 0, 0, nullptr}, Self()), E_POINTER);
  EXPECT_EQ(RegisterFilter({&kScalerLike, "", 0, 0, nullptr}, Self()), E_INVALIDARG);
  EXPECT_EQ(RegisterFilter({&kScalerLike, nullptr, 0, 0, nullptr}, Self()), E_INVALIDARG);
  EXPECT_EQ(RegisterFilter({&kScalerLike, "X", 0, 2, nullptr}, Self()), E_INVALIDARG);
  EXPECT_EQ(RegisterFilter({&kScalerLike, "X", 0, 1, unnamed}, Self()), E_INVALIDARG);
  EXPECT_EQ(RegisterFilter({&kScalerLike, "X", 0, 1, typeless}, Self()), E_INVALIDARG);
  EXPECT_EQ(RegisterFilter({&kScalerLike, "X", 0, 1001, kSplitterPins}, Self()), E_INVALIDARG);
  EXPECT_EQ(RegisterFilter({&kScalerLike, "X", 0, 0, nullptr}, nullptr), E_POINTER);
  EXPECT_EQ(halvard::com::RegisterClassServer(kScalerLike, "X", reinterpret_cast<const void*>(16)), E_FAIL);
  EXPECT_FALSE(KeyExists("CLSID\\" + FormatGuid(kScalerLike)));
  EXPECT_EQ(ReadFilterRegistration(kScalerLike, nullptr), E_POINTER);
  EXPECT_EQ(EnumerateRegisteredFilters(kLegacyFilterCategory, nullptr), E_POINTER);
}

}  // namespace
