// A good 24-byte status frame of the controller, for tests and benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "link/frames.h"

namespace rolta::test {

inline std::vector<std::uint8_t> StatusFrame(std::uint8_t type, float v1, float v2, float v3, float v4,
                                             std::int16_t numth) {
  std::vector<std::uint8_t> frame(kStatusFrameLength, 0);
  frame[0] = kSync1;
  frame[1] = kSync2;
  frame[2] = type;
  frame[3] = static_cast<std::uint8_t>(kStatusFrameLength - kHeaderLength);
  PutFloat32LE(&frame[6], v1);
  PutFloat32LE(&frame[10], v2);
  PutFloat32LE(&frame[14], v3);
  PutFloat32LE(&frame[18], v4);
  PutUInt16LE(&frame[22], static_cast<std::uint16_t>(numth));
  StoreChecksum(frame.data(), frame.size());
  return frame;
}

}  // namespace rolta::test
