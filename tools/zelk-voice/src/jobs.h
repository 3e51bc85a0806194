// Running one job per input on all cores, with a progress bar on stderr.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec.h"

namespace zv {

// A bar on stderr for `units` pieces of work, drawn only when stderr is a
// terminal, not quieted, and only once the work has taken more than a moment.
class Progress {
 public:
  Progress(size_t units, std::string what, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Set(size_t unit, double fraction);  // fraction of that unit done, 0..1
  ProgressSink Sink(size_t unit);

 private:
  struct UnitRef {
    Progress* owner;
    size_t unit;
  };
  void Draw() const;
  void Run();

  std::string what_;
  std::vector<std::atomic<int>> permille_;
  std::vector<UnitRef> refs_;
  bool enabled_;
  bool drawn_ = false;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread painter_;
};

struct JobOutcome {
  bool ok = true;
  int exitStatus = 0;
  std::string message;
};

// Runs job(i, sink) for every input on up to one thread per core. A job reports
// failure by throwing (a Failure carries its own message; anything else is
// prefixed with the input's name); the outcomes come back in input order.
std::vector<JobOutcome> RunJobs(const std::vector<std::string>& inputs,
                                const std::function<void(size_t, ProgressSink)>& job,
                                Progress& progress);

}  // namespace zv
