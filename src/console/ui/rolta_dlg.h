#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>

#include "calib/calib_exchange.h"
#include "config/channel_map.h"
#include "config/param_form.h"
#include "config/params_exchange.h"
#include "commands/catalogue.h"
#include "commands/command_executor.h"
#include "console/console_settings.h"
#include "readouts/bench_settings.h"
#include "session/controller_session.h"
#include "readouts/readouts.h"
#include "console/ui/about_dlg.h"
#include "env/ui/qt_services.h"
#include "widgets/ui/bk_dialog.h"
#include "calib/ui/calib_tab.h"
#include "calibration/ui/calibration_wizard.h"
#include "config/ui/hard_ch.h"
#include "config/ui/hard_info_list.h"
#include "config/ui/set_hard.h"
#include "upgrade/firmware_upgrade.h"
#include "session/ui/status_line.h"
#include "commands/ui/command_search.h"
#include "monitor/ui/line_monitor_dlg.h"
#include "readouts/ui/readout_captions.h"
#include "recording/ui/record_control.h"
#include "history/ui/console_service_history.h"

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace rolta {

class CConsoleTools;
class CTestLine;
class CDigistring;
class QtUpgradeHost;

class ConsoleEnvironment;

// The buttons of the console window, each known by what it does; their
// captions follow the console's language.
struct ConsoleButtons {
  QPushButton* connect = nullptr;        // "设置"
  QPushButton* close = nullptr;          // "关闭"
  QPushButton* execute = nullptr;        // "执行"
  QPushButton* toolsPage = nullptr;      // "工具"
  QPushButton* help = nullptr;           // "帮助"
  QPushButton* version = nullptr;        // "版本"
  QPushButton* upgrade = nullptr;        // "升级"
  QPushButton* emergencyStop = nullptr;  // "急停"
  QPushButton* calibration = nullptr;    // "标定"
  QPushButton* exit = nullptr;           // "退出"

  QPushButton* calibrationAssistant = nullptr;  // "标定向导", beside "标定"
};

// The main console window "QRX5000B控制器": port and speed, the command list
// with its inputs, the four live readouts and the status line. It shows the
// controller session it creates; the session owns the link. Every box,
// pause and key it and its windows need comes from the services it is given.
class CRoltaDlg : public CBkDialog, public SessionView, private ParamsListener {
  Q_OBJECT
 public:
  struct Readout {
    QGroupBox* frame;
    CDigistring* display;
  };

  CRoltaDlg(ConsoleEnvironment& environment, HostServices services, QWidget* parent = nullptr);
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
  void OnUpgrade();
  void OnCalibration();
  void OnCalibrationAssistant();  // "标定向导"
  void OnToolsPage();
  void OnHelp();
  // "安全设置": the set-point limits and the automatic reconnection.
  void OnSafetySettings();
  // The port list asks the environment for the ports again.
  void RescanPorts();
  void OnLineMonitor();     // "通讯监视"
  void OnServiceHistory();  // "服务记录"
  // One bytes-waiting notification of the channel, on the window thread.
  void OnCommNotify(std::uint32_t events);

  // For tests and the other windows.
  ControllerSession& Session() { return session_; }
  SerialLink& Port() { return session_.Port(); }
  CommandExecutor& Executor() { return session_.Executor(); }
  // The selections as read at start; commandIndex follows every execution.
  ConsoleSettings Settings() const {
    return {settings_.portIndex, settings_.speedIndex, session_.Executor().CommandIndex()};
  }
  const std::array<Readout, kReadoutCount>& Readouts() const { return readouts_; }
  CAboutDlg* AboutBox() const { return about_; }
  CSetHard* ParamsFormWindow() const { return setHard_; }
  CHardInfoList* ParamsSummaryWindow() const { return hardInfo_; }
  CCalibTab* CalibrationWindow() const { return calibTab_; }
  CCalibrationWizard* CalibrationAssistantWindow() const { return calibrationWizard_; }
  CHardCH* ChannelMapWindow() const { return hardCh_; }
  CConsoleTools* Tools() const { return tools_; }
  CLineMonitorDlg* LineMonitorWindow() const { return lineMonitor_; }
  CRecordControl* Recorder() const { return record_; }
  CTestLine* TestLine() const { return testLine_; }
  QtUpgradeHost& UpgradeHost() { return *upgradeHost_; }
  // The service history: its recorder (calibration runs, coast-downs) and window.
  ConsoleServiceHistory& ServiceRecords() { return *serviceHistory_; }
  CStatusLine* StatusText() const { return statusText_; }
  QProgressBar* Progress() const { return progress_; }
  QComboBox* PortList() const { return portList_; }
  QComboBox* SpeedList() const { return speedList_; }
  QComboBox* CommandList() const { return commandList_; }
  QLabel* LinkIndicatorLabel() const { return linkIndicator_; }
  QCheckBox* AutoReconnectBox() const { return autoReconnect_; }
  const ConsoleButtons& Buttons() const { return buttons_; }
  // The input field or check box of a command input.
  QWidget* Input(CommandInput input) const { return inputs_[static_cast<std::size_t>(input)]; }
  QLineEdit* Edit(CommandInput input) const;
  QCheckBox* Flywheel(int index) const;
  CCommandSearch* CommandSearch() const { return search_; }
  CReadoutCaptions* Captions() const { return captions_; }

 protected:
  void reject() override;  // Escape does not close the console
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // The window's groups, top to bottom; each adds its widgets to the layout
  // it is given.
  void BuildLayout();
  void BuildTitle(QBoxLayout& top);
  void BuildReadouts(QBoxLayout& top);
  void BuildCommandRow(QBoxLayout& top);
  QGroupBox* BuildLinkGroup();
  QGroupBox* BuildCommandGroup();
  void BuildLowerRow(QBoxLayout& top);
  QGroupBox* BuildFlywheelGroup();
  QGroupBox* BuildToolsGroup();
  void BuildStatusRow(QBoxLayout& top);
  void BuildBottomRow(QBoxLayout& top);
  void RestoreSelections();
  void ShowLogo();
  CommandInputs ReadInputs() const;
  void ApplyInputsEnabled(InputSet enabled);
  void ApplyReadouts(const ReadoutUpdate& update);
  // Shows what came since the last present, now; at most about 30 a second.
  void Present();
  static constexpr qint64 kPresentIntervalMs = 33;

  // SessionView
  void ShowStatusLine(const std::string& text) override;
  void ShowReadouts(const ReadoutUpdate& update) override;
  void ShowControllerVersion(const ControllerVersionTexts& texts) override;
  void RequestPresent() override;
  void OnChannelClosed() override;
  void StartExternalProgram(const std::string& path) override;
  std::string CurrentDirectory() const override;
  void ShowChannelMapWindow() override;
  void ShowLinkState(const LinkIndicator& indicator) override;
  void OnChannelReopened() override;
  void SetAutoReconnect(bool on);
  // ParamsListener
  void ShowParamsSummary() override;
  void ShowParamsForm() override;
  void CreateChildWindows();

  ConsoleEnvironment& environment_;
  const TextLookup& texts_;
  // The services given, with every box passing through the console's language.
  TranslatingMessageBoxes boxes_;
  HostServices services_;
  ControllerSession session_;
  // The child windows' parts of the session's exchanges.
  SystemLocalClock clock_;
  ParamsForm paramsForm_;
  std::unique_ptr<QtUpgradeHost> upgradeHost_;
  std::unique_ptr<ConsoleServiceHistory> serviceHistory_;
  QElapsedTimer sincePresent_;
  QTimer presentTimer_;
  ConsoleSettings settings_;
  std::filesystem::path settingsPath_;
  std::vector<std::string> portNames_;

  ConsoleButtons buttons_;
  std::array<Readout, kReadoutCount> readouts_{};
  std::array<QWidget*, kCommandInputCount> inputs_{};
  QComboBox* portList_ = nullptr;
  QComboBox* speedList_ = nullptr;
  QComboBox* commandList_ = nullptr;
  CStatusLine* statusText_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* logo_ = nullptr;
  QPointer<CAboutDlg> about_;
  QPointer<CSetHard> setHard_;
  QPointer<CHardInfoList> hardInfo_;
  QPointer<CCalibTab> calibTab_;
  QPointer<CCalibrationWizard> calibrationWizard_;
  QPointer<CHardCH> hardCh_;
  CConsoleTools* tools_ = nullptr;
  QLabel* linkIndicator_ = nullptr;
  QCheckBox* autoReconnect_ = nullptr;
  CReadoutCaptions* captions_ = nullptr;
  CCommandSearch* search_ = nullptr;
  QPointer<CLineMonitorDlg> lineMonitor_;
  QPointer<CRecordControl> record_;
  CTestLine* testLine_ = nullptr;
};

}  // namespace rolta
