#pragma once

#include <QString>

namespace rolta {

// The program's start-up and end: load the environment library, refuse a
// second copy, show the version tips, run the console, unload.
class CRoltaApp {
 public:
  // Returns the program's exit code.
  int InitInstance();

  // Where the single-instance lock lives: $XDG_RUNTIME_DIR when it names a
  // folder, else the temporary folder under a name with the user's number.
  static QString InstanceLockPath();
};

}  // namespace rolta
