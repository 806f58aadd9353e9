// Switches the process to a German locale (decimal comma) for the length of a
// scope and back again, so a test can check that our number texts ignore it.
#pragma once

#include <clocale>
#include <string>

namespace rolta::test {

class GermanLocale {
 public:
  GermanLocale() : previous_(std::setlocale(LC_ALL, nullptr)) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
      if (std::setlocale(LC_ALL, name) != nullptr) {
        active_ = true;
        break;
      }
    }
  }
  ~GermanLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  GermanLocale(const GermanLocale&) = delete;
  GermanLocale& operator=(const GermanLocale&) = delete;

  // False when no German locale is installed (the locales package).
  bool Active() const { return active_; }

 private:
  std::string previous_;
  bool active_ = false;
};

}  // namespace rolta::test
