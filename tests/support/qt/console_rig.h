// The real console window connected to the controller simulator on a
// pseudo-terminal, and the operator's moves on it. Shared by the end-to-end
// tests; torn down window first, so the channel closes before the line goes.
#pragma once

#include <QString>

class QPushButton;

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/ui/rolta_dlg.h"
#include "controller_simulator.h"
#include "env/ui_services.h"
#include "fake_environment.h"

namespace rolta::test {

inline constexpr int kWaitMs = 5000;

// A status period short enough to see many frames, and a bench that runs ten
// times faster than the clock so a coast-down takes seconds, not minutes.
sim::SimulatorOptions FastBench();

struct ConsoleRig {
  std::unique_ptr<sim::ControllerSimulator> controller;
  std::unique_ptr<FakeEnvironment> environment;
  std::unique_ptr<CRoltaDlg> console;

  // The port list offers `portName`, or the simulator's own terminal; the
  // console shows its boxes and reads its keys through `services`.
  explicit ConsoleRig(HostServices services, sim::SimulatorOptions options = FastBench(), std::string portName = {});
  ~ConsoleRig();
  bool Up() const;

  CRoltaDlg& operator*() const { return *console; }
  CRoltaDlg* operator->() const { return console.get(); }
};

void Press(QPushButton* button);
void Choose(CRoltaDlg& console, int position);
// Types into a field as the operator would; a disabled field takes no keys.
void Type(CRoltaDlg& console, CommandInput input, const QString& text);
// Picks the first port and presses "设置"; false when the channel stays closed.
bool Connect(CRoltaDlg& console);
QString Status(const CRoltaDlg& console);
// The numbers of a "Numth: %ld %d" status text.
std::optional<int> StatusType(const CRoltaDlg& console);
std::optional<int> StatusNumth(const CRoltaDlg& console);
bool WaitForStatusType(const CRoltaDlg& console, int type, int timeoutMs = kWaitMs);
// Every command the simulator received with this code, in order.
std::vector<std::vector<std::uint8_t>> FramesWithCode(const sim::ControllerSimulator& controller, std::uint8_t code);

}  // namespace rolta::test
