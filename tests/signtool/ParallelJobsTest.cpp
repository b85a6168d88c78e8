// The sign command's threads: every job runs once, and every thread has
// ended, its thread-local state gone, when the jobs return.

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "ParallelJobs.h"
#include "TestKit.h"

using TestKit::threadsOfThisProcess;

TEST(ParallelJobs, EveryThreadHasEndedWhenTheJobsReturn)
{
    struct Case {
        size_t jobs;
        size_t threads;
        size_t expectedThreads;
    };
    for (const Case& c : {Case {16, 4, 4}, Case {3, 8, 3}, Case {1, 1, 1}, Case {0, 4, 0}}) {
        const size_t before = threadsOfThisProcess();
        std::vector<std::atomic<int>> runs(c.jobs);
        std::mutex mutex;
        std::set<std::thread::id> workers;
        std::atomic<size_t> ended {0};
        SignTool::runInParallel(
            c.jobs, c.threads,
            [&](size_t index) {
                runs[index].fetch_add(1);
                const std::lock_guard<std::mutex> lock(mutex);
                workers.insert(std::this_thread::get_id());
            },
            [&] { ended.fetch_add(1); });
        EXPECT_EQ(threadsOfThisProcess(), before) << c.jobs << " jobs";
        EXPECT_EQ(ended.load(), c.expectedThreads) << c.jobs << " jobs";
        EXPECT_LE(workers.size(), c.expectedThreads) << c.jobs << " jobs";
        EXPECT_EQ(workers.count(std::this_thread::get_id()), 0u);
        for (size_t index = 0; index < c.jobs; ++index)
            EXPECT_EQ(runs[index].load(), 1) << index;
    }
}
