#pragma once

#include <QPointer>
#include <array>
#include <memory>

#include "console/catalogue.h"
#include "console/command_executor.h"
#include "console/console_settings.h"
#include "console/ui/about_dlg.h"
#include "console/ui/bk_dialog.h"
#include "console/ui/status_line.h"
#include "link/comm_port.h"
#include "link/rx_ring.h"
#include "link/status_frames.h"
#include "console/readouts.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace rolta {

class CDigistring;

class ConsoleEnvironment;

// The main console window "QRX5000B控制器": port and speed, the command list
// with its inputs, the four live readouts and the status line. It owns the
// one serial channel of the process and its receive path.
class CRoltaDlg : public CBkDialog,
                  private FrameReceivers,
                  private StatusFrameSinks,
                  private ConsoleHost {
  Q_OBJECT
 public:
  struct Readout {
    QGroupBox* frame;
    CDigistring* display;
  };

  explicit CRoltaDlg(ConsoleEnvironment& environment, QWidget* parent = nullptr);
  ~CRoltaDlg() override;

  // Handlers of the console's buttons and lists.
  void OnConnect();
  void OnCloseChannel();
  void OnExit();
  void OnAbout();
  void OnExecute();
  void OnCommandSelChange();
  void OnEmergencyStop();
  void OnVersionQuery();
  // One bytes-waiting notification of the channel, on the window thread.
  void OnCommNotify(std::uint32_t events);

  void SetStatusLine(const std::string& text) override;
  // A decoded status frame onto the four readouts.
  void ShowLiveFrame(const ControllerStatus& status) override;

  // For tests and the other windows.
  CCommPort& Port() { return port_; }
  CommandExecutor& Executor() { return *executor_; }
  // The selections as read at start; commandIndex follows every execution.
  ConsoleSettings Settings() const {
    return {settings_.portIndex, settings_.speedIndex, executor_->CommandIndex()};
  }
  const std::filesystem::path& SettingsPath() const { return settingsPath_; }
  const std::array<Readout, kReadoutCount>& Readouts() const { return readouts_; }
  CAboutDlg* AboutBox() const { return about_; }
  CStatusLine* StatusText() const { return statusText_; }
  QProgressBar* Progress() const { return progress_; }
  QComboBox* PortList() const { return portList_; }
  QComboBox* SpeedList() const { return speedList_; }
  QComboBox* CommandList() const { return commandList_; }
  QPushButton* Button(const char* text) const;
  // The input field or check box of a command input.
  QWidget* Input(CommandInput input) const { return inputs_[static_cast<std::size_t>(input)]; }
  QLineEdit* Edit(CommandInput input) const;
  QCheckBox* Flywheel(int index) const;

 protected:
  void reject() override;  // Escape does not close the console
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BuildLayout();
  void RestoreSelections();
  void ShowLogo();
  CommandInputs ReadInputs() const;
  void ApplyInputsEnabled(InputSet enabled);
  void ApplyReadouts(const ReadoutUpdate& update);

  // FrameReceivers
  bool IsCtrlHeld() const override;
  void PauseAfterFrame() override;
  void OnParamRecordFrame(const std::uint8_t* frame) override;
  void OnCalibFrame(const std::uint8_t* frame, std::size_t length) override;
  void OnChannelMapFrame(const std::uint8_t* frame) override;
  void OnStatusFrame(const std::uint8_t* frame) override;
  // StatusFrameSinks
  void ShowControllerVersion(bool fromUpgradeProgram, double version) override;
  // ConsoleHost
  MessageAnswer ShowMessage(const MessageRequest& request) override;
  void CloseChannelFromConsole() override;
  void StartExternalProgram(const std::string& path) override;
  std::string CurrentDirectory() const override;
  void ShowChannelMapWindow() override;
  void ProcessPendingEvents() override;
  void SleepMilliseconds(int milliseconds) override;

  ConsoleEnvironment& environment_;
  const TextLookup& texts_;
  CCommPort port_;
  FrameReceiver receiver_;
  ControllerStatus status_;
  ReadoutUpdate readoutUpdate_;  // kept between frames so its strings are reused
  UpgradeReplies upgradeReplies_;
  std::unique_ptr<CommandExecutor> executor_;
  ConsoleSettings settings_;
  std::filesystem::path settingsPath_;
  std::vector<std::string> portNames_;

  std::array<Readout, kReadoutCount> readouts_{};
  std::array<QWidget*, kCommandInputCount> inputs_{};
  QComboBox* portList_ = nullptr;
  QComboBox* speedList_ = nullptr;
  QComboBox* commandList_ = nullptr;
  CStatusLine* statusText_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* logo_ = nullptr;
  QPointer<CAboutDlg> about_;
};

}  // namespace rolta
