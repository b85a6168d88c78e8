#pragma once

#include <sys/file.h>

#include "torvel/FileWithCmses.h"

namespace PackageSignatures {

// Gives up the lock taken by FileWithCmses::lockForChange on whatever file
// the object stands for by then: signing moves it to the new file.
class ChangeLock {
public:
    explicit ChangeLock(const FileWithCmses& file)
        : m_file(file)
    {
    }
    ~ChangeLock() { flock(m_file.fd(), LOCK_UN); }
    ChangeLock(const ChangeLock&) = delete;
    ChangeLock& operator=(const ChangeLock&) = delete;

private:
    const FileWithCmses& m_file;
};

} // namespace PackageSignatures
