// Every dialog of the operator drawn offscreen into <build>/screenshots, one picture
// each, and checked for the faults a picture shows: a label or button narrower than its
// text (cut off) and controls of one window that overlap.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include "server/system/DesktopLock.h"
#include "server/system/Lockdown.h"
#include "server/ui/dialogs/AboutDialog.h"
#include "server/ui/dialogs/AccessPrivacyDialog.h"
#include "server/ui/dialogs/BootScheduleDialog.h"
#include "server/ui/dialogs/DataCaptureDialog.h"
#include "server/ui/dialogs/DevicePropertiesDialog.h"
#include "server/ui/dialogs/GroupRenameDialog.h"
#include "server/ui/dialogs/ImageEnhancementDialog.h"
#include "server/ui/dialogs/InternetMonitoringDialog.h"
#include "server/ui/dialogs/MotionDetectionDialog.h"
#include "server/ui/dialogs/PanTiltZoomDialog.h"
#include "server/ui/dialogs/PasswordDialog.h"
#include "server/ui/dialogs/PictureExportDialogs.h"
#include "server/ui/dialogs/VideoRecordingDialog.h"
#include "server/ui/dialogs/WindowsLockdownDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"
#include "server/ui/output/EventMatrixPropertiesDialog.h"
#include "server/ui/playback/VideoFilePropertyDialog.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

// The widgets that show a single-line text of their own.
std::vector<std::string> CutOffTexts(QWidget& dialog) {
  std::vector<std::string> cut;
  for (QWidget* w : dialog.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&dialog)) {
      continue;
    }
    QString text;
    if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && !label->wordWrap() && label->pixmap().isNull()) {
      text = label->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      text = button->text();
    } else {
      continue;
    }
    if (!text.isEmpty() && w->width() < w->sizeHint().width()) {
      cut.push_back(text.toStdString() + " (" + std::to_string(w->width()) + " < " +
                    std::to_string(w->sizeHint().width()) + ")");
    }
  }
  return cut;
}

// Input controls and labels of the same parent whose rectangles intersect.
std::vector<std::string> Overlaps(QWidget& dialog) {
  std::vector<QWidget*> controls;
  for (QWidget* w : dialog.findChildren<QWidget*>()) {
    if (w->isVisibleTo(&dialog) &&
        (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
         qobject_cast<QLineEdit*>(w) || qobject_cast<QSlider*>(w) || qobject_cast<QAbstractSpinBox*>(w)) &&
        (qobject_cast<QWidget*>(w->parent()) == &dialog || qobject_cast<QGroupBox*>(w->parent()) != nullptr)) {
      controls.push_back(w);
    }
  }
  std::vector<std::string> overlaps;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    for (std::size_t j = i + 1; j < controls.size(); ++j) {
      if (controls[i]->parent() == controls[j]->parent() &&
          controls[i]->geometry().intersects(controls[j]->geometry())) {
        overlaps.push_back(controls[i]->objectName().toStdString() + "/" +
                           controls[i]->metaObject()->className() + " and " +
                           controls[j]->objectName().toStdString() + "/" + controls[j]->metaObject()->className());
      }
    }
  }
  return overlaps;
}

TEST(AllDialogs, EachRendersWithNothingCutOffOrOverlapping) {
  testing::App();
  halvard::testing::ScopedRegistry registry;
  system::CRecordingLockdown lockdown;
  system::CRecordingZelLock kiosk;
  system::CRecordingScreenSaver screenSaver;
  system::CDesktopLock lock(2, kiosk, screenSaver);
  const auto texts = testing::ModuleText;
  const std::vector<std::pair<std::string, std::function<std::unique_ptr<QDialog>()>>> dialogs = {
      {"video-recording", [&] { return std::make_unique<CVideoRecordingDialog>(texts, "G", "C", nullptr); }},
      {"access-privacy", [&] { return std::make_unique<CAccessPrivacyDialog>(texts, "G", "C"); }},
      {"motion-detection", [&] { return std::make_unique<CMotionDetectionDialog>(texts, "G", "C", QImage()); }},
      {"data-capture", [&] { return std::make_unique<CDataCaptureDialog>(texts, "G", "C", nullptr, [] {}); }},
      {"boot-schedule", [&] { return std::make_unique<CBootScheduleDialog>(texts); }},
      {"internet-monitoring",
       [&] {
         return std::make_unique<CInternetMonitoringDialog>(texts, "G", "C",
                                                            std::vector<std::string>{"192.168.1.5", "85.1.2.3"});
       }},
      {"internet-monitoring-add-server", [&] { return std::make_unique<CHostNameDialog>(texts); }},
      {"pan-tilt-zoom", [&] { return std::make_unique<CPanTiltZoomDialog>(texts, "G", "C", nullptr); }},
      {"pan-tilt-zoom-preset-item",
       [&] {
         return std::make_unique<CPresetItemDialog>(texts, "G", "C", 0, ptz::StepDialogMode::Insert, -1, ptz::PtzTexts{});
       }},
      {"image-enhancement", [&] { return std::make_unique<CImageEnhancementDialog>(texts, "G"); }},
      {"windows-lockdown", [&] { return std::make_unique<CWindowsLockdownDialog>(texts, lockdown); }},
      {"enter-password", [&] { return std::make_unique<CPasswordDialog>(texts, lock); }},
      {"group-rename",
       [&] { return std::make_unique<CGroupRenameDialog>(texts, "G", std::vector<std::string>{"G"}, nullptr); }},
      {"about", [&] { return std::make_unique<CAboutDialog>(texts); }},
      {"save-picture", [&] { return std::make_unique<CSavePictureDialog>(texts); }},
      {"bmp-sequence", [&] { return std::make_unique<CBmpSequenceDialog>(texts, 300); }},
      {"device-properties-none", [&] { return std::make_unique<CDevicePropertiesDialog>(texts, nullptr, "G"); }},
      {"event-matrix-properties",
       [&] { return std::make_unique<CEventMatrixPropertiesDialog>([](unsigned id) { return testing::ModuleText(id); }, 10); }},
      {"video-file-property",
       [&] {
         playback::VideoFileInfo info;
         info.playLength = 900;
         info.width = 640;
         info.height = 480;
         return std::make_unique<playback::CVideoFilePropertyDialog>(texts, "/archive/G/C/2026-12-08/10-00-00.wmv",
                                                                     info);
       }},
  };
  for (const auto& [name, make] : dialogs) {
    std::unique_ptr<QDialog> dialog = make();
    const std::string path = testing::RenderToPng(*dialog, "all-" + name);
    EXPECT_TRUE(std::filesystem::exists(path)) << name;
    EXPECT_FALSE(dialog->windowTitle().isEmpty()) << name;
    EXPECT_EQ(CutOffTexts(*dialog), std::vector<std::string>{}) << name;
    EXPECT_EQ(Overlaps(*dialog), std::vector<std::string>{}) << name;
  }
}

}  // namespace
}  // namespace halvard::ui::dialogs
