#include "calib/calib_exchange.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace rolta {
namespace {

constexpr std::size_t kSensorCapacity = 10;
constexpr std::size_t kLossCapacity = 20;

// Block reply payload: total (int16), offset (uint16), length (int16), data.
constexpr std::size_t kBlockTotalAt = 0;
constexpr std::size_t kBlockOffsetAt = 2;
constexpr std::size_t kBlockLengthAt = 4;
constexpr std::size_t kBlockDataAt = 6;

}  // namespace

bool ReplaceFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  const std::filesystem::path temporary = path.string() + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = true;
  std::size_t done = 0;
  while (written && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      written = false;
    }
  }
  written = written && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

CalibExchange::CalibExchange(ByteChannel& channel, EventPump& pump, ProfileFrame& sharedProfile,
                             std::filesystem::path stabFile)
    : channel_(channel), pump_(pump), profile_(sharedProfile), stabFile_(std::move(stabFile)) {}

bool CalibExchange::Send(std::span<const std::uint8_t> frame) {
  return channel_.Write(frame.data(), frame.size()) == frame.size();
}

void CalibExchange::RequestTable(CalibChannel channel) {
  const CalibChannelRow& row = CalibChannelInfo(channel);
  if (row.transfer == CalibTransfer::Blocks) {
    ReadVarTable();
    return;
  }
  ShortFrame request;
  request.SetCommand(row.requestCode);
  Send(request.Seal());
}

void CalibExchange::ReadVarTable() {
  const CalibChannelRow& row = CalibChannelInfo(CalibChannel::Variable);
  float offset = 0;
  while (offset < static_cast<float>(kBlockImageSize)) {
    const float rest = static_cast<float>(kBlockImageSize) - offset;
    const float length = rest > static_cast<float>(kBlockLimit) ? static_cast<float>(kBlockLimit) : rest;
    // Only the command, offset and length are ours: the third and fourth
    // values keep what the last catalogue command left in the shared buffer.
    profile_.SetCommand(row.requestCode);
    profile_.SetValue(0, offset);
    profile_.SetValue(1, length);
    Send(profile_.Seal());
    offset = static_cast<float>(static_cast<std::int32_t>(offset + length));
    pump_.SleepMilliseconds(kBlockReadPauseMs);
  }
}

void CalibExchange::StoreTable(CalibChannel channel, std::span<const CalibGridRow> rows) {
  StoreTable(channel, TableFromGridRows(rows, CalibChannelInfo(channel).capacity));
}

void CalibExchange::StoreTable(CalibChannel channel, const CalibTable& given) {
  const CalibChannelRow& row = CalibChannelInfo(channel);
  // The frame's length and the block image follow the channel's capacity, so
  // a table of another size is carried over into one of the right size.
  const CalibTable table = TableOfCapacity(given, row.capacity);
  const auto told = [&](bool sent) {
    if (storeObserver_ && sent) storeObserver_(channel, lastReceived_[static_cast<std::size_t>(channel)], table);
  };
  if (row.transfer == CalibTransfer::Blocks) {
    told(StoreBlocks(table));
    return;
  }
  const std::span<const std::uint8_t> image = table.Image();
  std::vector<std::uint8_t> frame(kHeaderLength + image.size(), 0);
  frame[0] = kSync1;
  frame[1] = kSync2;
  frame[kCommandCodeOffset] = row.storeCode;
  frame[kPayloadLengthOffset] = static_cast<std::uint8_t>(image.size());
  std::copy(image.begin(), image.end(), frame.begin() + kPayloadOffset);
  StoreChecksum(frame.data(), frame.size());
  const bool sent = Send(frame);
  // The file is the copy of the speed table the controller was sent; a frame
  // that did not go out leaves the previous copy standing.
  if (row.keptInStabFile && sent) ReplaceFileAtomically(stabFile_, image);
  told(sent);
}

bool CalibExchange::StoreBlocks(const CalibTable& table) {
  bool sent = true;
  const CalibChannelRow& row = CalibChannelInfo(CalibChannel::Variable);
  const std::span<const std::uint8_t> image = table.Image();
  std::size_t offset = 0;
  while (offset < image.size()) {
    const std::size_t length = std::min(kBlockLimit, image.size() - offset);
    // A fresh frame each time: the bytes after the block's data are zero.
    FrameBuffer<kBlockStoreFrameLength> frame;
    frame.SetCommand(row.storeCode);
    PutUInt16LE(&frame[6], static_cast<std::uint16_t>(image.size()));
    PutUInt16LE(&frame[8], static_cast<std::uint16_t>(offset));
    PutUInt16LE(&frame[10], static_cast<std::uint16_t>(length));
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), length, &frame[12]);
    sent = Send(frame.Seal()) && sent;
    offset += length;
    pump_.SleepMilliseconds(kBlockStorePauseMs);
  }
  return sent;
}

bool CalibExchange::OnCalibFrame(const std::uint8_t* frame, std::size_t length) {
  if (frame == nullptr || length < kHeaderLength) return false;
  const std::uint8_t type = frame[kCommandCodeOffset];
  const CalibChannelRow* row = CalibChannelForReply(type);
  if (row == nullptr || length != ControllerFrameLength(type)) return false;
  const std::span<const std::uint8_t> payload(frame + kPayloadOffset, length - kPayloadOffset);
  if (row->transfer == CalibTransfer::Blocks) {
    if (!OnTableBlockReply(payload)) return false;
  } else {
    if (payload.size() < CalibTable::ImageSizeFor(row->capacity)) return false;
    OnPointsReply(payload, row->capacity);
  }
  ++tablesReceived_;
  lastReceived_[static_cast<std::size_t>(row->channel)] = TableOfCapacity(working_, row->capacity);
  if (view_ != nullptr) view_->OnWorkingTableChanged();
  return true;
}

void CalibExchange::OnSensorTableReply(std::span<const std::uint8_t> payload) {
  OnPointsReply(payload, kSensorCapacity);
}

void CalibExchange::OnLossTableReply(std::span<const std::uint8_t> payload) { OnPointsReply(payload, kLossCapacity); }

void CalibExchange::OnPointsReply(std::span<const std::uint8_t> payload, std::size_t capacity) {
  if (payload.size() < CalibTable::ImageSizeFor(capacity)) return;
  // A count beyond what the frame can hold is limited to the points it does
  // hold; a negative one to none.
  const std::int16_t received = GetInt16LE(payload.data());
  const auto count =
      static_cast<std::int16_t>(std::clamp<std::int32_t>(received, 0, static_cast<std::int32_t>(capacity)));
  working_.SetCount(count);
  // Only the first `capacity` points are cleared: what a larger table left
  // beyond them stays, outside the count.
  for (std::size_t i = 0; i < capacity; ++i) {
    working_.SetFirst(i, 0.0f);
    working_.SetSecond(i, 0.0f);
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    std::memcpy(working_.FirstBytes(i), payload.data() + 2 + 4 * i, 4);
    std::memcpy(working_.SecondBytes(i), payload.data() + 2 + 4 * capacity + 4 * i, 4);
  }
}

bool CalibExchange::OnTableBlockReply(std::span<const std::uint8_t> payload) {
  if (payload.size() < kBlockDataAt) return false;
  const std::int16_t total = GetInt16LE(&payload[kBlockTotalAt]);
  const std::uint16_t offset = GetUInt16LE(&payload[kBlockOffsetAt]);
  const std::int16_t length = GetInt16LE(&payload[kBlockLengthAt]);
  if (total != static_cast<std::int16_t>(kBlockImageSize) || offset >= kBlockImageSize) return false;
  // A block that does not fit the image, or claims more data than its frame
  // carries, is dropped whole: the working table keeps its bytes.
  const std::size_t room = std::min(kBlockReplyRoom, payload.size() - kBlockDataAt);
  if (length < 0 || static_cast<std::size_t>(length) > room ||
      offset + static_cast<std::size_t>(length) > kBlockImageSize) {
    return false;
  }
  const std::span<std::uint8_t> image = working_.Image();
  std::copy_n(payload.begin() + kBlockDataAt, length, image.begin() + offset);
  if (offset + static_cast<std::size_t>(length) != kBlockImageSize) return false;
  // A count the table cannot hold (a negative one included) empties it.
  const std::int16_t count = working_.Count();
  if (count < 0 || static_cast<std::size_t>(count) > CalibTable::kMaxCapacity) {
    working_.SetCount(0);
    return false;
  }
  return true;
}

}  // namespace rolta
