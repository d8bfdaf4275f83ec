// The server program: the start-up in its order, the event loop, and the shutdown that
// closing the main frame (by the operator or a termination signal) runs.

#include <csignal>
#include <string>
#include <vector>

#include <QApplication>

#include "platform/window/Window.h"
#include "server/app/ServerSteps.h"
#include "server/app/SignalPipe.h"
#include "server/app/StartupSequence.h"
#include "server/ui/Commands.h"
#include "server/ui/QtDispatcher.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // Window messages (motion, pictures) are delivered by the event loop.
  halvard::ui::CQtDispatcher dispatcher;
  halvard::window::SetDefaultDispatcher(&dispatcher);
  int status = 0;
  {
    halvard::app::CServerSteps steps;
    // A signal closes the main frame as the operator would: every group stopped, every
    // file complete, "Last Shutdown" written.
    halvard::app::CSignalPipe signalPipe([&steps](int signalNumber) {
      halvard::ui::CMainFrame* frame = steps.MainFrame();
      if (frame == nullptr) {
        QCoreApplication::exit(0);
        return;
      }
      frame->ReportLine(frame->Text(halvard::ui::kIdsSignalClose) + " " + strsignal(signalNumber));
      frame->close();
    });
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!halvard::app::RunStartup(steps, arguments)) {
      status = 1;
    } else {
      status = application.exec();
    }
  }
  dispatcher.Shutdown();
  halvard::window::SetDefaultDispatcher(nullptr);
  return status;
}
