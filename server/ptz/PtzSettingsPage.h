#pragma once
/// What the camera's Pan-Tilt-Zoom settings page does, without its widgets: the
/// immediate commands (focus buttons, image-adjustment lists, preset save and go-to)
/// and the tour editing of its "Auto Patrol" box and of the "Insert/Edit Preset Item"
/// dialog. The page shows the results and the messages these functions ask for.
///
/// The controller argument is the controller of the camera's open document, or null
/// when the document is not open or its pan-tilt-zoom control is off; commands then
/// send nothing.
///
/// Threads: the user-interface thread (the commands block it for their pauses).

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/ptz/PtzController.h"
#include "server/ptz/PtzTour.h"
#include "server/ptz/PtzViewControl.h"

namespace halvard::ptz {

/// Texts of the string table that the page logic needs. The user interface fills them
/// from the resource module; the defaults are plain English.
struct PtzTexts {
  std::string defaultPresetName = "(unnamed)";
  std::string activeLabel = "Active";
  std::string inactiveLabel = "Inactive";
  std::array<std::string, 2> startList = {"Day starts at 00:00", "Day starts at activation"};
  std::array<std::string, 4> columnHeadings = {"Step", "Preset", "Stay", "Time"};
  std::string zeroStayMessage = "The stay time must not be zero.";
  std::string notAvailableMessage = "Pan-tilt-zoom control is not available for this camera.";
};

// ---- basic and image-adjustment settings (stored by the page's OK) -------------------

/// The protocol list; index 0 is the only protocol.
inline constexpr std::string_view kPtzProtocols[] = {"Pelco D"};
/// The image-adjustment modes, by index.
inline constexpr std::string_view kImageAdjustmentModes[] = {"AUTO", "ON", "OFF"};
/// Ports offered: 1 to 6, shown as "%d" (stored as port - 1).
inline constexpr int kPortsOffered = 6;
[[nodiscard]] std::string PortListText(int portNumber);
/// Addresses offered: 0 to 255, shown as "%03d".
[[nodiscard]] std::string AddressListText(int address);

/// The values behind the page's basic and image-adjustment controls, as stored.
struct PtzPageSettings {
  DWORD enabled = 0;     ///< "Input PTZ"
  DWORD protocol = 0;    ///< "PTZ Protocol"
  DWORD portIndex = 0;   ///< "PTZ Com": port number - 1
  DWORD speedIndex = 1;  ///< "PTZ bpp"
  DWORD address = 1;     ///< "PTZ Address"
  DWORD autoFocus = 0, autoIris = 0, autoGainControl = 0, autoBlc = 0, autoWhiteBalance = 0;
};
[[nodiscard]] PtzPageSettings LoadPageSettings(std::string_view group, std::string_view input);
/// The page's OK: stores these values only (tours and presets are stored by their own
/// buttons). They take effect when the camera document is next created.
void SavePageSettings(std::string_view group, std::string_view input, const PtzPageSettings& values);

/// Widths of the step table's four columns: 1, 5, 2 and the rest of eleven parts.
[[nodiscard]] std::array<int, 4> StepTableColumnWidths(int tableWidth);

// ---- immediate commands ------------------------------------------------------------

/// Pause of the focus buttons between the focus frame and the stop.
inline constexpr int kFocusButtonPauseMs = 10;

/// "Focus Near" (kFocusNear) or "Focus Far" (kFocusFar): focus, a 10 ms pause, stop,
/// each frame in its own opening of the port. False when there is no controller.
bool FocusButton(CPtzController* controller, int focusCode, const SleepFunction& sleep = SleepMs);

/// The five image-adjustment lists.
enum class ImageAdjustment { AutoFocus, AutoIris, AutoGainControl, BacklightCompensation, AutoWhiteBalance };
/// A new selection in an image-adjustment list: ON (1) and OFF (2) send the mode
/// command with m = the selection; AUTO (0) and anything else send nothing. True when
/// a command was sent.
bool ImageAdjustmentSelected(CPtzController* controller, ImageAdjustment list, int selection);

// ---- presets ------------------------------------------------------------------------

/// Longest preset name the store can read back (99 UTF-16 units).
inline constexpr std::size_t kMaxPresetNameUnits = 99;

/// The name of preset n, or the default name.
[[nodiscard]] std::string PresetName(std::string_view group, std::string_view input, int preset,
                                     const PtzTexts& texts);
/// The 127 entries "%03d: %s" of the preset lists.
[[nodiscard]] std::vector<std::string> PresetListEntries(std::string_view group, std::string_view input,
                                                         const PtzTexts& texts);

enum class SavePresetResult {
  NoSelection,   ///< no preset selected: nothing done
  NotAvailable,  ///< no controller: show the not-available message; nothing stored
  Saved,         ///< Set preset sent and the name stored
};
struct SavedPreset {
  SavePresetResult result;
  std::string listText;  ///< the new list entry when Saved
};
/// "Save" with the list position selected (0-based, preset = position + 1, -1 none):
/// Set preset, then the name box text stored as "Preset %03d". A name longer than the
/// store can read back is cut to 99 UTF-16 units (never inside a character).
[[nodiscard]] SavedPreset SavePreset(std::string_view group, std::string_view input, CPtzController* controller,
                                     int position, std::string_view name);
/// "Go To" with the list position selected: Go to preset. False when nothing was sent.
bool GotoSelectedPreset(CPtzController* controller, int position);

// ---- tours ---------------------------------------------------------------------------

/// The four entries of the tour list ("#%d: %s" with the active or inactive label) and
/// the entry the list starts on (the active tour, else 0).
struct TourList {
  std::vector<std::string> entries;
  int selection = 0;
};
[[nodiscard]] TourList TourListEntries(std::string_view group, std::string_view input, const PtzTexts& texts);

/// Start list: index 0, the tour's day starts at 00:00; index 1, at its activation.
inline constexpr int kStartAtMidnight = 0;
inline constexpr int kStartAtActivation = 1;
/// The start list's selection for a tour: 1 when its "Run As" is non-zero, else 0.
[[nodiscard]] int StartListSelection(DWORD runAs);
/// Anchor of the step table's windows in minutes of the day: 0 for index 0; for
/// index 1 the stored "Run As", or the current minute when that is 0.
[[nodiscard]] std::int64_t TableAnchorMinutes(int startIndex, DWORD runAs, int nowMinuteOfDay);

/// One row of the step table.
struct StepRow {
  std::string number;  ///< "%d"
  std::string preset;  ///< "Preset %03d: %s"
  std::string stay;    ///< "%02d:%02d"
  std::string window;  ///< "%02d:%02d - %02d:%02d"
};
[[nodiscard]] std::vector<StepRow> StepTable(std::string_view group, std::string_view input, int tour,
                                             std::int64_t anchorMinutes, const PtzTexts& texts);

/// What the "Insert/Edit Preset Item" dialog starts with: the preset list's selection
/// (preset - 1) and the stay time in hours and minutes; the first preset and 00:00
/// when there is no step at the position.
struct StepDialogValues {
  int presetSelection = 0;
  int hours = 0;
  int minutes = 0;
};
[[nodiscard]] StepDialogValues StepDialogFill(std::string_view group, std::string_view input, int tour,
                                              int position);

enum class StepDialogMode { Insert, Edit };
enum class StepDialogResult {
  Applied,     ///< inserted or replaced
  ZeroStay,    ///< stay time 0: show the message; tour unchanged
  TourFull,    ///< insert into a tour of 32 steps: refused; tour unchanged
  NotApplied,  ///< no such tour, nothing to replace at the position, a negative stay
               ///< time or a preset outside 1..127
};
struct StepDialogOutcome {
  StepDialogResult result;
  std::optional<int> selection;  ///< the step to select in the refreshed table
};
/// OK of the dialog: stay = hours x 60 + minutes; the step inserted (position -1: after
/// the last) or replaced; the tour saved either way (as the page always does).
[[nodiscard]] StepDialogOutcome ApplyStepDialog(std::string_view group, std::string_view input, int tour,
                                                StepDialogMode mode, int position, int presetSelection, int hours,
                                                int minutes);

/// "Delete", "Up", "Down" on the selected step: change, save, and the step to select
/// afterwards (Delete: the same position, or the new last step; Up: the previous step,
/// not below 0; Down: the next step, not beyond the last). nullopt: no step to select.
[[nodiscard]] std::optional<int> DeleteTourStep(std::string_view group, std::string_view input, int tour, int position);
[[nodiscard]] std::optional<int> MoveTourStepUp(std::string_view group, std::string_view input, int tour, int position);
[[nodiscard]] std::optional<int> MoveTourStepDown(std::string_view group, std::string_view input, int tour,
                                                  int position);

/// List entries to relabel after an activation or deactivation.
struct Relabel {
  int tour;
  std::string text;
};
/// "Activate && Save": the tour becomes the active one, its "Run As" the current minute
/// (start index 1) or 0. Relabels the previous active tour and the new one when the
/// active tour changed; activating the active tour again only rewrites its anchor.
[[nodiscard]] std::vector<Relabel> ActivateTour(std::string_view group, std::string_view input, int tour,
                                                int startIndex, int nowMinuteOfDay, const PtzTexts& texts);
/// "Deactivate && Save": when the tour is the active one, no tour is active any more
/// and the entry reads "#%d: Inactive". Steps and anchor are kept.
[[nodiscard]] std::vector<Relabel> DeactivateTour(std::string_view group, std::string_view input, int tour);

}  // namespace halvard::ptz
