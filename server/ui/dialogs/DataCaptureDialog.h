#pragma once
/// "Data Capture": the group's video standard, resolution, colour depth and HD
/// simulation, the camera's day and night picture sliders (sent to the card as each is
/// released, stored on OK), and the capture device's own property pages.
///
/// Threads: the user-interface thread.

#include <array>
#include <functional>
#include <string>

#include "server/ui/dialogs/CapturePage.h"
#include "server/ui/dialogs/DialogBase.h"

class QComboBox;
class QSlider;

namespace halvard::engine {
class CameraGroup;
}

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsDataCaptureTitle = 4400;
inline constexpr UINT kIdsGroupNotRunning = 123;
inline constexpr UINT kIdsInputCountChanged = 324;

class CDataCaptureDialog final : public CDialogBase {
 public:
  /// `live` is the camera's group when the roster knows it (not owned; the sliders reach
  /// the card through it; null: they only store). `propertyPages` opens the device's
  /// pages of a running group.
  CDataCaptureDialog(TextFunction texts, std::string group, std::string input, const engine::CameraGroup* live,
                     std::function<void()> propertyPages, QWidget* parent = nullptr);

  [[nodiscard]] CaptureValues Values() const;
  /// A slider by position (0..7: day brightness, contrast, saturation, hue, then night).
  [[nodiscard]] QSlider* Slider(int index) const { return m_sliders[static_cast<std::size_t>(index)]; }

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  void Preview(int index);
  void ShowPropertyPages();

  CCapturePage m_page;
  const engine::CameraGroup* m_live;
  std::function<void()> m_propertyPages;
  QComboBox* m_standard = nullptr;
  QComboBox* m_resolution = nullptr;
  QComboBox* m_color = nullptr;
  QComboBox* m_hd = nullptr;
  std::array<QSlider*, kPictureControlCount> m_sliders{};
};

}  // namespace halvard::ui::dialogs
