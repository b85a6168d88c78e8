#pragma once

// The owner of one file descriptor: closed when the owner goes, moved but
// never copied, as Owned (OwningHandle.h) does for the C libraries' objects.
// A descriptor is an int, not a pointer, hence a class of its own. -1 means
// none.

#include <cerrno>
#include <unistd.h>
#include <utility>

namespace Common {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return m_fd; }
    explicit operator bool() const noexcept { return m_fd >= 0; }
    int release() noexcept { return std::exchange(m_fd, -1); }

    // Closing keeps errno as it was: callers report the error that made
    // them give the descriptor up, not one of close. close() is not retried
    // on EINTR: on Linux the descriptor is gone whatever it returns, and a
    // retry could close another one.
    void reset(int fd = -1) noexcept
    {
        if (m_fd >= 0) {
            const int saved = errno;
            ::close(m_fd);
            errno = saved;
        }
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

} // namespace Common
