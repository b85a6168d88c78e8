// Parts of the package run tested on their own: how a validating child's
// end becomes a verdict, and how a package's held output is copied out.

#include "app/OutputCapture.h"
#include "app/PackageSupervision.h"
#include "common/PosixIo.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace Validator {
namespace {

// The wait status of a child that ended as `end` makes it end.
int statusOf(void (*end)())
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        end();
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

TEST(PackageRunPartsTest, ChildsEndBecomesTheVerdict)
{
    struct Case {
        const char* what;
        void (*end)();
        bool failed;
        std::string line;  // on standard error, empty for none
    };
    const Case cases[] = {
        {"passed", [] { ::_exit(0); }, false, ""},
        {"failed", [] { ::_exit(1); }, true, ""},
        {"other status", [] { ::_exit(3); }, true, "pkg.rpm: validation ended with exit status 3\n"},
        {"ended by a signal", [] { ::raise(SIGTERM); }, true, "pkg.rpm: validation crashed: signal 15 (Terminated)\n"},
        {"killed", [] { ::raise(SIGKILL); }, true, "pkg.rpm: validation crashed: signal 9 (Killed)\n"},
    };
    for (const Case& c : cases) {
        const int status = statusOf(c.end);
        std::ostringstream err;
        std::streambuf* saved = std::cerr.rdbuf(err.rdbuf());
        const bool failed = childFailed("pkg.rpm", status, nullptr);
        std::cerr.rdbuf(saved);
        EXPECT_EQ(failed, c.failed) << c.what;
        EXPECT_EQ(err.str(), c.line) << c.what;
    }
}

TEST(PackageRunPartsTest, CaptureIsCopiedWholeFromItsStart)
{
    const Common::UniqueFd capture = makeCapture();
    ASSERT_TRUE(capture);
    std::string written;
    for (int i = 0; written.size() < (3 << 16) + 5; ++i)
        written += "line " + std::to_string(i) + "\n";
    ASSERT_TRUE(Common::writeAll(capture.get(), written));

    Common::PipeEnds pipe = Common::makePipe();
    ASSERT_TRUE(pipe.read);
    ::fcntl(pipe.write.get(), F_SETPIPE_SZ, 1 << 20);
    copyCapture(capture.get(), pipe.write.get());
    pipe.write.reset();
    EXPECT_EQ(Common::readAll(pipe.read.get(), 1 << 20), written);
}

} // namespace
} // namespace Validator
