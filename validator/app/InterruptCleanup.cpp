#include "app/InterruptCleanup.h"

#include "app/TreeRemoval.h"
#include "common/PosixIo.h"
#include "package/Log.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Validator {

namespace {

// Held by the clean-up from start to end (it ends the process), and by the
// main thread while it forks, reaps a child or changes the roots.
std::mutex g_mutex;
std::multiset<std::string> g_roots;
int g_reportDirectory = -1;
std::string g_reportTemporary;
std::set<pid_t> g_children;  // forked and not yet reaped

// The signals that report a fault of the thread that receives them. Raised
// by the kernel for a faulting thread they are delivered even while blocked,
// with their default action, and abort() unblocks SIGABRT for its own
// thread: a fault of this process itself therefore ends it at once, with
// a core dump as before, and nothing is cleaned up after it. A process
// whose memory may be corrupt must not go on to remove directories; it
// leaves what SIGKILL leaves. The same signals sent from outside (kill -SEGV)
// are requests like SIGTERM and are cleaned up after.
constexpr int kFaultSignals[] = {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};

// Every signal whose default action ends the process and that can be
// caught, but SIGPIPE, which is ignored instead: a tool that dies early must
// not kill the validator through its pipe. SIGXFSZ that the kernel raises
// for a write beyond the file size limit stays pending on the writing
// thread, whose write fails with EFBIG instead: the run then says that it
// cannot write the report.
sigset_t terminatingSignals()
{
    static constexpr int kSignals[] = {SIGHUP,  SIGINT,    SIGQUIT,   SIGUSR1, SIGUSR2, SIGALRM, SIGTERM,
                                       SIGXCPU, SIGXFSZ,   SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,
#ifdef SIGSTKFLT
                                       SIGSTKFLT,
#endif
    };
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kSignals)
        sigaddset(&set, signal);
    for (const int signal : kFaultSignals)
        sigaddset(&set, signal);
    // From SIGRTMIN on: the C library keeps the ones below for itself.
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        sigaddset(&set, signal);
    return set;
}

// Until no child is left: the validating child and the tools it started,
// which end with it (they are killed when their parent dies) and are then
// this process's own children.
void reapEverything()
{
    Common::waitForAdoptedProcesses();
}

void cleanUpAndRaise(int signal)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    // Not yet reaped, so the numbers still name the children.
    for (const pid_t child : g_children)
        ::kill(child, SIGKILL);
    reapEverything();
    g_children.clear();
    for (const std::string& root : g_roots)
        removeTree(root);
    g_roots.clear();
    if (!g_reportTemporary.empty())
        ::unlinkat(g_reportDirectory, g_reportTemporary.c_str(), 0);
    // Holding the lock keeps the main thread from making a new root or child.
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

} // namespace

InterruptCleanup::InterruptCleanup()
{
    // A tool that dies early must not kill the validator through its pipe.
    std::signal(SIGPIPE, SIG_IGN);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const sigset_t set = terminatingSignals();
    m_signals.reset(::signalfd(-1, &set, SFD_CLOEXEC));
    m_stop.reset(::eventfd(0, EFD_CLOEXEC));
    // Without them the signals are left as they are: a run that cannot
    // clean up after an interrupt is better than one no signal can end.
    if (!m_signals || !m_stop)
        return;
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_waiter = std::thread([signals = m_signals.get(), stop = m_stop.get()] {
        pollfd ready[] = {{signals, POLLIN, 0}, {stop, POLLIN, 0}};
        for (;;) {
            if (::poll(ready, 2, -1) < 0)
                continue;
            // A signal first: one that came with the end of the run still ends it.
            signalfd_siginfo info {};
            if ((ready[0].revents & POLLIN) && ::read(signals, &info, sizeof info) == sizeof info)
                cleanUpAndRaise(static_cast<int>(info.ssi_signo));
            if (ready[1].revents & POLLIN)
                return;
        }
    });
}

InterruptCleanup::~InterruptCleanup()
{
    if (!m_waiter.joinable())
        return;
    const std::uint64_t one = 1;
    Common::writeAll(m_stop.get(), &one, sizeof one);
    m_waiter.join();
}

void InterruptCleanup::addRoot(const std::string& root)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_roots.insert(root);
}

void InterruptCleanup::removeRoot(const std::string& root)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (auto found = g_roots.find(root); found != g_roots.end())
        g_roots.erase(found);
}

void InterruptCleanup::setReportTemporary(int directory, const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_reportDirectory = directory;
    g_reportTemporary = name;
}

pid_t InterruptCleanup::forkChild()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    flushAllOutput();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid > 0)
        g_children.insert(pid);
    if (pid == 0) {
        // Its work is this process's: without it, nobody would remove the
        // tree it fills.
        Common::dieWithParent(parent, 1);
        sigset_t faults;
        sigemptyset(&faults);
        for (const int signal : kFaultSignals)
            sigaddset(&faults, signal);
        ::pthread_sigmask(SIG_UNBLOCK, &faults, nullptr);
    }
    return pid;
}

int InterruptCleanup::Reaping::wait(pid_t child) noexcept
{
    // Waited for without reaping, so that the clean-up may still stop it by
    // its number until the lock below is taken.
    siginfo_t info {};
    Common::retryOnInterrupt([&] { return ::waitid(P_PID, child, &info, WEXITED | WNOWAIT); });
    int status = 0;
    std::lock_guard<std::mutex> lock(g_mutex);
    const pid_t reaped = Common::retryOnInterrupt([&] { return ::waitpid(child, &status, 0); });
    g_children.erase(child);
    return reaped < 0 ? -1 : status;
}

void InterruptCleanup::Reaping::kill(pid_t child, int signal) noexcept
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ::kill(child, signal);
}

std::pair<pid_t, int> InterruptCleanup::waitForAnyChild()
{
    for (;;) {
        siginfo_t info {};
        if (::waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) != 0) {
            if (errno == EINTR)
                continue;
            return {-1, 0};
        }
        int status = 0;
        std::lock_guard<std::mutex> lock(g_mutex);
        Common::retryOnInterrupt([&] { return ::waitpid(info.si_pid, &status, 0); });
        if (g_children.erase(info.si_pid))
            return {info.si_pid, status};
        // A process some child left behind, adopted and now ended.
    }
}

} // namespace Validator
