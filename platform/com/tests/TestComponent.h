#pragma once
/// The test component's classes and interface (libcomtest_component.so).

#include "platform/com/Com.h"

// {D463FFE2-6FA5-4CE8-AA5B-BA49A9632A00}: an adder that counts live objects.
HALVARD_DEFINE_GUID(CLSID_TestAdder, 0xD463FFE2, 0x6FA5, 0x4CE8, 0xAA, 0x5B, 0xBA, 0x49, 0xA9, 0x63, 0x2A, 0x00);
// {3D2BB21D-16FB-4E01-A2B4-70407AEE50B0}: a class whose factory refuses to create.
HALVARD_DEFINE_GUID(CLSID_TestRefusing, 0x3D2BB21D, 0x16FB, 0x4E01, 0xA2, 0xB4, 0x70, 0x40, 0x7A, 0xEE, 0x50, 0xB0);
// {EFF5AEEB-A70A-4458-8629-366C4DB2ED1E}
HALVARD_DEFINE_GUID(IID_ITestAdder, 0xEFF5AEEB, 0xA70A, 0x4458, 0x86, 0x29, 0x36, 0x6C, 0x4D, 0xB2, 0xED, 0x1E);

/// What the refusing factory's CreateInstance answers.
constexpr HRESULT kTestRefusal = E_OUTOFMEMORY;

struct ITestAdder : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* sum) = 0;
  /// Objects of the library alive now, and the server lock count.
  virtual HRESULT STDMETHODCALLTYPE GetCounts(LONG* objects, LONG* locks) = 0;

 protected:
  ~ITestAdder() = default;
};
template <>
inline constexpr const IID* kIidOf<ITestAdder> = &IID_ITestAdder;
