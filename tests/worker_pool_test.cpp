// The worker pool: tasks that wait for tasks of their own never deadlock,
// whatever the number of threads, and a task's exception reaches its waiter.
#include "worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <new>
#include <vector>

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

}  // namespace
}  // namespace quiver
