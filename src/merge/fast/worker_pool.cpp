#include "merge/fast/worker_pool.h"

#include <sched.h>

#include <system_error>
#include <utility>

namespace lumifold {

WorkerPool::WorkerPool(int threads) {
  for (int worker = 1; worker < threads; ++worker) {
    // Fewer helpers only cost speed, never a result, so a refused thread is
    // not worth failing a merge for.
    try {
      helpers_.emplace_back([this, worker] { helperLoop(worker); });
    } catch (const std::system_error&) {
      break;
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
}

int WorkerPool::availableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int>(hardware) : 1;
}

void WorkerPool::run(int taskCount, const Task& task) {
  if (taskCount <= 0) return;
  {
    std::lock_guard lock(mutex_);
    task_ = &task;
    taskCount_ = taskCount;
    nextTask_ = 0;
    failedTask_ = -1;
    failure_ = nullptr;
    busyHelpers_ = static_cast<int>(helpers_.size());
    ++generation_;
  }
  wake_.notify_all();
  work(0);
  std::exception_ptr failure;
  {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return busyHelpers_ == 0; });
    task_ = nullptr;
    failure = std::exchange(failure_, nullptr);
  }
  if (failure) std::rethrow_exception(failure);
}

void WorkerPool::helperLoop(int worker) {
  std::uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
    }
    work(worker);
    {
      std::lock_guard lock(mutex_);
      --busyHelpers_;
    }
    done_.notify_one();
  }
}

void WorkerPool::work(int worker) {
  for (;;) {
    int index;
    {
      std::lock_guard lock(mutex_);
      if (nextTask_ >= taskCount_) return;
      index = nextTask_++;
    }
    try {
      (*task_)(index, worker);
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (failedTask_ < 0 || index < failedTask_) {
        failedTask_ = index;
        failure_ = std::current_exception();
      }
    }
  }
}

}  // namespace lumifold
