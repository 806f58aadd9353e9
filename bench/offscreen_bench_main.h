// The main of a benchmark program that needs a Qt application: offscreen, so
// it runs without a display.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>

namespace rolta::bench {

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
