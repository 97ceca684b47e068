// The worker pool: tasks that wait for tasks of their own never deadlock,
// whatever the number of threads, and a task's exception reaches its waiter.
// Work done ahead on it is taken in order, once, or dropped.
#include "worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "ahead_of_order.h"

namespace quiver {
namespace {

// Each outer task submits urgent inner tasks and waits for them all, as a
// member coded in blocks does.
int RunNested(WorkerPool& pool, int outer_count, int inner_count) {
  std::atomic<int> done{0};
  std::vector<std::unique_ptr<PoolTask>> outer;
  for (int i = 0; i < outer_count; ++i) {
    outer.push_back(std::make_unique<PoolTask>([&pool, &done, inner_count] {
      std::vector<std::unique_ptr<PoolTask>> inner;
      for (int j = 0; j < inner_count; ++j) {
        inner.push_back(std::make_unique<PoolTask>([&done] { ++done; }));
        pool.Submit(*inner.back(), true);
      }
      for (auto& task : inner) pool.Wait(*task);
    }));
    pool.Submit(*outer.back());
  }
  for (auto& task : outer) pool.Wait(*task);
  return done;
}

TEST(WorkerPoolTest, NestedWaitsFinishOnAnyNumberOfThreads) {
  for (int threads : {0, 1, 2, 4}) {
    WorkerPool pool(threads);
    EXPECT_EQ(RunNested(pool, 8, 6), 48) << threads << " threads";
  }
}

TEST(WorkerPoolTest, ATaskThatThrowsThrowsAgainInItsWaiter) {
  WorkerPool pool(2);
  PoolTask failing([] { throw std::bad_alloc(); });
  PoolTask fine([] {});
  pool.Submit(failing);
  pool.Submit(fine);
  EXPECT_THROW(pool.Wait(failing), std::bad_alloc);
  EXPECT_NO_THROW(pool.Wait(fine));
}

TEST(WorkerPoolTest, CancelTakesBackWhatNoThreadStarted) {
  WorkerPool pool(0);
  bool ran = false;
  PoolTask task([&ran] { ran = true; });
  pool.Submit(task);
  pool.Cancel(task);
  pool.Wait(task);
  EXPECT_FALSE(ran);
}

// A taker slower than the pool, as quiverx's is, so that the threads run
// ahead: each item is taken once and in order, also after the work ahead
// was dropped midway (a member written in turn) and when the taking stops
// early, and what was made for an item and not taken is dropped.
struct Counted {
  std::atomic<int> made{0};
  std::atomic<int> dropped{0};
  AheadOfOrder<int> Ahead(WorkerPool& pool, std::size_t failing) {
    return AheadOfOrder<int>(
        pool, 500, 8,
        [this, failing](std::size_t item) {
          if (item == failing) throw std::bad_alloc();
          ++made;
          return static_cast<int>(item);
        },
        [this](int&) { ++dropped; });
  }
};

void TakeSlowly(AheadOfOrder<int>& ahead, int count, int drop_every) {
  for (int item = 0; item < count; ++item) {
    ASSERT_EQ(ahead.Take(), item);
    if (item % drop_every == drop_every - 1) ahead.DropAhead();
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
}

TEST(WorkerPoolTest, WorkAheadIsTakenInOrderOrDropped) {
  for (int threads : {0, 1, 3}) {
    WorkerPool pool(threads);
    Counted counted;
    {
      auto ahead = counted.Ahead(pool, 1000);
      TakeSlowly(ahead, 400, 97);
    }
    EXPECT_EQ(counted.made - counted.dropped, 400) << threads << " threads";
  }
}

TEST(WorkerPoolTest, WorkAheadThatThrowsThrowsWhenTaken) {
  WorkerPool pool(2);
  Counted counted;
  {
    auto ahead = counted.Ahead(pool, 20);
    TakeSlowly(ahead, 20, 1000);
    EXPECT_THROW(ahead.Take(), std::bad_alloc);
  }
  EXPECT_EQ(counted.made - counted.dropped, 20);
}

}  // namespace
}  // namespace quiver
