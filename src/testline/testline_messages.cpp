#include "testline/testline_messages.h"

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>

#include "readouts/quantities.h"

namespace rolta {

using Json = nlohmann::json;

namespace {

// Bad UTF-8 (a caption cut by the controller's bytes) is replaced, not thrown.
std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string TopicOf(std::string_view prefix, std::string_view bench, TestLineTopic topic) {
  const std::string_view leaf = topic == TestLineTopic::State  ? "state"
                                : topic == TestLineTopic::Live ? "live"
                                                               : "event";
  return std::string(prefix) + "/" + std::string(bench) + "/" + std::string(leaf);
}

std::string StateJson(const BenchState& s, std::int64_t unixMs) {
  Json json{{"online", s.online}, {"t", unixMs}};
  if (s.online) {
    json.update(Json{{"port", s.port},
                     {"link", s.link},
                     {"severity", s.severity},
                     {"version", s.controllerVersion},
                     {"command", s.command},
                     {"recording", s.recording}});
  }
  return Dump(json);
}

LiveSample LiveSampleOf(const ControllerStatus& status) {
  LiveSample sample;
  sample.frameType = status.FrameType;
  const ReadoutValues values = LiveFrameValues(status);
  for (std::size_t i = 0; i < kReadoutCount; ++i) {
    if (values[i].caption.empty()) continue;
    const int quantity = QuantityOfCaption(values[i].caption, i);
    if (quantity < 0) continue;
    const auto q = static_cast<std::size_t>(quantity);
    sample.readings[sample.count++] = {Quantities()[q].column, values[i].value, UnitOf(q)};
  }
  return sample;
}

std::string LiveJson(const LiveSample& sample, std::int64_t unixMs) {
  Json values = Json::object();
  for (std::size_t i = 0; i < sample.count; ++i) {
    const LiveReading& r = sample.readings[i];
    // JSON has no NaN or infinity: such a reading goes as null.
    values[std::string(r.name)] =
        Json{{"value", std::isfinite(r.value) ? Json(r.value) : Json(nullptr)}, {"unit", std::string(r.unit)}};
  }
  return Dump(Json{{"t", unixMs}, {"type", sample.frameType}, {"values", std::move(values)}});
}

std::string EventJson(std::string_view kind, std::string_view detailJson, std::int64_t run, std::uint64_t seq,
                      std::int64_t unixMs) {
  Json detail = Json::parse(detailJson, nullptr, false);
  if (detail.is_discarded()) detail = std::string(detailJson);
  return Dump(Json{{"t", unixMs}, {"run", run}, {"seq", seq}, {"kind", std::string(kind)}, {"detail", detail}});
}

std::string CoastDownEventJson(const CoastAnalysis& analysis, double massKg) {
  const auto fit = [](const RoadLoadFit& f) {
    return Json{{"f0_N", f.load.f0}, {"f1_N_per_kmh", f.load.f1}, {"f2_N_per_kmh2", f.load.f2}, {"rms", f.rms}};
  };
  return Dump(Json{{"mass_kg", massKg}, {"interval", fit(analysis.interval)}, {"direct", fit(analysis.direct)}});
}

std::string JsonString(std::string_view text) { return Dump(Json(std::string(text))); }

}  // namespace rolta
