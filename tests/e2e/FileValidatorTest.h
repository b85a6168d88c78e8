#pragma once

// Shared fixture of the end-to-end tests of the file validators: packages
// built from the valid application, ELF files compiled on the way, and
// vetrik's findings less the header checks' lines about the same entries.

#include "Findings.h"
#include "Fixtures.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct Outcome {
    int exitCode = -1;
    std::vector<std::string> lines;  // the file validators' findings
    TestKit::VetrikResult result;
};

inline const std::string Hello = "#include <stdio.h>\nint main(void) { puts(\"hello\"); return 0; }\n";

class FileValidatorTest : public ::testing::Test {
protected:
    FileValidatorTest(const std::string& name, const std::string& prefix) : work(prefix, E2E_WORK_DIR), m_name(name) {}

    TestKit::Package application() { return TestKit::validApplication(m_name, work.path()); }

    // The bytes of `source` compiled with `flags`.
    std::string elf(const std::string& source = Hello, const std::vector<std::string>& flags = {})
    {
        const std::string output = work / ("elf" + std::to_string(++m_compiled));
        TestKit::compileC(source, output, flags);
        return TestKit::readFile(output);
    }

    Outcome check(const TestKit::Package& package, const std::string& profile = "regular",
                  TestKit::RunOptions options = {})
    {
        Outcome outcome;
        outcome.result = vetrik({"--color", "never", "-p", profile, TestKit::buildRpm(package, work.path())},
                                std::move(options));
        outcome.exitCode = outcome.result.exitCode;
        outcome.lines = TestKit::fileValidatorLines(outcome.result.findings);
        return outcome;
    }

    int nextCompileNumber() { return ++m_compiled; }

    // The application with the file at `path` made no regular file: a link
    // to /dev/zero, which would never end, and a named pipe, which would
    // block. Each is judged with exactly `expected`, in good time, and never
    // read.
    void expectNoRegularFileIsRead(const std::string& path, const std::vector<std::string>& expected)
    {
        for (const TestKit::Entry& entry : {TestKit::symlink(path, "/dev/zero"), TestKit::fifo(path)}) {
            TestKit::Package package = application();
            package.entries.push_back(entry);
            TestKit::RunOptions options;
            options.timeoutSeconds = 60;
            const Outcome outcome = check(package, "regular", options);
            EXPECT_FALSE(outcome.result.run.timedOut) << entry.path;
            EXPECT_EQ(outcome.lines, expected) << entry.path;
        }
    }

    TestKit::TempDir work;
    TestKit::Vetrik vetrik;

private:
    std::string m_name;
    int m_compiled = 0;
};
