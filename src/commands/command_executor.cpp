#include "commands/command_executor.h"

#include "env/number_text.h"

namespace rolta {
namespace {

float FieldValue(FieldSource source, const CommandInputs& inputs) {
  switch (source) {
    case FieldSource::ParamA: return TextToFloat(inputs.ParamA);
    case FieldSource::ParamB: return TextToFloat(inputs.ParamB);
    case FieldSource::ParamM: return TextToFloat(inputs.ParamM);
    case FieldSource::ParamC: return TextToFloat(inputs.ParamC);
    case FieldSource::StartSpeed: return TextToFloat(inputs.StartSpeed);
    case FieldSource::EndSpeed: return TextToFloat(inputs.EndSpeed);
    case FieldSource::StartLoad: return TextToFloat(inputs.StartLoad);
    case FieldSource::EndLoad: return TextToFloat(inputs.EndLoad);
    case FieldSource::Zero:
    case FieldSource::Keep:
    case FieldSource::FlywheelMask:
    case FieldSource::AllBitsSet: break;
  }
  return 0.0f;
}

}  // namespace

std::uint8_t FlywheelMask(const CommandInputs& inputs) {
  std::uint8_t mask = 0;
  for (std::size_t i = 0; i < inputs.Flywheels.size(); ++i) {
    if (inputs.Flywheels[i]) mask = static_cast<std::uint8_t>(mask | (1u << i));
  }
  return mask;
}

CommandExecutor::CommandExecutor(ByteChannel& channel, const TextLookup& lookup, ConsoleHost& host)
    : channel_(channel),
      lookup_(lookup),
      host_(host),
      hostBoxes_(host),
      params_(channel, frames_.paramRequest, lookup, hostBoxes_) {}

CoastDownSpeeds CommandExecutor::CoastDownSpeedsSent() const {
  return {frames_.profile.Value(0), frames_.profile.Value(1)};
}

void CommandExecutor::OnExecute(int position, CommandInputs inputs) {
  // Even the positions that only show a box or a window need the channel:
  // the operator is told it is closed and nothing else happens.
  if (!channel_.IsOpen()) {
    host_.ShowMessage(ChannelClosedMessage());
    return;
  }
  commandIndex_ = position;
  if (const CatalogueRow* row = CatalogueRowAt(position)) Perform(*row, inputs);
  // Whatever went last through the console's ShortFrame (here, in a nested
  // execution, or by the emergency stop) is what the repeat-send loop repeats.
  lastShortCode_ = shortFrame_.Command();
}

void CommandExecutor::SendShort(std::uint8_t code) {
  shortFrame_.SetCommand(code);
  WriteSealed(shortFrame_);
}

template <std::size_t Length>
void CommandExecutor::WriteSealed(FrameBuffer<Length>& frame) {
  const auto bytes = frame.Seal();
  channel_.Write(bytes.data(), bytes.size());  // fire and forget
}

void CommandExecutor::Perform(const CatalogueRow& row, const CommandInputs& inputs) {
  switch (row.action) {
    case CatalogueAction::None: return;
    case CatalogueAction::Send: SendCatalogueFrames(row, inputs); return;
    case CatalogueAction::ExternalProgram: StartExternalProgram(row); return;
    case CatalogueAction::Message: ShowInformation(row.text); return;
    case CatalogueAction::ParamRecordSummary:
    case CatalogueAction::ParamRecordForm: RequestParamRecord(row); return;
    case CatalogueAction::RepeatLoop: RunRepeatLoop(); return;
    case CatalogueAction::StopRepeatLoop: RequestLoopStop(); return;
    case CatalogueAction::ShowChannelMap: host_.ShowChannelMapWindow(); return;
  }
}

void CommandExecutor::SendCatalogueFrames(const CatalogueRow& row, const CommandInputs& inputs) {
  switch (row.frame) {
    case FrameKind::None: return;
    case FrameKind::Short:
      // Back to back, no pause between them.
      for (std::uint8_t code : row.ShortCodes()) SendShort(code);
      return;
    case FrameKind::Setpoint: {
      SetpointFrame& frame = frames_.setpoint;
      if (row.fields[0] == FieldSource::FlywheelMask) frame.SetFlywheelMask(FlywheelMask(inputs));
      if (row.fields[1] != FieldSource::Keep) frame.SetValue(FieldValue(row.fields[1], inputs));
      frame.SetCommandWord(row.commandWord);
      WriteSealed(frame);
      return;
    }
    case FrameKind::Profile: {
      ProfileFrame& frame = frames_.profile;
      for (int i = 0; i < ProfileFrame::kValueCount; ++i) {
        const FieldSource source = row.fields[static_cast<std::size_t>(i)];
        if (source != FieldSource::Keep) frame.SetValue(i, FieldValue(source, inputs));
      }
      frame.SetCommandWord(row.commandWord);
      WriteSealed(frame);
      return;
    }
    case FrameKind::ParamRequest: RequestParamRecord(row); return;
  }
}

void CommandExecutor::RequestParamRecord(const CatalogueRow& row) {
  params_.RequestParams(row.action == CatalogueAction::ParamRecordForm ? ParamReplyTarget::Form
                                                                       : ParamReplyTarget::Summary);
}

void CommandExecutor::RunRepeatLoop() {
  ++loopDepth_;
  loopTestState_ = kLoopRunning;
  do {
    // The console stays usable: replies are received and other positions
    // (including 35, which stops this loop) run from inside this call.
    host_.ProcessPendingEvents();
    if (host_.IsCtrlHeld()) break;
    // The state is tested only after the send, so a stop requested while
    // events were dispatched still lets this one frame out.
    if (lastShortCode_ != 0) SendShort(lastShortCode_);
    host_.SleepMilliseconds(kLoopIntervalMs);
  } while (loopTestState_ != kLoopStop);
  --loopDepth_;
}

void CommandExecutor::StartExternalProgram(const CatalogueRow& row) {
  const MessageAnswer answer = host_.ShowMessage(
      {lookup_.Lookup(row.text), lookup_.Lookup(kConfirmCaption), MessageIcon::Information, MessageButtons::OkCancel});
  if (answer == MessageAnswer::Cancel) return;
  // The program talks to the controller itself, so the console lets go of
  // the port first, whether or not the program then starts.
  host_.CloseChannelFromConsole();
  std::string path = host_.CurrentDirectory();
  // Without a known working directory there is no sound path to start.
  if (path.empty()) return;
  if (path.back() != '/') path += '/';
  path += row.program;
  host_.StartExternalProgram(path);
}

void CommandExecutor::ShowInformation(std::string_view text) {
  host_.ShowMessage(
      {lookup_.Lookup(text), lookup_.Lookup(kConfirmCaption), MessageIcon::Information, MessageButtons::Ok});
}

}  // namespace rolta
