// The live readouts: captions and texts of every frame type, formats and truncation.
#include "readouts/readouts.h"
#include "marking_lookup.h"

#include <gtest/gtest.h>

#include "german_locale.h"

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "link/frames.h"
#include "link/status_frames.h"

namespace rolta {
namespace {

using test::MarkingLookup;

class CapturingSinks final : public StatusFrameSinks {
 public:
  void ShowControllerVersion(bool, double) override {}
  void ShowLiveFrame(const ControllerStatus&) override { ++liveFrames; }
  int liveFrames = 0;
};

// A 24-byte status frame as the controller sends it.
class StatusFrameBytes {
 public:
  explicit StatusFrameBytes(std::uint8_t type) {
    bytes_[0] = 0x55;
    bytes_[1] = 0xAA;
    bytes_[2] = type;
    bytes_[3] = 18;
  }
  StatusFrameBytes& Values(float v1, float v2, float v3, float v4) {
    const float values[] = {v1, v2, v3, v4};
    std::memcpy(&bytes_[6], values, sizeof values);  // little-endian host
    return *this;
  }
  StatusFrameBytes& Byte(std::size_t offset, std::uint8_t value) {
    bytes_[offset] = value;
    return *this;
  }
  // The status the decoder makes of these bytes; counts whether it went to the readouts.
  ControllerStatus Decode(int* shown = nullptr) {
    StoreChecksum(bytes_.data(), bytes_.size());
    ControllerStatus status;
    CapturingSinks sinks;
    DecodeStatusFrame(bytes_.data(), status, sinks);
    if (shown != nullptr) *shown = sinks.liveFrames;
    return status;
  }

 private:
  std::array<std::uint8_t, 24> bytes_{};
};

// What the window shows: the start state with every update applied.
struct Readouts {
  explicit Readouts(const TextLookup& lookup) {
    for (std::size_t i = 0; i < kReadoutCount; ++i) {
      const ReadoutChange start = InitialReadouts(lookup)[i];
      captions[i] = *start.caption;
      texts[i] = *start.text;
    }
  }
  void Apply(const ReadoutUpdate& update) {
    for (std::size_t i = 0; i < kReadoutCount; ++i) {
      if (update[i].caption) captions[i] = *update[i].caption;
      if (update[i].text) texts[i] = *update[i].text;
    }
  }
  std::array<std::string, kReadoutCount> captions, texts;
};

std::optional<std::string> Keep() { return std::nullopt; }
ReadoutChange Cell(std::optional<std::string> caption, std::optional<std::string> text) {
  return {std::move(caption), std::move(text)};
}
const ReadoutChange kKeep{};

struct RowCase {
  std::vector<int> types;
  ReadoutUpdate expected;
};

// V1 = 100, V2 = 40, V3 = 12.345, V4 = -7.5, so P = 11.111 and P1 = 11.1.
std::vector<RowCase> PlainValueRows() {
  return {
      {{16, 17, 37, 84, 85},
       {Cell("<速度>", "40.00"), Cell("<力矩>", "100.0"), Cell("<转速>", "-7.5"), Cell("<参数>", "12.3")}},
      {{21, 53, 54, 71, 74, 127}, {Cell(Keep(), "40.00"), Cell("<滑行时间>", "12.3"), Cell("<力>", "100.0"), kKeep}},
      {{27, 28, 29, 30, 31, 40, 41, 55, 56, 102, 103, 104, 105, 106}, {Cell("<速度>", "40.00"), kKeep, kKeep, kKeep}},
      {{33, 110, 112, 113}, {kKeep, kKeep, Cell("<电压>", "100.000"), kKeep}},
      {{34, 114, 115, 116}, {Cell("<速度>", "40.00"), Cell("<力矩>", "100.0"), Cell("<电压>", "12.345"), kKeep}},
      {{35},
       {Cell("<速度>", "40.00"), Cell("<频率>( Hz)", "100.00"), Cell("<里程>", "12.345"),
        Cell("<转速>/<油耗>", "-7.5")}},
      {{36, 39, 93, 94}, {Cell("<速度>", "40.00"), Cell("<-->", Keep()), Cell("<-->", Keep()), Cell("<里程>", "12.3")}},
      {{38, 111}, {Cell("<速度>", "40.00"), Cell("<力矩>", "100.0"), Cell("<-->", Keep()), Cell("<?\?>", "12.3")}},
      {{43, 124},
       {Cell("<速度>", "40.00"), Cell("<力矩>", Keep()), Cell("<电压>", Keep()), Cell("<引擎转数>", "-7.5")}},
      {{45}, {Cell(Keep(), "40.00"), kKeep, kKeep, Cell(Keep(), "12.3")}},
      {{50, 68, 70, 73, 88}, {Cell(Keep(), "40.00"), Cell("<滑行时间>", "12.3"), Cell("<当前负荷>", "11.10"), kKeep}},
      {{51}, {Cell(Keep(), "40.00"), Cell("<当前负荷>", "11.10"), Cell("<滑行时间>", "12.35"), kKeep}},
      {{52, 80, 82, 89, 90, 91, 92},
       {Cell("<速度>", "40.00"), Cell("<力矩>", "100.0"), Cell("<负荷>", "11.11"), Cell("<转速>", "-7.5")}},
      {{58}, {Cell("<速度>", "40.00"), Cell("<响应时间>", "100.0"), Cell("<响应时间>", "12.35"), kKeep}},
      {{66}, {Cell("<通道1>", "100.0"), Cell("<通道2>", "40.0"), Cell("<通道3>", "12.3"), Cell("<通道4>", "-7.5")}},
      {{67, 69}, {Cell("<速度>", "40.00"), Cell("<力矩>", "100.0"), Cell("<油耗>", "-7.5"), Cell("<里程>", "12.3")}},
      {{79}, {Cell(Keep(), "40.0"), Cell("<滑行时间>", "12.3"), Cell("<力>", "100.0"), Cell(Keep(), "-7.5")}},
      {{81, 83, 86, 87},
       {Cell("<速度>", "40.00"), Cell("<力矩>", "100.00"), Cell("<力矩(小数)>", "100.00"), Cell("<转速>", "-7.5")}},
      {{95, 101, 107, 108}, {Cell("<速度>", "40.000"), Cell("<力矩>", "100.0"), Cell("<零点>", "12.3"), kKeep}},
      {{96}, {Cell("<湿度>", "40.0"), Cell("<温度>", "100.0"), Cell("<大气压力>", "12.35"), kKeep}},
      {{100}, {Cell("<湿度>", "40.00"), Cell("<温度>", "100.00"), Cell("<大气压力>", "12.35"), kKeep}},
      {{125},
       {Cell("<通道1>", "100.000"), Cell("<通道2>", "40.000"), Cell("<通道3>", "12.345"), Cell("<通道4>", "-7.500")}},
  };
}

TEST(PresentLiveFrame, EveryRowOfPlainValues) {
  const MarkingLookup lookup;
  for (const RowCase& row : PlainValueRows()) {
    for (int type : row.types) {
      SCOPED_TRACE("type " + std::to_string(type));
      const ControllerStatus status =
          StatusFrameBytes(static_cast<std::uint8_t>(type)).Values(100, 40, 12.345f, -7.5f).Decode();
      EXPECT_EQ(PresentLiveFrame(status, lookup), row.expected);
    }
  }
}

TEST(PresentLiveFrame, AccelerationAndRevolutionsComeFromTheIntegerFields) {
  const MarkingLookup lookup;
  // AccelMilli -1500 (24 FA) in bytes 18-19, Revolutions 1234 (D2 04) in 20-21.
  auto frame = [](std::uint8_t type) {
    return StatusFrameBytes(type)
        .Values(100, 40, 12.345f, 0)
        .Byte(18, 0x24)
        .Byte(19, 0xFA)
        .Byte(20, 0xD2)
        .Byte(21, 0x04)
        .Decode();
  };
  for (std::uint8_t type : {75, 98}) {
    EXPECT_EQ(PresentLiveFrame(frame(type), lookup), (ReadoutUpdate{Cell("<速度>", "40.0"), Cell("<加速度>", "-1.500"),
                                                                    Cell("<转数>", "1234"), Cell("<里程>", "12.3")}))
        << int(type);
  }
  for (std::uint8_t type : {76, 123}) {
    EXPECT_EQ(PresentLiveFrame(frame(type), lookup),
              (ReadoutUpdate{Cell("<_E(速度>", "40.0"), Cell("<力矩>", "100.0"), Cell("<加速度>", "-1.500"),
                             Cell("<里程>", "12.3")}))
        << int(type);
  }
}

TEST(PresentLiveFrame, InputStatesShowAsFiveDigitsUnderAnUntranslatedCaption) {
  const MarkingLookup lookup;
  auto io = [&](std::initializer_list<std::uint8_t> states) {
    StatusFrameBytes frame(42);
    std::size_t offset = 17;
    for (std::uint8_t state : states) frame.Byte(offset++, state);
    return PresentLiveFrame(frame.Decode(), lookup);
  };
  EXPECT_EQ(io({1, 0, 0, 0, 0}), (ReadoutUpdate{Cell("IO", "10000"), kKeep, kKeep, kKeep}));
  EXPECT_EQ(io({0, 0, 0, 0, 0})[kReadoutSpeed].text, "00000");
  EXPECT_EQ(io({0, 1, 0, 1, 1})[kReadoutSpeed].text, "01011");
}

// The decoder hands a frame to the readouts exactly for the types that have a
// presentation row; every other type changes nothing.
TEST(PresentLiveFrame, TypesWithoutARowChangeNothing) {
  const MarkingLookup lookup;
  std::set<int> presented;
  for (const RowCase& row : PlainValueRows()) presented.insert(row.types.begin(), row.types.end());
  presented.insert({42, 75, 98, 76, 123});

  for (int type = 0; type < 256; ++type) {
    SCOPED_TRACE("type " + std::to_string(type));
    int shown = 0;
    const ControllerStatus status = StatusFrameBytes(static_cast<std::uint8_t>(type)).Values(1, 2, 3, 4).Decode(&shown);
    const ReadoutUpdate update = PresentLiveFrame(status, lookup);
    const bool changes = update != ReadoutUpdate{};
    EXPECT_EQ(changes, presented.count(type) == 1);
    if (ControllerFrameLength(static_cast<std::uint8_t>(type)) == kStatusFrameLength) {
      EXPECT_EQ(shown == 1, changes);
    }
  }
}

TEST(PresentLiveFrame, Type81ShowsTheSameTorqueTextTwice) {
  const MarkingLookup lookup;
  const ReadoutUpdate update = PresentLiveFrame(StatusFrameBytes(81).Values(3.14159f, 0, 0, 0).Decode(), lookup);
  EXPECT_EQ(update[kReadoutTorque].text, "3.14");
  EXPECT_EQ(update[kReadoutVoltage].text, "3.14");
}

TEST(PresentLiveFrame, Type43RenamesButLeavesTheOldValuesOnTheDisplays) {
  const MarkingLookup lookup;
  Readouts readouts(lookup);
  readouts.Apply(PresentLiveFrame(StatusFrameBytes(66).Values(1, 2, 3, 4).Decode(), lookup));
  readouts.Apply(PresentLiveFrame(StatusFrameBytes(43).Values(9, 8, 7, 6).Decode(), lookup));
  EXPECT_EQ(readouts.captions, (std::array<std::string, 4>{"<速度>", "<力矩>", "<电压>", "<引擎转数>"}));
  EXPECT_EQ(readouts.texts, (std::array<std::string, 4>{"8.00", "2.0", "3.0", "6.0"}));
}

TEST(PresentLiveFrame, CaptionsOfAnEarlierCommandStayBesideLaterValues) {
  const MarkingLookup lookup;
  Readouts readouts(lookup);
  EXPECT_EQ(readouts.captions, (std::array<std::string, 4>{"<速度>", "<力矩>", "<电压>", "<里程>"}));
  EXPECT_EQ(readouts.texts, (std::array<std::string, 4>{"0", "0", "0", "0"}));
  readouts.Apply(PresentLiveFrame(StatusFrameBytes(66).Values(1, 2, 3, 4).Decode(), lookup));
  readouts.Apply(PresentLiveFrame(StatusFrameBytes(21).Values(5, 6, 7, 8).Decode(), lookup));
  EXPECT_EQ(readouts.captions, (std::array<std::string, 4>{"<通道1>", "<滑行时间>", "<力>", "<通道4>"}));
  EXPECT_EQ(readouts.texts, (std::array<std::string, 4>{"6.00", "7.0", "5.0", "4.0"}));
}

TEST(PresentLiveFrame, AnUpdateKeptAcrossFramesEndsAsAFreshOneWould) {
  // The console reuses one update from frame to frame; whatever the previous
  // frame left in it (longer texts, other captions, kept cells) must not show.
  MarkingLookup lookup;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> value(-1e7f, 1e7f);
  ReadoutUpdate kept;
  for (int round = 0; round < 3; ++round) {
    for (int type = 0; type < 256; ++type) {
      ControllerStatus status;
      status.FrameType = static_cast<std::uint8_t>((type * 37 + round) % 256);
      status.Value1 = value(random);
      status.Value2 = round == 1 ? 3e30f : value(random);  // a text too wide for the inline room
      status.Value3 = value(random);
      status.Value4 = value(random);
      status.AccelMilli = static_cast<std::int16_t>(random());
      status.Revolutions = static_cast<std::int16_t>(random());
      PresentLiveFrame(status, lookup, kept);
      ASSERT_EQ(kept, PresentLiveFrame(status, lookup)) << "type " << int(status.FrameType);
    }
  }
}

TEST(ScaleKiloMega, ChoosesThePrefixByTheQuotients) {
  EXPECT_EQ(ScaleKiloMega(999.99f), (ScaledFrequency{" ", "999.99"}));
  EXPECT_EQ(ScaleKiloMega(1000.0f), (ScaledFrequency{"K", "1.000"}));
  EXPECT_EQ(ScaleKiloMega(2500000.0f), (ScaledFrequency{"M", "2.5000"}));
  EXPECT_EQ(ScaleKiloMega(1000000.0f), (ScaledFrequency{"M", "1.0000"}));
  EXPECT_EQ(ScaleKiloMega(999999.9f), (ScaledFrequency{"K", "1000.000"}));
  EXPECT_EQ(ScaleKiloMega(-5000.0f), (ScaledFrequency{" ", "-5000.00"}));
  EXPECT_EQ(ScaleKiloMega(std::numeric_limits<float>::max()).prefix, "M");
}

TEST(PresentLiveFrame, FrequencyCaptionCarriesThePrefix) {
  const MarkingLookup lookup;
  const ReadoutUpdate update = PresentLiveFrame(StatusFrameBytes(35).Values(2500000, 0, 0, 0).Decode(), lookup);
  EXPECT_EQ(update[kReadoutTorque], Cell("<频率>(MHz)", "2.5000"));
}

TEST(PresentLiveFrame, LoadIsTruncatedTowardZeroToOneDecimal) {
  const MarkingLookup lookup;
  auto load = [&](float v1, float v2) {
    return *PresentLiveFrame(StatusFrameBytes(50).Values(v1, v2, 0, 0).Decode(), lookup)[kReadoutVoltage].text;
  };
  EXPECT_EQ(load(360, 12.37f), "12.30");
  EXPECT_EQ(load(-360, 12.37f), "-12.30");
  // A load between -0.1 and 0 truncates to zero tenths, which has no sign.
  EXPECT_EQ(load(-360, 0.05f), "0.00");
  EXPECT_EQ(load(360, -0.099f), "0.00");
  // Beyond any integer range the truncation neither wraps nor traps.
  constexpr float kMax = std::numeric_limits<float>::max();
  EXPECT_EQ(load(kMax, kMax), "inf");
  EXPECT_NE(load(std::numeric_limits<float>::quiet_NaN(), 1).find("nan"), std::string::npos);
}

// printf itself, the reference every readout text must match byte for byte.
std::string Printf(const char* format, auto... values) {
  char text[512];
  const int length = std::snprintf(text, sizeof text, format, values...);
  return std::string(text, static_cast<std::size_t>(length));
}

// Exhaustive over the shapes a double can take: the texts agree with printf
// for random bit patterns (every exponent, subnormals, NaN, infinities), for
// values that came from floats as the controller's do, and for halfway cases
// where round-half-even on the exact binary value decides.
TEST(FormatFixed, AgreesWithPrintfForAnyValue) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  std::vector<double> values = {0.0,
                                -0.0,
                                0.5,
                                1.5,
                                2.5,
                                -2.5,
                                0.125,
                                0.375,
                                -0.125,
                                0.05,
                                0.0005,
                                0.00005,
                                1.0005,
                                2.675,
                                1.25,
                                -1.25,
                                999.995,
                                9.99995,
                                99999.99995,
                                0.999949999,
                                1e15,
                                -1e15,
                                std::nextafter(1e15, 0.0),
                                std::nextafter(-1e15, 0.0),
                                std::nextafter(1e15, 2e15),
                                4503599627370495.5,
                                9007199254740993.0,
                                1e19,
                                1.8446744073709552e19,
                                1e300,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(),
                                -std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<float>::max(),
                                std::numeric_limits<float>::denorm_min()};
  // n + 1/2 at every precision: exact binary ties only where the fraction is a
  // multiple of a power of two.
  for (int n = -2000; n <= 2000; ++n) values.push_back(n / 8.0 + 1.0 / 16.0);
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 40000; ++i) {
    values.push_back(std::bit_cast<double>(random()));
    values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(random())));
    // Readings of ordinary size, from a float and from a double.
    const double reading =
        std::ldexp(static_cast<double>(random() % 2000000) - 1000000.0, static_cast<int>(random() % 40) - 30);
    values.push_back(reading);
    values.push_back(static_cast<float>(reading));
    // Full 53-bit mantissas at any size up to and past 1e15.
    values.push_back(std::ldexp(std::bit_cast<double>((random() >> 12) | 0x3FF0000000000000),
                                static_cast<int>(random() % 120) - 60));
  }
  int failures = 0;
  for (double value : values) {
    for (int precision = 0; precision <= 6; ++precision) {
      const std::string expected = Printf("%.*f", precision, value);
      if (FormatFixed(value, precision) != expected && ++failures <= 10) {
        ADD_FAILURE() << "%." << precision << "f of " << std::hexfloat << value << ": got "
                      << FormatFixed(value, precision) << ", printf " << expected;
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

// Fewer values under AddressSanitizer, where every snprintf costs several times as much.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRandomFloats = 250'000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kRandomFloats = 250'000;
#else
constexpr int kRandomFloats = 1'000'000;
#endif
#else
constexpr int kRandomFloats = 1'000'000;
#endif

// The controller's readings are floats: random ones of every shape (any bit
// pattern: NaN of either sign, infinities, subnormals, huge and tiny values;
// readings of ordinary size; values on and beside the decimal halfway points
// such as x.xx5) at every precision the readouts, the recording and the
// coast-down texts use.
TEST(FormatFixed, AgreesWithPrintfForRandomFloats) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  constexpr int kPrecisions[] = {0, 1, 2, 3, 4, 6};
  std::mt19937_64 random(20261209);
  int failures = 0;
  for (int i = 0; i < kRandomFloats; ++i) {
    // Floats take the integer digits; the doubles derived from them (case 4)
    // take the floating to_chars.
    double value = 0;
    switch (i % 5) {
      case 0: value = std::bit_cast<float>(static_cast<std::uint32_t>(random())); break;
      case 4: value = (static_cast<double>(random() % 2000001) - 1000000.0) / 997.0; break;
      case 1: {
        // A decimal halfway point n.xx5 at one of the precisions, and the floats beside it.
        const int precision = kPrecisions[random() % std::size(kPrecisions)];
        const float halfway =
            static_cast<float>((static_cast<double>(random() % 2000001) - 1000000.0 + 0.5) / std::pow(10.0, precision));
        const auto side = random() % 3;
        constexpr float kInfinity = std::numeric_limits<float>::infinity();
        value = side == 0 ? halfway : std::nextafter(halfway, side == 1 ? -kInfinity : kInfinity);
        break;
      }
      case 2: value = static_cast<float>((static_cast<double>(random() % 20000001) - 10000000.0) / 1000.0); break;
      case 3:
        value = std::ldexp(static_cast<float>(random() % 0x1000000) * ((random() % 2) ? 1.0f : -1.0f),
                           static_cast<int>(random() % 300) - 170);
        break;
    }
    for (const int precision : kPrecisions) {
      char expected[512];
      const int length = std::snprintf(expected, sizeof expected, "%.*f", precision, value);
      const std::string text = FormatFixed(value, precision);
      if (text != std::string_view(expected, static_cast<std::size_t>(length)) && ++failures <= 10) {
        ADD_FAILURE() << "%." << precision << "f of the double with bits 0x" << std::hex
                      << std::bit_cast<std::uint64_t>(value) << std::dec << ": got " << text << ", printf " << expected;
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

// The integer texts ("%d" revolutions, "%05d" input states) and the
// acceleration ("%.3f" of AccelMilli / 1000) over every 16-bit value, through
// the readouts as the frames carry them.
TEST(PresentLiveFrame, IntegerFieldTextsAgreeWithPrintf) {
  const MarkingLookup lookup;
  for (int raw = 0; raw <= 0xFFFF; ++raw) {
    const auto low = static_cast<std::uint8_t>(raw & 0xFF);
    const auto high = static_cast<std::uint8_t>(raw >> 8);
    const auto signedValue = static_cast<std::int16_t>(raw);
    const ReadoutUpdate update = PresentLiveFrame(
        StatusFrameBytes(75).Byte(18, low).Byte(19, high).Byte(20, low).Byte(21, high).Decode(), lookup);
    ASSERT_EQ(update[kReadoutVoltage].text, Printf("%d", signedValue)) << raw;
    ASSERT_EQ(update[kReadoutTorque].text, Printf("%.3f", signedValue / 1000.0)) << raw;
  }
  std::mt19937 random(42);
  for (int i = 0; i < 20000; ++i) {
    StatusFrameBytes frame(42);
    int number = 0;
    for (std::size_t offset = 17; offset <= 21; ++offset) {
      // Mostly 0 and 1 as the controller sends them; any byte must still work.
      const auto state = static_cast<std::uint8_t>(i % 2 == 0 ? random() % 2 : random() % 256);
      frame.Byte(offset, state);
      number = number * 10 + state;
    }
    ASSERT_EQ(PresentLiveFrame(frame.Decode(), lookup)[kReadoutSpeed].text, Printf("%05d", number));
  }
}

TEST(FormatFixed, IgnoresTheNumericLocale) {
  const test::GermanLocale german;
  if (!german.Active()) GTEST_SKIP() << "no German locale installed (locales package)";
  EXPECT_EQ(FormatFixed(1.5, 2), "1.50");
  const MarkingLookup lookup;
  EXPECT_EQ(PresentLiveFrame(StatusFrameBytes(66).Values(1.25f, 0, 0, 0).Decode(), lookup)[kReadoutSpeed].text,
            "1.2");  // printf's round-half-even of the exact binary value
}

}  // namespace
}  // namespace rolta
