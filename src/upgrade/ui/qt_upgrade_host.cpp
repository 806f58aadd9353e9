#include "upgrade/ui/qt_upgrade_host.h"

#include <QEventLoop>
#include <QFileDialog>
#include <QTimer>
#include <chrono>

namespace rolta {

QtUpgradeHost::QtUpgradeHost(Wiring wiring, HostServices services)
    : chooseFile([owner = wiring.owner](const RomFileDialog& d) { return RunRomFileDialog(d, owner); }),
      wiring_(std::move(wiring)),
      services_(services) {}

void QtUpgradeHost::SetUpgradeRunning(bool running) {
  if (wiring_.progress) {
    wiring_.progress->setVisible(running);
    wiring_.progress->setEnabled(running);
  }
  for (QWidget* button : wiring_.lockedWhileRunning) {
    if (button) button->setEnabled(!running);
  }
}

void QtUpgradeHost::SetProgress(int percent) {
  // The position, then one step of 1, set at once. A bar repaints itself
  // there and then whenever its text changes; with updates held it is only
  // marked for the window's next paint, which comes while the block is on
  // the line instead of before it goes.
  QProgressBar* bar = wiring_.progress;
  if (!bar) return;
  const bool takes = percent >= bar->minimum() && percent <= bar->maximum();
  const bool updates = bar->updatesEnabled();
  bar->setUpdatesEnabled(false);
  bar->setValue(std::min((takes ? percent : bar->value()) + 1, bar->maximum()));
  bar->setUpdatesEnabled(updates);
}

MessageAnswer QtUpgradeHost::ShowMessage(const MessageRequest& request) { return services_.boxes.Show(request); }
void QtUpgradeHost::ProcessPendingEvents() { services_.pump.ProcessPendingEvents(); }
void QtUpgradeHost::SleepMilliseconds(int milliseconds) { services_.pump.SleepMilliseconds(milliseconds); }

void QtUpgradeHost::PauseAwaitingAnswer(int milliseconds) {
  // The window's events run during the pause, the receive handler's above
  // all: an answer that arrives is taken at once, not at the next pump, and
  // the handler's own pause after the frame runs alongside this one.
  QEventLoop pause;
  QTimer::singleShot(std::chrono::milliseconds(milliseconds), Qt::PreciseTimer, &pause, &QEventLoop::quit);
  pause.exec();
}
bool QtUpgradeHost::IsEscapeHeld() const { return services_.keys.IsEscapeHeld(); }

std::uint32_t QtUpgradeHost::TickCount() const {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::optional<std::string> RunRomFileDialog(const RomFileDialog& d, QWidget* owner) {
  QFileDialog dialog(owner, QString::fromStdString(d.title));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilter(QString::fromStdString(d.filterName));
  dialog.setDefaultSuffix(QString::fromStdString(d.defaultSuffix));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

}  // namespace rolta
