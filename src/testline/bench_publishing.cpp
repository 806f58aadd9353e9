#include "testline/bench_publishing.h"

namespace rolta {
namespace {

std::string ChosenBench(const TestLineSettings& settings, const std::string& bench, const std::string& port) {
  return bench.empty() ? BenchNameOr(settings, port) : bench;
}

}  // namespace

BenchPublishing::BenchPublishing(ControllerSession& session, const TestLineSettings& settings, const std::string& bench)
    : session_(session),
      liveRate_(settings.liveRate),
      publisher_(settings, ChosenBench(settings, bench, session.PortName()),
                 EventQueuePath(ChosenBench(settings, bench, session.PortName()))) {}

bool BenchPublishing::Start(std::string* error) {
  if (!publisher_.Start(error)) return false;
  feed_ = std::make_unique<SessionFeed>(session_, publisher_, liveRate_);
  return true;
}

}  // namespace rolta
