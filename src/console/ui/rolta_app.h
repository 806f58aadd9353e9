#pragma once

#include <QString>

#include "env/ui_services.h"

namespace rolta {

// The program's start-up and end: load the environment library, refuse a
// second copy, show the version tips, run the console, unload.
class CRoltaApp {
 public:
  // The window system's services every window of the program uses.
  explicit CRoltaApp(HostServices services) : services_(services) {}

  // Returns the program's exit code.
  int InitInstance();

  // Where the single-instance lock lives: $XDG_RUNTIME_DIR when it names a
  // folder, else the temporary folder under a name with the user's number.
  static QString InstanceLockPath();

 private:
  HostServices services_;
};

}  // namespace rolta
