// The console's environment taken from the loaded environment library.
#pragma once

#include "console/console_environment.h"
#include "env/env_library.h"

namespace rolta {

class EnvConsoleEnvironment final : public ConsoleEnvironment {
 public:
  // record: the environment record GetEnvkit filled.
  EnvConsoleEnvironment(const EnvLibrary& library, EnvRecord record)
      : library_(library), lookup_(library), record_(std::move(record)) {}

  const TextLookup& Texts() const override { return lookup_; }
  std::vector<std::string> SerialPortNames() override {
    PortList list;
    library_.GetSerialPortInfo(list);
    return PortNames(list);
  }
  std::string VersionText() override { return library_.VersionText(); }
  std::string PicturePath() const override { return ReadPicturePath(record_); }

 private:
  const EnvLibrary& library_;
  EnvTextLookup lookup_;
  EnvRecord record_;
};

}  // namespace rolta
