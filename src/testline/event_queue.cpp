#include "testline/event_queue.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>

namespace rolta {
namespace {

// The first line of the file holds the count of events dropped and not yet reported.
constexpr std::string_view kDroppedPrefix = "#dropped ";
// A line longer than this is not one of ours.
constexpr std::size_t kMaxLine = 64 * 1024;

}  // namespace

EventQueue::EventQueue(std::filesystem::path file, std::size_t capacity)
    : file_(std::move(file)), capacity_(std::max<std::size_t>(capacity, 1)) {
  if (file_.empty()) return;
  std::ifstream in(file_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with(kDroppedPrefix)) {
      std::uint64_t count = 0;
      const std::string_view digits = std::string_view(line).substr(kDroppedPrefix.size());
      if (std::from_chars(digits.data(), digits.data() + digits.size(), count).ec == std::errc{}) dropped_ += count;
      continue;
    }
    if (line.empty() || line.size() > kMaxLine || line.front() != '{') continue;  // a line cut by a crash
    if (entries_.size() == capacity_) {
      entries_.pop_front();
      ++dropped_;
    }
    entries_.push_back({nextKey_++, std::move(line)});
  }
  dirty_ = true;
  Flush();
}

void EventQueue::Push(std::string message) {
  std::replace(message.begin(), message.end(), '\n', ' ');
  // Appended only: a line dropped here still stands in the file until the
  // next rewrite, and a restart before it counts it dropped all the same.
  Append(message);
  if (entries_.size() == capacity_) {
    entries_.pop_front();
    ++dropped_;
    ++droppedThisRun_;
    dirty_ = true;
  }
  entries_.push_back({nextKey_++, std::move(message)});
}

void EventQueue::Remove(std::uint64_t key) {
  const auto it = std::find_if(entries_.begin(), entries_.end(), [key](const Entry& e) { return e.key == key; });
  if (it == entries_.end()) return;
  entries_.erase(it);
  dirty_ = true;
}

void EventQueue::Flush() {
  if (dirty_) Rewrite();
}

std::uint64_t EventQueue::TakeDropped() {
  const std::uint64_t count = dropped_;
  if (count != 0) {
    dropped_ = 0;
    Rewrite();
  }
  return count;
}

void EventQueue::Append(const std::string& line) {
  if (file_.empty()) return;
  std::ofstream out(file_, std::ios::binary | std::ios::app);
  out << line << '\n';
}

void EventQueue::Rewrite() {
  dirty_ = false;
  if (file_.empty()) return;
  std::error_code ignored;
  if (entries_.empty() && dropped_ == 0) {
    std::filesystem::remove(file_, ignored);
    return;
  }
  if (file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path(), ignored);
  // A new file renamed over the old one: a crash leaves one or the other whole.
  std::filesystem::path next = file_;
  next += ".new";
  {
    std::ofstream out(next, std::ios::binary | std::ios::trunc);
    if (dropped_ != 0) out << kDroppedPrefix << dropped_ << '\n';
    for (const Entry& e : entries_) out << e.message << '\n';
    if (!out.flush()) return;
  }
  std::filesystem::rename(next, file_, ignored);
}

}  // namespace rolta
