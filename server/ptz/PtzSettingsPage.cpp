#include "server/ptz/PtzSettingsPage.h"

#include <algorithm>
#include <cstdio>

#include "platform/base/Text.h"
#include "platform/registry/Registry.h"
#include "server/settings/Settings.h"

namespace halvard::ptz {
namespace {

namespace st = halvard::settings;

bool ValidTour(int tour) { return tour >= 0 && tour < kTourCount; }

// Cuts UTF-8 text to at most `units` UTF-16 units without splitting a character.
std::string CutToUnits(std::string_view utf8, std::size_t units) {
  std::u16string wide = text::Utf8ToUtf16(utf8);
  if (wide.size() <= units) {
    return std::string(utf8);
  }
  std::size_t keep = units;
  if (keep > 0 && wide[keep - 1] >= 0xD800 && wide[keep - 1] <= 0xDBFF) {
    --keep;  // a high surrogate whose partner would be cut off
  }
  wide.resize(keep);
  return text::Utf16ToUtf8(wide);
}

}  // namespace

std::string PortListText(int portNumber) { return std::to_string(portNumber); }

std::string AddressListText(int address) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%03d", address);
  return buffer;
}

PtzPageSettings LoadPageSettings(std::string_view group, std::string_view input) {
  PtzPageSettings v;
  v.enabled = st::kInputPtz.Read(group, input);
  v.protocol = st::kPtzProtocol.Read(group, input);
  v.portIndex = st::kPtzCom.Read(group, input);
  v.speedIndex = st::kPtzBpp.Read(group, input);
  v.address = st::kPtzAddress.Read(group, input);
  v.autoFocus = st::kPtzAutoFocus.Read(group, input);
  v.autoIris = st::kPtzAutoIris.Read(group, input);
  v.autoGainControl = st::kPtzAutoGainControl.Read(group, input);
  v.autoBlc = st::kPtzAutoBlc.Read(group, input);
  v.autoWhiteBalance = st::kPtzAutoWhiteBalance.Read(group, input);
  return v;
}

void SavePageSettings(std::string_view group, std::string_view input, const PtzPageSettings& v) {
  registry::CStoreTransaction transaction;  // all of the page's values or none
  st::kInputPtz.Write(group, input, v.enabled);
  st::kPtzProtocol.Write(group, input, v.protocol);
  st::kPtzCom.Write(group, input, v.portIndex);
  st::kPtzBpp.Write(group, input, v.speedIndex);
  st::kPtzAddress.Write(group, input, v.address);
  st::kPtzAutoFocus.Write(group, input, v.autoFocus);
  st::kPtzAutoIris.Write(group, input, v.autoIris);
  st::kPtzAutoGainControl.Write(group, input, v.autoGainControl);
  st::kPtzAutoBlc.Write(group, input, v.autoBlc);
  st::kPtzAutoWhiteBalance.Write(group, input, v.autoWhiteBalance);
  (void)transaction.Commit();
}

std::array<int, 4> StepTableColumnWidths(int tableWidth) {
  const int part = tableWidth / 11;
  return {part, 5 * part, 2 * part, tableWidth - 8 * part};
}

bool FocusButton(CPtzController* controller, int focusCode, const SleepFunction& sleep) {
  if (controller == nullptr) {
    return false;
  }
  (void)controller->focus(focusCode);
  if (sleep) {
    sleep(kFocusButtonPauseMs);
  } else {
    SleepMs(kFocusButtonPauseMs);
  }
  (void)controller->stop();
  return true;
}

bool ImageAdjustmentSelected(CPtzController* controller, ImageAdjustment list, int selection) {
  if (controller == nullptr || (selection != kModeOn && selection != kModeOff)) {
    return false;
  }
  switch (list) {
    case ImageAdjustment::AutoFocus: return controller->setAutoFocus(selection);
    case ImageAdjustment::AutoIris: return controller->setAutoIris(selection);
    case ImageAdjustment::AutoGainControl: return controller->setAutoGainControl(selection);
    case ImageAdjustment::BacklightCompensation: return controller->setBacklightCompensation(selection);
    case ImageAdjustment::AutoWhiteBalance: return controller->setAutoWhiteBalance(selection);
  }
  return false;
}

std::string PresetName(std::string_view group, std::string_view input, int preset, const PtzTexts& texts) {
  return st::ReadPresetName(group, input, preset, texts.defaultPresetName);
}

std::vector<std::string> PresetListEntries(std::string_view group, std::string_view input, const PtzTexts& texts) {
  std::vector<std::string> entries;
  entries.reserve(kLastPreset);
  for (int n = kFirstPreset; n <= kLastPreset; ++n) {
    entries.push_back(PresetListText(n, PresetName(group, input, n, texts)));
  }
  return entries;
}

SavedPreset SavePreset(std::string_view group, std::string_view input, CPtzController* controller, int position,
                       std::string_view name) {
  const int preset = position + 1;
  if (preset < kFirstPreset || preset > kLastPreset) {
    return {SavePresetResult::NoSelection, {}};
  }
  if (controller == nullptr) {
    return {SavePresetResult::NotAvailable, {}};
  }
  (void)controller->setPreset(preset);
  const std::string stored = CutToUnits(name, kMaxPresetNameUnits);
  st::WritePresetName(group, input, preset, stored);
  return {SavePresetResult::Saved, PresetListText(preset, stored)};
}

bool GotoSelectedPreset(CPtzController* controller, int position) {
  if (controller == nullptr) {
    return false;
  }
  return controller->gotoPreset(position + 1);
}

TourList TourListEntries(std::string_view group, std::string_view input, const PtzTexts& texts) {
  TourList list;
  const int active = ReadActiveTour(group, input);
  for (int n = 0; n < kTourCount; ++n) {
    list.entries.push_back(TourListText(n, n == active ? texts.activeLabel : texts.inactiveLabel));
  }
  list.selection = ValidTour(active) ? active : 0;
  return list;
}

int StartListSelection(DWORD runAs) { return runAs != 0 ? kStartAtActivation : kStartAtMidnight; }

std::int64_t TableAnchorMinutes(int startIndex, DWORD runAs, int nowMinuteOfDay) {
  if (startIndex != kStartAtActivation) {
    return 0;
  }
  return runAs != 0 ? std::int64_t{runAs} : std::int64_t{nowMinuteOfDay};
}

std::vector<StepRow> StepTable(std::string_view group, std::string_view input, int tour, std::int64_t anchorMinutes,
                               const PtzTexts& texts) {
  std::vector<StepRow> rows;
  const CPtzTour steps = CPtzTour::Load(group, input, tour);
  std::int64_t start = anchorMinutes;
  for (int j = 0; j < steps.StepCount(); ++j) {
    const int preset = steps.Preset(j);
    const std::int64_t stay = steps.StayMinutes(j);
    rows.push_back({StepNumberText(j), StepPresetText(preset, PresetName(group, input, preset, texts)),
                    StayTimeText(stay), StepWindowText(start, start + stay)});
    start += stay;
  }
  return rows;
}

StepDialogValues StepDialogFill(std::string_view group, std::string_view input, int tour, int position) {
  const CPtzTour steps = CPtzTour::Load(group, input, tour);
  StepDialogValues values;
  if (position < 0 || position >= steps.StepCount()) {
    return values;
  }
  const int preset = steps.Preset(position);
  values.presetSelection = preset >= kFirstPreset && preset <= kLastPreset ? preset - 1 : 0;
  const int stay = steps.StayMinutes(position);
  values.hours = stay / 60;
  values.minutes = stay % 60;
  return values;
}

StepDialogOutcome ApplyStepDialog(std::string_view group, std::string_view input, int tour, StepDialogMode mode,
                                  int position, int presetSelection, int hours, int minutes) {
  registry::CStoreTransaction transaction;  // load, change and save as one edit
  if (!ValidTour(tour)) {
    return {StepDialogResult::NotApplied, std::nullopt};
  }
  CPtzTour steps = CPtzTour::Load(group, input, tour);
  const std::int64_t stay = std::int64_t{hours} * 60 + minutes;
  const int preset = presetSelection + 1;
  StepDialogResult result = StepDialogResult::NotApplied;
  if (stay == 0) {
    result = StepDialogResult::ZeroStay;
  } else if (stay < 0 || stay > INT32_MAX || preset < kFirstPreset || preset > kLastPreset) {
    result = StepDialogResult::NotApplied;
  } else if (mode == StepDialogMode::Insert) {
    if (steps.StepCount() >= kTourSlots) {
      result = StepDialogResult::TourFull;
    } else if (steps.InsertStep(preset, static_cast<int>(stay), position)) {
      result = StepDialogResult::Applied;
    }
  } else if (steps.ReplaceStep(preset, static_cast<int>(stay), position)) {
    result = StepDialogResult::Applied;
  }
  steps.Save(group, input, tour);
  (void)transaction.Commit();

  StepDialogOutcome outcome{result, std::nullopt};
  if (position >= 0 && position < steps.StepCount()) {
    outcome.selection = position;
  }
  return outcome;
}

std::optional<int> DeleteTourStep(std::string_view group, std::string_view input, int tour, int position) {
  registry::CStoreTransaction transaction;  // load, change and save as one edit
  CPtzTour steps = CPtzTour::Load(group, input, tour);
  (void)steps.RemoveStep(position);
  steps.Save(group, input, tour);
  (void)transaction.Commit();
  if (steps.StepCount() == 0) {
    return std::nullopt;
  }
  return std::clamp(position, 0, steps.StepCount() - 1);
}

std::optional<int> MoveTourStepUp(std::string_view group, std::string_view input, int tour, int position) {
  registry::CStoreTransaction transaction;  // load, change and save as one edit
  CPtzTour steps = CPtzTour::Load(group, input, tour);
  (void)steps.MoveStepUp(position);
  steps.Save(group, input, tour);
  (void)transaction.Commit();
  if (steps.StepCount() == 0) {
    return std::nullopt;
  }
  return std::clamp(position - 1, 0, steps.StepCount() - 1);
}

std::optional<int> MoveTourStepDown(std::string_view group, std::string_view input, int tour, int position) {
  registry::CStoreTransaction transaction;  // load, change and save as one edit
  CPtzTour steps = CPtzTour::Load(group, input, tour);
  (void)steps.MoveStepDown(position);
  steps.Save(group, input, tour);
  (void)transaction.Commit();
  if (steps.StepCount() == 0) {
    return std::nullopt;
  }
  return std::clamp(position + 1, 0, steps.StepCount() - 1);
}

std::vector<Relabel> ActivateTour(std::string_view group, std::string_view input, int tour, int startIndex,
                                  int nowMinuteOfDay, const PtzTexts& texts) {
  registry::CStoreTransaction transaction;  // active index and anchor as one edit
  std::vector<Relabel> relabel;
  if (!ValidTour(tour)) {
    return relabel;
  }
  const int previous = ReadActiveTour(group, input);
  WriteActiveTour(group, input, tour);
  WriteTourAnchor(group, input, tour,
                  startIndex == kStartAtActivation ? static_cast<DWORD>(nowMinuteOfDay) : DWORD{0});
  if (previous != tour) {
    if (ValidTour(previous)) {
      relabel.push_back({previous, TourListText(previous, texts.inactiveLabel)});
    }
    relabel.push_back({tour, TourListText(tour, texts.activeLabel)});
  }
  (void)transaction.Commit();
  return relabel;
}

std::vector<Relabel> DeactivateTour(std::string_view group, std::string_view input, int tour) {
  registry::CStoreTransaction transaction;  // check and change as one edit
  std::vector<Relabel> relabel;
  if (!ValidTour(tour) || ReadActiveTour(group, input) != tour) {
    return relabel;
  }
  WriteActiveTour(group, input, -1);
  relabel.push_back({tour, InactiveTourText(tour)});
  (void)transaction.Commit();
  return relabel;
}

}  // namespace halvard::ptz
