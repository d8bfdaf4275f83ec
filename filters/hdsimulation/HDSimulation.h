#pragma once
/// The HD simulation scaler component "ZelHDSimulation": its class identifier and custom
/// interface. This is what the server includes.

#include "filters/FilterEvents.h"
#include "platform/com/Com.h"

/// {3115AB6A-7174-4DE4-826A-0A317416B277}
HALVARD_DEFINE_GUID(CLSID_ZelHDSimulation, 0x3115AB6A, 0x7174, 0x4DE4, 0x82, 0x6A, 0x0A, 0x31, 0x74, 0x16, 0xB2, 0x77);
/// {B59D239F-DF99-4726-B199-B94CDB35B3FD}
HALVARD_DEFINE_GUID(IID_IHDSimulation, 0xB59D239F, 0xDF99, 0x4726, 0xB1, 0x99, 0xB9, 0x4C, 0xDB, 0x35, 0xB3, 0xFD);

struct IHDSimulation : IUnknown {
  /// Stores the output size for the next connection of the output pin (the output type
  /// and buffer size are derived from it; a connected stream keeps the size it was
  /// connected with). Any values are stored; sizes outside 1..16384 are not offered, so
  /// the output then cannot connect. Always S_OK.
  virtual HRESULT SetOutputSize(LONG width, LONG height) = 0;

 protected:
  ~IHDSimulation() = default;
};
template <>
inline constexpr const IID* kIidOf<IHDSimulation> = &IID_IHDSimulation;
