#pragma once

// The loops every caller of read and write would otherwise write again: a
// call that a signal cut short (EINTR) is made again, and a transfer that
// moved fewer bytes than asked goes on where it stopped. Each leaves errno
// as the failing call set it, so that a caller reports the real reason.

#include "common/LibcHandles.h"
#include "common/UniqueFd.h"

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <optional>
#include <stdio.h>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>

namespace Common {

// Makes the call again while it fails with EINTR; for calls that return a
// negative number on failure.
template <typename Call>
auto retryOnInterrupt(Call call) -> decltype(call())
{
    for (;;) {
        auto result = call();
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

// Writes all `length` bytes. False when a write failed; a write that moves
// nothing counts as a full device (ENOSPC), so that the loop always ends.
inline bool writeAll(int fd, const void* data, std::size_t length)
{
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = retryOnInterrupt([&] { return ::write(fd, bytes, length); });
        if (n < 0)
            return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

inline bool writeAll(int fd, std::string_view bytes)
{
    return writeAll(fd, bytes.data(), bytes.size());
}

// Reads until `length` bytes have come or the file ended (from `offset`
// with pread when one is given, leaving the file position alone). Returns
// how many came, or -1 when a read failed.
inline ssize_t readFull(int fd, void* buffer, std::size_t length, std::optional<off_t> offset = std::nullopt)
{
    char* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = retryOnInterrupt([&] {
            return offset ? ::pread(fd, bytes + done, length - done, *offset + static_cast<off_t>(done))
                          : ::read(fd, bytes + done, length - done);
        });
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// The rest of the file from its position, when it holds at most `limit`
// bytes; nothing when a read failed, or (errno EFBIG) when there is more.
// Memory never grows much beyond `limit`, whatever the file is.
inline std::optional<std::string> readAll(int fd, std::size_t limit)
{
    std::string contents;
    char piece[16384];
    for (;;) {
        const ssize_t n = retryOnInterrupt([&] { return ::read(fd, piece, sizeof piece); });
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return contents;
        if (contents.size() + static_cast<std::size_t>(n) > limit) {
            errno = EFBIG;
            return std::nullopt;
        }
        contents.append(piece, static_cast<std::size_t>(n));
    }
}

// A stdio stream that takes the descriptor over; null when none can be
// made, the descriptor closed then and errno fdopen's.
inline Libc::FileHandle streamOf(UniqueFd fd, const char* mode)
{
    Libc::FileHandle stream(::fdopen(fd.get(), mode));
    if (stream)
        fd.release();
    return stream;
}

// Two ends of a pipe, each closed when it goes.
struct PipeEnds {
    UniqueFd read;
    UniqueFd write;
};

// A pipe whose ends are not inherited by programs the process starts;
// empty ends when none can be made.
inline PipeEnds makePipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

} // namespace Common
