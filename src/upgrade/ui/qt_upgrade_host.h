#pragma once

#include <QProgressBar>
#include <functional>
#include <vector>

#include "upgrade/firmware_upgrade.h"

namespace rolta {

// The firmware upgrade's host in the console window: the progress bar, the
// buttons locked while it runs, the status line, the console's ShortFrame,
// the file dialog and the window-system services it is given.
class QtUpgradeHost final : public UpgradeHost {
 public:
  struct Wiring {
    QProgressBar* progress = nullptr;
    std::vector<QWidget*> lockedWhileRunning;  // "升级" and "执行"
    std::function<void(const std::string&)> setStatusLine;
    std::function<void(std::uint8_t)> sendShort;  // the console's ShortFrame
    QWidget* owner = nullptr;                     // of the file dialog
  };
  QtUpgradeHost(Wiring wiring, HostServices services);

  // The file dialog; tests replace it.
  std::function<std::optional<std::string>(const RomFileDialog&)> chooseFile;

  void SendShort(std::uint8_t code) override { wiring_.sendShort(code); }
  void SetStatusLine(const std::string& text) override { wiring_.setStatusLine(text); }
  void SetUpgradeRunning(bool running) override;
  void SetProgress(int percent) override;
  std::optional<std::string> ChooseRomFile(const RomFileDialog& dialog) override { return chooseFile(dialog); }
  MessageAnswer ShowMessage(const MessageRequest& request) override;
  void ProcessPendingEvents() override;
  void SleepMilliseconds(int milliseconds) override;
  void PauseAwaitingAnswer(int milliseconds) override;
  bool IsEscapeHeld() const override;
  std::uint32_t TickCount() const override;

 private:
  Wiring wiring_;
  HostServices services_;
};

// The console's "QRX5000 files(*.ROM)" dialog.
std::optional<std::string> RunRomFileDialog(const RomFileDialog& dialog, QWidget* owner);

}  // namespace rolta
