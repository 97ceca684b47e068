// Work on the members of a run done side by side on the pool, ahead of the
// thread that takes the results one by one in the run's order: that thread
// alone reports and puts things in place, so the transcript and what is on
// disk are those of a run that does every member in turn.
//
// Each pool thread runs one loop that claims the next item not yet claimed,
// at most `window` items past the one taken next, and leaves its result in
// that item's slot of a ring of `window` slots: the slot of item i is free
// again once item i - window has been taken. Items are claimed one by one
// and waited for one by one, so the taker never waits for more than the item
// it needs; a thread that finds nothing to do spins briefly before it sleeps,
// as a wake-up costs more than most members take. The taker prepares an item
// itself when no thread has claimed it yet. A result not taken (the run
// stopped, or DropAhead) goes to `drop`.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "worker_pool.h"

namespace quiver {

template <typename Result>
class AheadOfOrder {
 public:
  AheadOfOrder(WorkerPool& pool, std::size_t count, std::size_t window,
               std::function<Result(std::size_t)> prepare, std::function<void(Result&)> drop)
      : pool_(pool),
        count_(count),
        window_(std::max<std::size_t>(window, 1)),
        prepare_(std::move(prepare)),
        drop_(std::move(drop)),
        slots_(window_) {}
  ~AheadOfOrder() { DropAhead(); }
  AheadOfOrder(const AheadOfOrder&) = delete;
  AheadOfOrder& operator=(const AheadOfOrder&) = delete;

  // The result for item `next`, the items taken so far being 0 to next - 1.
  // Throws what preparing it threw.
  Result Take() {
    if (loops_.empty()) Start();
    const std::size_t item = next_;
    Slot& slot = slots_[item % window_];
    Result result;
    std::size_t unclaimed = item;
    if (claimed_.compare_exchange_strong(unclaimed, item + 1)) {
      result = prepare_(item);
    } else {
      AwaitTrue(slot.ready);
      slot.ready.store(false, std::memory_order_relaxed);
      if (slot.error) std::rethrow_exception(std::exchange(slot.error, nullptr));
      result = std::move(slot.result);
    }
    ++next_;
    limit_.store(next_ + window_, std::memory_order_release);
    if ((next_ + window_) % Refill() == 0) limit_.notify_all();
    return result;
  }

  // Stops the work on the items not yet taken: what it made goes to `drop`,
  // and those items are worked on again when due.
  void DropAhead() {
    if (loops_.empty()) return;
    limit_.store(kStopped, std::memory_order_release);
    limit_.notify_all();
    for (auto& loop : loops_) pool_.Cancel(*loop);
    loops_.clear();
    for (std::size_t item = next_; item < claimed_.load(); ++item) {
      Slot& slot = slots_[item % window_];
      if (slot.ready.load(std::memory_order_relaxed) && !slot.error) drop_(slot.result);
      slot.error = nullptr;
      slot.ready.store(false, std::memory_order_relaxed);
    }
    claimed_.store(next_);
  }

 private:
  static constexpr std::size_t kStopped = std::numeric_limits<std::size_t>::max();
  // Polls before sleeping: about the time of a short member.
  static constexpr int kSpins = 4000;

  struct Slot {
    std::atomic<bool> ready{false};
    Result result{};
    std::exception_ptr error;
  };

  static void AwaitTrue(std::atomic<bool>& flag) {
    for (int spin = 0; spin < kSpins; ++spin)
      if (flag.load(std::memory_order_acquire)) return;
    while (!flag.load(std::memory_order_acquire)) flag.wait(false, std::memory_order_acquire);
  }

  void Start() {
    limit_.store(next_ + window_, std::memory_order_release);
    for (int i = 0; i < pool_.threads(); ++i) {
      loops_.push_back(std::make_unique<PoolTask>([this] { Loop(); }));
      pool_.Submit(*loops_.back());
    }
  }

  void Loop() {
    for (;;) {
      const std::size_t limit = limit_.load(std::memory_order_acquire);
      if (limit == kStopped || claimed_.load() >= count_) return;
      if (!ClaimAndPrepare(limit)) AwaitLimit(limit / Refill() * Refill() + Refill());
    }
  }

  // Claims the next item below `limit`, prepares it and leaves it in its
  // slot; false when there was none.
  bool ClaimAndPrepare(std::size_t limit) {
    std::size_t item = claimed_.load();
    do {
      if (item >= limit || item >= count_) return false;
    } while (!claimed_.compare_exchange_weak(item, item + 1));
    Slot& slot = slots_[item % window_];
    try {
      slot.result = prepare_(item);
    } catch (...) {
      slot.error = std::current_exception();
    }
    slot.ready.store(true, std::memory_order_release);
    slot.ready.notify_one();
    return true;
  }

  // A thread that found the window full sleeps until a part of it is free
  // again: waking it for every item taken would cost more than the item.
  std::size_t Refill() const { return std::max<std::size_t>(window_ / 4, 1); }

  void AwaitLimit(std::size_t target) {
    for (int spin = 0; spin < kSpins; ++spin)
      if (limit_.load(std::memory_order_acquire) >= target) return;
    for (;;) {
      const std::size_t limit = limit_.load(std::memory_order_acquire);
      if (limit >= target) return;
      limit_.wait(limit, std::memory_order_acquire);
    }
  }

  WorkerPool& pool_;
  const std::size_t count_;
  const std::size_t window_;
  std::function<Result(std::size_t)> prepare_;
  std::function<void(Result&)> drop_;
  std::vector<Slot> slots_;
  std::vector<std::unique_ptr<PoolTask>> loops_;
  std::size_t next_ = 0;                 // the item taken next
  std::atomic<std::size_t> claimed_{0};  // the items before it are claimed
  std::atomic<std::size_t> limit_{0};    // items below it may be claimed, or kStopped
};

}  // namespace quiver
