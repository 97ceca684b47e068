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
// as a wake-up costs more than most members take. It sleeps on a mutex and
// a condition variable, not std::atomic::wait, which where the system has no
// futex looks at the value before it takes its lock and so loses wake-ups.
// The taker prepares an item itself when no thread has claimed it yet. A
// result not taken (the run stopped, or DropAhead) goes to `drop`.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
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
      AwaitReady(item, slot.ready);
      slot.ready.store(false, std::memory_order_relaxed);
      if (slot.error) std::rethrow_exception(std::exchange(slot.error, nullptr));
      result = std::move(slot.result);
    }
    ++next_;
    limit_.store(next_ + window_);
    if ((next_ + window_) % Refill() == 0) window_freed_.Wake();
    return result;
  }

  // Stops the work on the items not yet taken: what it made goes to `drop`,
  // and those items are worked on again when due.
  void DropAhead() {
    if (loops_.empty()) return;
    limit_.store(kStopped);
    window_freed_.Wake();
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
  // Polls before sleeping: about the time of a short member. Then a few
  // yields, which let a thread preparing the item have the core.
  static constexpr int kSpins = 4000;
  static constexpr int kYields = 4;

  struct Slot {
    std::atomic<bool> ready{false};
    Result result{};
    std::exception_ptr error;
  };

  // Where threads sleep until what they wait for has come; a waker takes
  // the lock only when someone sleeps. A waker stores its change before it
  // looks for sleepers and a sleeper counts itself before it looks for the
  // change, all in one total order (seq_cst): one of them sees the other.
  class Bed {
   public:
    template <typename Done>
    void SleepUntil(Done done) {
      sleepers_.fetch_add(1);
      {
        std::unique_lock lock(mutex_);
        woken_.wait(lock, done);
      }
      sleepers_.fetch_sub(1);
    }
    void Wake() {
      if (sleepers_.load() == 0) return;
      { const std::lock_guard lock(mutex_); }
      woken_.notify_all();
    }

   private:
    std::mutex mutex_;
    std::condition_variable woken_;
    std::atomic<int> sleepers_{0};
  };

  template <typename Done>
  static bool Spin(Done done) {
    for (int spin = 0; spin < kSpins; ++spin)
      if (done()) return true;
    for (int yield = 0; yield < kYields; ++yield) {
      std::this_thread::yield();
      if (done()) return true;
    }
    return false;
  }

  void AwaitReady(std::size_t item, std::atomic<bool>& ready) {
    const auto done = [&ready] { return ready.load(); };
    if (Spin(done)) return;
    // Only this item's thread wakes the taker: the others would take the
    // core from it for nothing.
    awaited_.store(item);
    slot_filled_.SleepUntil(done);
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
    slot.ready.store(true);
    if (awaited_.load() == item) slot_filled_.Wake();
    return true;
  }

  // A thread that found the window full sleeps until a part of it is free
  // again: waking it for every item taken would cost more than the item.
  std::size_t Refill() const { return std::max<std::size_t>(window_ / 4, 1); }

  void AwaitLimit(std::size_t target) {
    const auto done = [this, target] { return limit_.load() >= target; };
    if (Spin(done)) return;
    window_freed_.SleepUntil(done);
  }

  WorkerPool& pool_;
  const std::size_t count_;
  const std::size_t window_;
  std::function<Result(std::size_t)> prepare_;
  std::function<void(Result&)> drop_;
  std::vector<Slot> slots_;
  std::vector<std::unique_ptr<PoolTask>> loops_;
  std::size_t next_ = 0;                        // the item taken next
  std::atomic<std::size_t> claimed_{0};         // the items before it are claimed
  std::atomic<std::size_t> limit_{0};           // items below it may be claimed, or kStopped
  std::atomic<std::size_t> awaited_{kStopped};  // the item the taker may sleep for
  Bed slot_filled_;                             // the taker, for that item
  Bed window_freed_;                            // the loops, for a raised limit
};

}  // namespace quiver
