#pragma once
/// The system device enumerator (CLSID_SystemDeviceEnum, ICreateDevEnum) for the
/// video-input and audio-input categories. Each device is a moniker whose property bag
/// (BindToStorage) holds "FriendlyName" and "DevicePath" and whose BindToObject gives
/// the device's source filter: the capture source for a video device, the ALSA audio
/// capture source for an audio device.
///
/// The list is taken when CreateClassEnumerator is called; a device that disappears
/// afterwards fails at BindToObject with VFW_E_NO_CAPTURE_HARDWARE (video).

#include "platform/capture/CaptureDevices.h"
#include "platform/media/Interfaces.h"

namespace halvard::capture {

/// Creates the enumerator (what CoCreateInstance(CLSID_SystemDeviceEnum) gives).
[[nodiscard]] HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv);

/// Registers CLSID_SystemDeviceEnum as a built-in class. Runs when the library loads;
/// calling it again does no harm.
void RegisterCaptureClasses();

/// Helpers for callers that walk a category: the monikers' "FriendlyName" strings in
/// order, and the first device filter whose "FriendlyName" equals name exactly.
/// FindDeviceFilter results: S_OK; VFW_E_NOT_FOUND (no such device); the binding's own
/// failure (VFW_E_NO_CAPTURE_HARDWARE, ...).
[[nodiscard]] std::vector<std::string> ListDeviceNames(REFCLSID category);
[[nodiscard]] HRESULT FindDeviceFilter(REFCLSID category, const std::string& friendlyName, IBaseFilter** filter);

}  // namespace halvard::capture
