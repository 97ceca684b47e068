// Work on the members of a run done side by side on the pool, ahead of the
// thread that takes the results one by one in the run's order: that thread
// alone reports and puts things in place, so the transcript and what is on
// disk are those of a run that does every member in turn.
//
// At most `window` members are worked on ahead of the one taken next, in
// tasks of `run` members each: a task per member would cost more in waking
// threads than most members take. A result not taken (the run stopped, or
// DropAhead) goes to `drop`.
#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "worker_pool.h"

namespace quiver {

template <typename Result>
class AheadOfOrder {
 public:
  AheadOfOrder(WorkerPool& pool, std::size_t count, std::size_t window, std::size_t run,
               std::function<Result(std::size_t)> prepare, std::function<void(Result&)> drop)
      : pool_(pool),
        count_(count),
        window_(std::max(window, run)),
        run_(run),
        prepare_(std::move(prepare)),
        drop_(std::move(drop)) {}
  ~AheadOfOrder() { DropAhead(); }
  AheadOfOrder(const AheadOfOrder&) = delete;
  AheadOfOrder& operator=(const AheadOfOrder&) = delete;

  // The result for item `next`, the items taken so far being 0 to next - 1.
  Result Take() {
    while (end_ - next_ + run_ <= window_ && end_ < count_) Start();
    Job& job = *jobs_.front();
    pool_.Wait(job.task);
    Result result = std::move(job.results[next_ - job.first]);
    if (++next_ == job.first + job.results.size()) jobs_.pop_front();
    return result;
  }

  // Drops the work on the items not yet taken: what it made goes to `drop`,
  // and those items are worked on again when due.
  void DropAhead() {
    for (auto& job : jobs_) {
      pool_.Cancel(job->task);
      for (std::size_t k = std::max(next_, job->first) - job->first; k < job->made; ++k)
        drop_(job->results[k]);
    }
    jobs_.clear();
    end_ = next_;
  }

 private:
  struct Job {
    Job(AheadOfOrder& owner, std::size_t first_item, std::size_t items)
        : first(first_item), results(items), task([this, &owner] {
            for (; made < results.size(); ++made) results[made] = owner.prepare_(first + made);
          }) {}
    std::size_t first;
    std::vector<Result> results;
    std::size_t made = 0;  // results[0 to made) were made
    PoolTask task;
  };

  void Start() {
    const std::size_t items = std::min(run_, count_ - end_);
    jobs_.push_back(std::make_unique<Job>(*this, end_, items));
    end_ += items;
    pool_.Submit(jobs_.back()->task);
  }

  WorkerPool& pool_;
  const std::size_t count_;
  const std::size_t window_;
  const std::size_t run_;
  std::function<Result(std::size_t)> prepare_;
  std::function<void(Result&)> drop_;
  std::size_t next_ = 0;  // the item taken next
  std::size_t end_ = 0;   // the items before it are in jobs, taken or not
  std::deque<std::unique_ptr<Job>> jobs_;
};

}  // namespace quiver
