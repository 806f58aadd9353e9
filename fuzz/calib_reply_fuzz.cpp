// Feeds the calibration exchange a sequence of reply frames from one input:
// sensor, loss and block replies and frames of other types, each of the
// length its type has or of any other. Checks after every frame that a
// refused one left the working table alone, that a taken one holds exactly
// the received points (or block bytes) and a readable count, and at the end
// that the table survives rolta-cli's CSV file and a store read back.
//
// Input: records of [selector] [length, unless selector bit 7] [frame bytes
// from offset 3]. Selector % 11 picks a reply type (10: the next byte is
// the type); bit 7 gives the frame its type's own length.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "calib/calib_exchange.h"
#include "calib/calib_table.h"
#include "cli/cli_documents.h"
#include "fuzz_support.h"
#include "link/frames.h"

namespace {

using rolta::CalibTable;
using rolta::fuzz::Check;

constexpr std::uint8_t kZeros[4] = {};
constexpr std::uint8_t kReplyTypes[] = {5, 60, 61, 62, 63, 64, 78, 120, 121, 122};

struct Watch final : rolta::CalibView {
  void OnWorkingTableChanged() override { ++changes; }
  int changes = 0;
};

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The table as rolta-cli writes it to a file and reads it back for a store:
// the same points bit for bit, NaN and infinity included.
void CheckCsvRoundTrip(const CalibTable& table, std::size_t capacity) {
  const std::size_t points = std::min(table.PointCount(), capacity);
  const auto read = rolta::cli::CalibFromCsv(rolta::cli::CalibToCsv(table, points), capacity);
  Check(std::holds_alternative<CalibTable>(read), "a table's CSV reads back");
  const CalibTable& back = std::get<CalibTable>(read);
  Check(back.PointCount() == points, "the CSV keeps the point count");
  for (std::size_t i = 0; i < points; ++i) {
    Check(SameBits(back.First(i), table.First(i)) && SameBits(back.Second(i), table.Second(i)),
          "the CSV keeps every value bit for bit");
  }
}

// Stores the table as rolta-cli does and answers each store frame with the
// reply carrying the same bytes: the exchange must show the table it sent.
void CheckStoreReadBack(const CalibTable& table, const rolta::CalibChannelRow& row) {
  if (row.keptInStabFile) return;  // would write stab.qrx on every run
  rolta::fuzz::WrittenChannel channel;
  rolta::fuzz::NoPump pump;
  rolta::ProfileFrame profile;
  rolta::CalibExchange exchange(channel, pump, profile, "/nonexistent/stab.qrx");
  exchange.StoreTable(row.channel, table);
  Check(!channel.writes.empty(), "a store writes");
  rolta::CalibExchange back(channel, pump, profile, "/nonexistent/stab.qrx");
  bool shown = false;
  for (std::vector<std::uint8_t> frame : channel.writes) {
    Check(rolta::VerifyChecksum(frame.data(), frame.size()) == 0 && frame[rolta::kCommandCodeOffset] == row.storeCode,
          "a store frame is sealed and carries its code");
    frame.resize(rolta::ControllerFrameLength(row.requestCode), 0);
    frame[rolta::kCommandCodeOffset] = row.requestCode;
    shown = back.OnCalibFrame(frame.data(), frame.size());
  }
  Check(shown, "the last reply of a stored table completes it");
  const CalibTable& got = back.WorkingTable();
  const std::size_t points = std::min(table.PointCount(), row.capacity);
  Check(got.PointCount() == points, "the stored count comes back");
  for (std::size_t i = 0; i < points; ++i) {
    Check(SameBits(got.First(i), table.First(i)) && SameBits(got.Second(i), table.Second(i)),
          "the stored values come back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  rolta::fuzz::InputReader input(data, size);
  rolta::fuzz::WrittenChannel channel;
  rolta::fuzz::NoPump pump;
  rolta::ProfileFrame profile;
  rolta::CalibExchange exchange(channel, pump, profile, "/nonexistent/stab.qrx");
  Watch watch;
  exchange.SetView(&watch);

  int taken = 0;
  // The table as the view last showed it: a later block may change the image
  // (its count too) before the transfer completes.
  const rolta::CalibChannelRow* last = nullptr;
  CalibTable lastShown;
  std::array<std::uint8_t, 256> frame{};
  for (int records = 0; !input.Empty() && records < 64; ++records) {
    const std::uint8_t selector = input.Byte();
    const std::size_t pick = selector % (std::size(kReplyTypes) + 1);
    const std::uint8_t type = pick < std::size(kReplyTypes) ? kReplyTypes[pick] : input.Byte();
    const std::size_t length = (selector & 0x80) ? rolta::ControllerFrameLength(type) : input.Byte();
    frame[0] = rolta::kSync1;
    frame[1] = rolta::kSync2;
    frame[2] = type;
    if (length > 3) input.Bytes(frame.data() + 3, length - 3);
    // A frame exactly as long as the receive path cut it, so ASan sees any read past it.
    const std::vector<std::uint8_t> cut(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length));

    const CalibTable before = exchange.WorkingTable();
    const rolta::CalibChannelRow* row = rolta::CalibChannelForReply(type);
    const bool fits = row != nullptr && length == rolta::ControllerFrameLength(type);
    const bool shown = exchange.OnCalibFrame(cut.data(), cut.size());
    const CalibTable& after = exchange.WorkingTable();
    if (shown) ++taken;
    Check(!shown || fits, "only a calibration reply of its own length is taken");
    Check(watch.changes == taken, "the view is told once per reply taken");
    // Between blocks the image may hold any count; a table shown has one it can hold.
    Check(after.PointCount() <= CalibTable::kMaxCapacity, "the count read stays within the table");
    Check(!shown || (after.Count() >= 0 && static_cast<std::size_t>(after.Count()) <= CalibTable::kMaxCapacity),
          "a table shown has a count it holds");
    if (!fits) {
      Check(after == before, "a frame of another type or length leaves the table");
      continue;
    }
    const std::uint8_t* payload = cut.data() + rolta::kPayloadOffset;
    if (row->transfer == rolta::CalibTransfer::Whole) {
      Check(shown, "a whole sensor or loss reply is always taken");
      const std::size_t count = after.PointCount();
      Check(count <= row->capacity, "no more points than the reply's table holds");
      for (std::size_t i = 0; i < row->capacity; ++i) {
        const bool held = i < count;
        Check(std::memcmp(&after.Image()[2 + 4 * i], held ? payload + 2 + 4 * i : kZeros, 4) == 0 &&
                  std::memcmp(&after.Image()[2 + 4 * CalibTable::kMaxCapacity + 4 * i],
                              held ? payload + 2 + 4 * row->capacity + 4 * i : kZeros, 4) == 0,
              "each held point is the received one, the others are cleared");
      }
    } else {
      // Whatever a block did, it only wrote the range it named (or emptied the count).
      const std::size_t offset = rolta::GetUInt16LE(payload + 2);
      const std::size_t end = offset + static_cast<std::size_t>(std::max<int>(rolta::GetInt16LE(payload + 4), 0));
      for (std::size_t i = 2; i < CalibTable::kMaxImageSize; ++i) {
        const bool inside = i >= offset && i < end;
        Check(inside || after.Image()[i] == before.Image()[i], "a block writes only its own range");
        if (inside && after.Image()[i] != before.Image()[i]) {
          Check(after.Image()[i] == payload[6 + i - offset], "a block writes its own bytes");
        }
      }
      Check(!shown || end == CalibTable::kMaxImageSize, "only the block that ends the image completes it");
    }
    if (shown) {
      last = row;
      lastShown = after;
    }
    const auto display = rolta::DisplayRows(after, 50);
    Check(display.size() == after.PointCount(), "one grid row per point");
  }
  if (last != nullptr) {
    CheckCsvRoundTrip(lastShown, last->capacity);
    CheckStoreReadBack(lastShown, *last);
  }
  return 0;
}
