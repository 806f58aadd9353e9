#include "monitor/hex_frame.h"

#include "link/frames.h"

namespace rolta {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ','; }

}  // namespace

HexFrame BuildFrameFromHex(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsSeparator(text[i])) {
      ++i;
      continue;
    }
    if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    std::size_t digits = 0;
    int high = -1;
    for (; i < text.size() && !IsSeparator(text[i]); ++i) {
      const int value = HexValue(text[i]);
      if (value < 0) return {{}, HexFrameError::BadDigit};
      if (high < 0) {
        high = value;
      } else {
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | value));
        high = -1;
      }
      ++digits;
    }
    if (digits == 0 || high >= 0) return {{}, HexFrameError::OddDigits};
  }
  if (bytes.empty()) return {{}, HexFrameError::Empty};
  const std::size_t payload = bytes.size() - 1;
  if (payload > 0xFF) return {{}, HexFrameError::TooLong};

  std::vector<std::uint8_t> frame(kHeaderLength + payload, 0);
  frame[0] = kSync1;
  frame[1] = kSync2;
  frame[kCommandCodeOffset] = bytes[0];
  frame[kPayloadLengthOffset] = static_cast<std::uint8_t>(payload);
  std::copy(bytes.begin() + 1, bytes.end(), frame.begin() + kPayloadOffset);
  StoreChecksum(frame.data(), frame.size());
  return {std::move(frame), HexFrameError::None};
}

std::string_view HexFrameErrorText(HexFrameError error) {
  switch (error) {
    case HexFrameError::None: return {};
    case HexFrameError::Empty: return "请输入指令码和数据(十六进制)";
    case HexFrameError::BadDigit: return "含有非十六进制字符";
    case HexFrameError::OddDigits: return "十六进制位数必须成对";
    case HexFrameError::TooLong: return "数据超过255字节";
  }
  return {};
}

bool HexFrameSender::Send(std::string_view text) {
  const HexFrame built = BuildFrameFromHex(text);
  if (built.error != HexFrameError::None) {
    boxes_.Show({lookup_.Lookup(HexFrameErrorText(built.error)), lookup_.Lookup("手动发送"), MessageIcon::Warning,
                 MessageButtons::Ok});
    return false;
  }
  if (!channel_.IsOpen()) {
    boxes_.Show(ChannelClosedMessage());
    return false;
  }
  if (!confirmed_) {
    const MessageRequest ask{lookup_.Lookup("手动输入的帧不经指令表检查直接发给控制器。确定发送吗?"),
                             lookup_.Lookup(kConfirmCaption), MessageIcon::Question, MessageButtons::OkCancel};
    if (boxes_.Show(ask) != MessageAnswer::Ok) return false;
    confirmed_ = true;
  }
  return channel_.Write(built.frame.data(), built.frame.size()) == built.frame.size();
}

}  // namespace rolta
