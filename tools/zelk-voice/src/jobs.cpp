#include "jobs.h"

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <new>
#include <numeric>

#include "failure.h"
#include "input_stream.h"

namespace zv {

namespace {

constexpr auto FIRST_DRAW_AFTER = std::chrono::milliseconds(400);
constexpr auto REDRAW_EVERY = std::chrono::milliseconds(100);
constexpr size_t BAR_WIDTH = 30;
constexpr size_t MIN_BAR_WIDTH = 5;

size_t TerminalColumns() {
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

}  // namespace

Progress::Progress(std::vector<double> weights, std::string what, bool quiet)
    : what_(std::move(what)),
      weights_(std::move(weights)),
      permille_(weights_.size()),
      enabled_(!quiet && isatty(STDERR_FILENO)) {
  for (size_t i = 0; i < weights_.size(); ++i) refs_.push_back({this, i});
  if (enabled_ && !weights_.empty()) painter_ = std::thread([this] { Run(); });
}

Progress::~Progress() { Stop(); }

void Progress::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stop_) return;
    stop_ = true;
  }
  wake_.notify_all();
  if (painter_.joinable()) painter_.join();
  if (drawn_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
}

void Progress::Set(size_t unit, double fraction) {
  const int value = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000);
  std::atomic<int>& slot = permille_[unit];
  int seen = slot.load();
  while (value > seen && !slot.compare_exchange_weak(seen, value)) {
  }
}

ProgressSink Progress::Sink(size_t unit) {
  return {[](void* ref, double fraction) {
            auto* r = static_cast<UnitRef*>(ref);
            r->owner->Set(r->unit, fraction);
          },
          &refs_[unit]};
}

void Progress::Draw() {
  double total = 0, done = 0;
  size_t finished = 0;
  for (size_t i = 0; i < weights_.size(); ++i) {
    const int v = permille_[i].load();
    total += weights_[i];
    done += weights_[i] * v / 1000.0;
    finished += v >= 1000;
  }
  const int permille = std::max(lastPermille_, static_cast<int>(done / total * 1000));
  lastPermille_ = permille;
  const std::string text =
      fmt::format("{:3d}%  {}/{} {}", permille / 10, finished, weights_.size(), what_);
  // Never reach the last column: some terminals wrap there and every redraw
  // would start a new line.
  const size_t room = TerminalColumns() - 1;
  std::string line;
  if (room >= text.size() + 3 + MIN_BAR_WIDTH) {
    const size_t width = std::min(BAR_WIDTH, room - text.size() - 3);
    const size_t filled = width * static_cast<size_t>(permille) / 1000;
    line =
        fmt::format("[{}{}] {}", std::string(filled, '#'), std::string(width - filled, '.'), text);
  } else {
    line = text.substr(0, room);
  }
  fmt::print(stderr, "\r{}\033[K", line);
  std::fflush(stderr);
}

void Progress::Run() {
  std::unique_lock lock(mutex_);
  if (wake_.wait_for(lock, FIRST_DRAW_AFTER, [this] { return stop_; })) return;
  do {
    Draw();
    drawn_ = true;
  } while (!wake_.wait_for(lock, REDRAW_EVERY, [this] { return stop_; }));
}

std::vector<JobOutcome> RunJobs(const std::vector<std::string>& inputs,
                                const std::function<JobReport(size_t, ProgressSink)>& job,
                                Progress& progress) {
  const size_t count = inputs.size();
  std::vector<JobOutcome> outcomes(count);
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < count;) {
      try {
        outcomes[i].report = job(i, progress.Sink(i));
      } catch (const Failure& f) {
        outcomes[i] = {false, f.ExitStatus(), f.what(), {}};
      } catch (const std::bad_alloc&) {
        outcomes[i] = {false, EXIT_FILE_FAILURE, DisplayName(inputs[i]) + ": out of memory", {}};
      } catch (const std::exception& e) {
        outcomes[i] = {
            false, EXIT_FILE_FAILURE, fmt::format("{}: {}", DisplayName(inputs[i]), e.what()), {}};
      }
      progress.Set(i, 1.0);
    }
  };
  const size_t threads = std::min<size_t>(count, std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (auto& t : pool) t.join();
  return outcomes;
}

int ReportOutcomes(const std::vector<JobOutcome>& outcomes, Progress& progress, bool quiet,
                   bool summariesToStderr) {
  progress.Stop();
  int status = 0;
  for (const JobOutcome& o : outcomes) {
    if (!o.ok) {
      fmt::print(stderr, "zelk-voice: {}\n", o.message);
      status = std::max(status, o.exitStatus);
      continue;
    }
    if (quiet) continue;
    for (const std::string& w : o.report.warnings)
      fmt::print(stderr, "zelk-voice: warning: {}\n", w);
    if (!o.report.summary.empty()) {
      fmt::print(summariesToStderr ? stderr : stdout, "{}\n", o.report.summary);
    }
  }
  return status;
}

std::vector<double> InputWeights(const std::vector<std::string>& inputs) {
  std::vector<double> weights;
  for (const std::string& in : inputs) {
    struct stat st {};
    if (in == STDIO_NAME || stat(in.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
      return std::vector<double>(inputs.size(), 1.0);
    }
    weights.push_back(static_cast<double>(st.st_size));
  }
  return weights;
}

}  // namespace zv
