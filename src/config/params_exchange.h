// The parameter record between the console and the controller: the request,
// the reply routed to the summary listing or the settings form, and the write.
// The controller session owns one (through its executor) on its channel and
// passes it every type-1 frame of the receive path; the windows read the
// records it keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "config/controller_params.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "link/byte_channel.h"
#include "link/frames.h"

namespace rolta {

// Where the next parameter reply goes; the form until a request says otherwise.
enum class ParamReplyTarget : std::int32_t { Form = 0, Summary = 1 };

// The window side: each call means "hide and show that window again", which
// makes it rebuild from the record the exchange now holds.
class ParamsListener {
 public:
  virtual ~ParamsListener() = default;
  virtual void ShowParamsSummary() = 0;
  virtual void ShowParamsForm() = 0;
};

// The box shown before the record is requested for editing and before every
// write: the hint as it stands, its caption translated, OK only.
MessageRequest ParamsHintMessage(const TextLookup& lookup);

class ParamsExchange {
 public:
  // `request` is the link's shared ParamRequestFrame (its bytes 6-9 are kept
  // between requests).
  ParamsExchange(ByteChannel& channel, ParamRequestFrame& request, const TextLookup& lookup,
                 MessageBoxService& messages);
  ParamsExchange(const ParamsExchange&) = delete;
  ParamsExchange& operator=(const ParamsExchange&) = delete;

  void SetListener(ParamsListener* listener) { listener_ = listener; }

  // Told of every write that went out whole: the record last received (of
  // either target; empty before the first) and the payload written.
  using WriteObserver = std::function<void(const std::optional<ParamsPayload>& before, const ParamsPayload& written)>;
  void SetWriteObserver(WriteObserver observer) { writeObserver_ = std::move(observer); }

  // "读QRX参数" (Summary) and "设置QRX参数" (Form): the form's request first
  // shows the hint and sets bytes 6-9 to all bits; then the 10-byte request
  // goes out. Returns the bytes written.
  std::size_t RequestParams(ParamReplyTarget target);
  ParamReplyTarget Target() const { return target_; }

  // A checksum-valid type-1 frame of `length` bytes (payload at +6). Frames
  // of any other length are ignored. Keeps the payload for the target's
  // window and tells the listener to bring that window up.
  void OnParamsFrame(const std::uint8_t* frame, std::size_t length);

  // The record the form loads: the last reply that came while the target was
  // the form; empty before the first.
  const std::optional<ParamsPayload>& FormRecord() const { return formRecord_; }
  // The summary's copy: all zero before the first reply for it.
  const ParamsPayload& SummaryRecord() const { return summaryRecord_; }
  // Every reply, whichever window it went to: how many came, and the latest.
  std::uint32_t RepliesReceived() const { return repliesReceived_; }
  // The latest: all zero before the first.
  ParamsPayload LatestRecord() const { return lastReceived_.value_or(ParamsPayload{}); }

  // What the form starts from when it builds a write: the fields of the
  // previous write (all zero before the first), so a field the form leaves
  // alone goes out as it last did.
  ControllerParams LastWritten() const;
  // 0 when the last reply held 0 at byte 66, 1 otherwise and before any reply.
  std::uint8_t Byte66ForWrite() const { return lastByte66_ == 0 ? 0 : 1; }

  // Encodes the values with the write code of `now` and byte 66 as the last
  // reply says, seals the 99 bytes and writes them in one call. Returns the
  // bytes written (0 on a closed channel; the write is not refused then).
  std::size_t SendParams(ControllerParams values, const std::optional<LocalTime>& now);
  const ParamWriteFrame& WriteFrame() const { return writeFrame_; }

 private:
  std::uint32_t repliesReceived_ = 0;
  ByteChannel& channel_;
  ParamRequestFrame& request_;
  const TextLookup& lookup_;
  MessageBoxService& messages_;
  ParamsListener* listener_ = nullptr;
  ParamReplyTarget target_ = ParamReplyTarget::Form;
  ParamWriteFrame writeFrame_;
  std::optional<ParamsPayload> formRecord_;
  ParamsPayload summaryRecord_{};
  std::optional<std::uint8_t> lastByte66_;
  std::optional<ParamsPayload> lastReceived_;
  WriteObserver writeObserver_;
};

}  // namespace rolta
