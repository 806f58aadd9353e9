#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <QDialog>

#include "config/channel_map.h"

class QLineEdit;
class QPushButton;

namespace rolta {

class MessageBoxService;
class TextLookup;

// "硬件通道配置": the channel map as one edit field per function, read from
// the controller, edited, reset to the defaults and stored. Modeless; the
// console creates it hidden and keeps it until exit, so the texts typed in it
// stay between showings. It sends through the editor's channel and never
// owns the port; it shows the editor's replies while it exists.
class CHardCH : public QDialog, private ChannelMapView {
  Q_OBJECT
 public:
  CHardCH(ChannelMapEditor& editor, const TextLookup& lookup, MessageBoxService& messages, QWidget* parent = nullptr);
  ~CHardCH() override;
  // Hides and shows the window, which brings it to the front with the texts
  // it holds.
  void BringUp();
  // "缺省": every field to its default; nothing is sent.
  void SetDefaultChannels();
  // The store button: sends the map and hides. With the channel closed it
  // says so and stays open, so the operator sees nothing went out.
  void StoreChannelMap();

  QLineEdit* FieldEdit(std::size_t field) const { return edits_.at(field); }
  QLineEdit* FieldEdit(std::string_view label) const;
  QPushButton* StoreButton() const { return store_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* DefaultsButton() const { return defaults_; }

 private:
  // A reply reached the editor: the shown fields take its values and the
  // window comes to the front.
  void OnChannelMapReceived() override;
  void ShowEditorTexts();

  ChannelMapEditor& editor_;
  MessageBoxService& messages_;
  std::vector<QLineEdit*> edits_;
  QPushButton* store_;
  QPushButton* cancel_;
  QPushButton* defaults_;
};

}  // namespace rolta
