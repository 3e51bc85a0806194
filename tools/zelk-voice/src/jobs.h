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

// A bar on stderr over units of work of the given weights (an input's size,
// say), drawn only when stderr is a terminal, not quieted, and once the work
// has taken more than a moment. It only moves forward: each unit keeps the
// largest fraction reported for it. It redraws in place, cut to the
// terminal's width, and Stop() erases it.
class Progress {
 public:
  Progress(std::vector<double> weights, std::string what, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Set(size_t unit, double fraction);  // fraction of that unit done, 0..1
  ProgressSink Sink(size_t unit);
  void Stop();  // erases the bar; call before printing results

 private:
  struct UnitRef {
    Progress* owner;
    size_t unit;
  };
  void Draw();
  void Run();

  std::string what_;
  std::vector<double> weights_;
  std::vector<std::atomic<int>> permille_;
  std::vector<UnitRef> refs_;
  bool enabled_;
  bool drawn_ = false;
  int lastPermille_ = 0;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread painter_;
};

// What a job has to say when it succeeds: one summary line and any warnings.
struct JobReport {
  std::string summary;
  std::vector<std::string> warnings;
};

struct JobOutcome {
  bool ok = true;
  int exitStatus = 0;
  std::string message;  // the failure
  JobReport report;
};

// Runs job(i, sink) for every input on up to one thread per core. A job reports
// failure by throwing (a Failure carries its own message; anything else is
// prefixed with the input's name); the outcomes come back in input order.
std::vector<JobOutcome> RunJobs(const std::vector<std::string>& inputs,
                                const std::function<JobReport(size_t, ProgressSink)>& job,
                                Progress& progress);

// Stops the bar, then prints, in input order, each job's warnings ("zelk-voice:
// warning: ...") and summary unless quiet, or its failure; returns the exit
// status. Summaries go to stderr when standard output carries audio.
int ReportOutcomes(const std::vector<JobOutcome>& outcomes, Progress& progress, bool quiet,
                   bool summariesToStderr = false);

// Progress weights for inputs: their sizes when every one is a regular file,
// else equal.
std::vector<double> InputWeights(const std::vector<std::string>& inputs);

}  // namespace zv
