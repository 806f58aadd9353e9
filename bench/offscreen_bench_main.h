// The main of a benchmark program that needs a Qt application: offscreen, so
// it runs without a display.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace rolta::bench {

// The window reads and writes its settings file: while this lives, they are
// in a scratch folder, not the user's.
class ScratchSettingsFolder {
 public:
  ScratchSettingsFolder() {
    char pattern[] = "/tmp/rolta-ui-bench-XXXXXX";
    if (const char* dir = mkdtemp(pattern)) {
      dir_ = dir;
      qputenv("XDG_CONFIG_HOME", dir);
      qputenv("XDG_STATE_HOME", dir);
    }
  }
  ~ScratchSettingsFolder() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  ScratchSettingsFolder(const ScratchSettingsFolder&) = delete;
  ScratchSettingsFolder& operator=(const ScratchSettingsFolder&) = delete;

 private:
  std::string dir_;
};

inline int RunOffscreenBenchmarks(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int code = 0;
  {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
      code = 1;
    } else {
      benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
  }
  return code;
}

}  // namespace rolta::bench
