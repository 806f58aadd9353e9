#include "commands/catalogue.h"

namespace rolta {
namespace {

using enum CommandInput;
using F = FieldSource;

// Every builder starts from an empty row (no action, every field kept).
constexpr CatalogueRow Row(std::string_view caption, CatalogueAction action, FrameKind frame = FrameKind::None,
                           std::uint16_t word = 0) {
  CatalogueRow row;
  row.caption = caption;
  row.action = action;
  row.frame = frame;
  row.commandWord = word;
  return row;
}

constexpr CatalogueRow Short(std::string_view caption, std::uint8_t code) {
  CatalogueRow row = Row(caption, CatalogueAction::Send, FrameKind::Short, code);
  row.shortSequence = {code, 0, 0};
  row.shortCount = 1;
  return row;
}

// Several short commands back to back, in this order.
constexpr CatalogueRow ShortSequence(std::string_view caption, std::uint8_t first, std::uint8_t second,
                                     std::uint8_t third = 0) {
  CatalogueRow row = Short(caption, first);
  row.shortSequence = {first, second, third};
  row.shortCount = third == 0 ? 2 : 3;
  return row;
}

constexpr CatalogueRow Setpoint(std::string_view caption, std::uint16_t word, F mask, F value, InputSet inputs) {
  CatalogueRow row = Row(caption, CatalogueAction::Send, FrameKind::Setpoint, word);
  row.fields = {mask, value, F::Keep, F::Keep};
  row.inputs = inputs;
  return row;
}

constexpr CatalogueRow Profile(std::string_view caption, std::uint16_t word, F first, F second, F third, F fourth,
                               InputSet inputs) {
  CatalogueRow row = Row(caption, CatalogueAction::Send, FrameKind::Profile, word);
  row.fields = {first, second, third, fourth};
  row.inputs = inputs;
  return row;
}

constexpr CatalogueRow ParamRecord(std::string_view caption, CatalogueAction action, F word,
                                   std::string_view hint = {}) {
  CatalogueRow row = Row(caption, action, FrameKind::ParamRequest, 0x0401);
  row.fields[0] = word;
  row.text = hint;
  return row;
}

constexpr CatalogueRow Program(std::string_view caption, std::string_view confirmation, std::string_view program) {
  CatalogueRow row = Row(caption, CatalogueAction::ExternalProgram);
  row.text = confirmation;
  row.program = program;
  return row;
}

constexpr CatalogueRow Message(std::string_view caption, std::string_view text) {
  CatalogueRow row = Row(caption, CatalogueAction::Message);
  row.text = text;
  return row;
}

constexpr CatalogueRow Action(std::string_view caption, CatalogueAction action) { return Row(caption, action); }

constexpr CatalogueRow Unused() { return CatalogueRow{}; }

constexpr CatalogueRow kCatalogue[] = {
    /*  0 */ Setpoint("恒速测试", 0x0510, F::Keep, F::ParamA, {ParamA}),
    /*  1 */ Setpoint("恒力测试", 0x0511, F::Keep, F::ParamB, {ParamB}),
    /*  2 */ Short("力矩测试(FL)", 34),
    /*  3 */ Short("电压标定(FL)", 33),
    /*  4 */ Short("举升上", 30),
    /*  5 */ Short("举升下", 31),
    /*  6 */ Short("里程校验", 36),
    /*  7 */ Short("清里程", 45),
    /*  8 */
    Profile("恒负荷滑行", 0x1032, F::StartSpeed, F::EndSpeed, F::ParamM, F::Zero, {StartSpeed, EndSpeed, ParamM}),
    /*  9 */ Program("变负荷滑行", "运行变负荷滑行功能,将关闭ROLTA通讯口!", "vlcoast.exe"),
    /* 10 */ Setpoint("涡流机加载", 0x0514, F::Keep, F::ParamB, {ParamB}),
    /* 11 */
    Profile("恒扭矩滑行", 0x1035, F::StartSpeed, F::EndSpeed, F::ParamB, F::Keep, {StartSpeed, EndSpeed, ParamB}),
    // The no-load coast-downs (12, 81, 88) carry ParamB without enabling it.
    /* 12 */ Profile("空载滑行", 0x1036, F::StartSpeed, F::EndSpeed, F::ParamB, F::Keep, {StartSpeed, EndSpeed}),
    /* 13 */ Short("测试准备", 49),
    /* 14 */ Short("停止测试", 28),
    /* 15 */ Profile("恒负荷测试(取消)", 0x1034, F::ParamA, F::ParamM, F::Keep, F::Keep, {ParamA, ParamM}),
    /* 16 */ Short("反吹开", 55),
    /* 17 */ Short("反吹关", 56),
    /* 18 */ Short("反拖电机开", 38),
    /* 19 */ Short("反拖电机关", 39),
    /* 20 */ Short("冷却器开", 40),
    /* 21 */ Short("冷却器关", 41),
    /* 22 */ Message("设置力标定系数", "请点击下方<标定>按钮!"),
    /* 23 */ Message("设置涡流机力矩系数", "该功能暂不提供!"),
    /* 24 */
    Profile("响应测试", 0x103A, F::StartSpeed, F::EndSpeed, F::StartLoad, F::EndLoad,
            {StartSpeed, EndSpeed, StartLoad, EndLoad}),
    /* 25 */ Short("控制器等待", 27),
    /* 26 */ ParamRecord("读QRX参数", CatalogueAction::ParamRecordSummary, F::Keep),
    /* 27 */ ParamRecord("设置QRX参数", CatalogueAction::ParamRecordForm, F::AllBitsSet, kParamRecordHint),
    /* 28 */ Short("速度校验", 35),
    /* 29 */ Setpoint("加载飞轮", 0x0512, F::FlywheelMask, F::Keep, {Flywheel1, Flywheel2, Flywheel3, Flywheel4}),
    /* 30 */ Short("卸载飞轮", 19),
    /* 31 */ Short("设置硬件通道", 65),
    /* 32 */ Profile("恒负荷测试模式(新版)", 0x105C, F::ParamA, F::ParamM, F::Keep, F::Keep, {ParamA, ParamM}),
    /* 33 */
    Profile("恒负荷滑行MR", 0x1058, F::StartSpeed, F::EndSpeed, F::ParamM, F::Keep, {StartSpeed, EndSpeed, ParamM}),
    /* 34 */ Action("通讯测试LOOP", CatalogueAction::RepeatLoop),
    /* 35 */ Action("关闭通讯测试", CatalogueAction::StopRepeatLoop),
    /* 36 */ Short("开循环水泵", 93),
    /* 37 */ Short("关循环水泵", 94),
    /* 38 */ Short("清零点－前轴左(FL)", 95),
    /* 39 */ Action("查看缺省通道配置", CatalogueAction::ShowChannelMap),
    /* 40 */ Unused(),
    /* 41 */ Short("读环境参数", 96),
    /* 42 */
    Profile("柴油-100～10Km恒扭距滑行", 0x1047, F::StartSpeed, F::EndSpeed, F::ParamB, F::Keep,
            {StartSpeed, EndSpeed, ParamB}),
    /* 43 */
    Profile("柴油-100～10Km恒负荷滑行", 0x1046, F::StartSpeed, F::EndSpeed, F::ParamM, F::Keep,
            {StartSpeed, EndSpeed, ParamM}),
    /* 44 */
    Profile("柴油-找最大功率点", 0x1059, F::StartSpeed, F::EndSpeed, F::ParamM, F::ParamC,
            {StartSpeed, EndSpeed, ParamM, ParamC}),
    /* 45 */ Profile("柴油-减载运行", 0x105B, F::ParamA, F::Keep, F::Keep, F::Keep, {ParamA}),
    /* 46 */ Profile("柴油-恒负荷运行", 0x1050, F::ParamA, F::ParamM, F::Keep, F::Keep, {ParamA, ParamM}),
    /* 47 */ Profile("柴油-恒速运行", 0x1051, F::ParamA, F::ParamC, F::ParamM, F::Keep, {ParamA, ParamC, ParamM}),
    /* 48 */ Program("柴油-变负荷滑行", "运行柴油－变负荷滑行功能,将关闭ROLTA通讯口!", "vlcoastdiesel.exe"),
    /* 49 */ Short("柴油-引擎转数", 43),
    /* 50 */ Unused(),
    /* 51 */ Short("读取IO指令", 42),
    /* 52 */
    Profile("双轴柴油－找最大功率点", 0x105A, F::StartSpeed, F::EndSpeed, F::ParamM, F::ParamC,
            {StartSpeed, EndSpeed, ParamM, ParamC}),
    /* 53 */
    Profile("双轴柴油－100～10Km恒负荷滑行", 0x1049, F::StartSpeed, F::EndSpeed, F::ParamM, F::Keep,
            {StartSpeed, EndSpeed, ParamM}),
    /* 54 */ Profile("双轴柴油－恒负荷运行", 0x1052, F::ParamA, F::ParamM, F::Keep, F::Keep, {ParamA, ParamM}),
    /* 55 */
    Profile("双轴柴油－LugDN恒速运行", 0x1053, F::ParamA, F::ParamC, F::ParamM, F::Keep, {ParamA, ParamC, ParamM}),
    /* 56 */ Setpoint("双轴柴油－恒力测试", 0x0554, F::Keep, F::ParamB, {ParamB}),
    /* 57 */ Short("双轴柴油－后轴左电压(RL)", 112),
    /* 58 */ Short("双轴柴油－后轴左力矩(RL)", 115),
    /* 59 */ Short("环境参数电压", 100),
    /* 60 */ ShortSequence("电动档轮打开", 102, 103, 104),
    /* 61 */ ShortSequence("电动档轮闭合", 103, 104),
    /* 62 */ Short("电动档轮停止", 104),
    /* 63 */ Short("双轴柴油－启动模式", 105),
    /* 64 */ Short("双轴柴油－关闭模式", 106),
    /* 65 */ Setpoint("双轴柴油－恒速", 0x0555, F::Keep, F::ParamA, {ParamA}),
    /* 66 */ Short("双轴柴油－后轴左清零点(RL)", 107),
    /* 67 */
    Profile("双轴柴油－100～10Km恒扭距滑行", 0x104A, F::StartSpeed, F::EndSpeed, F::ParamB, F::Keep,
            {StartSpeed, EndSpeed, ParamB}),
    /* 68 */ Short("双轴柴油－前轴右电压(FR)", 110),
    /* 69 */ Short("双轴柴油－前轴右力矩(FR)", 114),
    /* 70 */ Short("双轴柴油－后轴右电压(RR)", 113),
    /* 71 */ Short("双轴柴油－后轴右力矩(RR)", 116),
    /* 72 */ Short("双轴柴油－后轴右清零点(RR)", 108),
    /* 73 */ Short("双轴柴油－前轴右清零点(FR)", 101),
    /* 74 */ Setpoint("双轴恒速调试", 0x057C, F::Keep, F::ParamA, {ParamA}),
    /* 75 */ Short("多轴力矩测试", 66),
    /* 76 */ Short("读4通道电压", 125),
    /* 77 */ Setpoint("恒力+油耗+里程", 0x0543, F::Keep, F::ParamB, {ParamB}),
    /* 78 */
    Profile("柴油-恒负荷常规滑行", 0x1044, F::StartSpeed, F::EndSpeed, F::ParamM, F::Zero,
            {StartSpeed, EndSpeed, ParamM}),
    /* 79 */ Short("VMAS-加速度测试", 75),
    /* 80 */ Profile("VMAS-力矩跟踪", 0x104C, F::ParamA, F::ParamB, F::ParamM, F::Zero, {ParamA, ParamB, ParamM}),
    /* 81 */ Profile("扭矩空载滑行", 0x104F, F::StartSpeed, F::EndSpeed, F::ParamB, F::Keep, {StartSpeed, EndSpeed}),
    /* 82 */ Profile("柴油-100％恒速", 0x1057, F::ParamA, F::ParamC, F::ParamM, F::Keep, {ParamA, ParamC, ParamM}),
    /* 83 */ Profile("双轴柴油-100％恒速", 0x1056, F::ParamA, F::ParamC, F::ParamM, F::Keep, {ParamA, ParamC, ParamM}),
    /* 84 */ Program("双轴柴油－变负荷滑行", "运行双轴柴油－变负荷滑行功能,将关闭ROLTA通讯口!", "vlcoastdiesel2w.exe"),
    /* 85 */ Setpoint("恒速+油耗+里程", 0x0545, F::Keep, F::ParamB, {ParamB}),
    /* 86 */
    Profile("EOL道路阻力模拟", 0x107B, F::ParamA, F::ParamB, F::ParamM, F::ParamC, {ParamA, ParamB, ParamM, ParamC}),
    /* 87 */ Setpoint("直控", 0x0525, F::Keep, F::ParamB, {ParamB}),
    /* 88 */
    Profile("空载滑行(无电机)", 0x1015, F::StartSpeed, F::EndSpeed, F::ParamB, F::Keep, {StartSpeed, EndSpeed}),
    /* 89 */
    Profile("恒负荷滑行(无电机)", 0x107F, F::StartSpeed, F::EndSpeed, F::ParamM, F::Zero,
            {StartSpeed, EndSpeed, ParamM}),
    /* 90 */ Short("大反拖", 111),
};

static_assert(std::size(kCatalogue) == kCataloguePositions);

// The high byte of every command word is the payload length of its frame.
constexpr bool CommandWordsMatchFrames() {
  for (const CatalogueRow& row : kCatalogue) {
    const unsigned payload = row.commandWord >> 8;
    switch (row.frame) {
      case FrameKind::None:
        if (row.commandWord != 0) return false;
        break;
      case FrameKind::Short:
        if (payload != 0 || row.shortCount == 0) return false;
        break;
      case FrameKind::ParamRequest:
        if (payload != 4) return false;
        break;
      case FrameKind::Setpoint:
        if (payload != 5) return false;
        break;
      case FrameKind::Profile:
        if (payload != 16) return false;
        break;
    }
  }
  return true;
}
static_assert(CommandWordsMatchFrames());

}  // namespace

std::span<const CatalogueRow> CommandCatalogue() { return kCatalogue; }

const CatalogueRow* CatalogueRowAt(int position) {
  if (position < 0 || position >= kCataloguePositions) return nullptr;
  return &kCatalogue[position];
}

InputSet InputsEnabledFor(int position) {
  const CatalogueRow* row = CatalogueRowAt(position);
  return row != nullptr ? row->inputs : InputSet{};
}

}  // namespace rolta
