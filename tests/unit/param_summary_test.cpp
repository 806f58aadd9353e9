// The summary listing of the parameter record: lines, conditions and order.
#include "config/param_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "marking_lookup.h"

namespace rolta::test {
namespace {

using Lines = std::vector<std::string>;

bool Has(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(ParamSummary, AllZeroRecord) {
  const Lines lines = BuildSummary(ControllerParams{}, MarkingLookup{});
  ASSERT_EQ(lines.size(), 47u);  // 56 rows less 15, 16, 30, 31 and 45-50, plus 15'
  EXPECT_EQ(lines[0], "<硬件型号>：<未知> [0]");
  EXPECT_EQ(lines[1], "---------------------");
  EXPECT_EQ(lines[2], "<内核版本>：0.00");
  EXPECT_EQ(lines[4], "<硬件版本>：00.00");
  EXPECT_EQ(lines[5], "===========");
  EXPECT_EQ(lines.back(), "<远程监控>：<禁止>");
  const Lines expected = {
      "<通讯端口>：COM1",           "<通讯速度>：<未知>",       "<涡流机型>：<未知>",       "<控制模式>：<未知>",
      "<举升模块>：<未知>",         "<电机模式>：<未知>",       "<电机控制>：<未知>",       "<遥控功能>：<关闭>",
      "<转数测试>：<允许>",         "<零点模式>：<静态零点>",   "<自动恢复>：<禁止>",       "<智能举升>：I型",
      "<电源模块>：IGBT850",        "<电动档轮>：<不支持>",     "<双轴大型柴油>：<不支持>", "<速度阀值>:   0.0km/h",
      "<出车等待>:   0秒",          "<测试涡流>：0x0",          "<台架修正>：0.0",          "<柴油控制参数>  ：0.00",
      "=====<系统参数管理>=======", "<反拖扭矩>：<禁止(摩托)>", "<反拖扭矩>：<禁止>",       "<转 速 计>：<Disel490>",
  };
  for (const std::string& line : expected) EXPECT_TRUE(Has(lines, line)) << line;
  for (const char* absent : {"<油耗测试>：<允许>", "<举升限位:>：举升升到位判断"}) {
    EXPECT_FALSE(Has(lines, absent)) << absent;
  }
}

TEST(ParamSummary, ValuesAndSections) {
  struct Row {
    const char* what;
    void (*set)(ControllerParams&);
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const Row rows[] = {
      {"kernel 535",
       [](ControllerParams& p) { p.kernelVersion = 535; },
       {"<内核版本>：5.35", "<电动档轮>：<支持>", "<双轴大型柴油>：<不支持>"},
       {}},
      {"kernel 538", [](ControllerParams& p) { p.kernelVersion = 538; }, {"<双轴大型柴油>：<支持>"}, {}},
      {"diesel, dynamic scan",
       [](ControllerParams& p) {
         p.hardwareModel = 4;
         p.lugdownScanMode = 11;
         p.lugdownScanSpeed = 6;
       },
       {"<硬件型号>：LUGDN", "=====<柴油配置参数>=======", "LugDn<扫描模式>  ：<动态扫描>"},
       {"LugDn<扫描速度>  ：0.60"}},
      {"diesel, steady scan",
       [](ControllerParams& p) {
         p.hardwareModel = 3;
         p.lugdownScanMode = 10;
         p.lugdownScanSpeed = 6;
         p.stabilityBand = 0.02f;
         p.lugdownEndSpeed = 20;
         p.stabilityTime = 5;
       },
       {"LugDn<扫描速度>  ：0.60", "LugDn<判稳区间>  ：2.00", "LugDn<结束速度>  ：20 km/h", "LugDn<判稳时间>  ：5"},
       {}},
      {"monostable valve", [](ControllerParams& p) { p.valveSettleTime = 0xFF; }, {"<举升延时>：-1s"}, {}},
      {"motoring torque allowed",
       [](ControllerParams& p) { p.motoringTorqueTest = 2; },
       {"<反拖扭矩>：<允许(摩托)>", "<反拖扭矩>：<允许>"},
       {}},
      {"fuel counting",
       [](ControllerParams& p) {
         p.fuelTest = 1;
         p.fuelOutputType = 0;
       },
       {"<油耗测试>：<允许>", "<油耗传感>：<计数型>"},
       {"<转数测试>：<允许>"}},
      {"lift checks and modules",
       [](ControllerParams& p) {
         p.liftLimitChecks = 3;
         p.liftModule = 12;
         p.smartLiftType = 1;
       },
       {"<举升限位:>：举升升到位判断", "<举升限位:>：举升降到位判断", "<举升模块>：<普通模块> <高电平> <升>",
        "<智能举升>：II型"},
       {}},
      {"codes",
       [](ControllerParams& p) {
         p.baudDivisor = 2;
         p.retarderType = 14;
         p.loadMode = 12;
         p.autoRestoreSeconds = 300;
         p.benchCorrection = -15;
         p.testRetarderMask = 0xFA;
         p.hardwareVersion = 0x21;
         p.powerModule = 2;
         p.speedThreshold = 3;
       },
       {"<通讯速度>：57.6K", "<涡流机型>：KLOFT-250KW", "<控制模式>：<恒负荷模式>3", "<自动恢复>：300 s",
        "<台架修正>：-1.5", "<测试涡流>：0xa", "<硬件版本>：02.01", "<电源模块>：IGBTDC", "<速度阀值>:   0.3km/h"},
       {}},
      {"baud 4 unknown", [](ControllerParams& p) { p.baudDivisor = 4; }, {"<通讯速度>：<未知>"}, {}},
  };
  for (const Row& row : rows) {
    ControllerParams values;
    row.set(values);
    const Lines lines = BuildSummary(values, MarkingLookup{});
    for (const std::string& line : row.present) EXPECT_TRUE(Has(lines, line)) << row.what << ": " << line;
    for (const std::string& line : row.absent) EXPECT_FALSE(Has(lines, line)) << row.what << ": " << line;
  }
  ControllerParams diesel;
  diesel.hardwareModel = 3;
  diesel.lugdownScanMode = 10;
  EXPECT_EQ(BuildSummary(diesel, MarkingLookup{}).size(), 47u + 6u);
  diesel.lugdownScanMode = 11;
  EXPECT_EQ(BuildSummary(diesel, MarkingLookup{}).size(), 47u + 5u);
}

}  // namespace
}  // namespace rolta::test
