#pragma once
/// "Pan-Tilt-Zoom": the camera head's switch, serial link and image-adjustment modes
/// (stored by OK, used when the camera window next opens), the buttons that act at once
/// through the open camera's controller (focus, image adjustment, preset save and go
/// to), and the tour editor of "Auto Patrol" with its step dialog "Insert/Edit Preset
/// Item", whose buttons store the tour at once.
///
/// Threads: the user-interface thread (the head's commands block it for their pauses).

#include <array>
#include <functional>
#include <optional>
#include <vector>
#include <string>

#include "server/ptz/PtzSettingsPage.h"
#include "server/ui/dialogs/DialogBase.h"
#include "server/ui/dialogs/PanTiltZoomPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsPanTiltZoomTitle = 4542;
inline constexpr UINT kIdsPresetItemTitle = 4580;
inline constexpr UINT kIdsZeroStay = 4578;
inline constexpr UINT kIdsTourFull = 4585;

/// The texts of the page logic from the resource module.
[[nodiscard]] ptz::PtzTexts PtzTextsOf(const CDialogBase& dialog);

class CPanTiltZoomDialog final : public CDialogBase {
 public:
  /// `controller`: the open camera window's, or null (then the head's buttons send
  /// nothing and "Save" says why). It must outlive the dialog.
  CPanTiltZoomDialog(TextFunction texts, std::string group, std::string input, ptz::CPtzController* controller,
                     QWidget* parent = nullptr);
  [[nodiscard]] ptz::PtzPageSettings Values() const;

  /// The buttons of "Preset Position" and "Auto Patrol". The step dialog is opened
  /// modally unless a driver is set (tests fill and close it).
  using StepDialogDriver = std::function<void(class CPresetItemDialog&)>;
  void SetStepDialogDriver(StepDialogDriver driver) { m_stepDriver = std::move(driver); }
  void SavePreset();
  void GotoPreset();
  void InsertStep();
  void EditStep();
  void DeleteStep();
  void MoveStepUp();
  void MoveStepDown();
  void ActivateTour();
  void DeactivateTour();

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  void Build();
  void ShowTours(int selection);
  void ShowSteps(std::optional<int> select);
  void OpenStepDialog(ptz::StepDialogMode mode, int position);
  [[nodiscard]] int Tour() const;
  [[nodiscard]] int SelectedStep() const;
  void UpdateEnabled();

  CPanTiltZoomPage m_page;
  ptz::CPtzController* m_controller;
  ptz::PtzTexts m_ptzTexts;
  StepDialogDriver m_stepDriver;
  QCheckBox* m_enabled = nullptr;
  QComboBox* m_address = nullptr;
  QComboBox* m_protocol = nullptr;
  QComboBox* m_port = nullptr;
  QComboBox* m_baud = nullptr;
  std::array<QComboBox*, 5> m_modes{};  ///< in ptz::ImageAdjustment order
  QComboBox* m_presets = nullptr;
  QLineEdit* m_presetName = nullptr;
  QComboBox* m_tours = nullptr;
  QComboBox* m_start = nullptr;
  QTreeWidget* m_steps = nullptr;
  std::vector<QWidget*> m_dependents;
};

/// "Insert/Edit Preset Item": a preset and a stay time of 00:01 to 23:59. OK refuses a
/// stay time of 00:00 and a full tour with the dialog kept open and the tour unchanged;
/// otherwise the step is inserted or replaced and the tour stored.
class CPresetItemDialog final : public CDialogBase {
 public:
  CPresetItemDialog(TextFunction texts, std::string group, std::string input, int tour, ptz::StepDialogMode mode,
                    int position, const ptz::PtzTexts& ptzTexts, QWidget* parent = nullptr);
  [[nodiscard]] QComboBox* Presets() const { return m_preset; }
  [[nodiscard]] QSpinBox* Hours() const { return m_hours; }
  [[nodiscard]] QSpinBox* Minutes() const { return m_minutes; }
  /// The step to select after OK.
  [[nodiscard]] std::optional<int> Selection() const { return m_selection; }

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  std::string m_group;
  std::string m_input;
  int m_tour;
  ptz::StepDialogMode m_mode;
  int m_position;
  std::optional<int> m_selection;
  QComboBox* m_preset = nullptr;
  QSpinBox* m_hours = nullptr;
  QSpinBox* m_minutes = nullptr;
};

}  // namespace halvard::ui::dialogs
