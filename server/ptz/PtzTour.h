#pragma once
/// Preset tours: each camera has four tours (0 to 3), each a list of up to 32 steps
/// (preset number 1 to 127, minutes to stay there), followed through the day from an
/// anchor minute. Stored in the camera key per tour n:
///   "PTZ Scan #n Time"    binary, exactly 128 bytes: 32 stay times, signed 32-bit LE
///   "PTZ Scan #n Preset"  binary, exactly 32 bytes: the 32 preset numbers
///   "PTZ Scan #n Run As"  DWORD: 0, or the minute of the day the tour was activated
/// and once per camera "PTZ Scan Active Index" (-1: no active tour).
/// A missing or mis-sized binary value reads as an empty tour (stay times 0, presets
/// 0xFF). The step count is the number of leading slots with a non-zero stay time; it
/// is derived, never stored.
///
/// This header also holds the texts that the settings page shows for presets and tours.
///
/// Threads: any; every function reads or writes the settings store directly.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/WinTypes.h"

namespace halvard::ptz {

inline constexpr int kTourCount = 4;
inline constexpr int kTourSlots = 32;
inline constexpr BYTE kUnusedPreset = 0xFF;

class CPtzTour {
 public:
  /// An empty tour.
  CPtzTour();

  /// Reads tour n (0 to 3) of a camera; any other n gives an empty tour.
  [[nodiscard]] static CPtzTour Load(std::string_view group, std::string_view input, int tour);
  /// Writes the 128-byte and the 32-byte values of tour n; nothing for another n.
  void Save(std::string_view group, std::string_view input, int tour) const;

  /// Inserts a step: position -1 (or any negative, or past the last step) appends; the
  /// steps from the position on move one slot down. False, with nothing changed, when
  /// the tour already has 32 steps or `minutes` is not positive (a zero stay time
  /// would end the tour at that slot).
  bool InsertStep(int preset, int minutes, int position);
  /// Replaces the step at the position (above 31 taken as 31). False, with nothing
  /// changed, for a negative position, a position past the last step, or `minutes` not
  /// positive.
  bool ReplaceStep(int preset, int minutes, int position);
  /// Removes the step at the position (above 31 taken as 31); later steps move up.
  /// False for a negative position or one past the last step.
  bool RemoveStep(int position);
  /// Swaps the step with the one before it. False unless 1 <= position < step count.
  bool MoveStepUp(int position);
  /// Swaps the step with the one after it. False unless 0 <= position < step count - 1.
  bool MoveStepDown(int position);

  [[nodiscard]] int StepCount() const { return m_steps; }
  [[nodiscard]] int StayMinutes(int slot) const;
  [[nodiscard]] BYTE Preset(int slot) const;

  /// Raw slots, as stored.
  [[nodiscard]] const std::array<std::int32_t, kTourSlots>& StayTimes() const { return m_stay; }
  [[nodiscard]] const std::array<BYTE, kTourSlots>& Presets() const { return m_presets; }
  /// Sets the raw slots and derives the step count (for tools and tests).
  void SetSlots(const std::array<std::int32_t, kTourSlots>& stay, const std::array<BYTE, kTourSlots>& presets);

 private:
  void CountSteps();

  std::array<std::int32_t, kTourSlots> m_stay{};
  std::array<BYTE, kTourSlots> m_presets{};
  int m_steps = 0;
};

/// Start of step j in seconds of the day: B0 = anchor x 60, B(j+1) = Bj + mj x 60; not
/// wrapped at midnight. j runs 0 to step count.
[[nodiscard]] std::int64_t StepBoundarySeconds(const CPtzTour& tour, std::int64_t anchorMinutes, int j);

/// The step that applies at `nowSeconds` (seconds of the day): the first j with
/// now <= B(j+1). So every time before the anchor belongs to the first step, and a step
/// whose end falls on the current minute is still current. nullopt for an empty tour
/// or after the last boundary.
[[nodiscard]] std::optional<int> CurrentStep(const CPtzTour& tour, std::int64_t anchorMinutes,
                                             std::int64_t nowSeconds);

// ---- per-camera tour values ----------------------------------------------------------

/// "PTZ Scan Active Index" as a signed number; -1 (or any negative) for none.
[[nodiscard]] int ReadActiveTour(std::string_view group, std::string_view input);
void WriteActiveTour(std::string_view group, std::string_view input, int tour);
/// "PTZ Scan #n Run As".
[[nodiscard]] DWORD ReadTourAnchor(std::string_view group, std::string_view input, int tour);
void WriteTourAnchor(std::string_view group, std::string_view input, int tour, DWORD minuteOfDay);

// ---- texts ------------------------------------------------------------------------

/// "%03d: %s": an entry of the preset lists.
[[nodiscard]] std::string PresetListText(int preset, std::string_view name);
/// "#%d: %s": an entry of the tour list.
[[nodiscard]] std::string TourListText(int tour, std::string_view label);
/// "#%d: Inactive": the entry of a tour just deactivated.
[[nodiscard]] std::string InactiveTourText(int tour);
/// "%d": step number column (from 1, so position + 1).
[[nodiscard]] std::string StepNumberText(int position);
/// "Preset %03d: %s": preset column.
[[nodiscard]] std::string StepPresetText(int preset, std::string_view name);
/// "%02d:%02d": stay column, hours and minutes of the stay (hours not wrapped).
[[nodiscard]] std::string StayTimeText(std::int64_t minutes);
/// "%02d:%02d - %02d:%02d": window column, start and end with hours modulo 24.
[[nodiscard]] std::string StepWindowText(std::int64_t startMinutes, std::int64_t endMinutes);

/// The local minute of the day (hour x 60 + minute); seconds are ignored.
[[nodiscard]] int LocalMinuteOfDay();

}  // namespace halvard::ptz
