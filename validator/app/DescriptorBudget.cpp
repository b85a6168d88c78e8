#include "app/DescriptorBudget.h"

#include "common/LibcHandles.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace Validator {

namespace {

// What the validating process of one package opens beyond what it inherits,
// with room to spare: fewer than ten at once in the runs measured (the
// package file, the rpm database, three pipes, the C library's and
// libgcrypt's own reads, a checked file or two per thread). A package can
// make its checks open more files only one after another, never at once.
constexpr std::size_t kValidationOwn = 24;

// What this process needs besides the packages in flight: removing a
// package's tree holds a directory open per level, the report and the
// libraries open their own now and then.
constexpr std::size_t kParentReserve = 16;

std::size_t openDescriptors()
{
    if (const Common::Libc::DirHandle directory {::opendir("/proc/self/fd")}) {
        std::size_t count = 0;
        while (const dirent* entry = ::readdir(directory.get())) {
            if (entry->d_name[0] != '.')
                ++count;
        }
        // Less the one the listing itself used.
        return count > 0 ? count - 1 : 0;
    }
    // Without /proc: those below the first thousand, where the descriptors
    // of a process that just started are.
    std::size_t count = 0;
    for (int fd = 0; fd < 1024; ++fd)
        count += ::fcntl(fd, F_GETFD) >= 0;
    return count;
}

std::size_t openFileLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return static_cast<std::size_t>(-1) / 2;
    return static_cast<std::size_t>(limit.rlim_cur);
}

} // namespace

DescriptorBudget::DescriptorBudget(std::size_t perPackage)
    : m_limit(openFileLimit()), m_open(openDescriptors()), m_perPackage(perPackage)
{
}

std::size_t DescriptorBudget::neededForOne() const
{
    return m_open + m_perPackage + kValidationOwn;
}

std::size_t DescriptorBudget::packagesInFlight(std::size_t wanted) const
{
    wanted = std::max<std::size_t>(wanted, 1);
    const std::size_t used = m_open + kParentReserve;
    if (m_perPackage == 0)
        return wanted;
    if (m_limit <= used)
        return 1;
    return std::clamp<std::size_t>((m_limit - used) / m_perPackage, 1, wanted);
}

std::size_t DescriptorBudget::afterRunningOut(std::size_t held) const
{
    const std::size_t reserve = m_perPackage == 0 ? 0 : (kParentReserve + m_perPackage - 1) / m_perPackage;
    return held > reserve ? held - reserve : 1;
}

} // namespace Validator
