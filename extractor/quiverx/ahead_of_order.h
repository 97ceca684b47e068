// Work on the members of a run done side by side on the pool, ahead of the
// thread that takes the results one by one in the run's order: that thread
// alone reports and puts things in place, so the transcript and what is on
// disk are those of a run that does every member in turn.
//
// At most `window` members are worked on ahead of the one taken next. A
// result not taken (the run stopped, or DropAhead) goes to `drop`.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

#include "worker_pool.h"

namespace quiver {

template <typename Result>
class AheadOfOrder {
 public:
  AheadOfOrder(WorkerPool& pool, std::size_t count, std::size_t window,
               std::function<Result(std::size_t)> prepare, std::function<void(Result&)> drop)
      : pool_(pool),
        count_(count),
        window_(window),
        prepare_(std::move(prepare)),
        drop_(std::move(drop)) {}
  ~AheadOfOrder() { DropAhead(); }
  AheadOfOrder(const AheadOfOrder&) = delete;
  AheadOfOrder& operator=(const AheadOfOrder&) = delete;

  // The result for item `next`, the items taken so far being 0 to next - 1.
  Result Take() {
    while (jobs_.size() < window_ && next_ + jobs_.size() < count_) Start(next_ + jobs_.size());
    Job& job = *jobs_.front();
    pool_.Wait(job.task);
    Result result = std::move(job.result);
    jobs_.pop_front();
    ++next_;
    return result;
  }

  // Drops the work on the items not yet taken: what it made goes to `drop`,
  // and those items are worked on again when due.
  void DropAhead() {
    for (auto& job : jobs_) {
      pool_.Cancel(job->task);
      if (job->started) drop_(job->result);
    }
    jobs_.clear();
  }

 private:
  struct Job {
    explicit Job(AheadOfOrder& owner, std::size_t item)
        : task([this, &owner, item] {
            started = true;
            result = owner.prepare_(item);
          }) {}
    Result result{};
    bool started = false;
    PoolTask task;
  };

  void Start(std::size_t item) {
    jobs_.push_back(std::make_unique<Job>(*this, item));
    pool_.Submit(jobs_.back()->task);
  }

  WorkerPool& pool_;
  const std::size_t count_;
  const std::size_t window_;
  std::function<Result(std::size_t)> prepare_;
  std::function<void(Result&)> drop_;
  std::size_t next_ = 0;
  std::deque<std::unique_ptr<Job>> jobs_;
};

}  // namespace quiver
