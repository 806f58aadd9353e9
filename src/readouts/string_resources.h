// The console's numbered string resources: message texts, tooltips and the
// fixed lines of the version tips. Shown as they stand, never translated.
#pragma once

#include <string_view>

namespace rolta {

struct StringResourceRow {
  int id;
  std::string_view text;
};

inline constexpr StringResourceRow kStringResources[] = {
    {102, "通讯口未打开!"},
    {103, "通讯错误"},
    {104, "1、该版本只支持QRX5000B控制器！"},
    {105, "2、当前版本的ROLTA和QRX5000B控制器内核版本必须匹配！"},
    {106, "3、请按ROLTA主界面上的\"版本号\"按钮，获取版本匹配关系！"},
    {107, "以下是版本匹配关系表："},
    {108, "ROLTA V3.00 －  QRX5000B 7.00  以上版本"},
    {109, "ROLTA V3.3x －  QRX5000B 7.18  以上版本"},
    {110, "版本说明"},
    {112, "紧急停止"},
    {118, "控制器升级"},
    {121, "ROLTA V3.4x －  QRX5000B 7.22  以上版本"},
    {122, "ROLTA V3.5x －  QRX5000B 7.23  以上版本"},
};

// The text of a resource; empty for a number the table does not have.
constexpr std::string_view StringResource(int id) {
  for (const StringResourceRow& row : kStringResources) {
    if (row.id == id) return row.text;
  }
  return {};
}

}  // namespace rolta
