// A console environment chosen by the test: its ports, version text, picture
// and a lookup that can mark translated texts.
#pragma once

#include <string>
#include <vector>

#include "console/console_environment.h"
#include "marking_lookup.h"

namespace rolta::test {

class FakeEnvironment final : public ConsoleEnvironment {
 public:
  explicit FakeEnvironment(std::vector<std::string> ports = {}, const TextLookup* lookup = nullptr)
      : ports_(std::move(ports)), lookup_(lookup ? lookup : &identity_) {}

  const TextLookup& Texts() const override { return *lookup_; }
  std::vector<std::string> SerialPortNames() override { return ports_; }
  std::string VersionText() override { return version; }
  std::string PicturePath() const override { return picture; }

  std::string version = "3, 7, 4, 0";
  std::string picture;

 private:
  std::vector<std::string> ports_;
  IdentityLookup identity_;
  const TextLookup* lookup_;
};

}  // namespace rolta::test
