#include "config/params_exchange.h"

#include <algorithm>

#include "config/controller_params.h"
#include "env/ui_services.h"

namespace rolta {
namespace {
constexpr std::size_t kByte66PayloadOffset = 66 - kPayloadOffset;
constexpr std::uint32_t kAllBitsSet = 0xFFFFFFFFu;
}  // namespace

MessageRequest ParamsHintMessage(const TextLookup& lookup) {
  return {std::string(kParamRecordHint), lookup.Lookup(kConfirmCaption), MessageIcon::None, MessageButtons::Ok};
}

ParamsExchange::ParamsExchange(ByteChannel& channel, ParamRequestFrame& request, const TextLookup& lookup,
                               MessageBoxService& messages)
    : channel_(channel), request_(request), lookup_(lookup), messages_(messages) {}

std::size_t ParamsExchange::RequestParams(ParamReplyTarget target) {
  if (target == ParamReplyTarget::Form) {
    messages_.Show(ParamsHintMessage(lookup_));
    request_.SetWord(kAllBitsSet);
  }
  target_ = target;
  request_.SetCommand(command::kParamRequest);
  const auto bytes = request_.Seal();
  return channel_.Write(bytes.data(), bytes.size());
}

void ParamsExchange::OnParamsFrame(const std::uint8_t* frame, std::size_t length) {
  if (frame == nullptr || length != kParamsReplyLength) return;
  ParamsPayload payload;
  std::copy_n(frame + kPayloadOffset, kParamsPayloadLength, payload.begin());
  lastByte66_ = payload[kByte66PayloadOffset];
  lastReceived_ = payload;
  ++repliesReceived_;
  if (target_ == ParamReplyTarget::Summary) {
    summaryRecord_ = payload;
    if (listener_ != nullptr) listener_->ShowParamsSummary();
  } else {
    formRecord_ = payload;
    if (listener_ != nullptr) listener_->ShowParamsForm();
  }
}

ControllerParams ParamsExchange::LastWritten() const {
  ParamsPayload payload;
  std::copy_n(writeFrame_.Payload().begin(), kParamsPayloadLength, payload.begin());
  return DecodeParams(payload);
}

std::size_t ParamsExchange::SendParams(ControllerParams values, const std::optional<LocalTime>& now) {
  values.reserved66 = Byte66ForWrite();
  EncodeParams(values, now, writeFrame_);
  const auto bytes = writeFrame_.Seal();
  const std::size_t written = channel_.Write(bytes.data(), bytes.size());
  if (writeObserver_ && written == bytes.size()) {
    ParamsPayload payload;
    std::copy_n(writeFrame_.Payload().begin(), kParamsPayloadLength, payload.begin());
    writeObserver_(lastReceived_, payload);
  }
  return written;
}

}  // namespace rolta
