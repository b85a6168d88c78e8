// Reading packaged files, and the archive check of the extraction.

#include "package/CpioEntryGuard.h"
#include "package/PackagedFile.h"
#include "package/UnpackProgress.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Validator {
namespace {

TEST(PackagedFileTest, OpensOnlyRegularFiles)
{
    TestKit::TempDir dir;
    TestKit::writeFile(dir / "data", "hello");
    fs::create_symlink(dir / "data", dir / "link-to-data");
    fs::create_symlink("/dev/zero", dir / "zero");
    fs::create_symlink("/dev/stdin", dir / "stdin");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    fs::create_symlink(dir / "fifo", dir / "link-to-fifo");
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (dir / "socket").c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    auto file = PackagedFile::openHostFile(dir / "link-to-data");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 5u);
    EXPECT_EQ(file->readAll(100), "hello");

    // None of these may be opened: each would block or never end.
    for (const char* name : {"zero", "stdin", "dangling", "fifo", "link-to-fifo", "socket", "missing"})
        EXPECT_FALSE(PackagedFile::openHostFile(dir / name)) << name;
    EXPECT_FALSE(PackagedFile::openHostFile(dir.path())) << "a directory";
    ::close(sock);
}

TEST(PackagedFileTest, ReadsEndAtTheSizeSeenWhenOpened)
{
    // Reports no size but would yield gigabytes.
    auto pagemap = PackagedFile::openHostFile("/proc/self/pagemap");
    ASSERT_TRUE(pagemap);
    char buffer[64];
    EXPECT_EQ(pagemap->read(buffer, sizeof buffer), 0);
    EXPECT_EQ(pagemap->readAll(1 << 20), "");

    TestKit::TempDir dir;
    TestKit::writeFile(dir / "growing", "12345");
    auto file = PackagedFile::openHostFile(dir / "growing");
    ASSERT_TRUE(file);
    TestKit::writeFile(dir / "growing", "1234567890");
    EXPECT_EQ(file->readAll(100), "12345");
}

TEST(PackagedFileTest, ReadAllRespectsItsLimitAndMovesOwnership)
{
    TestKit::TempDir dir;
    TestKit::writeFile(dir / "big", std::string(200000, 'x'));
    auto file = PackagedFile::openHostFile(dir / "big");
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->readAll(199999));
    auto again = PackagedFile::openHostFile(dir / "big");
    ASSERT_TRUE(again);
    PackagedFile moved = std::move(*again);
    EXPECT_EQ(again->fd(), -1);
    auto all = moved.readAll(200000);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 200000u);
}

// Builds a newc archive by hand.
class Archive {
public:
    Archive& entry(const std::string& name, unsigned mode, const std::string& data = {})
    {
        char header[111];
        std::snprintf(header, sizeof header, "070701%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X", 1u, mode, 0u, 0u,
                      1u, 0u, static_cast<unsigned>(data.size()), 0u, 0u, 0u, 0u, static_cast<unsigned>(name.size() + 1), 0u);
        m_bytes += header;
        m_bytes += name;
        m_bytes.push_back('\0');
        pad();
        m_bytes += data;
        pad();
        return *this;
    }
    std::string finish()
    {
        entry("TRAILER!!!", 0);
        m_bytes.append(512 - m_bytes.size() % 512, '\0');
        return m_bytes;
    }

private:
    void pad()
    {
        while (m_bytes.size() % 4)
            m_bytes.push_back('\0');
    }
    std::string m_bytes;
};

CpioEntryGuard::State feedInPieces(CpioEntryGuard& guard, const std::string& bytes, std::size_t piece)
{
    for (std::size_t at = 0; at < bytes.size() && guard.state() == CpioEntryGuard::State::Reading; at += piece)
        guard.feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    return guard.state();
}

TEST(CpioEntryGuardTest, AcceptsOrdinaryArchivesInAnyPieces)
{
    const std::string archive = Archive()
                                    .entry(".", S_IFDIR | 0755)
                                    .entry("./usr/share/app", S_IFDIR | 0755)
                                    .entry("./usr/share/app/a..b", S_IFREG | 0644, "odd but inside")
                                    .entry("./usr/share/app/link", S_IFLNK | 0777, "../app/a..b")
                                    .entry("./usr/share/app/data", S_IFREG | 0644, std::string(5000, 'd'))
                                    .finish();
    for (std::size_t piece : {std::size_t(1), std::size_t(3), std::size_t(110), std::size_t(4096), archive.size()}) {
        CpioEntryGuard guard;
        EXPECT_EQ(feedInPieces(guard, archive, piece), CpioEntryGuard::State::Finished) << piece << ": " << guard.reason();
    }
}

TEST(CpioEntryGuardTest, RefusesEntriesLeavingTheRoot)
{
    struct Case {
        Archive archive;
        std::string reason;
    };
    std::vector<Case> cases;
    cases.push_back({Archive().entry("./usr/../../etc/passwd", S_IFREG | 0644, "x"),
                     "archive entry with a \"..\" component: ./usr/../../etc/passwd"});
    cases.push_back({Archive().entry("..", S_IFDIR | 0755), "archive entry with a \"..\" component: .."});
    cases.push_back({Archive().entry("/etc/passwd", S_IFREG | 0644, "x"), "archive entry with an absolute name: /etc/passwd"});
    cases.push_back({Archive().entry("./a/link", S_IFLNK | 0777, "/etc").entry("./a/link/passwd", S_IFREG | 0644, "x"),
                     "archive entry below a symbolic link: ./a/link/passwd"});
    cases.push_back({Archive().entry("a/./link", S_IFLNK | 0777, "/").entry("./a//link/x/y", S_IFDIR | 0755),
                     "archive entry below a symbolic link: ./a//link/x/y"});
    for (Case& c : cases) {
        const std::string bytes = c.archive.finish();
        for (std::size_t piece : {std::size_t(1), std::size_t(7), bytes.size()}) {
            CpioEntryGuard guard;
            EXPECT_EQ(feedInPieces(guard, bytes, piece), CpioEntryGuard::State::Refused) << c.reason;
            EXPECT_EQ(guard.reason(), c.reason);
        }
    }
}

// What is passed on to cpio is what judged() allows: never a byte of a
// header or name before the whole of it was judged, whatever the pieces.
TEST(CpioEntryGuardTest, JudgedOffsetStopsBeforeUnjudgedNamesAndEntriesAreReported)
{
    const std::string refusedName = "./usr/../../etc/passwd";
    const std::string archive = Archive()
                                    .entry(".", S_IFDIR | 0755)
                                    .entry("./usr/share//app", S_IFDIR | 0755)
                                    .entry("./usr/share/app/data", S_IFREG | 0640, std::string(5001, 'd'))
                                    .entry(refusedName, S_IFREG | 0644, "x")
                                    .finish();
    const std::size_t refusedAt = archive.find(refusedName) - 110;
    const std::size_t dataAt = archive.find("./usr/share/app/data") - 110;
    for (std::size_t piece : {std::size_t(1), std::size_t(5), std::size_t(111), std::size_t(4096), archive.size()}) {
        CpioEntryGuard guard;
        std::vector<CpioEntryGuard::Entry> seen;
        guard.setEntryObserver([&](const CpioEntryGuard::Entry& entry) { seen.push_back(entry); });
        std::size_t fed = 0;
        while (fed < archive.size() && guard.state() == CpioEntryGuard::State::Reading) {
            const std::size_t length = std::min(piece, archive.size() - fed);
            guard.feed(archive.data() + fed, length);
            fed += length;
            // Inside the refused entry's header or name, nothing of it is judged.
            if (fed > refusedAt)
                EXPECT_LE(guard.judged(), refusedAt) << piece;
            else if (fed > dataAt && fed < dataAt + 110 + 21)
                EXPECT_EQ(guard.judged(), dataAt) << piece;
            else
                EXPECT_LE(guard.judged(), fed);
        }
        EXPECT_EQ(guard.state(), CpioEntryGuard::State::Refused);
        EXPECT_EQ(guard.judged(), refusedAt);
        ASSERT_EQ(seen.size(), 3u) << piece;
        EXPECT_EQ(seen[0].name, "");
        EXPECT_EQ(seen[1].name, "usr/share/app");
        EXPECT_EQ(seen[2].name, "usr/share/app/data");
        EXPECT_EQ(seen[2].mode, unsigned(S_IFREG | 0640));
        EXPECT_EQ(seen[2].fileSize, 5001u);
        EXPECT_EQ(seen[2].end, refusedAt);
    }
}

TEST(CpioEntryGuardTest, RefusesMalformedStreams)
{
    for (const std::string& bytes : {std::string("070707") + std::string(200, '0'), std::string("0707010000000Z") + std::string(200, '0'),
                                     Archive().entry("", S_IFREG).finish()}) {
        CpioEntryGuard guard;
        EXPECT_EQ(feedInPieces(guard, bytes, bytes.size()), CpioEntryGuard::State::Refused);
    }
    // A stream that simply stops is still being read: the caller treats that
    // as a truncated archive.
    const std::string archive = Archive().entry("./f", S_IFREG | 0644, "12345").finish();
    CpioEntryGuard guard;
    EXPECT_EQ(guard.feed(archive.data(), 120), CpioEntryGuard::State::Reading);
}

// A file is offered before the extraction ends only when nothing the
// archive still holds can change it; archives that could change a file
// already offered make the run unsure.
TEST(UnpackProgressTest, OffersOnlyFilesThatCannotChangeAnyMore)
{
    using Outcome = UnpackProgress::Outcome;
    TestKit::TempDir tree("unpack-progress");
    TestKit::writeFile(tree / "usr/f", "12345", 0644);
    fs::create_directories(tree / "usr/d");
    fs::permissions(tree / "usr/d", fs::perms(0755));
    const auto entry = [](std::string name, std::uint32_t mode, std::uint64_t size, std::uint64_t links = 1) {
        return CpioEntryGuard::Entry{std::move(name), mode, links, size, 1000};
    };
    struct Case {
        std::string what;
        std::vector<CpioEntryGuard::Entry> entries;
        std::string path;
        std::uint64_t forwarded;
        // What waitFor says before the end; nullopt: it waits for the end,
        // which then says `atEnd`.
        std::optional<Outcome> before;
        Outcome atEnd;
    };
    const std::vector<Case> cases = {
        {"written whole", {entry("usr/f", S_IFREG | 0644, 5)}, "/usr/f", 1000, Outcome::Final, Outcome::Unpacked},
        {"directory", {entry("usr/d", S_IFDIR | 0755, 0)}, "/usr/d", 1000, Outcome::Final, Outcome::Unpacked},
        {"not yet with cpio", {entry("usr/f", S_IFREG | 0644, 5)}, "/usr/f", 999, std::nullopt, Outcome::Unpacked},
        {"still being written", {entry("usr/f", S_IFREG | 0644, 6)}, "/usr/f", 1000, std::nullopt, Outcome::Unpacked},
        {"permissions not yet set", {entry("usr/f", S_IFREG | 0755, 5)}, "/usr/f", 1000, std::nullopt, Outcome::Unpacked},
        {"hard link", {entry("usr/f", S_IFREG | 0644, 5, 2)}, "/usr/f", 1000, std::nullopt, Outcome::Unpacked},
        {"symbolic link", {entry("usr/f", S_IFLNK | 0777, 5)}, "/usr/f", 1000, std::nullopt, Outcome::Unpacked},
        {"not in the archive", {entry("usr/g", S_IFREG | 0644, 5)}, "/usr/f", 1000, std::nullopt, Outcome::Unpacked},
        {"path spelt otherwise", {entry("usr/f", S_IFREG | 0644, 5)}, "/usr//f", 1000, std::nullopt, Outcome::Unpacked},
        {"name given twice", {entry("usr/f", S_IFREG | 0644, 5), entry("usr/f", S_IFREG | 0644, 5)}, "/usr/f", 1000,
         Outcome::Unsure, Outcome::Unsure},
        {"directory after its contents", {entry("usr/f", S_IFREG | 0644, 5), entry("usr", S_IFDIR | 0755, 0)}, "/usr/f",
         1000, Outcome::Unsure, Outcome::Unsure},
        {"directory finished only at the end", {entry("usr/d", S_IFDIR | 0555, 0)}, "/usr/f", 1000, Outcome::Unsure,
         Outcome::Unsure},
    };
    for (const Case& c : cases) {
        for (const bool unpacked : {true, false}) {
            UnpackProgress progress;
            for (const CpioEntryGuard::Entry& e : c.entries)
                progress.entryJudged(e);
            progress.forwarded(c.forwarded);
            auto waiting = std::async(std::launch::async, [&] { return progress.waitFor(c.path, tree.path() + c.path); });
            if (c.before) {
                ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.what;
                EXPECT_EQ(waiting.get(), *c.before) << c.what;
                progress.finished(unpacked);
                continue;
            }
            EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout) << c.what;
            progress.finished(unpacked);
            EXPECT_EQ(waiting.get(), unpacked ? c.atEnd : Outcome::Failed) << c.what;
            EXPECT_EQ(progress.waitForEnd(), unpacked ? c.atEnd : Outcome::Failed) << c.what;
        }
    }
}

} // namespace
} // namespace Validator
