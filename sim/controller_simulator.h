// The simulated controller on a pseudo-terminal, running on its own thread.
// The program qrx5000b-sim wraps it; tests run it in their own process:
//
//   rolta::sim::SimulatorOptions options;
//   options.periodMs = 10;
//   rolta::sim::ControllerSimulator sim(options);
//   sim.Start();
//   open(sim.SlavePath().c_str(), ...)   // talk to it as to the controller
//   sim.Stop();
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "command_reader.h"
#include "controller_model.h"
#include "sim_options.h"

namespace rolta::sim {

struct ReceivedCommand {
  std::uint8_t code = 0;
  bool checksumGood = true;  // false: a known command that failed its checksum
  std::vector<std::uint8_t> frame;
  std::chrono::steady_clock::time_point at;
};

struct SimulatorCounters {
  ReaderCounters reader;
  std::size_t framesSent = 0;      // answers and periodic frames queued for the line
  std::size_t framesSilenced = 0;  // frames the silence fault swallowed
  std::size_t statusSkipped = 0;   // status frames that found the paced line busy
  std::size_t bytesDropped = 0;    // whole frames lost because nobody read the line
  std::size_t connects = 0;        // times the slave side was opened
};

// One line for people: commands, frames sent, status frames skipped, bytes dropped.
std::string CountersText(const SimulatorCounters& counters);

class ControllerSimulator {
 public:
  explicit ControllerSimulator(SimulatorOptions options = {});
  ~ControllerSimulator();
  ControllerSimulator(const ControllerSimulator&) = delete;
  ControllerSimulator& operator=(const ControllerSimulator&) = delete;

  // Opens the pseudo-terminal, makes the link and starts the thread.
  bool Start(std::string* error = nullptr);
  // Ends the thread, closes the line, removes the link and writes the
  // firmware image when --image-out asks for it. Safe to call twice.
  void Stop();
  bool IsRunning() const { return running_.load(); }
  // True once the hangup fault has closed the line.
  bool HungUp() const { return hungUp_.load(); }
  std::string SlavePath() const { return slavePath_; }
  const SimulatorOptions& Options() const { return options_; }

  // Faults may be switched while running.
  void SetFaults(FaultSet faults) { faults_.store(faults.Bits()); }
  FaultSet Faults() const { return FaultSet::FromBits(faults_.load()); }

  std::vector<ReceivedCommand> ReceivedCommands() const;
  std::size_t ReceivedCount() const;
  // Waits until at least `count` commands were received (or the timeout).
  bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const;
  void ClearReceived();

  std::vector<std::uint8_t> FirmwareImage() const;
  bool FirmwareComplete() const;
  bool WriteFirmwareImage(const std::string& path) const;

  std::array<std::uint8_t, kParamRecordSize> ParamRecord() const;
  std::array<std::uint8_t, kChannelMapSize> ChannelMap() const;
  std::vector<std::uint8_t> CalibImage(std::uint8_t requestCode) const;
  void SetParamRecord(const std::array<std::uint8_t, kParamRecordSize>& record);
  bool SetCalibImage(std::uint8_t requestCode, std::span<const std::uint8_t> image);
  bool InUpgradeProgram() const;
  double Speed() const;
  // The calibration references on the sensors, changeable while running.
  void SetAppliedLoad(SensorInput input, std::optional<double> load);
  AppliedLoads Loads() const;
  SimulatorCounters Counters() const;

 private:
  using Clock = std::chrono::steady_clock;
  void Run();
  void HandleNotifications();
  void ProcessInput(Clock::time_point now);
  // Answers overtake waiting status frames; status frames may be skipped;
  // the closing frame of a test is neither.
  enum class OutKind : std::uint8_t { Answer, Status, Closing };
  void Emit(Frame frame, OutKind kind);
  void FlushOutput(Clock::time_point now);
  void HangUp();
  void CloseAll();
  void Log(const ReaderEvent& event) const;
  double MillisSinceStart(Clock::time_point t) const;

  SimulatorOptions options_;
  std::atomic<std::uint32_t> faults_{0};
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> hungUp_{false};
  std::thread thread_;

  int master_ = -1;
  int keeper_ = -1;  // our own slave descriptor: the line stays up between console sessions
  int notify_ = -1;  // inotify on the slave: sees the console open and close it
  int wake_[2] = {-1, -1};
  std::string slavePath_;
  bool linkMade_ = false;

  mutable std::mutex mutex_;
  mutable std::condition_variable received_cv_;
  ControllerModel model_;
  CommandReader reader_;
  std::vector<ReceivedCommand> log_;
  SimulatorCounters counters_;
  std::uint32_t imageWritten_ = 0;

  // Thread-only state.
  std::mt19937 faultRng_;
  Clock::time_point start_;
  std::deque<std::uint8_t> rxPending_;  // read from the line, not yet "arrived" at the baud rate
  // Frames waiting for the line, each with the noise the garbage fault puts
  // before it. Only the front one may be partly on the line already.
  struct Outgoing {
    std::vector<std::uint8_t> bytes;
    OutKind kind;
  };
  std::deque<Outgoing> txQueue_;
  std::size_t txStarted_ = 0;  // bytes of the front frame already on the line
  std::size_t txWaiting_ = 0;  // bytes in txQueue_ not yet on the line
  Clock::time_point rxNext_;
  Clock::time_point txNext_;
  Clock::time_point lastRxByte_;
  bool hangupNow_ = false;
  bool txBlocked_ = false;
};

}  // namespace rolta::sim
