// Any parameter record reply payload (short inputs padded with zeros) goes
// through rolta-cli's document and back, taken as read: every field the
// document carries keeps its bytes, and the read-back comparison sees no
// difference. The clock, the reserved byte and the controller's own fields
// are shown but not carried back; they are copied over before comparing.
// (That a written document reads back to the same text is checked by
// cli_documents_fuzz.)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>

#include "cli/cli_documents.h"
#include "config/controller_params.h"

namespace {

void Check(bool condition, const char* what, const std::string& detail) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n%s\n", what, detail.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace rolta;
  ParamsPayload payload{};
  std::copy_n(data, std::min(size, payload.size()), payload.begin());
  const ControllerParams read = DecodeParams(payload);
  const std::string document = cli::ParamsToJson(read);
  const auto taken = cli::ParamsFromJson(document, {}, cli::ValueCheck::AsRead);
  if (const auto* error = std::get_if<cli::DocumentError>(&taken)) {
    Check(false, "the document of a record is refused as read", error->message + "\n" + document);
  }
  ControllerParams back = std::get<ControllerParams>(taken);
  back.kernelVersion = read.kernelVersion;
  back.hardwareVersion = read.hardwareVersion;
  back.hardwareModel = read.hardwareModel;
  back.reserved66 = read.reserved66;
  back.clockYear = read.clockYear;
  back.clockMonth = read.clockMonth;
  back.clockDay = read.clockDay;
  back.clockHour = read.clockHour;
  back.clockMinute = read.clockMinute;
  back.clockSecond = read.clockSecond;

  ParamWriteFrame frame;
  std::copy(payload.begin(), payload.end(), frame.data() + kPayloadOffset);
  EncodeParams(back, std::nullopt, frame);
  // Payload bytes 0-3 are the write code, built at send time.
  constexpr std::size_t kWriteCodeBytes = 4;
  Check(std::equal(payload.begin() + kWriteCodeBytes, payload.end(), frame.data() + kPayloadOffset + kWriteCodeBytes),
        "a field's bytes changed through the document", document);
  Check(cli::ParamsDifferences(read, back).empty(), "read-back comparison sees a difference", document);
  return 0;
}
