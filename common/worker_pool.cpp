#include "worker_pool.h"

#include <system_error>
#include <utility>

#include "platform.h"

namespace quiver {
namespace {

// Set on the pool's own threads, which help while they wait.
thread_local bool pool_thread = false;

}  // namespace

WorkerPool::WorkerPool(int threads, void (*thread_end)()) {
  NewThreadSignalMask mask;
  for (int i = 0; i < threads; ++i) {
    try {
      threads_.emplace_back([this, thread_end] {
        pool_thread = true;
        Work();
        if (thread_end != nullptr) thread_end();
      });
    } catch (const std::system_error&) {
      break;
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    for (auto* queue : {&urgent_, &queue_}) {
      for (PoolTask* task : *queue) {
        task->queued_ = false;
        task->done_ = true;
      }
      queue->clear();
    }
  }
  work_.notify_all();
  ended_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Submit(PoolTask& task, bool urgent) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task.queued_ = true;
    task.urgent_ = urgent;
    task.done_ = false;
    task.awaited_ = false;
    task.error_ = nullptr;
    (urgent ? urgent_ : queue_).push_back(&task);
  }
  work_.notify_one();
  if (urgent) ended_.notify_all();
}

void WorkerPool::Unqueue(PoolTask& task) {
  auto& queue = task.urgent_ ? urgent_ : queue_;
  queue.erase(std::find(queue.begin(), queue.end(), &task));
  task.queued_ = false;
}

PoolTask* WorkerPool::Next() {
  if (!urgent_.empty()) return urgent_.front();
  return queue_.empty() ? nullptr : queue_.front();
}

void WorkerPool::Run(PoolTask& task, std::unique_lock<std::mutex>& lock) {
  Unqueue(task);
  lock.unlock();
  std::exception_ptr error;
  try {
    task.run_();
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  task.error_ = error;
  task.done_ = true;
  if (task.awaited_) ended_.notify_all();
}

void WorkerPool::Wait(PoolTask& task) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!task.done_) {
    // The submitting thread leaves the work to the pool's threads, so that no
    // more threads run than the pool has, unless the pool has none.
    if (task.queued_ && (pool_thread || threads_.empty()))
      Run(task, lock);
    else if (pool_thread && !urgent_.empty())
      Run(*urgent_.front(), lock);
    else {
      task.awaited_ = true;
      ended_.wait(lock);
    }
  }
  if (task.error_) std::rethrow_exception(std::exchange(task.error_, nullptr));
}

void WorkerPool::Cancel(PoolTask& task) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (task.queued_) {
    Unqueue(task);
    task.done_ = true;
  }
  task.awaited_ = true;
  ended_.wait(lock, [&task] { return task.done_; });
  task.error_ = nullptr;
}

void WorkerPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return closing_ || Next() != nullptr; });
    if (closing_) return;
    Run(*Next(), lock);
  }
}

}  // namespace quiver
