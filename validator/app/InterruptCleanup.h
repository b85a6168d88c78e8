#pragma once

#include "common/UniqueFd.h"

#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>

namespace Validator {

// Removes the current extraction roots and the report's temporary file
// when a signal ends the process (SIGINT, SIGTERM, SIGHUP, and every other
// signal whose default action ends a process and that can be caught), and
// then lets the signal end the process as it would have.
//
// The signals are blocked in every thread and read by one thread of their
// own from a signalfd, so the clean-up runs in ordinary code rather than in
// an asynchronous handler: it stops the processes that validate packages,
// waits until nothing can write into the trees any more, removes them and
// re-raises the signal.
//
// Each package is validated in a child process (several at once with
// --jobs). This process adopts whatever a child leaves running when it ends
// (it is a child subreaper), so that the tools a crashed child started are
// waited for too before its tree goes.
class InterruptCleanup {
public:
    // Must be created before any other thread is started.
    InterruptCleanup();
    ~InterruptCleanup();
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;

    // The directories to remove on an interrupt: one per package being
    // validated.
    static void addRoot(const std::string& root);
    static void removeRoot(const std::string& root);
    // The report's temporary file, `name` in the directory `directory`,
    // removed on an interrupt; an empty name for none.
    static void setReportTemporary(int directory, const std::string& name);

    // fork() for the process that validates one package, with standard
    // output and error flushed first so that lines keep their order. No
    // clean-up runs during the fork, and the child is registered before one
    // can start, so an interrupt always finds it. The child dies with this
    // process, and leaves the signals to it: they stay blocked there, but
    // for the faults, so that its own crash ends it. Returns what fork
    // returned; the child (0) must not use this class again and ends with
    // _exit.
    static pid_t forkChild();

    // Waits until the child from forkChild has ended, then until every
    // process it left behind has ended too; returns the child's wait status.
    // Only while no other child runs.
    static int waitForChild(pid_t child);

    // Waits until any child from forkChild has ended and returns its number
    // and wait status, reaping on the way whatever else ended (processes
    // children left behind). For several children at once: each must wait
    // for what it started itself (be a child subreaper), since this cannot
    // tell whose a left-behind process was.
    static std::pair<pid_t, int> waitForAnyChild();

private:
    Common::UniqueFd m_signals;  // signalfd of the blocked signals
    Common::UniqueFd m_stop;     // eventfd that tells the waiter to end
    std::thread m_waiter;
};

} // namespace Validator
