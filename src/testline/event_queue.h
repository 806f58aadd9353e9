// The events not yet taken by the broker, kept on disk so a restart or a
// broker away for hours loses none of them up to the bound; past it the
// oldest are dropped and counted. One event a line in a file of its own;
// used by the publisher's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>

namespace rolta {

class EventQueue {
 public:
  static constexpr std::size_t kDefaultCapacity = 10000;

  // Reads what a former run left in the file (an empty path keeps the
  // events in memory only).
  explicit EventQueue(std::filesystem::path file, std::size_t capacity = kDefaultCapacity);

  struct Entry {
    std::uint64_t key = 0;  // unique in this queue, for the broker's acknowledgement
    std::string message;
  };

  // Appends one event (one line of JSON: no line feed in it).
  void Push(std::string message);
  // The broker took it: forget it.
  void Remove(std::uint64_t key);
  // Writes the file anew after removals; cheap when nothing changed.
  void Flush();

  const std::deque<Entry>& Entries() const { return entries_; }
  std::size_t Size() const { return entries_.size(); }
  // Events dropped for room since the count was last taken, this run and before.
  std::uint64_t Dropped() const { return dropped_; }
  std::uint64_t TakeDropped();
  std::uint64_t DroppedThisRun() const { return droppedThisRun_; }

 private:
  void Rewrite();
  void Append(const std::string& line);

  std::filesystem::path file_;
  std::size_t capacity_;
  std::deque<Entry> entries_;
  std::uint64_t nextKey_ = 1;
  std::uint64_t dropped_ = 0;
  std::uint64_t droppedThisRun_ = 0;
  bool dirty_ = false;
};

}  // namespace rolta
