// What one live status frame costs the console window: the frame comes in on
// a pseudo-terminal, goes through the window's receive handler (ring, sync,
// checksum, status line, decoder, readout row) and all four segment displays
// are repainted. The line brings at most 480 status frames a second (115200
// baud, 24 bytes each); "cpu%@480" is the share of one core that rate costs.
//
//   ui_LiveFrameRepaint      the window thread's work per frame when every
//                            frame is presented (the worst case): the receive
//                            handler called for the waiting bytes, the
//                            present, then the repaints. The 1 ms pause after
//                            each frame is idle time and is left out.
//   ui_LineAt480             the console as it runs: a writer sends 480 frames
//                            a second for a second per iteration, the monitor
//                            thread posts, the event loop runs the handler
//                            (with its real 1 ms pause) and presents at the
//                            screen's pace. CPU is the whole process's but
//                            the writer's (the controller's side).
//                            Argument 1: with the line monitor window open;
//                            2: recording to a file with the trend window
//                            open on its 5-minute window.
//   ui_LineAt480_BytePaced   the same with the bytes arriving one at a time,
//                            a character time (86.8 us) apart, as a UART's
//                            receiver delivers them: the monitor thread's
//                            gathering is what keeps a frame's cost down.
#include <benchmark/benchmark.h>

#include "cpu_clock.h"
#include "offscreen_bench_main.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QEventLoop>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "fake_environment.h"
#include "env/ui/qt_services.h"
#include "recording/ui/record_control.h"
#include "console/ui/rolta_dlg.h"
#include "recording/ui/trend_dlg.h"
#include "link/frames.h"
#include "link/status_frames.h"
#include "widgets/ui/digistring.h"

namespace {

using namespace rolta;
using rolta::bench::CpuSeconds;

// Context switches, voluntary or not, of the process (who == RUSAGE_SELF) or
// of the calling thread (RUSAGE_THREAD): each costs a wake-up, dear on a
// virtual machine, and their count per frame does not vary with the load.
double ContextSwitches(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_nvcsw + usage.ru_nivcsw);
}

// The far end of the line: a pseudo-terminal whose slave the console opens.
class PtyLine {
 public:
  PtyLine() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) return;
    slavePath_ = name;
    // Held open so the line stays up; only polled, never read.
    watch_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
  ~PtyLine() {
    if (watch_ >= 0) close(watch_);
    if (master_ >= 0) close(master_);
  }
  bool Ok() const { return master_ >= 0 && watch_ >= 0; }
  const std::string& SlavePath() const { return slavePath_; }

  bool Send(const std::uint8_t* bytes, std::size_t n) { return write(master_, bytes, n) == static_cast<ssize_t>(n); }
  // Until the console side has bytes to read.
  bool WaitReadable(int timeoutMs) {
    pollfd fd{watch_, POLLIN, 0};
    return poll(&fd, 1, timeoutMs) == 1;
  }

 private:
  int master_ = -1;
  int watch_ = -1;
  std::string slavePath_;
};

// What changes from one type-16 status frame to the next.
enum class Changes : int {
  Everything = 0,  // all four values and Numth: four displays and the status line repaint
  NumthOnly = 1,   // only the status line repaints
  Nothing = 2,     // the same frame again: nothing repaints
};

class StatusFrames {
 public:
  explicit StatusFrames(Changes changes = Changes::Everything) : changes_(changes) {}
  const std::uint8_t* Next() {
    if (changes_ != Changes::Nothing) ++n_;
    const float step = changes_ == Changes::Everything ? static_cast<float>(n_ % 20000) : 1.0f;
    frame_[0] = 0x55;
    frame_[1] = 0xAA;
    frame_[2] = 16;
    frame_[3] = 0x10;
    PutFloat32LE(&frame_[6], 100.0f + 0.1f * step);    // force
    PutFloat32LE(&frame_[10], 0.01f * step);           // speed
    PutFloat32LE(&frame_[14], 0.1f * step);            // parameter
    PutFloat32LE(&frame_[18], 2000.0f + 0.1f * step);  // roller rpm
    PutUInt16LE(&frame_[22], static_cast<std::uint16_t>(n_ & 0x7FFF));
    StoreChecksum(frame_, sizeof frame_);
    return frame_;
  }
  static constexpr std::size_t kLength = 24;

 private:
  Changes changes_;
  std::uint8_t frame_[kLength] = {};
  std::uint32_t n_ = 1;
};

// The console window, shown offscreen and connected to the line.
struct ConnectedConsole {
  // `pump` pauses the console's loops; the window system's own unless given.
  explicit ConnectedConsole(EventPump* pump = nullptr) : services{boxes, pump ? *pump : qtPump, keys} {}

  QtMessageBoxService boxes;
  QtEventPump qtPump;
  QtKeyState keys;
  HostServices services;
  PtyLine line;
  std::unique_ptr<test::FakeEnvironment> environment;
  std::unique_ptr<CRoltaDlg> console;

  bool Start() {
    if (!line.Ok()) return false;
    environment = std::make_unique<test::FakeEnvironment>(std::vector<std::string>{line.SlavePath()});
    console = std::make_unique<CRoltaDlg>(*environment, services);
    console->show();
    QCoreApplication::processEvents();
    console->PortList()->setCurrentIndex(0);
    console->OnConnect();
    return console->Port().IsOpen();
  }
  // Paints what the frame invalidated, as the event loop does next: the four
  // displays (each text changed) and the status line, once each.
  void Repaint() { QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest); }
  int Paints() const {
    int paints = 0;
    for (const CRoltaDlg::Readout& r : console->Readouts()) paints += r.display->PaintCount();
    return paints;
  }
  ~ConnectedConsole() {
    if (console) console->OnCloseChannel();
  }
};

class NoPause final : public EventPump {
 public:
  void ProcessPendingEvents() override { QCoreApplication::processEvents(); }
  void SleepMilliseconds(int) override {}
};

void Report(benchmark::State& state, double cpuSeconds, std::int64_t frames, int paints) {
  const double perFrame = frames > 0 ? cpuSeconds / static_cast<double>(frames) : 0.0;
  state.counters["cpu_us/frame"] = perFrame * 1e6;
  state.counters["cpu%@480"] = perFrame * 480.0 * 100.0;
  state.counters["paints/frame"] = frames > 0 ? static_cast<double>(paints) / static_cast<double>(frames) : 0.0;
}

void ui_LiveFrameRepaint(benchmark::State& state) {
  NoPause noPause;
  ConnectedConsole rig(&noPause);
  if (!rig.Start()) {
    state.SkipWithError("could not connect the console to a pseudo-terminal");
    return;
  }
  StatusFrames frames(static_cast<Changes>(state.range(0)));
  const int paintsBefore = rig.Paints();
  const double cpuBefore = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  for (auto _ : state) {
    rig.line.Send(frames.Next(), StatusFrames::kLength);
    if (!rig.line.WaitReadable(1000)) {
      state.SkipWithError("the frame did not reach the console side");
      break;
    }
    rig.console->OnCommNotify(CCommPort::kEventCharReceived);
    rig.console->Session().Present();
    rig.Repaint();
    // The monitor thread's notification for these bytes: it finds them read.
    QCoreApplication::processEvents();
  }
  const double cpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
  Report(state, cpu, state.iterations(), rig.Paints() - paintsBefore);
  state.SetLabel(rig.console->StatusText()->text().toStdString());
}
// Argument: what changes per frame (Changes); 0 is the live case.
BENCHMARK(ui_LiveFrameRepaint)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// Only the readouts: one decoded frame of type 16 shown on the four displays
// (captions and texts) and their repaint, without the line and the status text.
void ui_ShowLiveFrameRepaint(benchmark::State& state) {
  ConnectedConsole rig;
  if (!rig.Start()) {
    state.SkipWithError("could not connect the console to a pseudo-terminal");
    return;
  }
  StatusFrames frames;
  ControllerStatus status;
  IdentityLookup lookup;
  ReadoutUpdate update;
  struct Sink final : StatusFrameSinks {
    ControllerStatus latest;
    void ShowControllerVersion(bool, double) override {}
    void ShowLiveFrame(const ControllerStatus& decoded) override { latest = decoded; }
  } sink;
  SessionView& view = *rig.console;
  const int paintsBefore = rig.Paints();
  const double cpuBefore = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  for (auto _ : state) {
    DecodeStatusFrame(frames.Next(), status, sink);
    PresentLiveFrame(sink.latest, lookup, update);
    view.ShowReadouts(update);
    rig.Repaint();
  }
  const double cpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
  Report(state, cpu, state.iterations(), rig.Paints() - paintsBefore);
  state.SetLabel(rig.console->Readouts()[0].display->text());
}
BENCHMARK(ui_ShowLiveFrameRepaint)->Unit(benchmark::kMicrosecond);

// How the writer hands the console its bytes.
enum class Pacing : std::uint8_t {
  WholeFrames,     // 24 bytes at once, 480 times a second
  OneByteAtATime,  // one byte per character time at 115200 baud
};

void LineAt480(benchmark::State& state, Pacing pacing) {
  ConnectedConsole rig;
  if (!rig.Start()) {
    state.SkipWithError("could not connect the console to a pseudo-terminal");
    return;
  }
  if (state.range(0) == 1) rig.console->OnLineMonitor();
  char records[] = "/tmp/rolta-trend-bench-XXXXXX";
  const bool recordAndTrend = state.range(0) == 2 && mkdtemp(records) != nullptr;
  if (recordAndTrend) {
    if (!rig.console->Recorder()->StartRecording(std::filesystem::path(records) / "bench.csv")) {
      state.SkipWithError("could not start the recording");
      return;
    }
    rig.console->Recorder()->OpenTrendWindow();
    if (auto* spans = rig.console->Recorder()->TrendWindow()->findChild<QComboBox*>(QStringLiteral("spanList"))) {
      spans->setCurrentIndex(spans->count() - 1);
    }
  }
  constexpr int kFramesPerSecond = 480;
  std::int64_t framesSent = 0;
  // The writer plays the controller: its own CPU is not the console's.
  double writerCpu = 0;
  double writerSwitches = 0;
  const double switchesBefore = ContextSwitches(RUSAGE_SELF);
  const int paintsBefore = rig.Paints();
  const double cpuBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const auto started = std::chrono::steady_clock::now();
  for (auto _ : state) {
    // One second of the line: the writer keeps the 480-a-second pace while
    // this thread runs the console's event loop.
    std::thread writer([&] {
      StatusFrames frames;
      auto next = std::chrono::steady_clock::now();
      if (pacing == Pacing::WholeFrames) {
        for (int i = 0; i < kFramesPerSecond; ++i) {
          rig.line.Send(frames.Next(), StatusFrames::kLength);
          next += std::chrono::microseconds(1'000'000 / kFramesPerSecond);
          std::this_thread::sleep_until(next);
        }
      } else {
        // A character time is 87 us: the default timer slack would bunch them.
        prctl(PR_SET_TIMERSLACK, 1'000UL);
        constexpr auto kCharacterTime =
            std::chrono::nanoseconds(1'000'000'000 / kFramesPerSecond / StatusFrames::kLength);
        for (int i = 0; i < kFramesPerSecond; ++i) {
          const std::uint8_t* frame = frames.Next();
          for (std::size_t k = 0; k < StatusFrames::kLength; ++k) {
            rig.line.Send(frame + k, 1);
            next += kCharacterTime;
            std::this_thread::sleep_until(next);
          }
        }
      }
      writerCpu += CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
      writerSwitches += ContextSwitches(RUSAGE_THREAD);
    });
    // The console's own event loop, sleeping between events as it does.
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(1000), &loop, &QEventLoop::quit);
    loop.exec();
    writer.join();
    framesSent += kFramesPerSecond;
  }
  // The last frames and their present.
  QEventLoop settle;
  QTimer::singleShot(std::chrono::milliseconds(50), &settle, &QEventLoop::quit);
  settle.exec();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore - writerCpu;
  Report(state, cpu, framesSent, rig.Paints() - paintsBefore);
  state.counters["cpu%"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
  state.counters["frames_seen"] = static_cast<double>(rig.console->Session().Counters().framesDispatched);
  state.counters["switches/frame"] =
      (ContextSwitches(RUSAGE_SELF) - switchesBefore - writerSwitches) / static_cast<double>(framesSent);
  state.SetLabel(rig.console->StatusText()->text().toStdString());
  if (recordAndTrend) {
    rig.console->Recorder()->StopRecording();
    std::error_code ignored;
    std::filesystem::remove_all(records, ignored);
  }
}
void ui_LineAt480(benchmark::State& state) { LineAt480(state, Pacing::WholeFrames); }
void ui_LineAt480_BytePaced(benchmark::State& state) { LineAt480(state, Pacing::OneByteAtATime); }
BENCHMARK(ui_LineAt480)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(ui_LineAt480_BytePaced)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// One segment display on its own, at the size the console gives it, painted
// with a new readout text each time: the share of the frame cost above that
// the four displays take.
void ui_DigistringPaint(benchmark::State& state) {
  ConnectedConsole rig;
  if (!rig.Start()) {
    state.SkipWithError("could not connect the console to a pseudo-terminal");
    return;
  }
  const QSize size = rig.console->Readouts()[0].display->size();
  CDigistring display;
  display.resize(size);
  display.show();
  QCoreApplication::processEvents();
  StatusFrames frames;
  const int paintsBefore = display.PaintCount();
  const double cpuBefore = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  char text[32];
  for (auto _ : state) {
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(GetFloat32LE(frames.Next() + 10)));
    display.SetText(text);
    display.repaint();
  }
  const double cpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
  Report(state, cpu, state.iterations(), display.PaintCount() - paintsBefore);
  state.SetLabel(std::to_string(size.width()) + "x" + std::to_string(size.height()) + " px");
}
BENCHMARK(ui_DigistringPaint)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  const rolta::bench::ScratchSettingsFolder settings;
  return rolta::bench::RunOffscreenBenchmarks(argc, argv);
}
