#pragma once

#include <QDialog>
#include <array>

#include "console/tool_strip.h"

class QPushButton;

namespace rolta {

class MessageBoxService;
class TextLookup;

// "工具": a modeless strip of lift buttons "U", "D", "M", "MS" and "OK",
// created hidden with the console and given its channel; sends through a
// ShortFrame of its own.
class CTool : public QDialog {
  Q_OBJECT
 public:
  CTool(ByteChannel& channel, const TextLookup& lookup, MessageBoxService& boxes, QWidget* parent = nullptr);

  // Hides and shows again, so the window comes to the front.
  void BringUp();
  void OnButton(ToolButton button);

  QPushButton* Button(ToolButton button) const { return buttons_[static_cast<std::size_t>(button)]; }
  int LiftState() const { return strip_.LiftState(); }

 private:
  void ApplyStates();

  ToolStrip strip_;
  std::array<QPushButton*, 5> buttons_{};
};

}  // namespace rolta
