#include "history/pdf/service_pdf.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "history/history_records.h"

namespace rolta {
namespace {

constexpr int kDotsPerInch = 300;
// The CJK font the packages install, then whatever the system has.
const QStringList kFontFamilies = {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                                   QStringLiteral("sans-serif")};

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A program without a window system (rolta-cli) draws on the offscreen one.
void EnsureGuiApplication() {
  if (QGuiApplication::instance() != nullptr) return;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "rolta";
  static char* argv[] = {name, nullptr};
  static QGuiApplication application(argc, argv);
}

QFont DocumentFont(double points, bool bold = false) {
  QFont font;
  font.setFamilies(kFontFamilies);
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

// One document: a cursor down A4 pages with headings, label/value pairs,
// tables and paragraphs; a new page starts when the next item does not fit.
class PdfPages {
 public:
  PdfPages(const QString& file, const QString& title) : writer_(file) {
    writer_.setResolution(kDotsPerInch);
    writer_.setPageSize(QPageSize(QPageSize::A4));
    writer_.setPageMargins(QMarginsF(18, 16, 18, 16), QPageLayout::Millimeter);
    writer_.setTitle(title);
    writer_.setCreator(QStringLiteral("ROLTA"));
    painter_.begin(&writer_);
    area_ = writer_.pageLayout().paintRectPixels(kDotsPerInch);
    area_.moveTo(0, 0);
  }

  bool Ok() const { return painter_.isActive(); }
  bool Finish() { return painter_.end(); }

  void Title(const QString& text) { Text(text, DocumentFont(17, true), Qt::AlignHCenter, Millimetres(4)); }
  void Heading(const QString& text) {
    y_ += Millimetres(2);
    Text(text, DocumentFont(11.5, true), Qt::AlignLeft, Millimetres(1));
  }
  void Paragraph(const QString& text, double points = 9.5) { Text(text, DocumentFont(points), Qt::AlignLeft, 0); }

  // Two columns: the labels a third of the width.
  void Pairs(const std::vector<std::pair<QString, QString>>& pairs) {
    const QFont font = DocumentFont(9.5);
    painter_.setFont(font);
    const int labelWidth = area_.width() / 3;
    for (const auto& [label, value] : pairs) {
      const QRect valueBox(area_.left() + labelWidth, 0, area_.width() - labelWidth, 100000);
      const int height = std::max(painter_.boundingRect(valueBox, Qt::TextWordWrap, value).height(), LineHeight(font));
      Room(height);
      painter_.drawText(QRect(area_.left(), y_, labelWidth, height), Qt::TextWordWrap, label);
      painter_.drawText(QRect(area_.left() + labelWidth, y_, valueBox.width(), height), Qt::TextWordWrap, value);
      y_ += height;
    }
  }

  // A ruled table; `widths` are shares of the page width. The header repeats
  // on a new page.
  void Table(const QStringList& headers, const std::vector<QStringList>& rows, const std::vector<double>& widths) {
    const QFont font = DocumentFont(8.5);
    const QFont bold = DocumentFont(8.5, true);
    const int height = LineHeight(font) + Millimetres(1.2);
    double total = 0;
    for (const double width : widths) total += width;
    const auto drawRow = [&](const QStringList& cells, const QFont& cellFont) {
      painter_.setFont(cellFont);
      double x = area_.left();
      for (int i = 0; i < cells.size() && i < static_cast<int>(widths.size()); ++i) {
        const double width = area_.width() * widths[static_cast<std::size_t>(i)] / total;
        const QRect cell(static_cast<int>(x), y_, static_cast<int>(width), height);
        painter_.drawRect(cell);
        painter_.drawText(cell.adjusted(Millimetres(0.8), 0, -Millimetres(0.8), 0), Qt::AlignVCenter | Qt::AlignLeft,
                          cells[i]);
        x += width;
      }
      y_ += height;
    };
    Room(2 * height);
    drawRow(headers, bold);
    for (const QStringList& row : rows) {
      if (y_ + height > area_.bottom()) {
        NewPage();
        drawRow(headers, bold);
      }
      drawRow(row, font);
    }
  }

  void SignatureLines(const QStringList& labels) {
    const QFont font = DocumentFont(10);
    painter_.setFont(font);
    Room(Millimetres(22));
    y_ += Millimetres(12);
    const int width = area_.width() / static_cast<int>(labels.size());
    for (int i = 0; i < labels.size(); ++i) {
      const int left = area_.left() + i * width;
      painter_.drawText(QRect(left, y_, width, LineHeight(font)), Qt::AlignLeft, labels[i]);
      const int lineLeft = left + painter_.fontMetrics().horizontalAdvance(labels[i]) + Millimetres(2);
      painter_.drawLine(lineLeft, y_ + LineHeight(font), left + width - Millimetres(6), y_ + LineHeight(font));
    }
    y_ += LineHeight(font) + Millimetres(4);
  }

 private:
  int Millimetres(double mm) const { return static_cast<int>(mm * kDotsPerInch / 25.4); }
  int LineHeight(const QFont& font) { return QFontMetrics(font, &writer_).lineSpacing(); }

  void Text(const QString& text, const QFont& font, Qt::Alignment align, int after) {
    painter_.setFont(font);
    const QRect box(area_.left(), 0, area_.width(), 100000);
    const int height = painter_.boundingRect(box, Qt::TextWordWrap | align, text).height();
    Room(height);
    painter_.drawText(QRect(area_.left(), y_, area_.width(), height), Qt::TextWordWrap | align, text);
    y_ += height + after;
  }

  void Room(int height) {
    if (y_ > area_.top() && y_ + height > area_.bottom()) NewPage();
  }
  void NewPage() {
    writer_.newPage();
    y_ = area_.top();
  }

  QPdfWriter writer_;
  QPainter painter_;
  QRect area_;
  int y_ = 0;
};

// What a service report shows of an assistant run.
constexpr std::string_view kRunKeysInReport[] = {
    "channel", "sensorSerial", "reference.certificate", "linearityPercentFullScale", "outcome", "message"};

QString Fixed(double value, int decimals) { return QString::number(value, 'f', decimals); }

std::vector<QStringList> PointRows(const std::vector<CalibrationPoint>& points, const QString& pass,
                                   const QString& fail) {
  std::vector<QStringList> rows;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const CalibrationPoint& point = points[i];
    rows.push_back({QString::number(i + 1), Fixed(point.reference, 2), Fixed(point.voltageMean, 4),
                    Fixed(point.voltageSpread, 4), QString::number(point.samples), Fixed(point.indicated, 2),
                    Fixed(point.errorPercentFullScale, 3), Fixed(point.expandedUncertainty, 3),
                    point.pass ? pass : fail});
  }
  return rows;
}

std::vector<QStringList> TableRows(const CalibTable& table) {
  std::vector<QStringList> rows;
  for (std::size_t i = 0; i < table.PointCount(); ++i) {
    rows.push_back({QString::number(i + 1), Q(NumberText(table.First(i))), Q(NumberText(table.Second(i)))});
  }
  return rows;
}

}  // namespace

std::string PdfServiceDocuments::WriteCertificate(const CalibrationRun& run, const TextLookup& texts,
                                                  const std::filesystem::path& out) const {
  EnsureGuiApplication();
  const auto say = [&texts](std::string_view text) { return Q(texts.Lookup(text)); };
  const QString pass = say("合格");
  const QString fail = say("不合格");
  PdfPages pdf(QString::fromStdString(out.string()), say("标定证书"));
  if (!pdf.Ok()) return texts.Lookup("无法写入文件") + ": " + out.string();

  pdf.Title(say("标定证书"));
  const QString unit = Q(run.unit);
  pdf.Pairs({
      {say("试验台"), Q(run.bench)},
      {say("工程师"), Q(run.engineer)},
      {say("日期 (UTC)"),
       Q(UtcTimeText(run.finishedAtUnixSeconds != 0 ? run.finishedAtUnixSeconds : run.startedAtUnixSeconds))},
      {say("控制器版本"), Q(run.controllerVersion)},
      {say("通讯口"), Q(run.port)},
      {say("通道"), say(CalibChannelCaption(run.channel))},
      {say("传感器序列号"), Q(run.sensorSerial)},
      {say("满量程"), Fixed(run.fullScale, 2) + " " + unit},
      {say("允差"), QStringLiteral("± ") + Fixed(run.tolerancePercentFullScale, 3) + " % FS"},
      {say("参考标准"), Q(run.reference.kind) + ": " + Q(run.reference.description)},
      {say("参考证书号"), Q(run.reference.certificate)},
      {say("参考扩展不确定度 (k=2)"), Fixed(run.reference.expandedUncertainty, 3) + " " + unit},
  });

  const QStringList pointHeaders = {
      QStringLiteral("#"), say("参考值") + " [" + unit + "]", say("电压") + " [V]",    say("波动") + " [V]",
      say("样本"),         say("示值") + " [" + unit + "]",   say("误差") + " [% FS]", "U (k=2) [" + unit + "]",
      say("结果")};
  const std::vector<double> pointWidths = {0.5, 1.5, 1.3, 1.2, 0.8, 1.5, 1.3, 1.5, 1.1};
  pdf.Heading(say("校前") + ": " + (run.asFoundPass ? pass : fail));
  pdf.Table(pointHeaders, PointRows(run.asFound, pass, fail), pointWidths);

  pdf.Heading(say("标定表") + " (" + say("之前") + " / " + say("之后") + ")");
  const QStringList tableHeaders = {QStringLiteral("#"), say("第一列"), say("第二列")};
  pdf.Paragraph(say("之前"));
  pdf.Table(tableHeaders, TableRows(run.tableBefore), {0.5, 2, 2});
  pdf.Paragraph(say("之后") + (run.tableStored ? QString() : " — " + say("未存储")));
  pdf.Table(tableHeaders, TableRows(run.tableAfter), {0.5, 2, 2});
  pdf.Paragraph(say("线性度") + ": " + Fixed(run.linearityPercentFullScale, 3) + " % FS");

  if (run.outcome == CalibrationOutcome::Completed) {
    pdf.Heading(say("校后") + ": " + (run.asLeftPass ? pass : fail));
    pdf.Table(pointHeaders, PointRows(run.asLeft, pass, fail), pointWidths);
  } else {
    pdf.Heading(say(run.outcome == CalibrationOutcome::Aborted ? "已中止" : "失败") + ": " + Q(run.message));
    if (run.tableRestored) pdf.Paragraph(say("已恢复原标定表"));
  }
  const bool passed = run.outcome == CalibrationOutcome::Completed && run.asLeftPass;
  pdf.Heading(say("结论") + ": " + (passed ? pass : fail));
  pdf.Paragraph(say("扩展不确定度 U 按 k = 2 给出，包含稳定窗口内读数的波动、显示分辨力和参考标准的不确定度。"), 8.5);
  pdf.Heading(say("溯源性声明"));
  pdf.Paragraph(Q(run.traceability));
  pdf.SignatureLines({say("签名") + ":", say("日期") + ":"});
  if (!pdf.Finish()) return texts.Lookup("无法写入文件") + ": " + out.string();
  return {};
}

std::string PdfServiceDocuments::WriteServiceReport(std::span<const HistoryEntry> entries, std::int64_t fromUtc,
                                                    std::int64_t toUtc, const ServiceIdentity& identity,
                                                    const TextLookup& texts, const std::filesystem::path& out) const {
  EnsureGuiApplication();
  const auto say = [&texts](std::string_view text) { return Q(texts.Lookup(text)); };
  PdfPages pdf(QString::fromStdString(out.string()), say("服务报告"));
  if (!pdf.Ok()) return texts.Lookup("无法写入文件") + ": " + out.string();
  pdf.Title(say("服务报告"));
  pdf.Pairs({
      {say("试验台"), Q(identity.bench)},
      {say("工程师"), Q(identity.engineer)},
      {say("时间段 (UTC)"), Q(UtcTimeText(fromUtc)) + " — " + Q(UtcTimeText(toUtc))},
      {say("记录数"), QString::number(entries.size())},
  });
  for (const HistoryEntry& entry : entries) {
    pdf.Heading(QString::number(entry.id) + "  " + Q(UtcTimeText(entry.timeUtc)) + "  " + Q(entry.summary));
    // A change lists what changed; an assistant run what identifies it (its
    // certificate has the rest); anything else all it holds.
    const std::vector<HistoryField> fields = ReadableFields(entry);
    const bool hasChanges = std::any_of(fields.begin(), fields.end(),
                                        [](const HistoryField& field) { return field.key.starts_with("changed."); });
    const auto shown = [&](const HistoryField& field) {
      if (entry.kind == HistoryKind::CalibrationRun) {
        return std::find(std::begin(kRunKeysInReport), std::end(kRunKeysInReport), field.key) !=
               std::end(kRunKeysInReport);
      }
      return !hasChanges || field.key.starts_with("changed.");
    };
    std::vector<std::pair<QString, QString>> pairs;
    for (const HistoryField& field : fields) {
      if (shown(field)) pairs.emplace_back(Q(field.key), Q(field.value));
    }
    pdf.Pairs(pairs);
  }
  pdf.SignatureLines({say("工程师签名") + ":", say("客户签名") + ":"});
  if (!pdf.Finish()) return texts.Lookup("无法写入文件") + ": " + out.string();
  return {};
}

}  // namespace rolta
