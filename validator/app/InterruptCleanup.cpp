#include "app/InterruptCleanup.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Validator {

namespace {

// Held by the clean-up from start to end (it ends the process), and by the
// main thread while it forks, reaps a child or changes the roots.
std::mutex g_mutex;
std::multiset<std::string> g_roots;
std::string g_reportTemporary;
std::set<pid_t> g_children;  // forked and not yet reaped

sigset_t interruptSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    // Used only to wake the waiter at normal exit.
    sigaddset(&set, SIGUSR1);
    return set;
}

// Until no child is left: the validating child and the tools it started,
// which end with it (they are killed when their parent dies) and are then
// this process's own children.
void reapEverything()
{
    for (;;) {
        if (::waitpid(-1, nullptr, 0) < 0 && errno != EINTR)
            return;
    }
}

void cleanUpAndRaise(int signal)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    // Not yet reaped, so the numbers still name the children.
    for (const pid_t child : g_children)
        ::kill(child, SIGKILL);
    reapEverything();
    g_children.clear();
    for (const std::string& root : g_roots) {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    g_roots.clear();
    if (!g_reportTemporary.empty())
        ::unlink(g_reportTemporary.c_str());
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
    sigset_t set = interruptSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A tool that dies early must not kill the validator through its pipe.
    std::signal(SIGPIPE, SIG_IGN);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    m_waiter = std::thread([set] {
        for (;;) {
            int signal = 0;
            if (::sigwait(&set, &signal) != 0)
                continue;
            if (signal == SIGUSR1)
                return;
            cleanUpAndRaise(signal);
        }
    });
}

InterruptCleanup::~InterruptCleanup()
{
    ::pthread_kill(m_waiter.native_handle(), SIGUSR1);
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

void InterruptCleanup::setReportTemporary(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_reportTemporary = path;
}

pid_t InterruptCleanup::forkChild()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid > 0)
        g_children.insert(pid);
    return pid;
}

int InterruptCleanup::waitForChild(pid_t child)
{
    // Waited for without reaping, so that the clean-up may still stop it by
    // its number until the lock below is taken.
    siginfo_t info {};
    while (::waitid(P_PID, child, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    int status = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        g_children.erase(child);
    }
    reapEverything();
    return status;
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
        while (::waitpid(info.si_pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (g_children.erase(info.si_pid))
            return {info.si_pid, status};
        // A process some child left behind, adopted and now ended.
    }
}

} // namespace Validator
