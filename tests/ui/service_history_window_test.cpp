// The "服务记录" window over a history (filters, an entry's fields, the
// difference of two tables, CSV), the certificate and report PDFs read back
// with pdftotext, `rolta-cli history certificate`, and the console going on
// without a history it must not touch.
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <variant>

#include "cli/cli_runner.h"
#include "history/history_records.h"
#include "history/pdf/service_pdf.h"
#include "history/ui/console_service_history.h"
#include "history/ui/service_history_window.h"
#include "sample_calibration_run.h"
#include "scripted_services.h"
#include "temp_folder.h"

using namespace rolta;
using rolta::test::ScriptedMessageBoxes;
using rolta::test::TempFolder;

namespace {

// The PDF's text as pdftotext gives it (poppler-utils).
std::string PdfText(const std::filesystem::path& pdf) {
  const std::string command = "pdftotext -layout '" + pdf.string() + "' -";
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, got);
    ::pclose(pipe);
  }
  return text;
}

std::int64_t Append(ServiceHistory& history, const HistoryRecord& record, std::int64_t time) {
  return std::get<std::int64_t>(history.Append(record.kind, record.summary, record.fields, time));
}

}  // namespace

class ServiceHistoryWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    folder_ = std::make_unique<TempFolder>("rolta-history-ui");
    auto opened = ServiceHistory::Open(folder_->path() / "history.sqlite", {"Bench 7", "Li Wei", "NIM"});
    history_ = std::move(std::get<std::unique_ptr<ServiceHistory>>(opened));
    const IdentityLookup texts;
    CalibTable first(10);
    first.SetCount(2);
    first.SetSecond(1, 100.0f);
    CalibTable second = first;
    second.SetSecond(1, 101.5f);
    Append(*history_, ConnectRecord(texts, "/dev/ttyS0", "7.34"), 1797000000);
    Append(*history_, CalibStoreRecord(texts, CalibChannel::Speed, std::nullopt, first), 1797000100);
    Append(*history_, CalibStoreRecord(texts, CalibChannel::Speed, first, second), 1797000200);
    runId_ = Append(*history_, CalibrationRunRecord(texts, test::SampleRun()), 1797000900);
  }
  void cleanup() {
    history_.reset();
    folder_.reset();
  }

  void listsFiltersComparesAndExports() {
    ScriptedMessageBoxes boxes;
    const IdentityLookup texts;
    const PdfServiceDocuments documents;
    ServiceHistoryWindow window(*history_, documents, texts, boxes);
    QCOMPARE(window.Listed().size(), std::size_t{4});
    window.findChild<QComboBox*>("kind")->setCurrentText("calib");
    window.Refresh();
    QCOMPARE(window.Listed().size(), std::size_t{2});
    window.ShowEntry(1);
    QVERIFY(window.DetailsText().contains("before.2: 0  100"));
    window.ShowDifference(0, 1);
    QVERIFY(window.DetailsText().contains("after.2: 0  100 → 0  101.5"));

    const std::filesystem::path csv = folder_->path() / "history.csv";
    QVERIFY(window.ExportCsv(csv));
    std::ifstream file(csv);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    QVERIFY(text.starts_with("id,time_utc,bench,engineer,kind,summary,fields\r\n2,2026-12-"));
    QCOMPARE(std::count(text.begin(), text.end(), '\r'), 3);
    QVERIFY(boxes.Shown().empty());
  }

  void theCertificateAndTheReportCarryTheRunsNumbers() {
    ScriptedMessageBoxes boxes;
    const IdentityLookup texts;
    const PdfServiceDocuments documents;
    ServiceHistoryWindow window(*history_, documents, texts, boxes);
    const std::filesystem::path certificate = folder_->path() / "certificate.pdf";
    QVERIFY(!window.WriteCertificate(0, certificate));  // a connect has no certificate
    QCOMPARE(boxes.Shown().size(), std::size_t{1});
    QVERIFY(window.WriteCertificate(3, certificate));
    const std::string text = PdfText(certificate);
    for (const char* expected :
         {"标定证书", "Bench 7", "Li Wei", "7.34", "前左力矩", "LC-0042", "CNAS-2026-117", "2561.25", "1.225", "1.900",
          "0.118", "2500.50", "1.800", "不合格", "合格", "Traceable to NIM.", "签名"}) {
      QVERIFY2(text.find(expected) != std::string::npos, expected);
    }
    const std::filesystem::path report = folder_->path() / "report.pdf";
    QVERIFY(window.WriteReport(report));
    const std::string reportText = PdfText(report);
    for (const char* expected : {"服务报告", "连接 /dev/ttyS0", "速度 标定数据存储", "after.2", "101.5"}) {
      QVERIFY2(reportText.find(expected) != std::string::npos, expected);
    }
  }

  void theCommandLineWritesTheCertificateOfAnEntry() {
    const std::filesystem::path data = folder_->path() / "data";
    const std::filesystem::path path = data / "rolta" / "history.sqlite";
    std::filesystem::create_directories(path.parent_path());
    history_.reset();
    std::filesystem::rename(folder_->path() / "history.sqlite", path);
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    const PdfServiceDocuments documents;
    std::atomic<bool> interrupted{false};
    std::ostringstream out;
    std::ostringstream err;
    const std::filesystem::path pdf = folder_->path() / "cli.pdf";
    const int code = cli::RunCli({"rolta-cli", "history", "certificate", std::to_string(runId_), "--out", pdf.string()},
                                 out, err, interrupted, &documents);
    QCOMPARE(code, 0);
    QVERIFY(PdfText(pdf).find("CNAS-2026-117") != std::string::npos);
    out.str("");
    QCOMPARE(cli::RunCli({"rolta-cli", "history", "certificate", "1", "--out", pdf.string()}, out, err, interrupted,
                         &documents),
             cli::kExitUsage);
  }

  void theConsoleGoesOnWithoutADamagedHistoryAndSaysSo() {
    const std::filesystem::path damaged = folder_->path() / "damaged.sqlite";
    std::ofstream(damaged, std::ios::binary) << std::string(2048, 'x');
    ScriptedMessageBoxes boxes;
    const IdentityLookup texts;
    QWidget parent;
    ConsoleServiceHistory console(texts, boxes, &parent, damaged);
    QVERIFY(console.Recorder() == nullptr);
    QCOMPARE(boxes.Shown().size(), std::size_t{1});
    console.ShowWindow();
    QCOMPARE(boxes.Shown().size(), std::size_t{2});
    QVERIFY(console.Window() == nullptr);
    std::ifstream file(damaged, std::ios::binary);
    QCOMPARE(std::string((std::istreambuf_iterator<char>(file)), {}), std::string(2048, 'x'));
  }

 private:
  std::unique_ptr<TempFolder> folder_;
  std::unique_ptr<ServiceHistory> history_;
  std::int64_t runId_ = 0;
};

QTEST_MAIN(ServiceHistoryWindowTest)
#include "service_history_window_test.moc"
