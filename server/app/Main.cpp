// The server program. Start-up so far: the component runtime and the resource module;
// the windows, the camera roster and everything after them arrive with the user
// interface.

#include <cstdio>

#include "platform/com/Com.h"
#include "server/app/ResourceModule.h"

namespace {

constexpr UINT kIdsMainTitle = 120;

}  // namespace

int main() {
  (void)CoInitialize(nullptr);
  int status = 0;
  {
    halvard::app::CResourceModule resources;
    if (!resources.Load()) {
      // Until the user interface exists, the message box text goes to standard error,
      // followed by the loader's reason for the operator.
      std::fprintf(stderr, "Could not load resource module.\n%s\n", resources.LastError().c_str());
      status = 1;
    } else {
      std::printf("%s: resource module %s loaded; the server's windows come with the user interface.\n",
                  resources.LoadString(kIdsMainTitle).c_str(), resources.Path().c_str());
    }
  }
  CoUninitialize();
  return status;
}
