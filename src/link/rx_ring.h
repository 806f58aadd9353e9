// The console's inbound path: the receive ring that the serial channel is
// drained into, and the synchroniser that cuts controller frames out of it,
// checks them, reports each on the status line and hands it to its receiver.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/byte_channel.h"
#include "link/command_codes.h"
#include "link/frames.h"

namespace rolta {

class TextLookup;

// 40960-byte circular store. head == tail means empty, so it holds at most
// 40959 bytes. Both buffers are allocated once, with the ring.
class RxRing {
 public:
  static constexpr std::uint32_t kSize = 40960;
  static constexpr std::uint32_t kCapacity = kSize - 1;

  RxRing();

  std::uint32_t Head() const { return head_; }
  std::uint32_t Tail() const { return tail_; }
  std::uint32_t Available() const { return (head_ + kSize - tail_) % kSize; }
  std::uint32_t Room() const { return kCapacity - Available(); }

  // The byte `offset` places after the tail.
  std::uint8_t At(std::uint32_t offset) const { return ring_[(tail_ + offset) % kSize]; }
  // Stores bytes at the head; never more than Room(), so unread bytes are never
  // overwritten. Returns the number stored.
  std::size_t Append(const std::uint8_t* bytes, std::size_t count);
  // Copies `length` bytes starting `offset` after the tail, across the end of
  // the ring where needed. offset + length must not exceed Available().
  void CopyOut(std::uint32_t offset, std::size_t length, std::uint8_t* to) const;
  // Drops `count` bytes at the tail; an emptied ring starts again at index 0.
  void Consume(std::uint32_t count);
  void Reset() { head_ = tail_ = 0; }

  // Target of one channel read, kSize bytes.
  std::uint8_t* ReadBuffer() { return readBuffer_.get(); }

 private:
  std::unique_ptr<std::uint8_t[]> ring_;
  std::unique_ptr<std::uint8_t[]> readBuffer_;
  std::uint32_t head_ = 0;
  std::uint32_t tail_ = 0;
};

// Where the frames go. The console window implements it; the frame pointer is
// the start of the frame in the receiver's buffer of that length class (payload
// at +6) and stays valid until the next frame of the same class arrives.
class FrameReceivers {
 public:
  virtual ~FrameReceivers() = default;
  virtual void SetStatusLine(const std::string& text) = 0;
  virtual bool IsCtrlHeld() const = 0;  // state of Ctrl at a failed type-1 check
  virtual void PauseAfterFrame() = 0;   // the 1 ms pause after each dispatched frame
  virtual void OnParamRecordFrame(const std::uint8_t* frame) = 0;               // type 1, 101 bytes
  virtual void OnCalibFrame(const std::uint8_t* frame, std::size_t length) = 0;  // 5, 60-64, 78, 120-122
  virtual void OnChannelMapFrame(const std::uint8_t* frame) = 0;                // type 65, 48 bytes
  virtual void OnStatusFrame(const std::uint8_t* frame) = 0;                    // every 24-byte type
};

// What the receive path has seen since it was built, for display.
struct ReceiveCounters {
  std::uint64_t framesDispatched = 0;
  std::uint64_t checksumErrors = 0;
  // Bytes dropped: non-sync bytes skipped one at a time plus whole frames
  // with a wrong checksum.
  std::uint64_t bytesSkipped = 0;
};

// Status-line texts of the receive path.
inline constexpr const char* kInvalidCommandText = "无效指令";
inline constexpr const char* kVersionMismatchText =
    "ROLTA/QRX5000版本不匹配。请点击\"版本号\"获取信息";

// The status line for a frame with a good checksum.
std::string FrameStatusText(const TextLookup& lookup, std::uint8_t frameType, std::int16_t numth);

class FrameReceiver {
 public:
  FrameReceiver(ByteChannel& channel, const TextLookup& lookup, FrameReceivers& receivers);

  // One bytes-waiting notification; bit 0 of `events` means characters arrived.
  // Always acknowledges the notification before it returns. One that comes
  // in from inside a receiver only stores the bytes; the running scan takes
  // them when it is done.
  void OnCommNotify(std::uint32_t events);

  // Empties the ring (head = tail = 0).
  void Reset() { ring_.Reset(); }

  const RxRing& Ring() const { return ring_; }
  std::int32_t ExpectedLength() const { return expectedLength_; }
  const ReceiveCounters& Counters() const { return counters_; }

  static constexpr std::uint32_t kCharactersReceived = 1;

 private:
  std::size_t ReadIntoRing();
  std::uint8_t* BufferFor(std::uint8_t frameType);
  void Scan();
  void Dispatch(std::uint8_t frameType, const std::uint8_t* frame, std::size_t length);

  ByteChannel& channel_;
  const TextLookup& lookup_;
  FrameReceivers& receivers_;
  RxRing ring_;
  std::int32_t expectedLength_ = 0;
  ReceiveCounters counters_;
  bool scanning_ = false;
  bool bytesArrivedDuringScan_ = false;

  // One frame buffer per length class of the reply length table, and the
  // class of every type.
  std::vector<std::vector<std::uint8_t>> classBuffers_;
  std::array<std::uint8_t, 256> classOfType_{};
};

}  // namespace rolta
