// WorkerPool: runs the tasks of one parallel step on the calling thread and
// on helper threads that live as long as the pool.
//
// run() hands out task indices 0, 1, 2, ... to whichever thread is free and
// returns when every task has finished. A task must write only what belongs
// to its own index (and use per-worker scratch through its worker number),
// so results never depend on the number of threads or on the schedule.
// When tasks throw, run() lets the remaining tasks finish and then rethrows
// the exception of the lowest task index. run() is not reentrant and must be
// called from one thread at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace lumifold {

class WorkerPool {
public:
  using Task = std::function<void(int task, int worker)>;

  // threads counts the caller; values below 1 mean 1. Where the system
  // refuses to start a helper thread the pool runs with fewer.
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Threads that take part in run(), the caller included; worker numbers
  // passed to a task lie in 0 .. size() - 1.
  int size() const { return static_cast<int>(helpers_.size()) + 1; }

  void run(int taskCount, const Task& task);

  // The cores this process may run on (its CPU affinity), at least 1.
  static int availableCores();

private:
  void helperLoop(int worker);
  void work(int worker);

  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::uint64_t generation_ = 0;
  bool stopping_ = false;
  int busyHelpers_ = 0;

  // The step being run; guarded by mutex_ except for the counter.
  const Task* task_ = nullptr;
  int taskCount_ = 0;
  int nextTask_ = 0;
  int failedTask_ = -1;
  std::exception_ptr failure_;
};

}  // namespace lumifold
