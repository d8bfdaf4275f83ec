#include "server/engine/CardAdjustments.h"

#include <ctime>
#include <string>

#include "platform/capture/PVProp.h"
#include "platform/time/Time.h"
#include "server/settings/Settings.h"

namespace halvard::engine {

namespace s = halvard::settings;

namespace {

bool ResolutionUsesLibrary(std::string_view group) {
  const DWORD index = s::kDataResolution.Read(group);
  return s::Lookup(s::kCaptureSizes, index, s::kDataResolution.def).needsCardLibrary;
}

bool IsMultiplexingCard(std::string_view group) {
  return s::kCardFriendlyName.Read(group).find("BT878") != std::string::npos;
}

}  // namespace

bool IsDayTime(int hour) { return hour >= 7 && hour < 20; }

bool PrepareCardLibrary(const CameraGroup& group, bool* libraryInitialised) {
  if (group.CardIndex() < 0) {
    return true;  // not a card: the library's resolution is none of its business
  }
  const bool needs = ResolutionUsesLibrary(group.DisplayName());
  if (*libraryInitialised) {
    return needs;
  }
  if (needs) {
    (void)PV_HWInit();
    *libraryInitialised = true;
  }
  return true;
}

void ApplyPictureSettings(const CameraGroup& group) {
  const int card = group.CardIndex();
  if (card < 0) {
    return;
  }
  const std::string& name = group.DisplayName();
  for (int i = 0; i < static_cast<int>(group.InputCount()); ++i) {
    const std::string& input = group.InputName(i);
    (void)PV_EnableVideoSource(card, i, s::kInputEnabled.Read(name, input) != 0 ? 1 : 0);
    const bool day = IsDayTime(time::LocalTimeNow().tm_hour);
    const auto value = [&](const s::CameraDword& dayValue, const s::CameraDword& nightValue) {
      return static_cast<int>((day ? dayValue : nightValue).Read(name, input));
    };
    (void)PV_SetBrightness(card, i, value(s::kDataBrightness, s::kDataBrightnessNight));
    (void)PV_SetContrast(card, i, value(s::kDataContrast, s::kDataContrastNight));
    (void)PV_SetSaturation(card, i, value(s::kDataSaturation, s::kDataSaturationNight));
    (void)PV_SetHue(card, i, value(s::kDataHue, s::kDataHueNight));
    (void)PV_SetAGC(card, 1);
  }
}

void PreviewPictureControl(const CameraGroup& group, int input, PictureControl control, int value) {
  const int card = group.CardIndex();
  if (card < 0) {
    return;
  }
  switch (control) {
    case PictureControl::Brightness:
      (void)PV_SetBrightness(card, input, value);
      break;
    case PictureControl::Contrast:
      (void)PV_SetContrast(card, input, value);
      break;
    case PictureControl::Saturation:
      (void)PV_SetSaturation(card, input, value);
      break;
    case PictureControl::Hue:
      (void)PV_SetHue(card, input, value);
      break;
  }
}

bool CameraWindowClosedMustStop(const CameraGroup& group, int input) {
  if (group.CardIndex() >= 0) {
    (void)PV_EnableVideoSource(group.CardIndex(), input, 0);
  }
  if (!IsMultiplexingCard(group.DisplayName())) {
    return true;
  }
  DWORD mask = 0;
  (void)PV_GetEnableChannel(group.CardIndex(), &mask);
  return mask == 0;
}

bool ApplyResolutionInputCount(std::string_view group, DWORD resolutionIndex) {
  if (!IsMultiplexingCard(group)) {
    return false;
  }
  const s::CaptureSize size = s::Lookup(s::kCaptureSizes, resolutionIndex, s::kDataResolution.def);
  const DWORD count = size.height < 480 ? 4 : 1;
  if (s::ReadCardInputAmount(group, s::kDefaultCardChannels) == count) {
    return false;
  }
  s::WriteCardInputAmount(group, count);
  return true;
}

}  // namespace halvard::engine
