#pragma once

#include "common/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace Validator {

class UnpackedTree;

// The one way the validator opens a file for reading.
//
// A package may contain symbolic links to devices, FIFOs or sockets
// (/dev/zero, /dev/stdin, a named pipe). Reading such a target could hang the
// run or grow memory without bound, so only regular files are ever opened:
// the file is opened without blocking (a FIFO would otherwise block in open),
// checked with fstat after symbolic links were followed, and refused when it
// is anything but a regular file.
//
// A file is the bytes it had when it was opened: reads end at that size.
// Files of the platform root may be links into the kernel's file systems,
// and some of those are endless though they report no size
// (/proc/self/pagemap) or block once drained (/proc/kmsg).
class PackagedFile {
public:
    // A file of the unpacked package: `path` is resolved beneath the
    // extraction root, links included, so it never leads to a file of this
    // machine. nullopt when it does not exist there, cannot be read, or does
    // not lead to a regular file.
    static std::optional<PackagedFile> open(const UnpackedTree& tree, std::string_view path);

    // A file of this machine the validator reads on purpose (the platform
    // root's files). Never a path into an unpacked package: a link there
    // would be followed onto this machine.
    static std::optional<PackagedFile> openHostFile(const std::string& path);

    PackagedFile(PackagedFile&& other) noexcept = default;
    PackagedFile& operator=(PackagedFile&& other) noexcept = default;
    PackagedFile(const PackagedFile&) = delete;
    PackagedFile& operator=(const PackagedFile&) = delete;
    ~PackagedFile() = default;

    int fd() const { return m_fd.get(); }
    // Size as seen when the file was opened.
    std::uint64_t size() const { return m_size; }

    // Reads up to `length` bytes at the current position; retries on EINTR.
    // Returns the byte count, 0 at the end of the file (or of the size it
    // had when opened), -1 on a read error.
    ssize_t read(void* buffer, std::size_t length);

    // The whole file, or nullopt when it is longer than `maxBytes` or a read
    // fails. Callers choose a limit that fits the kind of file they expect.
    std::optional<std::string> readAll(std::size_t maxBytes);

private:
    PackagedFile(Common::UniqueFd fd, std::uint64_t size) : m_fd(std::move(fd)), m_size(size), m_remaining(size) {}

    // The descriptor, opened without blocking, when it is a regular file.
    static std::optional<PackagedFile> fromDescriptor(Common::UniqueFd fd);

    Common::UniqueFd m_fd;
    std::uint64_t m_size = 0;
    std::uint64_t m_remaining = 0;
};

} // namespace Validator
