#include "session/link_monitor.h"

#include <time.h>

#include <algorithm>

#include "env/number_text.h"
#include "link/command_codes.h"

namespace rolta {

MonoTime CoarseSteadyClock::Now() const {
#ifdef CLOCK_MONOTONIC_COARSE
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) == 0) {
    return MonoTime(std::chrono::duration_cast<MonoTime::duration>(std::chrono::seconds(now.tv_sec) +
                                                                   std::chrono::nanoseconds(now.tv_nsec)));
  }
#endif
  return std::chrono::steady_clock::now();
}
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

constexpr milliseconds kRateWindow{1000};

long long MillisBetween(MonoTime from, MonoTime to) { return duration_cast<milliseconds>(to - from).count(); }

}  // namespace

void LinkMonitor::OnOpened(MonoTime now) {
  base_ = LinkState::OpenNoData;
  lostPort_.clear();
  anyBytes_ = anyGoodFrame_ = false;
  openedAt_ = lastByte_ = lastGoodFrame_ = rateWindowStart_ = now;
  rejectedSinceGood_ = 0;
  rateCount_ = framesPerSecond_ = 0;
  // What became of a command on an earlier line says nothing about this one:
  // a reconnected line would otherwise go on showing the old answer.
  pendingCode_ = 0;
  pendingCaption_ = {};
  ack_ = AckState::None;
  answerMs_ = 0;
}

void LinkMonitor::OnClosed() {
  base_ = LinkState::Closed;
  lostPort_.clear();
  // Whatever was waited for can no longer be answered on this line.
  if (ack_ == AckState::Waiting) ack_ = AckState::NoAnswer;
}

void LinkMonitor::OnLineLost(std::string port, bool reconnecting) {
  OnClosed();
  base_ = LinkState::Lost;
  lostPort_ = std::move(port);
  reconnecting_ = reconnecting;
}

void LinkMonitor::OnReceived(std::uint64_t bytes, std::uint64_t rejectedFrames, MonoTime now) {
  if (bytes > 0) {
    anyBytes_ = true;
    everReceived_ = true;
    lastByte_ = now;
  }
  rejectedSinceGood_ += rejectedFrames;
}

AckState LinkMonitor::OnFrame(std::uint8_t frameType, std::int16_t numth, MonoTime now) {
  anyBytes_ = anyGoodFrame_ = everReceived_ = true;
  lastByte_ = lastGoodFrame_ = now;
  rejectedSinceGood_ = 0;
  ++rateCount_;
  if (now - rateWindowStart_ >= kRateWindow) Tick(now);

  // The answer to a command carries the command's byte as its type; a late
  // answer still counts, so "无应答" turns into what really happened.
  if ((ack_ != AckState::Waiting && ack_ != AckState::NoAnswer) || frameType != pendingCode_) {
    return AckState::None;
  }
  if (numth == kRejectedNumth) {
    ack_ = AckState::Refused;
  } else {
    ack_ = AckState::Answered;
    answerMs_ = static_cast<int>(MillisBetween(sentAt_, now));
  }
  return ack_;
}

void LinkMonitor::OnCommandSent(std::uint8_t code, std::string_view caption, MonoTime now) {
  pendingCode_ = code;
  pendingCaption_ = caption;
  sentAt_ = now;
  ack_ = AckState::Waiting;
  answerMs_ = 0;
  ++commandsSent_;
}

bool LinkMonitor::Tick(MonoTime now) {
  const auto window = now - rateWindowStart_;
  if (window >= kRateWindow) {
    const long long ms = duration_cast<milliseconds>(window).count();
    framesPerSecond_ = static_cast<int>((rateCount_ * 1000LL + ms / 2) / ms);
    rateCount_ = 0;
    rateWindowStart_ = now;
  }
  if (ack_ == AckState::Waiting && now - sentAt_ >= kAnswerLimit) {
    ack_ = AckState::NoAnswer;
    return true;
  }
  return false;
}

LinkReport LinkMonitor::Report(MonoTime now) const {
  LinkReport report;
  report.ack = ack_;
  report.command = pendingCaption_;
  report.answerMs = answerMs_;
  report.state = base_;
  if (base_ == LinkState::Lost) {
    report.port = lostPort_;
    report.reconnecting = reconnecting_;
  } else if (base_ != LinkState::Closed) {
    const bool goodRecently = anyGoodFrame_ && now - lastGoodFrame_ <= kSilenceLimit;
    const bool bytesRecently = anyBytes_ && now - lastByte_ <= kSilenceLimit;
    if (goodRecently) {
      report.state = LinkState::Receiving;
      report.framesPerSecond = framesPerSecond_;
      // Before the first full window the frames so far give the rate.
      if (report.framesPerSecond == 0 && rateCount_ > 0) {
        const long long ms = std::max(1LL, MillisBetween(rateWindowStart_, now));
        report.framesPerSecond = static_cast<int>(std::min<long long>(rateCount_ * 1000LL / ms, rateCount_));
        if (report.framesPerSecond == 0) report.framesPerSecond = rateCount_;
      }
    } else if (bytesRecently) {
      report.state = LinkState::Garbled;
      report.rejectedFrames = rejectedSinceGood_;
    } else if (anyBytes_) {
      report.state = LinkState::Silent;
      report.silentSeconds = static_cast<int>(MillisBetween(lastByte_, now) / 1000);
    } else {
      report.state = LinkState::OpenNoData;
    }
  }
  switch (report.state) {
    case LinkState::Silent:
    case LinkState::Garbled:
    case LinkState::Lost: report.readoutsStale = true; break;
    case LinkState::Closed: report.readoutsStale = everReceived_; break;
    case LinkState::OpenNoData:
    case LinkState::Receiving: break;
  }
  return report;
}

LinkIndicator LinkIndicatorFor(const TextLookup& lookup, const LinkReport& report) {
  LinkIndicator out;
  out.readoutsStale = report.readoutsStale;
  switch (report.state) {
    case LinkState::Closed: out.text = lookup.Lookup("通讯口已关闭"); break;
    case LinkState::OpenNoData: out.text = lookup.Lookup("已连接, 无数据"); break;
    case LinkState::Receiving:
      out.text = lookup.Lookup("接收中") + FormatText(" %d ", report.framesPerSecond) + lookup.Lookup("帧/秒");
      break;
    case LinkState::Silent:
      out.text =
          lookup.Lookup("无数据") + FormatText(" > %d ", std::max(2, report.silentSeconds)) + lookup.Lookup("秒");
      out.severity = LinkSeverity::Warning;
      break;
    case LinkState::Garbled:
      out.text = lookup.Lookup("收到数据但无有效帧") +
                 FormatText(" (%llu ", static_cast<unsigned long long>(report.rejectedFrames)) +
                 lookup.Lookup("帧校验失败, 请检查通讯速度") + ")";
      out.severity = LinkSeverity::Alarm;
      break;
    case LinkState::Lost:
      out.text = lookup.Lookup("通讯中断") + ": " + report.port;
      if (report.reconnecting) out.text += ", " + lookup.Lookup("等待自动重连");
      out.severity = LinkSeverity::Alarm;
      break;
  }
  if (report.ack != AckState::None) {
    out.text += " | " + lookup.Lookup(report.command) + ": ";
    switch (report.ack) {
      case AckState::None: break;
      case AckState::Waiting: out.text += lookup.Lookup("等待应答"); break;
      case AckState::Answered: out.text += lookup.Lookup("已应答") + FormatText(" (%d ms)", report.answerMs); break;
      case AckState::Refused:
        out.text += lookup.Lookup("控制器拒绝");
        if (out.severity == LinkSeverity::Normal) out.severity = LinkSeverity::Warning;
        break;
      case AckState::NoAnswer:
        out.text += lookup.Lookup("无应答");
        if (out.severity == LinkSeverity::Normal) out.severity = LinkSeverity::Warning;
        break;
    }
  }
  return out;
}

}  // namespace rolta
