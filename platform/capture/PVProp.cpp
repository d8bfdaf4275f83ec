#include "platform/capture/PVProp.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/capture/CaptureDevices.h"
#include "platform/capture/CardState.h"

namespace halvard::capture {
namespace {

struct Library {
  std::mutex lock;
  bool initialised = false;
  int cardCount = 0;
  std::vector<PvCall> log;
};

Library& TheLibrary() {
  static Library library;
  return library;
}

// Logs a call (caller holds the library lock) and returns its result.
BOOL Log(Library& lib, const char* function, std::vector<long long> args, BOOL result) {
  PvCall call{function, std::move(args), result};
  if (const char* path = std::getenv("HALVARD_PVPROP_LOG"); path != nullptr && *path != '\0') {
    if (std::FILE* f = std::fopen(path, "a"); f != nullptr) {
      std::fprintf(f, "%s\n", call.Text().c_str());
      std::fclose(f);
    }
  }
  lib.log.push_back(std::move(call));
  return result;
}

bool CardOk(const Library& lib, int card) { return lib.initialised && card >= 0 && card < lib.cardCount; }
bool InputOk(int input) { return input >= 0 && input < kCardInputs; }

DWORD ControlValue(int value) { return value < 0 ? 0 : static_cast<DWORD>(value); }

BOOL SetControl(const char* function, PictureControl control, int card, int input, int value) {
  Library& lib = TheLibrary();
  std::lock_guard guard(lib.lock);
  const bool ok = CardOk(lib, card) && InputOk(input);
  if (ok) {
    SetCardControl(card, input, control, ControlValue(value));
  }
  return Log(lib, function, {card, input, value}, ok ? TRUE : FALSE);
}

}  // namespace

std::string PvCall::Text() const {
  std::string text = function + "(";
  for (std::size_t i = 0; i < args.size(); ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(args[i]);
  }
  return text + ") = " + std::to_string(result);
}

std::vector<PvCall> PvCallLog() {
  Library& lib = TheLibrary();
  std::lock_guard guard(lib.lock);
  return lib.log;
}

void ClearPvCallLog() {
  Library& lib = TheLibrary();
  std::lock_guard guard(lib.lock);
  lib.log.clear();
}

void ResetPvLibrary() {
  Library& lib = TheLibrary();
  std::lock_guard guard(lib.lock);
  lib.initialised = false;
  lib.cardCount = 0;
}

}  // namespace halvard::capture

using namespace halvard::capture;

extern "C" {

BOOL PV_HWInit() {
  Library& lib = TheLibrary();
  std::lock_guard guard(lib.lock);
  if (!lib.initialised) {
    int cards = 0;
    for (const CaptureDevice& d : EnumerateCaptureDevices()) {
      if (d.card >= 0) {
        cards = d.card + 1;
      }
    }
    lib.cardCount = cards;
    lib.initialised = cards > 0;
  }
  return Log(lib, "PV_HWInit", {}, lib.initialised ? TRUE : FALSE);
}

BOOL PV_HWUnInit() {
  Library& lib = TheLibrary();
  std::lock_guard guard(lib.lock);
  const bool was = lib.initialised;
  lib.initialised = false;
  lib.cardCount = 0;
  return Log(lib, "PV_HWUnInit", {}, was ? TRUE : FALSE);
}

BOOL PV_SetVideoSource(int card, int source) {
  Library& lib = TheLibrary();
  std::lock_guard guard(lib.lock);
  const bool ok = CardOk(lib, card) && source >= 0 && source <= kMultiplexSource;
  if (ok) {
    SetCardSource(card, source);
  }
  return Log(lib, "PV_SetVideoSource", {card, source}, ok ? TRUE : FALSE);
}

BOOL PV_EnableVideoSource(int card, int input, int enable) {
  Library& lib = TheLibrary();
  std::lock_guard guard(lib.lock);
  const bool ok = CardOk(lib, card) && InputOk(input);
  if (ok) {
    SetCardInputEnabled(card, input, enable != 0);
  }
  return Log(lib, "PV_EnableVideoSource", {card, input, enable}, ok ? TRUE : FALSE);
}

BOOL PV_GetEnableChannel(int card, DWORD* mask) {
  Library& lib = TheLibrary();
  std::lock_guard guard(lib.lock);
  if (mask == nullptr) {
    return Log(lib, "PV_GetEnableChannel", {card, 0}, FALSE);
  }
  *mask = 0;
  const bool ok = CardOk(lib, card);
  if (ok) {
    *mask = GetCardState(card).enabledMask;
  }
  return Log(lib, "PV_GetEnableChannel", {card, static_cast<long long>(*mask)}, ok ? TRUE : FALSE);
}

BOOL PV_SetBrightness(int card, int input, int value) {
  return SetControl("PV_SetBrightness", PictureControl::Brightness, card, input, value);
}

BOOL PV_SetContrast(int card, int input, int value) {
  return SetControl("PV_SetContrast", PictureControl::Contrast, card, input, value);
}

BOOL PV_SetSaturation(int card, int input, int value) {
  return SetControl("PV_SetSaturation", PictureControl::Saturation, card, input, value);
}

BOOL PV_SetHue(int card, int input, int value) { return SetControl("PV_SetHue", PictureControl::Hue, card, input, value); }

BOOL PV_SetAGC(int card, int on) {
  Library& lib = TheLibrary();
  std::lock_guard guard(lib.lock);
  const bool ok = CardOk(lib, card);
  if (ok) {
    SetCardAgc(card, on != 0);
  }
  return Log(lib, "PV_SetAGC", {card, on}, ok ? TRUE : FALSE);
}

}  // extern "C"
