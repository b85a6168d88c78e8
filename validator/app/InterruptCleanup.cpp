#include "app/InterruptCleanup.h"

#include "package/Extractor.h"

#include <csignal>
#include <filesystem>
#include <pthread.h>
#include <unistd.h>

namespace Validator {

namespace {

std::mutex g_rootMutex;
std::string g_currentRoot;

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

void cleanUpAndRaise(int signal)
{
    if (pid_t group = Extractor::activeProcessGroup(); group > 0)
        ::kill(-group, SIGKILL);
    {
        std::lock_guard<std::mutex> lock(g_rootMutex);
        if (!g_currentRoot.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(g_currentRoot, ec);
            g_currentRoot.clear();
        }
        // Holding the lock keeps the main thread from making a new root.
        std::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(signal);
        ::_exit(128 + signal);
    }
}

} // namespace

InterruptCleanup::InterruptCleanup()
{
    sigset_t set = interruptSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A tool that dies early must not kill the validator through its pipe.
    std::signal(SIGPIPE, SIG_IGN);
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

void InterruptCleanup::setCurrentRoot(const std::string& root)
{
    std::lock_guard<std::mutex> lock(g_rootMutex);
    g_currentRoot = root;
}

} // namespace Validator
