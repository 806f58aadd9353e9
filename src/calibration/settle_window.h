// When a reading has settled: the last N samples lie within a spread (largest
// minus smallest) no larger than a threshold.
#pragma once

#include <cstddef>
#include <deque>

namespace rolta {

struct SettleRule {
  std::size_t samples = 10;    // the window
  double maxSpread = 0.002;    // V
  double ignoreSeconds = 0.3;  // readings this soon after a load is applied are not taken
  double timeoutSeconds = 30;  // a reading not settled by then never will
};

class SettleWindow {
 public:
  explicit SettleWindow(const SettleRule& rule = {}) : rule_(rule) {}

  // A sample; the oldest leaves once the window is full. A value that is not
  // finite empties the window: nothing settles across it.
  void Add(double value);
  void Clear() { values_.clear(); }

  std::size_t Count() const { return values_.size(); }
  bool Full() const { return values_.size() >= rule_.samples; }
  // Full, and its spread within the rule's.
  bool Settled() const;
  // 0 while empty.
  double Mean() const;
  double Spread() const;
  // The latest sample; 0 while empty.
  double Latest() const { return values_.empty() ? 0.0 : values_.back(); }
  const SettleRule& Rule() const { return rule_; }

 private:
  SettleRule rule_;
  std::deque<double> values_;
};

}  // namespace rolta
