// HalvardShell: starts one server process per display that has camera groups, then
// exits. No arguments. $HALVARD_SHELL_DELAY_SCALE_MS shortens the pauses between
// starts (milliseconds per second of "Card Screen Delay"; tests use it).

#include "shell/Launcher.h"

int main() { return halvard::shell::RunLauncher(); }
