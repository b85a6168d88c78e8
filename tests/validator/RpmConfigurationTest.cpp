// librpm's configuration as vetrik loads it: the database path that some
// systems define through a shell command is worked out without one.

#include "package/RpmConfiguration.h"

#include "common/LibcHandles.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <unistd.h>

#include <rpm/rpmmacro.h>

namespace Common::Rpm {
namespace {

class RpmConfigurationTest : public ::testing::Test {
protected:
    // librpm's configuration is loaded once per process: each case runs in
    // a process of its own, started afresh.
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    TestKit::TempDir home{"rpmhome"};
};

// In a fresh process: HOME as given (unset when empty optional) and a PATH
// where no bash can be found, so that a shell started for %{_dbpath} prints
// nothing; then the expansion, between brackets, on standard error.
[[noreturn]] void printDatabasePath(const std::optional<std::string>& homeValue)
{
    if (homeValue)
        ::setenv("HOME", homeValue->c_str(), 1);
    else
        ::unsetenv("HOME");
    ::setenv("PATH", "/nonexistent", 1);
    loadConfiguration();
    const Libc::CStringHandle path(rpmExpand("%{_dbpath}", nullptr));
    std::fprintf(stderr, "[%s]\n", path ? path.get() : "(null)");
    std::fflush(stderr);
    std::_Exit(0);
}

// Regular-expression characters of a path, escaped for the death test's matcher.
std::string quoted(const std::string& text)
{
    std::string result;
    for (const char c : text) {
        if (std::string_view(".[]{}()\\*+?^$|").find(c) != std::string_view::npos)
            result += '\\';
        result += c;
    }
    return result;
}

TEST_F(RpmConfigurationTest, UserDatabasePathStartsNoShell)
{
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    const std::string passwordHome = entry->pw_dir;
    struct Case {
        std::optional<std::string> home;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // Fixed texts: the death test's process makes its own fixture.
        {"/nonexistent/user", "/nonexistent/user/.rpmdb"},
        // A percent sign in HOME is text, not the start of a macro.
        {"/nonexistent/100%{_bindir}", "/nonexistent/100%{_bindir}/.rpmdb"},
        // bash's ~ is $HOME even when empty, and the password entry's home
        // only when HOME is unset.
        {std::string(), "/.rpmdb"},
        {std::nullopt, passwordHome + "/.rpmdb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.home.value_or("(unset)"));
        EXPECT_EQ(userDatabasePath(c.home ? c.home->c_str() : nullptr), c.expected);
        EXPECT_EXIT(printDatabasePath(c.home), ::testing::ExitedWithCode(0), "^\\[" + quoted(c.expected) + "\\]\n$");
    }
}

TEST_F(RpmConfigurationTest, AnyOtherDatabasePathIsLeftAlone)
{
    // A user's own definition, read by librpm from ~/.rpmmacros, still
    // expanded by librpm itself.
    TestKit::writeFile(home / ".rpmmacros", "%_dbpath /srv/rpm/%{_arch}-db\n");
    EXPECT_EXIT(printDatabasePath(home.path()), ::testing::ExitedWithCode(0), "^\\[/srv/rpm/[a-z0-9_]+-db\\]\n$");
}

} // namespace
} // namespace Common::Rpm
