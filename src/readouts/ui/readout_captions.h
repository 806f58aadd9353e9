#pragma once

#include <QObject>
#include <QString>
#include <array>

#include "readouts/readouts.h"

class QGroupBox;
class QLabel;
class QTimer;

namespace rolta {

// The captions of the four readouts: each frame's caption, the unit of the
// quantity it names beside it, and a short highlight of a readout whose
// caption changes, so a new meaning of the digits does not pass unseen.
class CReadoutCaptions : public QObject {
  Q_OBJECT
 public:
  static constexpr int kHighlightMilliseconds = 1500;

  // frames: the readouts' group boxes, left to right; each gets a unit label
  // at the top of its layout.
  CReadoutCaptions(const std::array<QGroupBox*, kReadoutCount>& frames, const TextLookup& lookup,
                   QObject* parent = nullptr);

  // Shows a readout's caption. A caption other than the one shown lights
  // the readout up for a moment (not the first caption of all).
  void SetCaption(std::size_t readout, const QString& caption);

  QLabel* UnitLabel(std::size_t readout) const { return units_[readout]; }
  bool IsHighlighted(std::size_t readout) const { return highlighted_[readout]; }

 private:
  void SetHighlight(std::size_t readout, bool on);

  ReadoutUnits unitTable_;
  std::array<QGroupBox*, kReadoutCount> frames_{};
  std::array<QLabel*, kReadoutCount> units_{};
  std::array<QTimer*, kReadoutCount> timers_{};
  std::array<bool, kReadoutCount> highlighted_{};
};

}  // namespace rolta
