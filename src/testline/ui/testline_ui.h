// The console's "测试线": its settings dialog, the window with every bench of
// the line, and the part that publishes this bench while the settings say so
// (with a button in the tools group that opens the window).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "session/controller_session.h"
#include "testline/bench_publishing.h"
#include "testline/line_subscriber.h"
#include "testline/testline_settings.h"

class QCheckBox;
class QLineEdit;
class QTableWidget;
class QLabel;

namespace rolta {

inline constexpr const char* kTestLineTitle = "测试线";

class CTestLineSettingsDlg : public QDialog {
  Q_OBJECT
 public:
  CTestLineSettingsDlg(const TextLookup& texts, MessageBoxService& boxes, QWidget* parent);
  void Show(const TestLineSettings& settings);
  // The fields as settings; a box names the first field that is not usable.
  std::optional<TestLineSettings> Entered();
  // Saves the settings and the password when every field is usable.
  void accept() override;

 private:
  const TextLookup& texts_;
  MessageBoxService& boxes_;
  QCheckBox* enabled_ = nullptr;
  QLineEdit *host_ = nullptr, *port_ = nullptr, *caFile_ = nullptr, *certFile_ = nullptr, *keyFile_ = nullptr;
  QLineEdit *username_ = nullptr, *password_ = nullptr, *prefix_ = nullptr, *bench_ = nullptr, *liveRate_ = nullptr;
};

class CTestLineWindow : public QDialog {
  Q_OBJECT
 public:
  CTestLineWindow(const TextLookup& texts, QWidget* parent);
  QTableWidget* Table() const { return table_; }
  // Shows every bench the broker knows, following them while open.
  void BringUp();
  void Refresh();

 signals:
  void SettingsWanted();

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  const TextLookup& texts_;
  QTableWidget* table_ = nullptr;
  QLabel* connection_ = nullptr;
  QTimer refresh_;
  std::unique_ptr<LineSubscriber> subscriber_;
};

class CTestLine : public QObject {
  Q_OBJECT
 public:
  // Adds the "测试线" button to `toolsGroup` and publishes when enabled.
  CTestLine(ControllerSession& session, const TextLookup& texts, MessageBoxService& boxes, QWidget* toolsGroup,
            QWidget* parent);
  ~CTestLine() override;
  // Whether a recording runs and the file of the latest one, asked with each poll.
  void WatchRecording(std::function<std::pair<bool, std::string>()> probe) { recordingProbe_ = std::move(probe); }
  // nullptr while not publishing; events the session does not see go here.
  TestLinePublisher* Publisher() { return publishing_ ? &publishing_->Publisher() : nullptr; }
  CTestLineWindow* Window() const { return window_; }
  CTestLineSettingsDlg* SettingsDialog() const { return settingsDlg_; }
  // Publishes (again) as the saved settings say.
  void ApplySettings();

 private:
  void Poll();

  ControllerSession& session_;
  const TextLookup& texts_;
  MessageBoxService& boxes_;
  std::unique_ptr<BenchPublishing> publishing_;
  QTimer poll_;
  std::function<std::pair<bool, std::string>()> recordingProbe_;
  bool recording_ = false;
  // Without a bench name in the settings the name follows the port: two
  // consoles on one PC are two benches.
  bool nameFollowsPort_ = false;
  std::string namedForPort_;
  QPointer<CTestLineWindow> window_;
  QPointer<CTestLineSettingsDlg> settingsDlg_;
};

}  // namespace rolta
