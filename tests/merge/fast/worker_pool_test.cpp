#include "merge/fast/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

using lumifold::WorkerPool;

TEST(WorkerPool, RunsEveryTaskExactlyOnceOnAnyNumberOfThreads) {
  for (int threads : {0, 1, 2, 5}) {
    WorkerPool pool(threads);
    EXPECT_EQ(pool.size(), threads < 1 ? 1 : threads);
    for (int count : {0, 1, 7, 1000}) {
      std::vector<std::atomic<int>> runs(count);
      std::atomic<bool> badWorker{false};
      pool.run(count, [&](int task, int worker) {
        runs[task].fetch_add(1);
        if (worker < 0 || worker >= pool.size()) badWorker = true;
      });
      for (int t = 0; t < count; ++t) ASSERT_EQ(runs[t].load(), 1) << threads << " threads, task " << t;
      EXPECT_FALSE(badWorker);
    }
  }
  EXPECT_GE(WorkerPool::availableCores(), 1);
}

TEST(WorkerPool, RethrowsTheLowestFailingTaskOnceAllHaveRun) {
  for (int threads : {1, 2, 4}) {
    WorkerPool pool(threads);
    std::atomic<int> ran{0};
    try {
      pool.run(64, [&](int task, int) {
        ran.fetch_add(1);
        if (task == 41 || task == 17) throw std::runtime_error("task " + std::to_string(task));
      });
      ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "task 17");
    }
    EXPECT_EQ(ran.load(), 64);
    // The pool stays usable after a failed step.
    std::atomic<int> again{0};
    pool.run(10, [&](int, int) { again.fetch_add(1); });
    EXPECT_EQ(again.load(), 10);
  }
}
