// Texts the console composes: start-up errors, version lines, tips, open failures.
#include "readouts/console_texts.h"
#include "readouts/string_resources.h"
#include "env/ui_services.h"
#include "marking_lookup.h"

#include <gtest/gtest.h>

namespace rolta {
namespace {

using test::MarkingLookup;

TEST(ConsoleTextsTest, AboutVersionLineDropsSpacesAndTurnsCommasIntoDots) {
  EXPECT_EQ(AboutVersionLine("3, 7, 4, 0"), "ROLTA Version 3.7.4.0 (10点标定) for Win2000/NT/XP");
  EXPECT_EQ(AboutVersionLine(" 1 ,2"), "ROLTA Version 1.2 (10点标定) for Win2000/NT/XP");
  EXPECT_EQ(AboutVersionLine(""), "ROLTA Version  (10点标定) for Win2000/NT/XP");
}

TEST(ConsoleTextsTest, StartUpMessages) {
  MarkingLookup lookup;
  EXPECT_EQ(EnvLoadErrorText(lookup, -1000), "envkit.dll <版本不匹配_加载错误_该文件不存在> ErrCode: [-1000]");
  EXPECT_EQ(AlreadyRunningText(), "QRX5000B控制器已经运行!");
}

TEST(ConsoleTextsTest, VersionTipsListHasTwelveLinesTranslatingOnlyTheFormattedOnes) {
  MarkingLookup lookup;
  const auto lines = VersionTipsLines(lookup);
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "1、该版本只支持QRX5000B控制器！");
  EXPECT_EQ(lines[2], "3、请按ROLTA主界面上的\"版本号\"按钮，获取版本匹配关系！");
  EXPECT_EQ(lines[4], std::string(58, '-'));
  EXPECT_EQ(lines[5], "<ROLTA V3.74 －  QRX5000B 7.34  <以上版本>>");
  EXPECT_EQ(lines[6], "<ROLTA V3.72 －  QRX5000B 7.33  <以上版本>>");
  EXPECT_EQ(lines[7], "ROLTA V3.5x －  QRX5000B 7.23  以上版本");
  EXPECT_EQ(lines[10], "ROLTA V3.00 －  QRX5000B 7.00  以上版本");
  EXPECT_EQ(lines[11], std::string(59, '-'));
}

TEST(ConsoleTextsTest, StringResourcesHoldTheChannelClosedBoxAndTheTooltips) {
  const MessageRequest closed = ChannelClosedMessage();
  EXPECT_EQ(StringResource(102), closed.text);
  EXPECT_EQ(StringResource(103), closed.caption);
  EXPECT_EQ(StringResource(110), "版本说明");
  EXPECT_EQ(StringResource(112), "紧急停止");
  EXPECT_EQ(StringResource(118), "控制器升级");
  EXPECT_EQ(StringResource(111), "");
}

TEST(ConsoleTextsTest, VersionQueryAndAnswerTexts) {
  MarkingLookup lookup;
  const auto query = VersionQueryTexts(lookup);
  EXPECT_EQ(query.caption, "<通讯端口未打开>");
  EXPECT_EQ(query.value, "版本小于Ver6.66或通讯错误");
  const auto upgrade = VersionAnswerTexts(lookup, true, 734.0 / 100);
  EXPECT_EQ(upgrade.caption, "<QRX5000升级程序版本>");
  EXPECT_EQ(upgrade.value, "Ver7.34");
  EXPECT_EQ(VersionAnswerTexts(lookup, false, 7.0).caption, "<QRX5000控制器版本>");
}

TEST(ConsoleTextsTest, OpenFailureNamesThePortAndAdvisesWhereTheCauseIsKnown) {
  const MarkingLookup lookup;
  struct Row {
    std::error_code error;
    std::string secondLine;
  };
  const Row rows[] = {
      {std::make_error_code(std::errc::permission_denied),
       "<没有访问权限: 请把用户加入 dialout 组 (sudo adduser $USER dialout) 后重新登录>"},
      {std::make_error_code(std::errc::device_or_resource_busy), "<通讯口被其他程序占用: 请先关闭占用它的程序>"},
      {std::make_error_code(std::errc::no_such_file_or_directory), "<设备不存在: 请检查串口线或USB转换器是否插好>"},
      {std::make_error_code(std::errc::io_error), std::make_error_code(std::errc::io_error).message()},
  };
  for (const Row& row : rows) {
    const MessageRequest box = OpenFailureMessage(lookup, "/dev/ttyUSB0", row.error);
    EXPECT_EQ(box.text, "<无法打开通讯口> /dev/ttyUSB0\n" + row.secondLine);
    EXPECT_EQ(box.caption, "<通讯错误>");
    EXPECT_EQ(box.icon, MessageIcon::Stop);
  }
}

}  // namespace
}  // namespace rolta
