// rolta-cli's readers on any text. The first byte chooses the document
// (parameter JSON as checked or as read, channel-map JSON, calibration CSV
// of 10, 20 or 50 points, backup manifest); the rest is its text. Nothing
// may crash, and whatever a reader takes, written out again and read back,
// gives the same values.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "cli/cli_documents.h"
#include "link/byte_channel.h"

namespace {

using namespace rolta;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// The channel-map editor's channel; the harness never stores.
struct NoChannel final : ByteChannel {
  bool IsOpen() const override { return false; }
  std::size_t Read(std::uint8_t*, std::size_t) override { return 0; }
  std::size_t Write(const std::uint8_t*, std::size_t) override { return 0; }
  void AcknowledgeNotification() override {}
};

void Params(std::string_view text, cli::ValueCheck check) {
  const auto taken = cli::ParamsFromJson(text, {}, check);
  if (!std::holds_alternative<ControllerParams>(taken)) return;
  const ControllerParams& values = std::get<ControllerParams>(taken);
  const std::string again = cli::ParamsToJson(values);
  // The document written carries every field, the base's zeros included,
  // so it is read back as read.
  const auto back = cli::ParamsFromJson(again, {}, cli::ValueCheck::AsRead);
  Check(std::holds_alternative<ControllerParams>(back), "a written parameter document is refused");
  Check(cli::ParamsDifferences(values, std::get<ControllerParams>(back)).empty(), "parameters changed on the way");
  Check(cli::ParamsToJson(std::get<ControllerParams>(back)) == again, "the parameter document is not stable");
}

void Channels(std::string_view text) {
  const auto taken = cli::ChannelMapFromJson(text);
  if (!std::holds_alternative<std::map<std::size_t, std::uint8_t>>(taken)) return;
  const auto& values = std::get<std::map<std::size_t, std::uint8_t>>(taken);
  NoChannel channel;
  ChannelMapEditor editor(channel);
  for (const auto& [field, value] : values) editor.SetText(field, std::to_string(value));
  const auto back = cli::ChannelMapFromJson(cli::ChannelMapToJson(editor));
  Check(std::holds_alternative<std::map<std::size_t, std::uint8_t>>(back), "a written channel map is refused");
  const auto& read = std::get<std::map<std::size_t, std::uint8_t>>(back);
  for (const auto& [field, value] : values) {
    Check(read.count(field) == 1 && read.at(field) == value, "a channel changed on the way");
  }
}

void Calib(std::string_view text, std::size_t capacity) {
  const auto taken = cli::CalibFromCsv(text, capacity);
  if (!std::holds_alternative<CalibTable>(taken)) return;
  const CalibTable& table = std::get<CalibTable>(taken);
  Check(table.Capacity() == capacity && table.PointCount() == static_cast<std::size_t>(table.Count()),
        "a table of the wrong size or count");
  const auto back = cli::CalibFromCsv(cli::CalibToCsv(table, table.PointCount()), capacity);
  Check(std::holds_alternative<CalibTable>(back), "a written table is refused");
  Check(std::get<CalibTable>(back) == table, "a table changed on the way");
}

void Manifest(std::string_view text) {
  const auto taken = cli::ReadManifest(text);
  if (!std::holds_alternative<cli::Manifest>(taken)) return;
  // A manifest written for files named as the digests are, each holding its name.
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& [name, digest] : std::get<cli::Manifest>(taken).digests) files.emplace_back(name, name);
  const auto back = cli::ReadManifest(cli::BackupManifest(files));
  Check(std::holds_alternative<cli::Manifest>(back), "a written manifest is refused");
  const cli::Manifest& manifest = std::get<cli::Manifest>(back);
  Check(manifest.digests.size() == files.size(), "a digest was lost");
  for (const auto& [name, content] : files) Check(manifest.Unchanged(name, content), "a digest does not match");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  constexpr std::size_t kCapacities[] = {10, 20, 50};
  switch (data[0] % 6) {
    case 0: Params(text, cli::ValueCheck::Ranges); break;
    case 1: Params(text, cli::ValueCheck::AsRead); break;
    case 2: Channels(text); break;
    case 3: Calib(text, kCapacities[(data[0] / 6) % 3]); break;
    case 4: Manifest(text); break;
    default: Calib(text, kCapacities[(data[0] / 6) % 3]); break;
  }
  return 0;
}
