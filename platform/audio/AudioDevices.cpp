#include "platform/audio/AudioDevices.h"

#include <alsa/asoundlib.h>

#include <string>

namespace halvard::audio {
namespace {

// The library prints every failure to standard error; a machine without sound would
// fill logs with it. Failures reach us as result codes anyway.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

[[maybe_unused]] const bool kQuiet = [] {
  snd_lib_error_set_handler(&QuietAlsa);
  return true;
}();

}  // namespace

std::vector<AudioDevice> EnumerateAudioInputs() {
  std::vector<AudioDevice> devices;
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    snd_ctl_t* ctl = nullptr;
    const std::string ctlName = "hw:" + std::to_string(card);
    if (snd_ctl_open(&ctl, ctlName.c_str(), 0) < 0) {
      continue;
    }
    snd_ctl_card_info_t* cardInfo = nullptr;
    snd_ctl_card_info_alloca(&cardInfo);
    std::string cardName = "Card " + std::to_string(card);
    if (snd_ctl_card_info(ctl, cardInfo) == 0) {
      cardName = snd_ctl_card_info_get_name(cardInfo);
    }
    int device = -1;
    while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
      snd_pcm_info_t* pcmInfo = nullptr;
      snd_pcm_info_alloca(&pcmInfo);
      snd_pcm_info_set_device(pcmInfo, static_cast<unsigned>(device));
      snd_pcm_info_set_subdevice(pcmInfo, 0);
      snd_pcm_info_set_stream(pcmInfo, SND_PCM_STREAM_CAPTURE);
      if (snd_ctl_pcm_info(ctl, pcmInfo) < 0) {
        continue;  // no capture on this device
      }
      const std::string hw = std::to_string(card) + "," + std::to_string(device);
      devices.push_back({cardName + ": " + snd_pcm_info_get_name(pcmInfo), "alsa:hw:" + hw, "plughw:" + hw});
    }
    snd_ctl_close(ctl);
  }
  return devices;
}

}  // namespace halvard::audio
