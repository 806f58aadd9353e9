// The boxes of the line's safety checks: a lost line, a frame that did not
// go out, an emergency stop that was not sent or not confirmed.
#pragma once

#include <string>
#include <string_view>

#include "env/text_lookup.h"
#include "env/ui_services.h"

namespace rolta {

MessageRequest LineLostMessage(const TextLookup& lookup, const std::string& port);
MessageRequest WriteFailedMessage(const TextLookup& lookup, std::string_view command, const std::string& port);
MessageRequest EmergencyStopNotSentMessage(const TextLookup& lookup, const std::string& port);
// refused: the controller answered with Numth -6; else no answer within 1 s.
MessageRequest EmergencyStopUnconfirmedMessage(const TextLookup& lookup, bool refused);

}  // namespace rolta
