#include "server/ptz/PtzTour.h"

#include <cstdio>
#include <ctime>
#include <span>
#include <utility>

#include "platform/registry/Registry.h"
#include "server/settings/Settings.h"

namespace halvard::ptz {
namespace {

namespace st = halvard::settings;

bool ValidTour(int tour) { return tour >= 0 && tour < kTourCount; }

int ClampSlot(int position) { return position > kTourSlots - 1 ? kTourSlots - 1 : position; }

// Minutes as hours and minutes; negative stay times only come from damaged values and
// are shown with their sign rather than as garbage.
std::string HoursMinutes(std::int64_t minutes, bool wrapDay) {
  std::int64_t hours = minutes / 60;
  std::int64_t rest = minutes % 60;
  if (wrapDay) {
    hours %= 24;
    if (rest < 0) {
      rest += 60;
      hours -= 1;
    }
    if (hours < 0) {
      hours += 24;
    }
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", static_cast<long long>(hours), static_cast<long long>(rest));
  return buffer;
}

}  // namespace

CPtzTour::CPtzTour() { m_presets.fill(kUnusedPreset); }

CPtzTour CPtzTour::Load(std::string_view group, std::string_view input, int tour) {
  CPtzTour result;
  if (!ValidTour(tour)) {
    return result;
  }
  std::array<BYTE, st::kScanTimeBytes> timeBytes{};
  if (st::ReadBin(st::CameraKeyPath(group, input), st::ScanTimeName(tour), timeBytes)) {
    for (int i = 0; i < kTourSlots; ++i) {
      const BYTE* p = timeBytes.data() + i * 4;
      const std::uint32_t v = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                              (std::uint32_t{p[3]} << 24);
      result.m_stay[i] = static_cast<std::int32_t>(v);
    }
  }
  std::array<BYTE, st::kScanPresetBytes> presetBytes{};
  if (st::ReadBin(st::CameraKeyPath(group, input), st::ScanPresetName(tour), presetBytes)) {
    for (int i = 0; i < kTourSlots; ++i) {
      result.m_presets[i] = presetBytes[i];
    }
  }
  result.CountSteps();
  return result;
}

void CPtzTour::Save(std::string_view group, std::string_view input, int tour) const {
  if (!ValidTour(tour)) {
    return;
  }
  std::array<BYTE, st::kScanTimeBytes> timeBytes{};
  for (int i = 0; i < kTourSlots; ++i) {
    const auto v = static_cast<std::uint32_t>(m_stay[i]);
    timeBytes[i * 4 + 0] = static_cast<BYTE>(v);
    timeBytes[i * 4 + 1] = static_cast<BYTE>(v >> 8);
    timeBytes[i * 4 + 2] = static_cast<BYTE>(v >> 16);
    timeBytes[i * 4 + 3] = static_cast<BYTE>(v >> 24);
  }
  // Both values or neither: a reader never sees the stay times of one edit with the
  // presets of another. Inside a caller's transaction this one only joins it.
  registry::CStoreTransaction transaction;
  const std::string key = st::CameraKeyPath(group, input);
  st::WriteBin(key, st::ScanTimeName(tour), timeBytes);
  st::WriteBin(key, st::ScanPresetName(tour), std::span<const BYTE>(m_presets.data(), m_presets.size()));
  (void)transaction.Commit();
}

void CPtzTour::CountSteps() {
  m_steps = 0;
  while (m_steps < kTourSlots && m_stay[m_steps] != 0) {
    ++m_steps;
  }
}

void CPtzTour::SetSlots(const std::array<std::int32_t, kTourSlots>& stay, const std::array<BYTE, kTourSlots>& presets) {
  m_stay = stay;
  m_presets = presets;
  CountSteps();
}

int CPtzTour::StayMinutes(int slot) const { return slot >= 0 && slot < kTourSlots ? m_stay[slot] : 0; }

BYTE CPtzTour::Preset(int slot) const { return slot >= 0 && slot < kTourSlots ? m_presets[slot] : kUnusedPreset; }

bool CPtzTour::InsertStep(int preset, int minutes, int position) {
  if (m_steps >= kTourSlots || minutes <= 0) {
    return false;
  }
  position = ClampSlot(position);
  if (position < 0 || position > m_steps) {
    position = m_steps;
  }
  // The whole tail moves, so a hidden slot after the first empty one stays hidden.
  for (int i = kTourSlots - 1; i > position; --i) {
    m_stay[i] = m_stay[i - 1];
    m_presets[i] = m_presets[i - 1];
  }
  m_stay[position] = minutes;
  m_presets[position] = static_cast<BYTE>(preset);
  CountSteps();
  return true;
}

bool CPtzTour::ReplaceStep(int preset, int minutes, int position) {
  if (position < 0 || minutes <= 0) {
    return false;
  }
  position = ClampSlot(position);
  if (position >= m_steps) {
    return false;
  }
  m_stay[position] = minutes;
  m_presets[position] = static_cast<BYTE>(preset);
  return true;
}

bool CPtzTour::RemoveStep(int position) {
  if (position < 0) {
    return false;
  }
  position = ClampSlot(position);
  if (position >= m_steps) {
    return false;
  }
  for (int i = position; i < kTourSlots - 1; ++i) {
    m_stay[i] = m_stay[i + 1];
    m_presets[i] = m_presets[i + 1];
  }
  m_stay[kTourSlots - 1] = 0;
  m_presets[kTourSlots - 1] = kUnusedPreset;
  CountSteps();
  return true;
}

bool CPtzTour::MoveStepUp(int position) {
  if (position < 1 || position >= m_steps) {
    return false;
  }
  std::swap(m_stay[position], m_stay[position - 1]);
  std::swap(m_presets[position], m_presets[position - 1]);
  return true;
}

bool CPtzTour::MoveStepDown(int position) {
  if (position < 0 || position >= m_steps - 1) {
    return false;
  }
  std::swap(m_stay[position], m_stay[position + 1]);
  std::swap(m_presets[position], m_presets[position + 1]);
  return true;
}

std::int64_t StepBoundarySeconds(const CPtzTour& tour, std::int64_t anchorMinutes, int j) {
  std::int64_t boundary = anchorMinutes * 60;
  for (int i = 0; i < j && i < tour.StepCount(); ++i) {
    boundary += std::int64_t{tour.StayMinutes(i)} * 60;
  }
  return boundary;
}

std::optional<int> CurrentStep(const CPtzTour& tour, std::int64_t anchorMinutes, std::int64_t nowSeconds) {
  std::int64_t boundary = anchorMinutes * 60;
  for (int j = 0; j < tour.StepCount(); ++j) {
    boundary += std::int64_t{tour.StayMinutes(j)} * 60;
    if (nowSeconds <= boundary) {
      return j;
    }
  }
  return std::nullopt;
}

int ReadActiveTour(std::string_view group, std::string_view input) {
  return static_cast<LONG>(st::kPtzScanActiveIndex.Read(group, input));
}

void WriteActiveTour(std::string_view group, std::string_view input, int tour) {
  st::kPtzScanActiveIndex.Write(group, input, static_cast<DWORD>(tour < 0 ? -1 : tour));
}

DWORD ReadTourAnchor(std::string_view group, std::string_view input, int tour) {
  return st::ReadDword(st::CameraKeyPath(group, input), st::ScanRunAsName(tour), 0);
}

void WriteTourAnchor(std::string_view group, std::string_view input, int tour, DWORD minuteOfDay) {
  if (!ValidTour(tour)) {
    return;
  }
  st::WriteDword(st::CameraKeyPath(group, input), st::ScanRunAsName(tour), minuteOfDay);
}

std::string PresetListText(int preset, std::string_view name) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%03d: ", preset);
  return buffer + std::string(name);
}

std::string TourListText(int tour, std::string_view label) { return "#" + std::to_string(tour) + ": " + std::string(label); }

std::string InactiveTourText(int tour) { return TourListText(tour, "Inactive"); }

std::string StepNumberText(int position) { return std::to_string(position + 1); }

std::string StepPresetText(int preset, std::string_view name) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "Preset %03d: ", preset);
  return buffer + std::string(name);
}

std::string StayTimeText(std::int64_t minutes) { return HoursMinutes(minutes, false); }

std::string StepWindowText(std::int64_t startMinutes, std::int64_t endMinutes) {
  return HoursMinutes(startMinutes, true) + " - " + HoursMinutes(endMinutes, true);
}

int LocalMinuteOfDay() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    return 0;
  }
  return local.tm_hour * 60 + local.tm_min;
}

}  // namespace halvard::ptz
