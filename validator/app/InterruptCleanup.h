#pragma once

#include <mutex>
#include <string>
#include <thread>

namespace Validator {

// Removes the current extraction root when the process is interrupted
// (SIGINT, SIGTERM, SIGHUP) and then lets the signal end the process as it
// would have.
//
// The signals are blocked in every thread and taken by one thread of their
// own with sigwait, so the clean-up runs in ordinary code rather than in an
// asynchronous handler: it stops the unpacking tools, removes the tree and
// re-raises the signal.
class InterruptCleanup {
public:
    // Must be created before any other thread is started.
    InterruptCleanup();
    ~InterruptCleanup();
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;

    // The directory to remove on an interrupt; empty for none.
    static void setCurrentRoot(const std::string& root);

private:
    std::thread m_waiter;
};

} // namespace Validator
