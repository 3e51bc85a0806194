#include "jobs.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <new>

#include "failure.h"

namespace zv {

namespace {

constexpr auto FIRST_DRAW_AFTER = std::chrono::milliseconds(400);
constexpr auto REDRAW_EVERY = std::chrono::milliseconds(100);
constexpr int BAR_WIDTH = 30;

}  // namespace

Progress::Progress(size_t units, std::string what, bool quiet)
    : what_(std::move(what)), permille_(units), enabled_(!quiet && isatty(STDERR_FILENO)) {
  for (size_t i = 0; i < units; ++i) refs_.push_back({this, i});
  if (enabled_ && units > 0) painter_ = std::thread([this] { Run(); });
}

Progress::~Progress() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (painter_.joinable()) painter_.join();
  if (drawn_) std::fputs("\r\033[K", stderr);
}

void Progress::Set(size_t unit, double fraction) {
  permille_[unit].store(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000));
}

ProgressSink Progress::Sink(size_t unit) {
  return {[](void* ref, double fraction) {
            auto* r = static_cast<UnitRef*>(ref);
            r->owner->Set(r->unit, fraction);
          },
          &refs_[unit]};
}

void Progress::Draw() const {
  long sum = 0;
  size_t done = 0;
  for (const auto& p : permille_) {
    const int v = p.load();
    sum += v;
    done += v >= 1000;
  }
  const double fraction =
      static_cast<double>(sum) / (1000.0 * static_cast<double>(permille_.size()));
  const auto filled = static_cast<size_t>(fraction * BAR_WIDTH);
  fmt::print(stderr, "\r[{}{}] {:3.0f}%  {}/{} {}\033[K", std::string(filled, '#'),
             std::string(static_cast<size_t>(BAR_WIDTH) - filled, '.'), fraction * 100, done,
             permille_.size(), what_);
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
                                const std::function<void(size_t, ProgressSink)>& job,
                                Progress& progress) {
  const size_t count = inputs.size();
  std::vector<JobOutcome> outcomes(count);
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < count;) {
      try {
        job(i, progress.Sink(i));
      } catch (const Failure& f) {
        outcomes[i] = {false, f.ExitStatus(), f.what()};
      } catch (const std::bad_alloc&) {
        outcomes[i] = {false, EXIT_FILE_FAILURE, inputs[i] + ": out of memory"};
      } catch (const std::exception& e) {
        outcomes[i] = {false, EXIT_FILE_FAILURE, fmt::format("{}: {}", inputs[i], e.what())};
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

}  // namespace zv
