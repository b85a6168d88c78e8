#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace SignTool {

// Runs job(i) for every i in [0, count) on at most `threads` threads of its
// own, each calling threadEnd() after its last job, and returns only when
// every thread has ended: joined threads have also run their thread-local
// destructors (OpenSSL's per-thread state among them), so nothing of theirs
// is still being freed while the process exits. A pooled thread that
// outlives its work, as in a global pool, gives no such guarantee.
template <typename Job, typename ThreadEnd>
void runInParallel(size_t count, size_t threads, const Job& job, const ThreadEnd& threadEnd)
{
    std::atomic<size_t> next {0};
    std::vector<std::thread> workers;
    const size_t started = std::max<size_t>(1, std::min(threads, count));
    workers.reserve(started);
    for (size_t i = 0; i < started && i < count; ++i) {
        workers.emplace_back([&] {
            for (size_t index = next.fetch_add(1); index < count; index = next.fetch_add(1))
                job(index);
            threadEnd();
        });
    }
    for (std::thread& worker : workers)
        worker.join();
}

} // namespace SignTool
