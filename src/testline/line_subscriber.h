// The line view's connection: subscribes to every bench's state, live and
// event topics under the prefix (nothing else) and keeps a LineTable, read
// from any thread as a copy.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "testline/line_table.h"
#include "testline/mqtt_client.h"
#include "testline/testline_settings.h"

namespace rolta {

class LineSubscriber {
 public:
  explicit LineSubscriber(const TestLineSettings& settings);
  ~LineSubscriber();
  LineSubscriber(const LineSubscriber&) = delete;
  LineSubscriber& operator=(const LineSubscriber&) = delete;

  bool Start(std::string* error = nullptr);
  bool Connected() const;
  std::vector<BenchRow> Rows() const;
  DelayFigures Delays() const;

 private:
  struct Shared {
    mutable std::mutex mutex;
    LineTable table;
    bool connected = false;
    explicit Shared(std::string prefix) : table(std::move(prefix)) {}
  };
  TestLineSettings settings_;
  std::string prefix_;
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<MqttClient> client_;
};

}  // namespace rolta
