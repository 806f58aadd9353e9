// A 256 KiB ROM uploaded to the controller simulator emulating a 115200-baud
// line, and what the upload took, read from the blocks as the simulator
// received them: shared by the upgrade benchmarks (headless, rolta-cli, the
// console window). The stop-and-wait bound is one 232-byte block plus one
// 24-byte answer per 220 data bytes at 11,520 bytes a second (22.2 ms a
// block); "vs_line" is the median block-to-block time over it.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "controller_simulator.h"
#include "link/command_codes.h"
#include "link/frames.h"
#include "upgrade/firmware_upgrade.h"

namespace rolta::bench {

inline constexpr std::size_t kRomSize = 256 * 1024;
inline constexpr int kUploadBaud = 115200;

inline double LineSecondsPerBlock() {
  return static_cast<double>(RomBlockFrame::kLength + kStatusFrameLength) / (kUploadBaud / 10.0);
}

// A ROM of kRomSize bytes in the temporary folder; removed with the object.
class TestRom {
 public:
  TestRom() : path_(std::filesystem::temp_directory_path() / ("rolta_bench_" + std::to_string(::getpid()) + ".ROM")) {
    std::ofstream file(path_, std::ios::binary);
    for (std::size_t k = 0; k < kRomSize; ++k) file.put(static_cast<char>(k * 37 + (k >> 9)));
  }
  ~TestRom() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  TestRom(const TestRom&) = delete;
  TestRom& operator=(const TestRom&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline sim::SimulatorOptions PacedSimulator() {
  sim::SimulatorOptions options;
  options.baud = kUploadBaud;
  return options;
}

// The median time from one block's arrival at the simulator to the next's.
inline double MedianBlockToBlockSeconds(const std::vector<sim::ReceivedCommand>& received) {
  std::vector<double> gaps;
  const sim::ReceivedCommand* last = nullptr;
  for (const sim::ReceivedCommand& command : received) {
    if (command.code != command::kRomBlock) continue;
    if (last != nullptr) gaps.push_back(std::chrono::duration<double>(command.at - last->at).count());
    last = &command;
  }
  if (gaps.empty()) return 0;
  std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2), gaps.end());
  return gaps[gaps.size() / 2];
}

inline void ReportUpload(benchmark::State& state, double seconds, const sim::ControllerSimulator& controller) {
  const double blocks = static_cast<double>(RomBlockCount(kRomSize));
  const double boundSeconds = blocks * LineSecondsPerBlock();
  const double median = MedianBlockToBlockSeconds(controller.ReceivedCommands());
  state.counters["seconds"] = seconds;
  state.counters["bound_s"] = boundSeconds;
  state.counters["vs_bound"] = seconds / boundSeconds;
  state.counters["KiB_per_s"] = kRomSize / 1024.0 / seconds;
  state.counters["block_to_block_ms"] = median * 1e3;
  state.counters["vs_line"] = median / LineSecondsPerBlock();
}

}  // namespace rolta::bench
