// What the console takes from the environment library, as one interface so
// the windows can be exercised with a scripted environment.
#pragma once

#include <string>
#include <vector>

#include "env/text_lookup.h"

namespace rolta {

class ConsoleEnvironment {
 public:
  virtual ~ConsoleEnvironment() = default;
  virtual const TextLookup& Texts() const = 0;
  // The serial ports to offer, in the library's order.
  virtual std::vector<std::string> SerialPortNames() = 0;
  // The console's version text, e.g. "3, 7, 4, 0".
  virtual std::string VersionText() = 0;
  // The picture path of the environment record; empty when none.
  virtual std::string PicturePath() const = 0;
};

}  // namespace rolta
