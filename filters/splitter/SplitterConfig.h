#pragma once
/// The stream splitter component "ZEL Splitter": its class identifier, custom interface
/// and configuration block. This is what the server includes.

#include "filters/FilterEvents.h"
#include "platform/com/Com.h"

/// {B1C4CADD-7820-4434-8DA1-9177F110EDA1}
HALVARD_DEFINE_GUID(CLSID_ZelSplitter, 0xB1C4CADD, 0x7820, 0x4434, 0x8D, 0xA1, 0x91, 0x77, 0xF1, 0x10, 0xED, 0xA1);
/// {B1C4CADD-1820-4434-8DA1-9177F110EDA1}
HALVARD_DEFINE_GUID(IID_ISplitterConfig, 0xB1C4CADD, 0x1820, 0x4434, 0x8D, 0xA1, 0x91, 0x77, 0xF1, 0x10, 0xED, 0xA1);

/// Three 32-bit signed fields, in this order.
struct SplitterConfig {
  LONG channelCount;      ///< cameras in the stream; below 2 every frame goes to Output1 (default 4)
  LONG colourFormat;      ///< 0 = YUY2, 1 = RGB24; other values accept no input (default 0)
  LONG enhancementLevel;  ///< 0 off, 1 detail enhancement, 2+ also histogram equalisation (default 0)
};

struct ISplitterConfig : IUnknown {
  /// Copies the configuration. S_OK; E_POINTER. Takes the filter lock.
  virtual HRESULT GetConfig(SplitterConfig* config) = 0;
  /// Takes the configuration; it applies from the next frame (and the colour format to
  /// the next connection of the input). S_OK; E_POINTER. Takes the filter lock.
  virtual HRESULT SetConfig(const SplitterConfig* config) = 0;

 protected:
  ~ISplitterConfig() = default;
};
template <>
inline constexpr const IID* kIidOf<ISplitterConfig> = &IID_ISplitterConfig;
