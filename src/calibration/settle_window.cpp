#include "calibration/settle_window.h"

#include <algorithm>
#include <cmath>

namespace rolta {

void SettleWindow::Add(double value) {
  if (!std::isfinite(value)) {
    values_.clear();
    return;
  }
  values_.push_back(value);
  while (values_.size() > std::max<std::size_t>(rule_.samples, 1)) values_.pop_front();
}

bool SettleWindow::Settled() const { return rule_.samples > 0 && Full() && Spread() <= rule_.maxSpread; }

double SettleWindow::Mean() const {
  if (values_.empty()) return 0.0;
  double sum = 0;
  for (double v : values_) sum += v;
  return sum / static_cast<double>(values_.size());
}

double SettleWindow::Spread() const {
  if (values_.empty()) return 0.0;
  const auto [low, high] = std::minmax_element(values_.begin(), values_.end());
  return *high - *low;
}

}  // namespace rolta
