#pragma once

// The owner of one child process, as UniqueFd is of a descriptor: the child
// is waited for on every path out of its owner's scope, and killed first
// when nobody waited for it yet. A process left unwaited would stay a
// zombie, or worse go on writing into a tree its parent is about to remove.
//
// How a child is signalled and reaped is part of the owner's type, as the
// free function is of Owned's: most children are reaped straight with
// waitpid (DirectReaping), while the validator's top-level children are
// known to its interrupt clean-up, which must learn of each reaping under
// its lock (InterruptCleanup::Reaping).
//
// A process number names the child only until it is reaped; afterwards it
// may name any new process. The owner therefore signals its child only
// before it has waited for it, and a copy of the owner that a fork left in
// another process (where the number names a sibling, not a child) does
// nothing at all.

#include "common/PosixIo.h"

#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace Common {

// Called first thing in a child just forked (or vforked) from `parent`: the
// child is killed when the parent dies, and ends at once with `status` when
// the parent has died already, before the request was made.
inline void dieWithParent(pid_t parent, int status) noexcept
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(status);
}

struct DirectReaping {
    // The child's wait status; -1 when it could not be waited for.
    static int wait(pid_t pid) noexcept
    {
        int status = 0;
        return retryOnInterrupt([&] { return ::waitpid(pid, &status, 0); }) < 0 ? -1 : status;
    }
    // A negative number names the process group the child leads.
    static void kill(pid_t pid, int signal) noexcept { ::kill(pid, signal); }
};

template <typename Reaping>
class BasicChildProcess {
public:
    BasicChildProcess() = default;
    // Takes over the child `pid` of this process; none when it is not
    // positive (a failed fork).
    explicit BasicChildProcess(pid_t pid) noexcept : m_pid(pid > 0 ? pid : -1), m_parent(pid > 0 ? ::getpid() : -1) {}
    BasicChildProcess(BasicChildProcess&& other) noexcept
        : m_pid(std::exchange(other.m_pid, -1)), m_parent(std::exchange(other.m_parent, -1))
    {
    }
    BasicChildProcess& operator=(BasicChildProcess&& other) noexcept
    {
        if (this != &other) {
            end();
            m_pid = std::exchange(other.m_pid, -1);
            m_parent = std::exchange(other.m_parent, -1);
        }
        return *this;
    }
    BasicChildProcess(const BasicChildProcess&) = delete;
    BasicChildProcess& operator=(const BasicChildProcess&) = delete;
    ~BasicChildProcess() { end(); }

    pid_t pid() const noexcept { return m_pid; }
    // Whether there is a child that nobody has waited for yet.
    explicit operator bool() const noexcept { return m_pid > 0; }

    // Waits until the child has ended; its wait status, or -1 when there
    // was none to wait for.
    int wait() noexcept
    {
        if (!mine()) {
            m_pid = -1;
            return -1;
        }
        const int status = Reaping::wait(m_pid);
        m_pid = -1;
        return status;
    }

    // Sends `signal` to the child, or with `group` to every process of the
    // process group it leads.
    void signal(int signal, bool group = false) const noexcept
    {
        if (mine())
            Reaping::kill(group ? -m_pid : m_pid, signal);
    }

    // For a child that a wait for any child has reaped: there is nothing
    // left to own.
    void reaped() noexcept { m_pid = -1; }

private:
    bool mine() const noexcept { return m_pid > 0 && m_parent == ::getpid(); }

    void end() noexcept
    {
        if (mine()) {
            Reaping::kill(m_pid, SIGKILL);
            Reaping::wait(m_pid);
        }
        m_pid = -1;
    }

    pid_t m_pid = -1;
    pid_t m_parent = -1;  // the process that forked it, the one that may reap it
};

using ChildProcess = BasicChildProcess<DirectReaping>;

// In a child subreaper (PR_SET_CHILD_SUBREAPER), once the children it
// waits for have ended: waits until every process they left behind, which
// it adopts as they are orphaned, has ended too. Only while it has no other
// child to wait for.
inline void waitForAdoptedProcesses() noexcept
{
    while (::waitpid(-1, nullptr, 0) >= 0 || errno == EINTR) {
    }
}

} // namespace Common
