// Files are validated while the payload is still being unpacked, and with
// --jobs several packages at once; neither may change a byte of the output.
// The references are the run that validates only the finished tree (the
// internal VETRIK_SEQUENTIAL_CHECKS) and the run of one package at a time.

#include "DriverFixture.h"
#include "Fixtures.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class OverlapTest : public TestKit::DriverFixture {
protected:
    void SetUp() override { vetrik.setOsRelease("NAME=Taliro\nVERSION_ID=5.1.0.1\n"); }

    // A package that draws findings of most validators, file after file:
    // locations, hard-coded home paths, QML imports, executables that are
    // no ELF files, the manifest, the watch list, the desktop entry; and
    // files that may only be validated at the end (links, a ghost-like
    // absent file through a link).
    TestKit::Package findingsPackage(const std::string& name)
    {
        TestKit::Package package = TestKit::validApplication(name, work.path());
        const std::string share = "/usr/share/" + name;
        package.requirements = {"libunknown-thing"};
        std::string desktop = TestKit::validDesktopFile(name);
        desktop.replace(desktop.find("Permissions=Internet"), 20, "Permissions=Internet;NoSuchPermission\nExecDBus=/usr/bin/elsewhere");
        desktop.replace(desktop.find("Type=Application"), 16, "Type=Application\nX-Unknown-Key=1");
        TestKit::setDesktopFile(package, desktop);
        package.entries.push_back(TestKit::directory(share + "/qml"));
        for (int i = 0; i < 60; ++i) {
            const std::string n = std::to_string(i);
            package.entries.push_back(TestKit::file(share + "/qml/page" + n + ".qml",
                                                    "import QtQuick 2.6\nimport Forbidden.Module" + n + " 1.0\nimport \"/abs/dir" + n
                                                        + "\"\nItem {}\n"));
            package.entries.push_back(TestKit::file("/opt/" + name + "/file" + n, "/home/defaultuser/" + n + "\n"));
            package.entries.push_back(TestKit::file(share + "/bin/tool" + n, "#!/bin/sh\necho " + n + "\n", 0755));
        }
        package.entries.push_back(TestKit::symlink(share + "/alink", "zzz-target"));
        package.entries.push_back(TestKit::file(share + "/zzz-target", "/home/defaultuser\n", 0755));
        package.entries.push_back(TestKit::hardLink(share + "/hard2", share + "/data.txt"));
        package.entries.push_back(TestKit::file("/manifest.json", "{\"minOSVersion\": \"99\", \"unknown\": 1}\n"));
        package.entries.push_back(TestKit::file("/etc/integrityd/config.d/" + name + ".json",
                                                "{\"watch\": [\"file:/usr/bin/not-in-package\"]}\n"));
        return package;
    }

    TestKit::VetrikResult sequential(const std::vector<std::string>& arguments)
    {
        TestKit::RunOptions options;
        options.env = {{"VETRIK_SEQUENTIAL_CHECKS", "1"}};
        return vetrik(arguments, options);
    }

    // A JSON Lines report without the times, which differ from run to run.
    std::string reportWithoutTimes(const std::string& path)
    {
        std::string text = TestKit::readFile(path);
        for (std::size_t at = text.find(",\"milliseconds\":"); at != std::string::npos;
             at = text.find(",\"milliseconds\":", at)) {
            const std::size_t end = text.find_first_not_of("0123456789", at + 16);
            text.erase(at, end - at);
        }
        return text;
    }

    static void expectSameOutput(const TestKit::VetrikResult& expected, const TestKit::VetrikResult& actual,
                                 const std::string& what)
    {
        EXPECT_EQ(actual.exitCode, expected.exitCode) << what;
        EXPECT_EQ(actual.run.out, expected.run.out) << what;
        EXPECT_EQ(actual.rawErr, expected.rawErr) << what;
    }
};

TEST_F(OverlapTest, ChecksDuringExtractionPrintWhatTheFinishedTreePrints)
{
    struct Case {
        std::string what;
        std::string package;
    };
    std::vector<Case> cases;
    cases.push_back({"many findings", build(findingsPackage("org.example.findings"))});
    // A directory without owner write permission gets its mode only at the
    // end: everything validated early is validated again.
    TestKit::Package readOnlyDir = findingsPackage("org.example.readonly");
    readOnlyDir.entries.push_back(TestKit::directory("/usr/share/org.example.readonly/locked", 0555));
    readOnlyDir.entries.push_back(TestKit::file("/usr/share/org.example.readonly/locked/inside", "/home/defaultuser\n"));
    cases.push_back({"read-only directory", build(readOnlyDir)});
    // A name given twice in the archive: cpio keeps the first.
    TestKit::Package twice = findingsPackage("org.example.twice");
    twice.compressor = "none";
    twice.entries.push_back(TestKit::file("/usr/share/org.example.twice/qml/page0.qmm", "import Other.Module 2.0\n"));
    const std::string twicePath = build(twice);
    TestKit::replaceUnique(twicePath, "./usr/share/org.example.twice/qml/page0.qmm", "./usr/share/org.example.twice/qml/page0.qml");
    cases.push_back({"name given twice", twicePath});

    for (const Case& c : cases) {
        for (const char* profile : {"regular", "extended"}) {
            const std::vector<std::string> arguments = {"--color", "never", "-p", profile, c.package};
            const TestKit::VetrikResult reference = sequential(arguments);
            ASSERT_GT(reference.findings.size(), 20u) << c.what << "\n" << reference.rawErr;
            for (int round = 0; round < 3; ++round)
                expectSameOutput(reference, vetrik(arguments), c.what + " " + profile);

            // The report holds what the text holds, however the checks ran.
            std::vector<std::string> reported = {"--report", work / "sequential.jsonl"};
            reported.insert(reported.end(), arguments.begin(), arguments.end());
            sequential(reported);
            reported[1] = work / "overlapped.jsonl";
            vetrik(reported);
            EXPECT_EQ(reportWithoutTimes(work / "overlapped.jsonl"), reportWithoutTimes(work / "sequential.jsonl"))
                << c.what << " " << profile;
        }
    }
}

TEST_F(OverlapTest, JobsPrintEachPackageWholeInArgumentOrder)
{
    const std::string findings = build(findingsPackage("org.example.findings"));
    const std::string clean = build(cleanPackage());
    const std::string text = work / "notes.rpm";
    TestKit::writeFile(text, "this is not a package\n");
    const std::vector<std::string> packages = {findings, clean, work / "missing.rpm", text, findings, clean, findings};

    std::vector<std::string> arguments = {"--color", "never", "-p", "regular"};
    arguments.insert(arguments.end(), packages.begin(), packages.end());
    const TestKit::VetrikResult reference = vetrik(arguments);
    EXPECT_EQ(reference.exitCode, 1);
    ASSERT_EQ(reference.out.size(), packages.size()) << reference.run.out;
    for (const char* jobs : {"1", "2", "5"}) {
        std::vector<std::string> withJobs = {"--jobs", jobs};
        withJobs.insert(withJobs.end(), arguments.begin(), arguments.end());
        expectSameOutput(reference, vetrik(withJobs), std::string("--jobs ") + jobs);
        // And the report, package by package in argument order.
        withJobs.insert(withJobs.begin(), {"--report", work / (std::string("jobs") + jobs + ".jsonl")});
        vetrik(withJobs);
        EXPECT_EQ(reportWithoutTimes(work / (std::string("jobs") + jobs + ".jsonl")), reportWithoutTimes(work / "jobs1.jsonl"))
            << jobs;
    }
    EXPECT_GT(TestKit::lines(TestKit::readFile(work / "jobs1.jsonl")).size(), packages.size());

    // With both streams in one place, their lines keep their order too.
    const auto merged = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> argv = {"sh", "-c", "\"$@\" 2>&1", "sh", TestKit::Vetrik::path()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        TestKit::RunOptions options;
        options.env = {{"KVD_ROOT_FS", vetrik.root()}};
        return TestKit::run(argv, options);
    };
    const TestKit::RunResult one = merged({});
    const TestKit::RunResult three = merged({"-j", "3"});
    EXPECT_EQ(three.exitCode, one.exitCode);
    EXPECT_EQ(three.out, one.out);
}

TEST_F(OverlapTest, JobsTakeOnlyPositiveNumbers)
{
    const std::string clean = build(cleanPackage());
    for (const char* jobs : {"0", "-2", "two", ""}) {
        auto result = vetrik({"--color", "never", "--jobs", jobs, clean});
        EXPECT_EQ(result.exitCode, 1) << jobs;
        EXPECT_TRUE(result.out.empty()) << jobs;
        EXPECT_NE(result.rawErr.find("Incorrect number of jobs: " + std::string(jobs)), std::string::npos) << result.rawErr;
    }
}

TEST_F(OverlapTest, InterruptWithJobsRemovesEveryRoot)
{
    requirePrivateTmp();
    const TestKit::Package large = slowPackage(40);
    const std::string package = build(large);
    // Waits until two roots exist, interrupts, then lists what is left.
    const std::string script = std::string("\"$@\" & pid=$!\n")
        + "n=0; while [ \"$(ls -d /tmp/dir.* 2>/dev/null | wc -l)\" -lt 2 ] && [ $n -lt 2000 ]; do n=$((n+1)); sleep 0.005; done\n"
        + "kill -TERM $pid; wait $pid; echo \"status=$?\"; ls -d /tmp/dir.* 2>/dev/null";
    auto result = withPrivateTmp(script, {"--color", "never", "-p", "regular", "-j", "2", package, package, package});
    ASSERT_NE(result.exitCode, 99) << result.err;
    EXPECT_EQ(result.out, "status=143\n") << result.err;
}

} // namespace
