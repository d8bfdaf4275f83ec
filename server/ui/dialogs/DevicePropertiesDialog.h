#pragma once
/// The property pages of a capture device: every control the device offers
/// (ICaptureDeviceControls) as a slider with its value, in the device's order. OK sends
/// the controls that changed to the device, in order, and stops at the first one it
/// refuses (named in a message; the dialog stays open with the refused value shown);
/// Cancel sends nothing. Nothing is stored: the device keeps its controls itself.
///
/// Threads: the user-interface thread.

#include <string>
#include <vector>

#include "platform/capture/CaptureSource.h"
#include "server/ui/dialogs/DialogBase.h"

class QSlider;

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsDevicePropertiesTitle = 4636;  ///< "%s Properties"
inline constexpr UINT kIdsNoDeviceProperties = 4637;
inline constexpr UINT kIdsControlRefused = 4638;         ///< "The device refused %s = %s."

class CDevicePropertiesDialog final : public CDialogBase {
 public:
  /// `controls` (AddRef'd for the dialog's life) may be null: the dialog then says that
  /// the device has no properties to show.
  CDevicePropertiesDialog(TextFunction texts, ICaptureDeviceControls* controls, const std::string& caption,
                          QWidget* parent = nullptr);
  /// The sliders, one per control in the device's order.
  [[nodiscard]] const std::vector<QSlider*>& Sliders() const { return m_sliders; }

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  ComPtr<ICaptureDeviceControls> m_controls;
  std::vector<CAPTURE_DEVICE_CONTROL> m_shown;
  std::vector<QSlider*> m_sliders;
};

}  // namespace halvard::ui::dialogs
