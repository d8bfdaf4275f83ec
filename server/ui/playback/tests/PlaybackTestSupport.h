#pragma once
// One QApplication per process for the playback tests (offscreen unless told).

#include <QApplication>

namespace halvard::ui::playback::testing {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "ui_playback_tests";
  static char* argv[] = {name, nullptr};
  static auto* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace halvard::ui::playback::testing
