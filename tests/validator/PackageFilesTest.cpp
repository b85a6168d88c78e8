// Reading packaged files, and the archive check of the extraction.

#include "package/CpioEntryGuard.h"
#include "package/PackagedFile.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
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

    auto file = PackagedFile::open(dir / "link-to-data");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 5u);
    EXPECT_EQ(file->readAll(100), "hello");

    // None of these may be opened: each would block or never end.
    for (const char* name : {"zero", "stdin", "dangling", "fifo", "link-to-fifo", "socket", "missing"})
        EXPECT_FALSE(PackagedFile::open(dir / name)) << name;
    EXPECT_FALSE(PackagedFile::open(dir.path())) << "a directory";
    ::close(sock);
}

TEST(PackagedFileTest, ReadsEndAtTheSizeSeenWhenOpened)
{
    // Reports no size but would yield gigabytes.
    auto pagemap = PackagedFile::open("/proc/self/pagemap");
    ASSERT_TRUE(pagemap);
    char buffer[64];
    EXPECT_EQ(pagemap->read(buffer, sizeof buffer), 0);
    EXPECT_EQ(pagemap->readAll(1 << 20), "");

    TestKit::TempDir dir;
    TestKit::writeFile(dir / "growing", "12345");
    auto file = PackagedFile::open(dir / "growing");
    ASSERT_TRUE(file);
    TestKit::writeFile(dir / "growing", "1234567890");
    EXPECT_EQ(file->readAll(100), "12345");
}

TEST(PackagedFileTest, ReadAllRespectsItsLimitAndMovesOwnership)
{
    TestKit::TempDir dir;
    TestKit::writeFile(dir / "big", std::string(200000, 'x'));
    auto file = PackagedFile::open(dir / "big");
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->readAll(199999));
    auto again = PackagedFile::open(dir / "big");
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

} // namespace
} // namespace Validator
