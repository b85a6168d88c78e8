#pragma once

#include "package/CpioEntryGuard.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace Validator {

// What the extraction has unpacked so far, shared by the thread that passes
// the archive to cpio and the thread that validates the files meanwhile.
//
// A file is offered to the validators early only when what they see of it
// (type, permissions, bytes) is what the finished extraction will leave:
// a regular file with one link or a directory, named exactly by its header
// path, whose archive entry was handed to cpio and which cpio has already
// given its size and final permissions (cpio writes the data before it sets
// the permissions). Everything else waits for the end of the extraction.
//
// Some archives can change a file after cpio wrote it: a name given twice,
// a directory entry after an entry below it, a directory whose permissions
// cpio sets only when the archive has ended (one without owner write
// permission). They make the run unsure: whatever was validated early is
// then validated again once the extraction has ended.
class UnpackProgress {
public:
    // From the unpacking thread.
    void entryJudged(const CpioEntryGuard::Entry& entry);
    void forwarded(std::uint64_t offset);
    // cpio has ended (or the extraction failed): the tree is final.
    void finished(bool unpacked);

    enum class Outcome {
        Final,     // the file may be validated now
        Unpacked,  // the extraction ended successfully
        Failed,    // the extraction failed
        Unsure,    // files validated early may have changed since
    };

    // From the validating thread: blocks until the file at the header path
    // `path`, unpacked at `fullPath`, is final, or the extraction ended, or
    // the run became unsure.
    Outcome waitFor(const std::string& path, const std::string& fullPath);
    // Blocks until the extraction ended.
    Outcome waitForEnd();

private:
    struct EntryState {
        std::uint32_t mode = 0;
        std::uint64_t links = 0;
        std::uint64_t fileSize = 0;
        std::uint64_t end = 0;
    };
    enum class Stage { Running, Unpacked, Failed };

    Outcome endOutcome() const;
    bool looksFinal(const EntryState& entry, const std::string& fullPath) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_progress;
    Stage m_stage = Stage::Running;
    bool m_unsure = false;
    std::uint64_t m_forwarded = 0;
    std::unordered_map<std::string, EntryState> m_entries;
    // Every directory some entry lies below, so that a later entry naming
    // one of them is noticed.
    std::unordered_set<std::string> m_parents;
};

} // namespace Validator
