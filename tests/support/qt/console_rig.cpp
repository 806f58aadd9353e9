#include "console_rig.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest/QtTest>

namespace rolta::test {

sim::SimulatorOptions FastBench() {
  sim::SimulatorOptions options;
  options.periodMs = 20;
  options.timeScale = 10.0;
  return options;
}

ConsoleRig::ConsoleRig(HostServices services, sim::SimulatorOptions options, std::string portName) {
  controller = std::make_unique<sim::ControllerSimulator>(options);
  std::string error;
  if (!controller->Start(&error)) qWarning("simulator did not start: %s", error.c_str());
  if (portName.empty()) portName = controller->SlavePath();
  environment = std::make_unique<FakeEnvironment>(std::vector<std::string>{portName});
  console = std::make_unique<CRoltaDlg>(*environment, services);
  console->show();
}

ConsoleRig::~ConsoleRig() {
  console.reset();
  if (controller) controller->Stop();
}

bool ConsoleRig::Up() const { return controller->IsRunning() && QTest::qWaitForWindowExposed(console.get()); }

void Press(QPushButton* button) {
  QVERIFY(button);
  QTest::mouseClick(button, Qt::LeftButton);
}

void Choose(CRoltaDlg& console, int position) { console.CommandList()->setCurrentIndex(position); }

void Type(CRoltaDlg& console, CommandInput input, const QString& text) {
  QLineEdit* edit = console.Edit(input);
  QVERIFY(edit);
  edit->clear();
  QTest::keyClicks(edit, text);
  QCOMPARE(edit->text(), text);
}

bool Connect(CRoltaDlg& console) {
  console.PortList()->setCurrentIndex(0);
  Press(console.Buttons().connect);
  return console.Port().IsOpen() && !console.Buttons().connect->isEnabled();
}

QString Status(const CRoltaDlg& console) { return console.StatusText()->text(); }

namespace {
std::optional<int> StatusPart(const CRoltaDlg& console, int part) {
  static const QRegularExpression pattern(QStringLiteral("^Numth: (-?\\d+) (-?\\d+)$"));
  const QRegularExpressionMatch m = pattern.match(Status(console));
  if (!m.hasMatch()) return std::nullopt;
  return m.captured(part).toInt();
}
}  // namespace

std::optional<int> StatusType(const CRoltaDlg& console) { return StatusPart(console, 2); }
std::optional<int> StatusNumth(const CRoltaDlg& console) { return StatusPart(console, 1); }

bool WaitForStatusType(const CRoltaDlg& console, int type, int timeoutMs) {
  return QTest::qWaitFor([&] { return StatusType(console) == type; }, timeoutMs);
}

std::vector<std::vector<std::uint8_t>> FramesWithCode(const sim::ControllerSimulator& controller, std::uint8_t code) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (const sim::ReceivedCommand& c : controller.ReceivedCommands()) {
    if (c.code == code) frames.push_back(c.frame);
  }
  return frames;
}

}  // namespace rolta::test
