// Stand-ins for a controller session's front end: a view that records what it
// is shown, services that answer every box Ok and never pause, and a link
// whose bytes the test hands in.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "session/controller_session.h"
#include "link/serial_link.h"
#include "memory_channel.h"

namespace rolta::test {

class RecordingView : public SessionView {
 public:
  std::vector<std::string> statusLines;
  std::array<std::string, kReadoutCount> captions, texts;
  std::vector<ControllerVersionTexts> versions;
  int presentRequests = 0;
  int channelClosed = 0;

  void ShowStatusLine(const std::string& text) override { statusLines.push_back(text); }
  void ShowReadouts(const ReadoutUpdate& update) override {
    for (std::size_t i = 0; i < kReadoutCount; ++i) {
      if (update[i].caption) captions[i] = *update[i].caption;
      if (update[i].text) texts[i] = *update[i].text;
    }
  }
  void ShowControllerVersion(const ControllerVersionTexts& version) override { versions.push_back(version); }
  void RequestPresent() override { ++presentRequests; }
  void OnChannelClosed() override { ++channelClosed; }
  void StartExternalProgram(const std::string&) override {}
  std::string CurrentDirectory() const override { return "/tmp"; }
  void ShowChannelMapWindow() override {}
};

class QuietServices : public MessageBoxService, public EventPump, public KeyState {
 public:
  std::vector<MessageRequest> boxes;
  MessageAnswer Show(const MessageRequest& request) override {
    boxes.push_back(request);
    return MessageAnswer::Ok;
  }
  void ProcessPendingEvents() override {}
  void SleepMilliseconds(int) override {}
  bool IsCtrlHeld() const override { return false; }
  bool IsEscapeHeld() const override { return false; }
  HostServices Services() { return {*this, *this, *this}; }
};

// A link that is always open and never notifies; reading and writing are
// what a double adds.
class AlwaysOpenLink : public SerialLink {
 public:
  bool IsOpen() const override { return true; }
  void AcknowledgeNotification() override {}
  void SetNotifyCallback(NotifyCallback) override {}
  int Open(const std::string&, int, int, int, std::uint32_t) override { return 1; }
  void Close() override {}
  std::error_code LastOpenError() const override { return {}; }
  std::uint32_t BaudRate() const override { return 115200; }
};

class MemoryLink : public AlwaysOpenLink {
 public:
  MemoryChannel channel;
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override { return channel.Read(buffer, max); }
  std::size_t Write(const std::uint8_t* bytes, std::size_t length) override { return channel.Write(bytes, length); }
  bool IsOpen() const override { return channel.IsOpen(); }
};

}  // namespace rolta::test
