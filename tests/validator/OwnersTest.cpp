// The owners of descriptors and child processes, the read and write loops
// beside them, and the extraction root: what each promises on every path.

#include "app/ExtractionRoot.h"
#include "common/ChildProcess.h"
#include "common/PosixIo.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A child that lives until it is killed.
Common::ChildProcess sleeper()
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (;;)
            ::pause();
    }
    return Common::ChildProcess(pid);
}

// Whether `pid` names a process of this one that has not been reaped.
bool unreaped(pid_t pid)
{
    siginfo_t info {};
    return ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

TEST(OwnersTest, ChildProcessIsWaitedForOnEveryPath)
{
    // Gone out of scope unwaited: killed and reaped.
    pid_t pid = -1;
    {
        Common::ChildProcess child = sleeper();
        ASSERT_TRUE(child);
        pid = child.pid();
        ASSERT_TRUE(unreaped(pid));
    }
    EXPECT_FALSE(unreaped(pid));
    EXPECT_EQ(::kill(pid, 0), -1);

    // Replaced by another: the first is ended at once.
    Common::ChildProcess child = sleeper();
    pid = child.pid();
    child = sleeper();
    EXPECT_FALSE(unreaped(pid));

    // Waited for: its own status, then nothing left to own.
    child.signal(SIGTERM);
    const int status = child.wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_FALSE(child);
    EXPECT_EQ(child.wait(), -1);

    const pid_t exiting = ::fork();
    if (exiting == 0)
        ::_exit(7);
    Common::ChildProcess exited(exiting);
    const int code = exited.wait();
    EXPECT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) == 7) << code;

    // No child at all (a failed fork).
    const Common::ChildProcess none(-1);
    EXPECT_FALSE(none);
}

// A fork copies the owners of the parent's children into the new process,
// where their numbers name its siblings: there they must do nothing, even
// when the copy unwinds.
TEST(OwnersTest, OwnerCopiedIntoAForkLeavesTheParentsChildAlone)
{
    Common::ChildProcess sibling = sleeper();
    const pid_t forked = ::fork();
    if (forked == 0) {
        sibling.signal(SIGKILL);
        {
            Common::ChildProcess moved = std::move(sibling);
        }
        ::_exit(0);
    }
    Common::ChildProcess copy(forked);
    EXPECT_EQ(copy.wait(), 0);
    EXPECT_TRUE(unreaped(sibling.pid()));
    EXPECT_EQ(::kill(sibling.pid(), 0), 0);
}

TEST(OwnersTest, ExtractionRootIsRemovedOnlyByTheProcessThatMadeIt)
{
    std::string error;
    std::optional<Validator::ExtractionRoot> root = Validator::ExtractionRoot::create(error);
    ASSERT_TRUE(root) << error;
    const std::string path = root->path();
    TestKit::writeFile(path + "/usr/share/file", "text");

    const pid_t forked = ::fork();
    if (forked == 0) {
        const bool removed = root->remove();
        root.reset();
        ::_exit(removed ? 1 : 0);
    }
    Common::ChildProcess child(forked);
    EXPECT_EQ(child.wait(), 0);
    EXPECT_TRUE(fs::exists(path + "/usr/share/file"));

    root.reset();
    EXPECT_FALSE(fs::exists(path));
}

// A signal handler installed without SA_RESTART cuts blocking reads and
// writes short, with EINTR or with a partial count, as often as it comes.
class InterruptingTimer {
public:
    InterruptingTimer()
    {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        ::sigaction(SIGALRM, &action, &m_saved);
        const itimerval every {{0, 200}, {0, 200}};
        ::setitimer(ITIMER_REAL, &every, nullptr);
    }
    ~InterruptingTimer()
    {
        const itimerval off {};
        ::setitimer(ITIMER_REAL, &off, nullptr);
        ::sigaction(SIGALRM, &m_saved, nullptr);
    }

private:
    struct sigaction m_saved {};
};

TEST(OwnersTest, WholeTransfersThroughInterruptedCalls)
{
    std::string sent(8 << 20, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>(i * 7 + i / 4096);
    Common::PipeEnds pipe = Common::makePipe();
    ASSERT_TRUE(pipe.read && pipe.write);

    std::string received(sent.size(), '\0');
    ssize_t got = -2;
    const InterruptingTimer timer;
    std::thread reader([&] {
        // This thread takes the timer's signals as well.
        got = Common::readFull(pipe.read.get(), received.data(), received.size());
    });
    const bool written = Common::writeAll(pipe.write.get(), sent);
    reader.join();
    EXPECT_TRUE(written);
    ASSERT_EQ(got, static_cast<ssize_t>(sent.size()));
    EXPECT_TRUE(received == sent);
}

TEST(OwnersTest, ReadsStopAtTheEndAndAtTheLimit)
{
    TestKit::TempDir dir;
    const std::string path = dir / "file";
    TestKit::writeFile(path, "0123456789");
    const Common::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);

    char buffer[16] = {};
    // At an offset, the file position stays where it was.
    EXPECT_EQ(Common::readFull(fd.get(), buffer, 4, 6), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(Common::readFull(fd.get(), buffer, sizeof buffer, 8), 2);
    EXPECT_EQ(Common::readAll(fd.get(), 10), "0123456789");

    ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
    errno = 0;
    EXPECT_EQ(Common::readAll(fd.get(), 9), std::nullopt);
    EXPECT_EQ(errno, EFBIG);

    // Errors come back with their errno.
    EXPECT_EQ(Common::readFull(-1, buffer, 1), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(Common::writeAll(fd.get(), "x"));
    EXPECT_EQ(errno, EBADF);
}

TEST(OwnersTest, StreamTakesTheDescriptorOver)
{
    Common::PipeEnds pipe = Common::makePipe();
    const int fd = pipe.write.get();
    {
        Common::Libc::FileHandle stream = Common::streamOf(std::move(pipe.write), "w");
        ASSERT_TRUE(stream);
        EXPECT_FALSE(pipe.write);
        EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC);
    }
    // Closed with its stream: the reader sees the end.
    char byte;
    EXPECT_EQ(Common::readFull(pipe.read.get(), &byte, 1), 0);

    // A mode the descriptor cannot have: no stream, and the descriptor is
    // closed all the same.
    Common::PipeEnds other = Common::makePipe();
    const int readEnd = other.read.get();
    EXPECT_FALSE(Common::streamOf(std::move(other.read), "w"));
    EXPECT_EQ(::fcntl(readEnd, F_GETFD), -1);
}

} // namespace
