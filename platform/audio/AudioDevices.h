#pragma once
/// Audio input devices (ALSA capture PCMs) as the device enumerator lists them in the
/// audio-input category, and the filters of the audio stand-in.
///
/// Names: "FriendlyName" is the sound card's long name and the device's name
/// ("HDA Intel PCH: ALC3232 Analog"); "DevicePath" is "alsa:hw:<card>,<device>".

#include <string>
#include <vector>

#include "platform/com/Com.h"

namespace halvard::audio {

struct AudioDevice {
  std::string friendlyName;
  std::string devicePath;
  std::string alsaName;  ///< "hw:0,0"; "default" for the default capture device
};

/// Every ALSA capture device, in card and device order. Empty on a machine without a
/// sound card (never an error). Threads: any.
[[nodiscard]] std::vector<AudioDevice> EnumerateAudioInputs();

/// Creates the ALSA audio capture source filter for a device (riid on the filter).
/// The device is opened when the filter pauses, so creation succeeds even if the
/// device went away; pausing then fails with VFW_E_NO_AUDIO_HARDWARE.
[[nodiscard]] HRESULT CreateAudioCaptureSource(const AudioDevice& device, REFIID riid, void** ppv);

/// Makes the default audio source (silence), the audio renderer (CLSID_DSoundRender and
/// CLSID_AudioRender) creatable by class identifier in this process. Called when the
/// library loads; calling it again does no harm.
void RegisterAudioClasses();

}  // namespace halvard::audio
