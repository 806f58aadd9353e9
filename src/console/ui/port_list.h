#pragma once

#include <QComboBox>
#include <functional>

namespace rolta {

// The port list: asks for the ports again each time it opens, so an adapter
// plugged in after start appears without a restart.
class CPortList final : public QComboBox {
 public:
  using QComboBox::QComboBox;
  void SetBeforePopup(std::function<void()> rescan) { beforePopup_ = std::move(rescan); }
  void showPopup() override {
    if (beforePopup_) beforePopup_();
    QComboBox::showPopup();
  }

 private:
  std::function<void()> beforePopup_;
};

}  // namespace rolta
