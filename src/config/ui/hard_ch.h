#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace rolta {

class ChannelMapEditor;
class MessageBoxService;
class TextLookup;

// "硬件通道配置": the channel map as one edit field per function, read from
// the controller, edited, reset to the defaults and stored. Modeless; the
// console creates it hidden and keeps it until exit, so the texts typed in it
// stay between showings. It sends through the editor's channel and never
// owns the port.
class CHardCH : public QDialog {
  Q_OBJECT
 public:
  CHardCH(ChannelMapEditor& editor, const TextLookup& lookup, MessageBoxService& messages,
          QWidget* parent = nullptr);

  // A type-65 frame from the receive path: the shown fields take its values
  // and the window comes to the front. Frames that are not a whole channel
  // map reply are ignored.
  void OnChannelMapReply(const std::uint8_t* frame, std::size_t length);
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
  void ShowEditorTexts();

  ChannelMapEditor& editor_;
  MessageBoxService& messages_;
  std::vector<QLineEdit*> edits_;
  QPushButton* store_;
  QPushButton* cancel_;
  QPushButton* defaults_;
};

}  // namespace rolta
