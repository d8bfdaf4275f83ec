// The main frame opens the camera dialogs by command and name; commands without a
// dialog here open nothing.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QTimer>

#include "server/settings/Settings.h"
#include "server/ui/Commands.h"
#include "server/ui/MainFrame.h"
#include "server/ui/dialogs/AccessPrivacyDialog.h"
#include "server/ui/dialogs/DataCaptureDialog.h"
#include "server/ui/dialogs/ImageEnhancementDialog.h"
#include "server/ui/dialogs/InternetMonitoringDialog.h"
#include "server/ui/dialogs/MotionDetectionDialog.h"
#include "server/ui/dialogs/PanTiltZoomDialog.h"
#include "server/ui/dialogs/VideoRecordingDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

// Runs `act` on the first modal dialog of type D that comes up.
template <class D>
class CDialogDriver {
 public:
  explicit CDialogDriver(std::function<void(D&)> act) : m_act(std::move(act)) {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        if (auto* wanted = dynamic_cast<D*>(dialog); wanted != nullptr && !seen) {
          seen = true;
          m_act(*wanted);
        }
      }
    });
    m_timer.start();
  }
  bool seen = false;

 private:
  std::function<void(D&)> m_act;
  QTimer m_timer;
};

TEST(MainFrameDialogs, CameraSettingsCommandsOpenTheirDialogForTheNamedCamera) {
  testing::App();
  halvard::testing::ScopedRegistry registry;
  CMainFrame frame(testing::ModuleText);
  frame.SetMessageBoxesShown(false);

  CDialogDriver<CAccessPrivacyDialog> access([](CAccessPrivacyDialog& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "Access & Privacy Control");
    d.findChild<QCheckBox*>("inputEnabled")->setChecked(false);
    d.accept();
  });
  EXPECT_TRUE(frame.OpenCameraDialog(kCmdAccessPrivacy, "Card A", "Door"));
  EXPECT_TRUE(access.seen);
  EXPECT_EQ(s::kInputEnabled.Read("Card A", "Door"), 0u);

  CDialogDriver<CVideoRecordingDialog> recording([](CVideoRecordingDialog& d) {
    EXPECT_EQ(d.Form().name, "Door");
    d.reject();
  });
  EXPECT_TRUE(frame.OpenCameraDialog(kCmdVideoRecording, "Card A", "Door"));
  EXPECT_TRUE(recording.seen);

  CDialogDriver<CMotionDetectionDialog> motion([](CMotionDetectionDialog& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "Motion Detection");
    d.reject();
  });
  EXPECT_TRUE(frame.OpenCameraDialog(kCmdMotionDetection, "Card A", "Door"));
  EXPECT_TRUE(motion.seen);

  CDialogDriver<CDataCaptureDialog> capture([](CDataCaptureDialog& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "Data Capture");
    d.reject();
  });
  EXPECT_TRUE(frame.OpenCameraDialog(kCmdDataCapture, "Card A", "Door"));
  EXPECT_TRUE(capture.seen);

  CDialogDriver<CInternetMonitoringDialog> monitoring([](CInternetMonitoringDialog& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "Internet Video Monitoring");
    d.reject();
  });
  EXPECT_TRUE(frame.OpenCameraDialog(kCmdInternetMonitoring, "Card A", "Door"));
  EXPECT_TRUE(monitoring.seen);

  CDialogDriver<CPanTiltZoomDialog> ptz([](CPanTiltZoomDialog& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "Pan-Tilt-Zoom");
    d.findChild<QCheckBox*>("enabled")->setChecked(true);
    d.accept();
  });
  EXPECT_TRUE(frame.OpenCameraDialog(kCmdPanTiltZoom, "Card A", "Door"));
  EXPECT_TRUE(ptz.seen);
  EXPECT_EQ(s::kInputPtz.Read("Card A", "Door"), 1u);

  // The enhancement level belongs to the camera's group.
  CDialogDriver<CImageEnhancementDialog> enhancement([](CImageEnhancementDialog& d) {
    d.findChild<QRadioButton*>("level2")->setChecked(true);
    d.accept();
  });
  EXPECT_TRUE(frame.OpenCameraDialog(kCmdImageEnhancement, "Card A", "Door"));
  EXPECT_TRUE(enhancement.seen);
  EXPECT_EQ(s::kCardIdeLevel.Read("Card A"), 2u);

  EXPECT_FALSE(frame.OpenCameraDialog(kCmdStartAll, "Card A", "Door"));
}

}  // namespace
}  // namespace halvard::ui::dialogs
