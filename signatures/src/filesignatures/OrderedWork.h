#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace PackageSignatures {

// Work handed in one item at a time by one thread (the producer) and done on
// a few threads of its own, with the results handed back to the producer in
// the order the items came in. At most `window` items are in flight at once
// (handed in, not yet handed back), so memory does not depend on how many
// items there are, and the producer waits while the workers catch up.
//
// With fewer than two threads, or when no thread can be started, each item
// is done on the producer's thread as it is handed in: the same results in
// the same order, only later.
//
// Every worker thread gets its own Work from makeWork (what a thread may
// not share, such as an OpenSSL context, lives there) and calls threadEnd
// once before it ends. All threads are joined before finish() or the
// destructor returns.
template <typename Input, typename Output>
class OrderedWork {
public:
    using Work = std::function<std::optional<Output>(const Input&)>;
    // Receives each item and its result (empty when the work failed), in the
    // order the items came in; returning false stops everything.
    using Deliver = std::function<bool(const Input&, std::optional<Output>&)>;

    OrderedWork(size_t threads, size_t window, std::function<Work()> makeWork, Deliver deliver,
                std::function<void()> threadEnd)
        : m_slots(std::max<size_t>(1, window))
        , m_makeWork(std::move(makeWork))
        , m_deliver(std::move(deliver))
        , m_threadEnd(std::move(threadEnd))
    {
        for (size_t i = 0; threads >= 2 && i < threads; ++i) {
            try {
                m_workers.emplace_back([this] { workerLoop(); });
            } catch (const std::system_error&) {
                break;
            }
        }
        if (m_workers.empty())
            m_inlineWork = m_makeWork();
    }

    ~OrderedWork() { stop(); }

    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;

    size_t threads() const { return m_workers.size(); }

    // Hands in the next item. False once the work or the delivery of an
    // earlier item has failed; the item is then dropped.
    bool submit(Input input)
    {
        if (m_workers.empty()) {
            if (m_failed)
                return false;
            std::optional<Output> output = m_inlineWork ? m_inlineWork(input) : std::nullopt;
            m_failed = !m_deliver(input, output);
            return !m_failed;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_failed && m_submitted - m_delivered == m_slots.size()) {
            if (!deliverFinished(lock))
                m_slotDone.wait(lock);
        }
        if (m_failed)
            return false;
        Slot& slot = m_slots[m_submitted % m_slots.size()];
        slot.input = std::move(input);
        slot.output.reset();
        slot.done = false;
        ++m_submitted;
        m_workAvailable.notify_one();
        return true;
    }

    // Waits for every item handed in, hands back the rest of the results and
    // ends the threads. True when every item was done and delivered.
    bool finish()
    {
        if (!m_workers.empty()) {
            std::unique_lock<std::mutex> lock(m_mutex);
            while (!m_failed && m_delivered < m_submitted) {
                if (!deliverFinished(lock))
                    m_slotDone.wait(lock);
            }
        }
        stop();
        return !m_failed;
    }

private:
    struct Slot {
        Input input {};
        std::optional<Output> output;
        bool done = false;
    };

    // Hands back the finished results at the head of the order, without the
    // lock held; false when there was none to hand back.
    bool deliverFinished(std::unique_lock<std::mutex>& lock)
    {
        bool delivered = false;
        while (!m_failed && m_delivered < m_submitted) {
            Slot& slot = m_slots[m_delivered % m_slots.size()];
            if (!slot.done)
                break;
            // Workers leave a finished slot alone, and it is not reused
            // before it counts as delivered.
            lock.unlock();
            const bool accepted = m_deliver(slot.input, slot.output);
            slot.output.reset();
            lock.lock();
            ++m_delivered;
            delivered = true;
            if (!accepted) {
                m_failed = true;
                m_workAvailable.notify_all();
            }
        }
        return delivered;
    }

    void workerLoop()
    {
        Work work = m_makeWork();
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_workAvailable.wait(lock, [this] { return m_stopping || m_failed || m_taken < m_submitted; });
            if (m_stopping || m_failed)
                break;
            Slot& slot = m_slots[m_taken % m_slots.size()];
            ++m_taken;
            lock.unlock();
            std::optional<Output> output = work ? work(slot.input) : std::nullopt;
            lock.lock();
            slot.output = std::move(output);
            slot.done = true;
            m_slotDone.notify_one();
        }
        lock.unlock();
        work = nullptr;
        if (m_threadEnd)
            m_threadEnd();
    }

    void stop()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_workAvailable.notify_all();
        for (std::thread& worker : m_workers) {
            if (worker.joinable())
                worker.join();
        }
    }

    std::vector<Slot> m_slots;
    std::function<Work()> m_makeWork;
    Deliver m_deliver;
    std::function<void()> m_threadEnd;
    Work m_inlineWork;
    std::vector<std::thread> m_workers;

    std::mutex m_mutex;
    std::condition_variable m_workAvailable;
    std::condition_variable m_slotDone;
    size_t m_submitted = 0; // items handed in
    size_t m_taken = 0;     // items a worker has started
    size_t m_delivered = 0; // results handed back
    bool m_failed = false;
    bool m_stopping = false;
};

} // namespace PackageSignatures
