#include "config/param_summary.h"

#include <initializer_list>
#include <optional>

#include "env/number_text.h"

namespace rolta {
namespace {

using P = ControllerParams;
using T = TextLookup;

// A code and what the listing prints for it.
struct Choice {
  int code;
  std::string_view text;
};

// The text chosen for `value`, or nothing.
std::optional<std::string_view> Pick(int value, std::initializer_list<Choice> choices) {
  for (const Choice& choice : choices) {
    if (choice.code == value) return choice.text;
  }
  return std::nullopt;
}

// "<T(label)>：<suffix>" for a known code (suffix printed as it stands),
// "<T(label)>：<T(未知)>" otherwise.
std::string LiteralOrUnknown(const T& t, std::string_view label, int value, std::initializer_list<Choice> choices) {
  const std::optional<std::string_view> suffix = Pick(value, choices);
  return t.Lookup(label) + "：" + (suffix ? std::string(*suffix) : t.Lookup("未知"));
}

// "<T(label)>：<T(word)>", the word chosen by code, T(未知) for other codes.
std::string WordOrUnknown(const T& t, std::string_view label, int value, std::initializer_list<Choice> choices) {
  const std::optional<std::string_view> word = Pick(value, choices);
  return t.Lookup(label) + "：" + t.Lookup(word ? *word : "未知");
}

// "<T(label)>：<T(yes or no)>".
std::string Either(const T& t, std::string_view label, bool condition, std::string_view yes, std::string_view no) {
  return t.Lookup(label) + "：" + t.Lookup(condition ? yes : no);
}

std::string Labelled(const T& t, std::string_view label, std::string_view separator, const std::string& value) {
  return t.Lookup(label) + std::string(separator) + value;
}

std::string Int(long value) { return std::to_string(value); }

bool Always(const P&) { return true; }
bool Diesel(const P& p) { return p.hardwareModel == 3 || p.hardwareModel == 4; }

constexpr std::string_view kShortRule = "---------------------";

const SummaryRow kRows[] = {
    {"1", Always,
     [](const P& p, const T& t) {
       const std::optional<std::string_view> model =
           Pick(p.hardwareModel, {{1, "QRX"}, {2, "ASM"}, {3, "VMAS"}, {4, "LUGDN"}, {5, "MASM"}});
       if (model) return t.Lookup("硬件型号") + "：" + std::string(*model);
       return t.Lookup("硬件型号") + "：" + t.Lookup("未知") + " [" + Int(p.hardwareModel) + "]";
     }},
    {"2", Always, [](const P&, const T&) { return std::string(kShortRule); }},
    {"3", Always,
     [](const P& p, const T& t) { return Labelled(t, "内核版本", "：", FixedText(p.kernelVersion / 100.0, 2)); }},
    {"4", Always, [](const P&, const T&) { return std::string(kShortRule); }},
    {"5", Always,
     [](const P& p, const T& t) {
       return t.Lookup("硬件版本") + FormatText("：%02d.%02d", p.hardwareVersion >> 4, p.hardwareVersion & 0x0F);
     }},
    {"6", Always, [](const P&, const T&) { return std::string("==========="); }},
    {"7", Always,
     [](const P& p, const T& t) { return Labelled(t, "通讯端口", "：", "COM" + Int(p.controllerPort + 1)); }},
    {"8", Always,
     [](const P& p, const T& t) {
       return LiteralOrUnknown(t, "通讯速度", p.baudDivisor,
                               {{1, "115.2K"}, {2, "57.6K"}, {3, "38.4K"}, {6, "19.2K"}, {12, "9600"}});
     }},
    {"9", Always, [](const P& p, const T& t) { return Labelled(t, "传输延时", "：", Int(p.transmitDelay)); }},
    {"10", Always, [](const P& p, const T& t) { return Labelled(t, "滚筒尺寸", "：", FixedText(p.rollerSize, 2)); }},
    {"11", Always, [](const P& p, const T& t) { return Labelled(t, "编码数目", "：", Int(p.encoderTeeth)); }},
    {"12", Always,
     [](const P& p, const T& t) {
       return LiteralOrUnknown(t, "涡流机型", p.retarderType,
                               {{10, "KLOFT"},
                                {11, "KLAM"},
                                {12, "FRELASA"},
                                {13, "CLC"},
                                {14, "KLOFT-250KW"},
                                {15, "ESP"},
                                {16, "WWW"},
                                {17, "Z4"}});
     }},
    {"13", Always, [](const P& p, const T& t) { return Either(t, "遥控功能", p.remoteStart == 1, "启动", "关闭"); }},
    {"14", Always,
     [](const P& p, const T& t) {
       return Either(t, "反拖扭矩", p.motoringTorqueTest != 0, "允许(摩托)", "禁止(摩托)");
     }},
    {"15", [](const P& p) { return p.fuelTest != 0; },
     [](const P&, const T& t) { return Labelled(t, "油耗测试", "：", t.Lookup("允许")); }},
    {"16", [](const P& p) { return p.fuelTest != 0; },
     [](const P& p, const T& t) {
       return WordOrUnknown(t, "油耗传感", p.fuelOutputType, {{0, "计数型"}, {1, "频率型"}});
     }},
    {"15'", [](const P& p) { return p.fuelTest == 0; },
     [](const P&, const T& t) { return Labelled(t, "转数测试", "：", t.Lookup("允许")); }},
    {"17", Always,
     [](const P& p, const T& t) {
       return WordOrUnknown(t, "零点模式", p.zeroMode, {{0, "静态零点"}, {1, "动态零点"}});
     }},
    {"18", Always,
     [](const P& p, const T& t) {
       if (p.loadMode >= 10 && p.loadMode <= 14) {
         return Labelled(t, "控制模式", "：", t.Lookup("恒负荷模式") + Int(p.loadMode - 9));
       }
       return Labelled(t, "控制模式", "：", t.Lookup("未知"));
     }},
    {"19", Always,
     [](const P& p, const T& t) { return Either(t, "时钟模式", p.clockMode == 100, "高精度定时器", "普通定时器"); }},
    {"20", Always,
     [](const P& p, const T& t) {
       if (p.autoRestoreSeconds > 0) return Labelled(t, "自动恢复", "：", Int(p.autoRestoreSeconds) + " s");
       return Labelled(t, "自动恢复", "：", t.Lookup("禁止"));
     }},
    {"21", Always, [](const P& p, const T& t) { return Labelled(t, "举升速度", "：", Int(p.liftSpeed) + " km/h"); }},
    {"22", Always,
     [](const P& p, const T& t) { return Labelled(t, "滑行停机", "：", Int(p.coastStopSpeed) + " km/h"); }},
    {"23", Always,
     [](const P& p, const T& t) { return Labelled(t, "损耗停机", "：", Int(p.lossStopSpeed) + " km/h"); }},
    {"24", Always,
     [](const P& p, const T& t) {
       switch (p.liftModule) {
         case 10: return Labelled(t, "举升模块", "：", t.Lookup("普通模块"));
         case 11: return Labelled(t, "举升模块", "：", t.Lookup("智能模块"));
         case 12:
           return Labelled(t, "举升模块", "：", t.Lookup("普通模块") + " " + t.Lookup("高电平") + " " + t.Lookup("升"));
         case 13:
           return Labelled(t, "举升模块", "：", t.Lookup("普通模块") + " " + t.Lookup("低电平") + " " + t.Lookup("降"));
         default: return Labelled(t, "举升模块", "：", t.Lookup("未知"));
       }
     }},
    {"25", Always,
     [](const P& p, const T& t) {
       return Labelled(t, "举升延时", "：", Int(static_cast<std::int8_t>(p.valveSettleTime)) + "s");
     }},
    {"26", Always,
     [](const P& p, const T& t) { return Either(t, "标定模式", p.calibFit != 0, "最小二乘法", "分段线性"); }},
    {"27", Always,
     [](const P& p, const T& t) {
       return Either(t, "通道配置", p.autoChannelConfig != 0, "自动配置模拟采集通道", "手动配置模拟采集通道");
     }},
    {"28", Always,
     [](const P& p, const T& t) {
       return WordOrUnknown(t, "电机模式", p.motorModule, {{10, "普通模块"}, {11, "智能模块"}});
     }},
    {"29", Always,
     [](const P& p, const T& t) {
       return LiteralOrUnknown(t, "智能举升", p.smartLiftType, {{0, "I型"}, {1, "II型"}});
     }},
    {"30", [](const P& p) { return (p.liftLimitChecks & 0x01) != 0; },
     [](const P&, const T& t) { return Labelled(t, "举升限位:", "：", "举升升到位判断"); }},
    {"31", [](const P& p) { return (p.liftLimitChecks & 0x02) != 0; },
     [](const P&, const T& t) { return Labelled(t, "举升限位:", "：", "举升降到位判断"); }},
    {"32", Always,
     [](const P& p, const T& t) {
       return Labelled(t, "速度阀值", ":   ", FixedText(p.speedThreshold / 10.0, 1) + "km/h");
     }},
    {"33", Always,
     [](const P& p, const T& t) { return Labelled(t, "出车等待", ":   ", Int(p.exitWaitSeconds) + "秒"); }},
    {"34", Always,
     [](const P& p, const T& t) { return Labelled(t, "出车保护", ":   ", Int(p.exitProtectSeconds) + "秒"); }},
    {"35", Always,
     [](const P& p, const T& t) {
       return WordOrUnknown(t, "电机控制", p.motorControl, {{10, "启动器"}, {11, "变频器"}});
     }},
    {"36", Always,
     [](const P& p, const T& t) { return Either(t, "电动档轮", p.kernelVersion >= 532, "支持", "不支持"); }},
    {"37", Always,
     [](const P& p, const T& t) { return Either(t, "输入逻辑", p.negativeLogic == 0, "正逻辑", "负逻辑"); }},
    {"38", Always, [](const P& p, const T& t) { return Either(t, "举升锁定", p.liftLock == 0, "关闭", "打开"); }},
    {"39", Always,
     [](const P& p, const T& t) { return Either(t, "反拖扭矩", p.motoringTorqueTest == 0, "禁止", "允许"); }},
    {"40", Always,
     [](const P& p, const T& t) { return Either(t, "转 速 计", p.tachometerType == 1, "RPM5300", "Disel490"); }},
    {"41", Always,
     [](const P& p, const T& t) { return t.Lookup("测试涡流") + FormatText("：0x%x", p.testRetarderMask & 0x0F); }},
    {"42", Always,
     [](const P& p, const T& t) { return t.Lookup("滑行涡流") + FormatText("：0x%x", p.coastRetarderMask & 0x0F); }},
    {"43", Always,
     [](const P& p, const T& t) {
       return Labelled(t, "电源模块", "：", p.powerModule == 1 ? "IGBT0" : p.powerModule == 2 ? "IGBTDC" : "IGBT850");
     }},
    {"44", Always,
     [](const P& p, const T& t) { return Labelled(t, "台架修正", "：", FixedText(p.benchCorrection / 10.0, 1)); }},
    {"45", Diesel, [](const P&, const T& t) { return "=====" + t.Lookup("柴油配置参数") + "======="; }},
    {"46", Diesel,
     [](const P& p, const T& t) { return "LugDn" + t.Lookup("结束速度") + "  ：" + Int(p.lugdownEndSpeed) + " km/h"; }},
    {"47", Diesel,
     [](const P& p, const T& t) {
       return "LugDn" + t.Lookup("扫描模式") + "  ：" + t.Lookup(p.lugdownScanMode == 10 ? "稳态扫描" : "动态扫描");
     }},
    {"48", [](const P& p) { return Diesel(p) && p.lugdownScanMode == 10; },
     [](const P& p, const T& t) {
       return "LugDn" + t.Lookup("扫描速度") + "  ：" + FixedText(p.lugdownScanSpeed / 10.0, 2);
     }},
    {"49", Diesel,
     [](const P& p, const T& t) {
       return "LugDn" + t.Lookup("判稳区间") + "  ：" + FixedText(static_cast<double>(p.stabilityBand) * 100.0, 2);
     }},
    {"50", Diesel,
     [](const P& p, const T& t) { return "LugDn" + t.Lookup("判稳时间") + "  ：" + Int(p.stabilityTime); }},
    {"51", Always,
     [](const P& p, const T& t) { return Either(t, "双轴大型柴油", p.kernelVersion >= 538, "支持", "不支持"); }},
    {"52", Always,
     [](const P& p, const T& t) {
       return Labelled(t, "柴油控制参数", "  ：", FixedText(p.dieselControlParam / 100.0, 2));
     }},
    {"53", Always,
     [](const P& p, const T& t) {
       return Labelled(t, "转数读取参数", "  ：", FixedText(p.speedReadParam / 100.0, 2));
     }},
    {"54", Always,
     [](const P& p, const T& t) { return Labelled(t, "扫描读取参数", "  ：", FixedText(p.scanReadParam / 100.0, 2)); }},
    {"55", Always, [](const P&, const T& t) { return "=====" + t.Lookup("系统参数管理") + "======="; }},
    {"56", Always, [](const P& p, const T& t) { return Either(t, "远程监控", p.remoteMonitor == 0, "禁止", "允许"); }},
};

}  // namespace

std::span<const SummaryRow> SummaryRows() { return kRows; }

namespace {

// Pieces of the lines that stand as written in Chinese and are translated in
// any other language; a longer piece before one it contains.
constexpr std::string_view kFixedPieces[] = {"举升升到位判断", "举升降到位判断", "II型", "I型", "秒", "："};

void TranslateFixedPieces(std::string& line, const TextLookup& lookup) {
  for (std::string_view piece : kFixedPieces) {
    const std::string translated = lookup.Lookup(piece);
    if (translated == piece) continue;
    for (std::size_t at = line.find(piece); at != std::string::npos; at = line.find(piece, at + translated.size())) {
      line.replace(at, piece.size(), translated);
    }
  }
}

}  // namespace

std::vector<std::string> BuildSummary(const ControllerParams& values, const TextLookup& lookup) {
  std::vector<std::string> lines;
  for (const SummaryRow& row : kRows) {
    if (row.listed(values)) lines.push_back(row.line(values, lookup));
  }
  if (!lookup.IsDefaultLanguage()) {
    for (std::string& line : lines) TranslateFixedPieces(line, lookup);
  }
  return lines;
}

}  // namespace rolta
