// A bench on the test line, as a front end starts it: the publisher for
// the settings and the feed from the session, with the events kept on disk
// under the bench's name. The console and `rolta-cli monitor --mqtt` each
// hold one while publishing.
#pragma once

#include <memory>
#include <string>

#include "session/controller_session.h"
#include "testline/session_feed.h"
#include "testline/testline_publisher.h"
#include "testline/testline_settings.h"

namespace rolta {

class BenchPublishing {
 public:
  // `bench` empty: the settings' name, else one made from the host and port.
  BenchPublishing(ControllerSession& session, const TestLineSettings& settings, const std::string& bench);
  // False with the reason when the settings cannot be used.
  bool Start(std::string* error);
  // With the session's Tick.
  void Poll() {
    if (feed_) feed_->Poll();
  }
  void SetRecording(bool on, const std::string& file = {}) {
    if (feed_) feed_->SetRecording(on, file);
  }
  // The entry for events the session does not see (service history, ...).
  TestLinePublisher& Publisher() { return publisher_; }

 private:
  ControllerSession& session_;
  double liveRate_;
  TestLinePublisher publisher_;
  std::unique_ptr<SessionFeed> feed_;  // after the publisher: goes first
};

}  // namespace rolta
