// What a controller session shows, implemented by its front end.
#pragma once

#include <string>

#include "readouts/console_texts.h"
#include "readouts/readouts.h"
#include "session/link_monitor.h"

namespace rolta {

// The session asks for a present when it has news and hands over the latest
// state when the front end calls Present(), so a burst of frames costs one
// repaint.
class SessionView {
 public:
  virtual ~SessionView() = default;
  virtual void ShowStatusLine(const std::string& text) = 0;
  virtual void ShowReadouts(const ReadoutUpdate& update) = 0;
  // The version answer (and the "asking" texts right after a query).
  virtual void ShowControllerVersion(const ControllerVersionTexts& texts) = 0;
  // Something new to show: call ControllerSession::Present() soon, at most at
  // the screen's pace. Asked once until the next Present().
  virtual void RequestPresent() = 0;
  // The channel was closed from inside a command (the external programs
  // need the port): the connect button is usable again.
  virtual void OnChannelClosed() = 0;
  // What a catalogue position may need from the desktop.
  virtual void StartExternalProgram(const std::string& path) = 0;
  virtual std::string CurrentDirectory() const = 0;
  virtual void ShowChannelMapWindow() = 0;
  // The link indicator beside the status line, and whether the readouts
  // hold values that are no longer live.
  virtual void ShowLinkState(const LinkIndicator&) {}
  // The automatic reconnection opened the channel again: "设置" is not usable.
  virtual void OnChannelReopened() {}
};

}  // namespace rolta
