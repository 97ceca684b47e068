// The one set of threads that runs a run's parallel work: side-by-side
// compression of members and the blocks of a long member.
//
// Who owns what: the pool owns its threads; each calls the `thread_end`
// given to the pool as it ends, so that a user's per-thread scratch (the
// coder's, thread_scratch.h) goes with the thread. A task belongs to whoever
// submits it, who keeps it alive and unmoved until Wait or Cancel has
// returned for it. A task may submit and wait for tasks of its own.
//
// How many threads: as many as asked for, and the submitting thread only
// hands out work and waits. A pool thread that waits for a task runs it
// itself when no thread has taken it yet, so waiting never deadlocks (a
// task waits only for tasks it submitted); while the task runs elsewhere it
// runs urgent tasks, which never wait themselves. A pool that got no thread
// at all runs each task on the thread that waits for it.
//
// Failures: an exception thrown by a task (std::bad_alloc) is kept with it
// and thrown again by Wait on the waiting thread. When the system refuses a
// thread, the pool goes on with the threads it has, down to none.
//
// Shutdown: the destructor drops tasks still queued and joins the threads
// once their current tasks end; no asynchronous signal ever reaches them.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quiver {

class PoolTask {
 public:
  explicit PoolTask(std::function<void()> run) : run_(std::move(run)) {}
  PoolTask(const PoolTask&) = delete;
  PoolTask& operator=(const PoolTask&) = delete;

 private:
  friend class WorkerPool;
  std::function<void()> run_;
  bool queued_ = false;
  bool urgent_ = false;
  bool done_ = true;
  bool awaited_ = false;  // a thread waits for its end, to be woken then
  std::exception_ptr error_;
};

class WorkerPool {
 public:
  explicit WorkerPool(int threads, void (*thread_end)() = nullptr);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // The threads it has, at least 1 even when the system gave it none: the
  // waiter then runs every task.
  int threads() const { return std::max<int>(1, static_cast<int>(threads_.size())); }

  // Queues the task behind those of its kind. Urgent tasks go before all
  // others and must never wait for a task themselves.
  void Submit(PoolTask& task, bool urgent = false);
  // Returns once the task has run; throws what it threw.
  void Wait(PoolTask& task);
  // Takes the task back if no thread has started it, else waits for its end.
  void Cancel(PoolTask& task);

 private:
  void Work();
  // Runs `task`, taken off its queue, with the lock released meanwhile.
  void Run(PoolTask& task, std::unique_lock<std::mutex>& lock);
  void Unqueue(PoolTask& task);
  PoolTask* Next();

  std::mutex mutex_;
  // Idle threads wake for a queued task, waiters for the end of a task they
  // wait for (or an urgent task, which a waiting pool thread may run): each
  // wakes only those that can act on it, as a wake-up costs more than a
  // short task.
  std::condition_variable work_;
  std::condition_variable ended_;
  std::deque<PoolTask*> urgent_;
  std::deque<PoolTask*> queue_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace quiver
