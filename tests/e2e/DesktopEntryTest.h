#pragma once

// Shared fixture of the desktop-entry tests: the valid application with a
// desktop file the test writes, run through vetrik, compared line by line.

#include "FileValidatorTest.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace DesktopEntry {

inline const std::string N = "org.example.app";

// The two groups of the valid application's desktop file.
inline const std::string Entry = "[Desktop Entry]\nType=Application\nName=Example\nIcon=" + N + "\nExec=/usr/bin/" + N
    + "\nX-Olvex-Application-Type=varnel-qt5\n";
inline const std::string Sandbox = "[X-Application]\nOrganizationName=org.example\nApplicationName=app\nPermissions=Internet\n";

// `text` with the line of `key` set to `value`, or removed when there is no
// value. The key must be there.
inline std::string with(std::string text, const std::string& key, const std::optional<std::string>& value)
{
    const std::size_t start = text.find("\n" + key + "=") + 1;
    if (start == 0)
        throw std::invalid_argument("no line for " + key);
    const std::size_t end = text.find('\n', start) + 1;
    text.replace(start, end - start, value ? key + "=" + *value + "\n" : std::string());
    return text;
}

// The valid desktop file with one key of "Desktop Entry" changed.
inline std::string entryWith(const std::string& key, const std::optional<std::string>& value)
{
    return with(Entry, key, value) + Sandbox;
}

// The valid desktop file with one key of the sandbox section changed.
inline std::string sandboxWith(const std::string& key, const std::optional<std::string>& value)
{
    return Entry + with(Sandbox, key, value);
}

struct Case {
    std::string desktop;             // the whole desktop file
    std::vector<std::string> lines;  // what vetrik prints about the package, in order
};

class DesktopEntryTest : public FileValidatorTest {
protected:
    DesktopEntryTest() : FileValidatorTest(N, "desktop") {}

    // The valid application; its main executable is compiled once.
    TestKit::Package application()
    {
        static const TestKit::Package base = [] {
            TestKit::TempDir scratch("desktop-base", E2E_WORK_DIR);
            return TestKit::validApplication(N, scratch.path());
        }();
        return base;
    }

    TestKit::Package withDesktop(const std::string& content)
    {
        TestKit::Package package = application();
        TestKit::setDesktopFile(package, content);
        return package;
    }

    // One package per case, each compared line by line; the run fails
    // exactly when an error is among the lines.
    void expectLines(const std::vector<Case>& cases, const std::string& profile = "regular",
                     const std::function<void(TestKit::Package&)>& adapt = {})
    {
        for (const Case& c : cases) {
            TestKit::Package package = withDesktop(c.desktop);
            if (adapt)
                adapt(package);
            const Outcome outcome = check(package, profile);
            EXPECT_THAT(outcome.lines, ::testing::ElementsAreArray(c.lines)) << c.desktop;
            const bool failing = std::any_of(c.lines.begin(), c.lines.end(), [](const std::string& line) {
                return line.starts_with("(ERROR)") || line.starts_with("(CRITICAL)");
            });
            EXPECT_EQ(outcome.exitCode, failing ? 1 : 0) << c.desktop;
        }
    }
};

} // namespace DesktopEntry
