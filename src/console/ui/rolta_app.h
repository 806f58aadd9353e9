#pragma once

#include <QString>

namespace rolta {

// The program's start-up and end: load the environment library, refuse a
// second copy, show the version tips, run the console, unload.
class CRoltaApp {
 public:
  // Returns the program's exit code.
  int InitInstance();

  // Where the single-instance lock lives (the temporary folder).
  static QString InstanceLockPath();
};

}  // namespace rolta
