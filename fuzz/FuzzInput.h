#pragma once

// The file through which a fuzz target hands each input to code that reads
// files by path: one descriptor kept open for the whole run and rewritten
// for every input, so that no input costs a file of its own. A failure to
// write it aborts: the run would otherwise go on fuzzing stale bytes.

#include "common/PosixIo.h"
#include "common/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace Fuzz {

class InputFile {
public:
    // An unnamed file in memory, read through /proc/self/fd: rewriting it
    // costs no disk.
    static InputFile inMemory(const char* name)
    {
        return InputFile(Common::UniqueFd(::memfd_create(name, MFD_CLOEXEC)), {});
    }

    // A file on disk, made empty at `path`.
    static InputFile at(const std::string& path)
    {
        return InputFile(Common::UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)), path);
    }

    // A fresh file of mkstemp's `pattern` (ending in XXXXXX).
    static InputFile temporary(std::string pattern)
    {
        Common::UniqueFd fd(::mkstemp(pattern.data()));
        return InputFile(std::move(fd), pattern);
    }

    // Replaces what the file holds by the input.
    void write(const std::uint8_t* data, std::size_t size) const
    {
        if (::ftruncate(m_fd.get(), 0) != 0 || ::lseek(m_fd.get(), 0, SEEK_SET) != 0
            || !Common::writeAll(m_fd.get(), data, size))
            std::abort();
    }

    const std::string& path() const { return m_path; }

private:
    InputFile(Common::UniqueFd fd, std::string path) : m_fd(std::move(fd)), m_path(std::move(path))
    {
        if (!m_fd)
            std::abort();
        if (m_path.empty())
            m_path = "/proc/self/fd/" + std::to_string(m_fd.get());
    }

    Common::UniqueFd m_fd;
    std::string m_path;
};

} // namespace Fuzz
