// The device's property pages over a simulated card: its controls as sliders, OK
// sending only what changed, Cancel nothing, and the main frame opening them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QSlider>
#include <QTimer>

#include "platform/capture/CardState.h"
#include "platform/capture/DeviceEnumerator.h"
#include "platform/media/Types.h"
#include "server/engine/tests/EngineTestFixture.h"
#include "server/ui/MainFrame.h"
#include "server/ui/dialogs/DevicePropertiesDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"

namespace halvard::ui::dialogs {
namespace {

class DeviceProperties : public engine::testing::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    testing::App();
    ASSERT_EQ(capture::FindDeviceFilter(CLSID_VideoInputDeviceCategory, "BT878 Capture 0",
                                        card.ReleaseAndGetAddressOf()),
              S_OK);
    ASSERT_EQ(card.As(&controls), S_OK);
  }
  // The slider of the control named `name`.
  QSlider* Slider(CDevicePropertiesDialog& dialog, const std::string& name) {
    LONG count = 0;
    EXPECT_EQ(controls->GetControlCount(&count), S_OK);
    for (LONG i = 0; i < count; ++i) {
      CAPTURE_DEVICE_CONTROL c{};
      EXPECT_EQ(controls->GetControl(i, &c), S_OK);
      if (media::ToUtf8(c.name) == name) {
        return dialog.Sliders().at(static_cast<std::size_t>(i));
      }
    }
    return nullptr;
  }
  ComPtr<IBaseFilter> card;
  ComPtr<ICaptureDeviceControls> controls;
};

TEST_F(DeviceProperties, OkSendsTheChangedControlsAndCancelNothing) {
  {
    CDevicePropertiesDialog dialog(testing::ModuleText, controls.Get(), "BT878 Capture 0");
    EXPECT_EQ(dialog.windowTitle().toStdString(), "BT878 Capture 0 Properties");
    LONG count = 0;
    ASSERT_EQ(controls->GetControlCount(&count), S_OK);
    EXPECT_EQ(dialog.Sliders().size(), static_cast<std::size_t>(count));
    ASSERT_NE(Slider(dialog, "Input 3 Hue"), nullptr);
    EXPECT_EQ(Slider(dialog, "Input 3 Hue")->value(), 5000);
    Slider(dialog, "Input 3 Hue")->setValue(1234);
    dialog.reject();
  }
  EXPECT_EQ(capture::GetCardState(0).inputs[3].hue, 5000u);

  CDevicePropertiesDialog dialog(testing::ModuleText, controls.Get(), "BT878 Capture 0");
  Slider(dialog, "Input 3 Hue")->setValue(1234);
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(capture::GetCardState(0).inputs[3].hue, 1234u);
  EXPECT_EQ(capture::GetCardState(0).inputs[2].hue, 5000u);
  testing::RenderToPng(dialog, "device-properties");
}

TEST_F(DeviceProperties, ADeviceWithoutControlsSaysSoAndTheMainFrameOpensThePages) {
  CDevicePropertiesDialog none(testing::ModuleText, nullptr, "Door");
  EXPECT_TRUE(none.Sliders().empty());
  EXPECT_NE(none.findChild<QLabel*>(), nullptr);
  none.accept();
  EXPECT_EQ(none.result(), QDialog::Accepted);

  CMainFrame frame(testing::ModuleText);
  bool seen = false;
  QTimer::singleShot(50, [&seen] {
    auto* pages = dynamic_cast<CDevicePropertiesDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(pages, nullptr);
    seen = !pages->Sliders().empty();
    pages->reject();
  });
  frame.ShowPropertyPages(card.Get(), "BT878 Capture 0");
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace halvard::ui::dialogs
