// A finished calibration assistant run of the FL channel as the history and
// the certificate take it: as-found fails at 2500 N, the new table is stored,
// as-left passes.
#pragma once

#include "calib/calibration_run.h"

namespace rolta::test {

inline CalibrationRun SampleRun() {
  CalibrationRun run;
  run.bench = "Bench 7";
  run.engineer = "Li Wei";
  run.port = "/dev/ttyS0";
  run.controllerVersion = "7.34";
  run.channel = CalibChannel::TorqueFrontLeft;
  run.unit = "N";
  run.sensorSerial = "LC-0042";
  run.reference = {"weights", "M1 set, arm 1.2 m", "CNAS-2026-117", 0.35};
  run.fullScale = 5000;
  run.startedAtUnixSeconds = 1797000000;
  run.finishedAtUnixSeconds = 1797000900;
  run.asFound = {{0, 0.0012, 0.0004, 25, 3.5, 0.07, 1.2, true}, {2500, 2.4821, 0.0009, 25, 2561.25, 1.225, 1.9, false}};
  run.tableBefore = CalibTable(10);
  run.tableBefore.SetCount(2);
  run.tableBefore.SetFirst(1, 2.5f);
  run.tableBefore.SetSecond(1, 2561.25f);
  run.tableAfter = run.tableBefore;
  run.tableAfter.SetSecond(1, 2500.0f);
  run.tableStored = true;
  run.linearityPercentFullScale = 0.118;
  run.asLeft = {{2500, 2.4821, 0.0008, 25, 2500.5, 0.01, 1.8, true}};
  run.asLeftPass = true;
  run.message = "line one\nline two, \"quoted\"";
  run.traceability = "Traceable to NIM.";
  return run;
}

}  // namespace rolta::test
