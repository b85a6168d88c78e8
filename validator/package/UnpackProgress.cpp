#include "package/UnpackProgress.h"

#include <chrono>
#include <string_view>
#include <sys/stat.h>

namespace Validator {

namespace {

// A header path that names its file the way the archive entry does: the
// archive's name with a leading "/", with no empty, "." or ".." component.
// Other spellings may lead elsewhere in the tree; they wait for the end.
bool isPlainPath(std::string_view path)
{
    if (path.size() < 2 || path.front() != '/' || path.back() == '/')
        return false;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == "..")
            return false;
        start = end + 1;
    }
    return true;
}

constexpr auto kPollInterval = std::chrono::microseconds(200);

} // namespace

void UnpackProgress::entryJudged(const CpioEntryGuard::Entry& entry)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // cpio gives a directory without owner write permission its mode only
    // when the archive has ended.
    if (S_ISDIR(entry.mode) && !(entry.mode & S_IWUSR))
        m_unsure = true;
    if (m_parents.count(entry.name))
        m_unsure = true;
    const bool added = m_entries.emplace(entry.name, EntryState{entry.mode, entry.links, entry.fileSize, entry.end}).second;
    if (!added)
        m_unsure = true;
    // From the longest parent down; the shorter ones are there already when
    // one is found.
    std::string_view name(entry.name);
    while (!name.empty()) {
        const std::size_t slash = name.rfind('/');
        name = slash == std::string_view::npos ? std::string_view() : name.substr(0, slash);
        if (!m_parents.emplace(name).second)
            break;
    }
}

void UnpackProgress::forwarded(std::uint64_t offset)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_forwarded = offset;
    }
    m_progress.notify_all();
}

void UnpackProgress::finished(bool unpacked)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stage = unpacked ? Stage::Unpacked : Stage::Failed;
    }
    m_progress.notify_all();
}

UnpackProgress::Outcome UnpackProgress::endOutcome() const
{
    if (m_stage == Stage::Failed)
        return Outcome::Failed;
    return m_unsure ? Outcome::Unsure : Outcome::Unpacked;
}

UnpackProgress::Outcome UnpackProgress::waitForEnd()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_progress.wait(lock, [&] { return m_stage != Stage::Running; });
    return endOutcome();
}

bool UnpackProgress::looksFinal(const EntryState& entry, const std::string& fullPath) const
{
    struct stat st {};
    if (::lstat(fullPath.c_str(), &st) != 0)
        return false;
    if ((st.st_mode & 07777) != (entry.mode & 07777))
        return false;
    if (S_ISDIR(entry.mode))
        return S_ISDIR(st.st_mode);
    return S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) == entry.fileSize;
}

UnpackProgress::Outcome UnpackProgress::waitFor(const std::string& path, const std::string& fullPath)
{
    const bool plain = isPlainPath(path);
    const std::string name = plain ? path.substr(1) : std::string();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_stage != Stage::Running)
            return endOutcome();
        if (m_unsure)
            return Outcome::Unsure;
        const auto found = plain ? m_entries.find(name) : m_entries.end();
        if (found == m_entries.end() || m_forwarded < found->second.end) {
            m_progress.wait(lock);
            continue;
        }
        const EntryState entry = found->second;
        const bool early = S_ISDIR(entry.mode) || (S_ISREG(entry.mode) && entry.links <= 1);
        if (!early) {
            m_progress.wait(lock, [&] { return m_stage != Stage::Running || m_unsure; });
            continue;
        }
        lock.unlock();
        const bool final = looksFinal(entry, fullPath);
        lock.lock();
        if (final)
            return m_unsure ? Outcome::Unsure : Outcome::Final;
        // cpio has the bytes but has not finished the file; nothing tells
        // this process when it has, so look again shortly.
        m_progress.wait_for(lock, kPollInterval);
    }
}

} // namespace Validator
