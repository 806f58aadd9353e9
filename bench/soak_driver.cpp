// rolta-soak: the real console window, built as the program builds it (the
// environment library's texts and ports), run without a person for a soak:
// it connects to the port given, runs "恒速测试" at 50 km/h, records every
// frame and keeps the trend window open. Every minute it prints its resident
// memory and CPU time; at the end the receive path's counters and the file.
// scripts/soak.sh starts the simulator, this program under Xvfb, and reads
// both outputs. Without --records only the test runs (no recording, no trend
// window): bench/xvfb_line_rate.sh measures the console that way too.
//
//   rolta-soak --port PATH --minutes M [--records DIR] [--sim-pid PID]
//
// With --sim-pid the simulator is sent SIGUSR1 as the recording starts and
// stops, so its counters of those moments can be set against the file.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "console/env_console_environment.h"
#include "recording/ui/record_control.h"
#include "console/ui/rolta_dlg.h"
#include "env/ui/qt_services.h"
#include "recording/ui/trend_dlg.h"
#include "env/env_library.h"

namespace {

using namespace rolta;

struct Options {
  std::string port;
  double minutes = 0;
  std::filesystem::path records;
  pid_t simPid = 0;
};

bool Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--port")
      options.port = value;
    else if (key == "--minutes")
      options.minutes = std::atof(value);
    else if (key == "--records")
      options.records = value;
    else if (key == "--sim-pid")
      options.simPid = static_cast<pid_t>(std::atol(value));
    else
      return false;
  }
  return !options.port.empty() && options.minutes > 0;
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void SignalSimulator(const Options& options) {
  if (options.simPid > 0) kill(options.simPid, SIGUSR1);
}

int Fail(const char* what) {
  std::fprintf(stderr, "rolta-soak: %s\n", what);
  std::fflush(stderr);
  std::_Exit(1);  // a console left half-driven must not linger on the port
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fprintf(stderr, "usage: rolta-soak --port PATH --minutes M [--records DIR] [--sim-pid PID]\n");
    return 2;
  }
  EnvLibrary library;
  if (library.Load(1) != kEnvLoadOk) return Fail("the environment library did not load");
  EnvRecord record;
  library.GetEnvkit(record);
  EnvConsoleEnvironment environment(library, std::move(record));
  int exitCode = 0;
  {
    QtServices services;
    CRoltaDlg console(environment, services.Host());
    console.show();
    QApplication::processEvents();

    // The operator's moves: port, "设置", "恒速测试" with 50, "执行", "记录", "趋势图".
    QComboBox* ports = console.PortList();
    const int index = ports->findText(QString::fromStdString(options.port), Qt::MatchContains);
    ports->setCurrentIndex(index >= 0 ? index : 0);
    console.Buttons().connect->click();
    if (!console.Port().IsOpen()) return Fail("the port did not open");
    console.CommandList()->setCurrentIndex(0);
    console.Edit(CommandInput::ParamA)->setText(QStringLiteral("50"));
    console.Buttons().execute->click();

    CRecordControl& recorder = *console.Recorder();
    const bool recording = !options.records.empty();
    if (recording) {
      std::filesystem::create_directories(options.records);
      recorder.SetRecordFolder(options.records);
      if (!recorder.StartRecording(options.records / "soak.csv")) return Fail("the recording did not start");
      SignalSimulator(options);
      recorder.OpenTrendWindow();
      if (!recorder.TrendWindow() || !recorder.TrendWindow()->isVisible()) return Fail("no trend window");
    }

    const auto start = std::chrono::steady_clock::now();
    const double cpuAtStart = CpuSeconds();
    int minute = 0;
    auto sample = [&] {
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::printf("sample minute=%d wall_s=%.1f rss_kb=%ld cpu_s=%.2f recording=%d\n", minute, wall, ResidentKb(),
                  CpuSeconds() - cpuAtStart, recorder.Recording() ? 1 : 0);
      std::fflush(stdout);
      ++minute;
    };
    sample();
    QTimer minutes;
    QObject::connect(&minutes, &QTimer::timeout, sample);
    minutes.start(60'000);

    QTimer::singleShot(static_cast<int>(options.minutes * 60'000), &console, [&] {
      minutes.stop();
      sample();
      if (recording) {
        recorder.StopRecording();
        SignalSimulator(options);
      }
      const ReceiveCounters& c = console.Session().Counters();
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::printf("receive bytes=%llu frames=%llu checksum_errors=%llu refused=%llu bytes_skipped=%llu ring_peak=%u\n",
                  static_cast<unsigned long long>(c.bytesReceived), static_cast<unsigned long long>(c.framesDispatched),
                  static_cast<unsigned long long>(c.checksumErrors), static_cast<unsigned long long>(c.framesRefused),
                  static_cast<unsigned long long>(c.bytesSkipped), c.ringHighWater);
      std::printf("cpu wall_s=%.1f cpu_s=%.2f\n", wall, CpuSeconds() - cpuAtStart);
      console.Buttons().close->click();
      // The writer thread finishes the file before the window goes.
      if (recording) {
        for (int i = 0; i < 300 && !recorder.LastRecordingFinished(); ++i) {
          QApplication::processEvents();
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!recorder.LastRecordingFinished()) exitCode = 1;
        std::printf("file %s\n", recorder.LastFile().c_str());
      }
      std::fflush(stdout);
      // exit, not quit: quit first asks every window to close, and the console refuses.
      QApplication::exit(exitCode);
    });
    QApplication::exec();
  }
  library.Unload();
  return exitCode;
}
