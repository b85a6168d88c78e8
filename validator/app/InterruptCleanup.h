#pragma once

#include "common/ChildProcess.h"
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
    // _exit. The parent hands a child it got to a Child owner at once.
    static pid_t forkChild();

    // How a child from forkChild is signalled and reaped: under the lock,
    // so that the clean-up never signals a number that was reaped meanwhile
    // and the registry forgets the child as it is reaped.
    struct Reaping {
        static int wait(pid_t child) noexcept;
        static void kill(pid_t child, int signal) noexcept;
    };
    using Child = Common::BasicChildProcess<Reaping>;

    // Waits until any child from forkChild has ended and returns its number
    // and wait status, reaping on the way whatever else ended (processes
    // children left behind). For several children at once: each must wait
    // for what it started itself (be a child subreaper), since this cannot
    // tell whose a left-behind process was. The child's owner is then told
    // that it was reaped.
    static std::pair<pid_t, int> waitForAnyChild();

private:
    Common::UniqueFd m_signals;  // signalfd of the blocked signals
    Common::UniqueFd m_stop;     // eventfd that tells the waiter to end
    std::thread m_waiter;
};

} // namespace Validator
