// vetrik on what a hostile uploader or a careless caller gives it: endless
// names, a validation that crashes, package arguments that are no files,
// header texts that would drive a terminal, an rpm database it must not
// touch, a PATH that names other tools, packaged links to this machine's
// files, a report path that names a package or a link, signals of every
// kind and a low limit on open files.

#include "DriverFixture.h"
#include "Findings.h"
#include "Png.h"
#include "deskinfo/ManifestEntry.h"

#include <boost/json.hpp>

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using TestKit::error;
using TestKit::info;
using TestKit::warning;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

class HostileInputTest : public TestKit::DriverFixture {
protected:
    // Every regular file below `directory` with its size and modification
    // time: what a run must leave as it found it.
    static std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> snapshot(const std::string& directory)
    {
        std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> files;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(directory, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            const bool regular = it->is_regular_file(ec);
            files[it->path().string()] = {regular ? it->file_size(ec) : 0, it->last_write_time(ec)};
        }
        return files;
    }

    // The names in `directory`, hidden ones included.
    static std::vector<std::string> names(const std::string& directory)
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(directory))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    // The outcome of each package in a JSON Lines report, in order.
    static std::vector<std::string> outcomes(const std::string& report)
    {
        std::vector<std::string> found;
        std::ifstream in(report);
        for (std::string line; std::getline(in, line);) {
            const boost::json::object object = boost::json::parse(line).as_object();
            if (object.at("type") == "package")
                found.emplace_back(object.at("outcome").as_string());
        }
        return found;
    }

    // Runs in a private /tmp with the report written as on a file system
    // without unnamed files when `named` is set.
    static std::string withTemporaryKind(bool named, const std::string& script)
    {
        return (named ? "export VETRIK_NAMED_REPORT_TEMPORARY=1\n" : "") + script;
    }
};

TEST_F(HostileInputTest, DependencyNamesOfSixtyThousandCharacters)
{
    const std::string letters(60000, 'x');
    TestKit::Package package = cleanPackage();
    // Allowed by the expression for libdl; nothing allows the second one.
    package.requirements = {"libdl.so.2(" + letters + ")", "libfoo.so.1(" + letters + ")"};
    auto result = vetrik({"--color", "never", "-p", "regular", build(package)});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.run.signal, 0);
    EXPECT_THAT(result.findings, ElementsAre(error("[libfoo.so.1(" + letters + ")] Dependency is not allowed")));
}

TEST_F(HostileInputTest, ControlCharactersOfThePackageAreShownEscaped)
{
    TestKit::Package package = cleanPackage();
    package.vendor = "Evil\x1b[2K\r(INFO)\t\tall good";
    package.requirements = {"libfoo\x1b]0;title\x07"};
    package.entries.push_back(TestKit::symlink("/usr/share/org.example.clean/link", "x\x1b[1A\nfake"));
    const std::string built = build(package);
    // The file name is the caller's, but may well come from an upload too.
    const std::string renamed = work / "evil\x1b[2K\rname.rpm";
    fs::rename(built, renamed);
    const std::string shownName = work.path() + "/evil\\x1b[2K\\rname.rpm";

    auto result = vetrik({"--color", "never", "-p", "regular", renamed, renamed + ".missing"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.out, ElementsAre("Processing " + shownName + "...", "Processing " + shownName + ".missing..."));
    EXPECT_THAT(result.findings,
                ElementsAre(error("[vendor] Vendor is set to Evil\\x1b[2K\\r(INFO)\\t\\tall good. Setting a vendor in "
                                  "RPM is not allowed"),
                            error("[libfoo\\x1b]0;title\\x07] Dependency is not allowed"),
                            info("[/usr/share/org.example.clean/link] Beware that symbolic links are only allowed for "
                                 "exclusive paths"),
                            error("[/usr/share/org.example.clean/link] Symbolic link is targeting to not allowed path "
                                  "for it: x\\x1b[1A\\nfake"),
                            "Couldn't open rpm package", "Invalid filename: " + shownName + ".missing"));
    EXPECT_EQ(result.rawErr.find('\x1b'), std::string::npos);
    EXPECT_EQ(result.run.out.find('\x1b'), std::string::npos);
}

// cpio names the entries it cannot create; those names are the package's.
// The archive is crafted from a package built without payload compression:
// an entry is renamed in place to lie below a regular file, with an escape
// sequence in its name.
TEST_F(HostileInputTest, ToolDiagnosticsAreShownEscaped)
{
    TestKit::Package package;
    package.name = "org.example.hostile";
    package.compressor = "none";
    package.entries = {TestKit::file("/usr/share/org.example.hostile/f", "file\n"),
                       TestKit::file("/usr/share/org.example.hostile/g/zzzz", "below a file\n")};
    const std::string path = build(package);
    TestKit::replaceUnique(path, "./usr/share/org.example.hostile/g/zzzz", "./usr/share/org.example.hostile/f/\x1b[2K");

    auto result = vetrik({"--color", "never", "-p", "regular", path});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.findings,
                ElementsAre("cpio: `./usr/share/org.example.hostile/f' exists but is not a directory",
                            "cpio: ./usr/share/org.example.hostile/f/\\x1b[2K: Cannot open: Not a directory",
                            path + ": cannot extract the payload: cpio failed"))
        << result.rawErr;
    EXPECT_EQ(result.rawErr.find('\x1b'), std::string::npos);
}

TEST_F(HostileInputTest, ArgumentsThatAreNoRegularFilesAreRefusedWithoutBlocking)
{
    const std::string good = build(cleanPackage());
    const std::string fifo = work / "pipe.rpm";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string socketPath = work / "socket.rpm";
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string directory = work / "directory.rpm";
    fs::create_directory(directory);

    // Without -p the profile would come from the package's certificate,
    // which opens the file: the refusal must come first.
    TestKit::RunOptions options;
    options.timeoutSeconds = 60;
    auto result = vetrik({"--color", "never", fifo, socketPath, directory, "/dev/zero", good}, options);
    ::close(listening);
    EXPECT_FALSE(result.run.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.out, ElementsAre("Processing " + fifo + "...", "Processing " + socketPath + "...",
                                        "Processing " + directory + "...", "Processing /dev/zero...",
                                        "Processing " + good + "..."));
    EXPECT_THAT(result.findings,
                ElementsAre(fifo + ": not a package file: a named pipe", socketPath + ": not a package file: a socket",
                            directory + ": not a package file: a directory",
                            "/dev/zero: not a package file: a character device",
                            "Incorrect or empty profile name, trying to get profile from certificate...",
                            "Incorrect certificate, falling back to \"regular\" profile..."));
}

TEST_F(HostileInputTest, ToolsAreNeverLookedUpInPath)
{
    const std::string package = build(cleanPackage());
    const std::string bin = work / "bin";
    const std::string marker = work / "impostor-ran";
    for (const char* tool : {"cpio", "rpm2cpio"})
        TestKit::writeFile(bin + "/" + tool, "#!/bin/sh\ntouch '" + marker + "'\nexit 1\n", 0755);
    TestKit::RunOptions options;
    options.env = {{"PATH", bin + ":" + std::getenv("PATH")}};
    auto result = vetrik({"--color", "never", "-p", "regular", package}, options);
    EXPECT_EQ(result.exitCode, 0) << result.rawErr;
    EXPECT_THAT(result.findings, IsEmpty());
    EXPECT_FALSE(fs::exists(marker));
}

// Desktop files a hostile package fills with groups or keys: beyond the
// desktop-entry layer's limits, they are broken before they cost memory
// or time in proportion to their lines.
TEST_F(HostileInputTest, DesktopFilesOfCountlessGroupsOrKeysAreBrokenInBoundedMemory)
{
    // Numbered lines after `head` until `size` bytes are reached, or until
    // `count` lines when it comes first.
    const auto lines = [](std::string head, const std::string& before, const std::string& after, std::size_t count,
                          std::size_t size) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::string line = before + std::to_string(i) + after;
            if (head.size() + line.size() > size)
                break;
            head += line;
        }
        return head;
    };
    constexpr std::size_t unbounded = std::size_t(-1);
    constexpr std::size_t cap = AppManifest::ManifestEntry::kMaxFileBytes;
    struct Case {
        std::string what;
        std::string desktop;
    };
    const std::vector<Case> cases = {
        {"a million groups", lines("[Desktop Entry]\n", "[G", "]\n", 1000000, unbounded)},
        {"groups up to the size limit", lines("[Desktop Entry]\n", "[", "]\n", unbounded, cap)},
        // Each key of this group would be a finding of its own.
        {"keys up to the size limit", lines("[X-Taliro-Application]\n", "", "=\n", unbounded, cap)},
    };
    for (const Case& c : cases) {
        TestKit::Package package = cleanPackage();
        TestKit::setDesktopFile(package, c.desktop);
        TestKit::RunOptions options;
        options.timeoutSeconds = 120;
        auto result = vetrik({"--color", "never", "-p", "regular", build(package)}, options);
        EXPECT_FALSE(result.run.timedOut) << c.what;
        EXPECT_EQ(result.exitCode, 1) << c.what;
        EXPECT_THAT(result.findings,
                    ElementsAre(error("[desktop] Broken desktop file"), error("[desktop] Desktop file is missing")))
            << c.what;
        EXPECT_LT(result.run.maxRssKiB, 500 * 1024) << c.what;
    }
}

// A crash of the process that validates one package: the test kills it
// from outside while it unpacks, found as the child of vetrik through /proc.
TEST_F(HostileInputTest, CrashedValidationIsReportedCleanedUpAndTheRunGoesOn)
{
    requirePrivateTmp();
    const TestKit::Package large = slowPackage();
    const std::string crashing = build(large);
    const std::string good = build(cleanPackage());

    for (const auto& [signal, description] : {std::pair<std::string, std::string>{"SEGV", "signal 11 (Segmentation fault)"},
                                              {"KILL", "signal 9 (Killed)"}}) {
        // A sanitizer build would take SIGSEGV for a fault of its own, report
        // it and exit instead of dying by the signal.
        const std::string script = std::string("ulimit -c 0\n")
            + "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}handle_segv=0\"\n"
            + "\"$@\" & pid=$!\n"
            + "n=0; child=\n"
            + "while [ $n -lt 4000 ]; do\n"
            + "  child=$(cat /proc/$pid/task/*/children 2>/dev/null | tr ' ' '\\n' | head -n 1)\n"
            + "  [ -n \"$child\" ] && [ -n \"$(ls -A /tmp/dir.* 2>/dev/null)\" ] && break\n"
            + "  n=$((n+1)); sleep 0.005\n"
            + "done\n"
            + "kill -" + signal + " $child; wait $pid; echo \"status=$?\"; ls -d /tmp/dir.* 2>/dev/null\n";
        const std::string report = work / "crash.jsonl";
        auto result = withPrivateTmp(script, {"--color", "never", "-p", "regular", "--report", report, crashing, good});
        ASSERT_NE(result.exitCode, 99) << result.err;
        EXPECT_EQ(result.out, "Processing " + crashing + "...\nProcessing " + good + "...\nstatus=1\n")
            << signal << ": " << result.err;
        // cpio may still say that its archive was cut short before it dies
        // with the process that fed it; every other line is vetrik's.
        std::vector<std::string> lines;
        for (const std::string& line : TestKit::lines(result.err)) {
            if (!line.starts_with("cpio: ") && !(line.ends_with(" blocks") || line.ends_with(" block")))
                lines.push_back(line);
        }
        EXPECT_THAT(lines, ElementsAre(crashing + ": validation crashed: " + description)) << result.err;
        // The report is whole all the same and says what became of each.
        std::vector<std::string> outcomes;
        std::ifstream in(report);
        for (std::string line; std::getline(in, line);) {
            const boost::json::object object = boost::json::parse(line).as_object();
            if (object.at("type") == "package")
                outcomes.push_back(std::string(object.at("outcome").as_string()) + " "
                                   + (object.contains("reason") ? std::string(object.at("reason").as_string()) : ""));
        }
        EXPECT_THAT(outcomes, ElementsAre("not-validated validation crashed: " + description, "passed "));
    }
}

// A crash of a package's own supervising process (--jobs), killed from
// outside while its package unpacks. Its child and the tools below it die
// with it, but a process they left running may still write into the root:
// here cpio is a wrapper that leaves one behind for a second, which notes
// whether the root is still there when it ends. The root must outlive it,
// and go all the same.
TEST_F(HostileInputTest, CrashedSupervisorsRootGoesOnlyAfterItsTools)
{
    requirePrivateTmp();
    const std::string first = build(slowPackage());
    const std::string second = work / "second.rpm";
    fs::copy_file(first, second);
    const std::string marks = work / "marks";
    fs::create_directories(marks);
    const std::string realCpio = work / "real-cpio";
    fs::copy_file("/usr/bin/cpio", realCpio);
    const std::string wrapper = work / "cpio-wrapper";
    TestKit::writeFile(wrapper,
                       "#!/bin/sh\n"
                       "root=$(pwd -P)\n"
                       "echo $PPID > '" + marks + "/parent.'$$\n"
                       "( sleep 1; if [ -d \"$root\" ]; then echo kept; else echo gone; fi > '" + marks
                           + "/root.'$(basename \"$root\") ) </dev/null >/dev/null 2>&1 &\n"
                       "exec '" + realCpio + "' \"$@\"\n",
                       0755);
    const std::string script = std::string("ulimit -c 0\n")
        + "mount --bind '" + wrapper + "' /usr/bin/cpio || exit 99\n"
        + "\"$@\" & pid=$!\n"
        + "n=0; validator=\n"
        + "while [ -z \"$validator\" ] && [ $n -lt 4000 ]; do\n"
        + "  validator=$(cat '" + marks + "'/parent.* 2>/dev/null | head -n 1)\n"
        + "  n=$((n+1)); sleep 0.005\n"
        + "done\n"
        + "supervisor=$(awk '/^PPid:/ { print $2 }' /proc/$validator/status)\n"
        + "kill -KILL $supervisor; wait $pid; echo \"status=$?\"\n"
        + "n=0; while [ $(ls '" + marks + "' | grep -c '^root\\.') -lt 2 ] && [ $n -lt 1000 ]; do n=$((n+1)); sleep 0.01; done\n"
        + "cat '" + marks + "'/root.*; ls -d /tmp/dir.* 2>/dev/null\n";
    auto result = withPrivateTmp(script, {"--color", "never", "-p", "regular", "-j", "2", first, second});
    ASSERT_NE(result.exitCode, 99) << result.err;
    EXPECT_EQ(result.out, "Processing " + first + "...\nProcessing " + second + "...\nstatus=1\nkept\nkept\n")
        << result.err;
    // Besides cpio's lines, the findings of the package that was validated
    // to its end; every other line is vetrik's.
    std::vector<std::string> lines;
    for (const std::string& line : TestKit::lines(result.err)) {
        if (!line.starts_with("cpio: ") && !line.starts_with("(") && !line.ends_with(" blocks"))
            lines.push_back(line);
    }
    EXPECT_THAT(lines, ::testing::AnyOf(ElementsAre(first + ": validation crashed: signal 9 (Killed)"),
                                        ElementsAre(second + ": validation crashed: signal 9 (Killed)")))
        << result.err;
}

// The rpm database (%{_dbpath}, $HOME/.rpmdb here) is read for its keys
// and never created, whatever HOME is. (Without HOME it is the account's
// own, which other programs may use meanwhile; the signed-package test below
// shows that an existing database is not written.)
TEST_F(HostileInputTest, NothingIsCreatedOrChangedOutsideTheExtractionRoot)
{
    const std::string package = build(cleanPackage());
    TestKit::TempDir home{"home", E2E_WORK_DIR};
    TestKit::TempDir cwd{"cwd", E2E_WORK_DIR};
    const bool rootDatabaseExisted = fs::exists("/.rpmdb");

    struct Case {
        std::string label;
        std::vector<std::pair<std::string, std::string>> env;
        std::vector<std::string> unset;
    };
    for (const Case& c : {Case{"empty home directory", {{"HOME", home.path()}}, {}}, Case{"empty HOME", {{"HOME", ""}}, {}},
                          Case{"no HOME", {}, {"HOME"}}}) {
        TestKit::RunOptions options;
        options.env = c.env;
        options.unsetEnv = c.unset;
        options.workingDirectory = cwd.path();
        auto result = vetrik({"--color", "never", "-p", "regular", package}, options);
        EXPECT_EQ(result.exitCode, 0) << c.label << ": " << result.rawErr;
        EXPECT_THAT(result.findings, IsEmpty()) << c.label;
        EXPECT_TRUE(fs::is_empty(home.path())) << c.label;
        EXPECT_TRUE(fs::is_empty(cwd.path())) << c.label;
        EXPECT_EQ(fs::exists("/.rpmdb"), rootDatabaseExisted) << c.label;
    }
}

// A packaged link is the package's own: an absolute target means the
// package's file, and ".." never climbs above its root. Each file a check
// reads is here a link to a file of this machine that holds a marker,
// written absolute, relative with enough ".." to reach "/", and relative
// through a packaged link to this machine's directory: every one is judged
// as a file the package does not have, and the marker appears nowhere.
// The same links led to a file of the package instead are followed and
// judged as that file. One package per form of link holds all the links.
TEST_F(HostileInputTest, ChecksReadNoFileOutsideThePackageThroughItsLinks)
{
    const std::string N = "org.example.clean";
    const std::string marker = "SECRET-MARKER-7f3a";
    const std::string share = "/usr/share/" + N + "/";
    const std::string icon = "/usr/share/icons/hicolor/86x86/apps/" + N + ".png";
    const std::string parameters = share + "managed-configuration/sync.json";
    const std::string helper = "/usr/libexec/" + N + "/tool";
    const std::string hostDir = work / "host";
    vetrik.setOsRelease("VERSION_ID=4.0\n");
    TestKit::writeFile(vetrik.root() + "/usr/share/managed-configuration/schemas/sync.json",
                       R"({"parameters": {"server": "string"}, "required": ["server"]})");
    TestKit::compileC("const char secret[] = \"" + marker + "\";\nint main(void) { return secret[0] == 0; }\n",
                      hostDir + "/tool");
    const std::string elfBytes = TestKit::readFile(hostDir + "/tool");

    struct Kind {
        std::string path;        // the packaged file that becomes a link
        std::string hostFile;    // name of the file of this machine it leads to
        std::string hostText;    // what that file holds, marker included
        std::string ownText;     // a file of the package an inside link leads to
        std::vector<std::string> unreadable;  // findings when the link leads outside
        std::vector<std::string> inside;      // findings when it leads to ownText
    };
    const std::string needle = "/home/defaultuser";
    const std::vector<Kind> kinds = {
        {TestKit::desktopPath(N), "app.desktop",
         TestKit::validDesktopFile(N) + "[" + marker + " password=hunter2]\nKey=1\n", TestKit::validDesktopFile(N),
         {error("[desktop] Broken desktop file"), error("[desktop] Desktop file is missing")},
         {}},
        {"/manifest.json", "manifest.json", R"({"minOSVersion": "1.0", ")" + marker + R"(": true})",
         R"({"minOSVersion": "1.0", "own-key": true})",
         {error("[manifest] manifest file contains invalid JSON")},
         {warning("[own-key] Unknown manifest key")}},
        {icon, "icon.png", TestKit::png(86, 86), TestKit::png(86, 86),
         {error("[" + icon + "] Icon not found or file resolution is incorrect")},
         {}},
        {share + "qml/main.qml", "main.qml", "import \"/" + marker + "\"\nItem {}\n", "import \"/own\"\nItem {}\n",
         {},
         {error("[\"/own\"] Import is not allowed")}},
        {"/etc/integrityd/config.d/" + N + ".json", "watch.json", R"({"watch": ["file:/)" + marker + R"("]})",
         R"({"watch": ["file:/usr/bin/)" + N + R"("]})",
         {error("[integrityd] integrityd configuration file contains invalid JSON")},
         {}},
        {parameters, "sync.json", R"({"server": ")" + marker + R"("})", R"({"server": "own"})",
         {error("[" + parameters + "] Configuration parameter file for managed configuration is invalid")},
         {}},
        {helper, "tool", elfBytes, elfBytes,
         {error("[" + helper + "] Installation not allowed in this location: bad executable format")},
         {}},
        {share + "notes", "notes", marker + " " + needle + "\n", "own " + needle + "\n",
         {},
         {error("[" + share + "notes] Hardcoded path found")}},
    };
    for (const Kind& kind : kinds) {
        if (kind.hostFile != "tool")
            TestKit::writeFile(hostDir + "/" + kind.hostFile, kind.hostText);
    }

    const auto relativeTo = [](const std::string& target, const std::string& link) {
        return fs::path(target).lexically_relative(fs::path(link).parent_path()).string();
    };
    const std::string climb = [] {
        std::string up;
        for (int i = 0; i < 24; ++i)
            up += "../";
        return up;
    }();
    // Named so that no check takes the package's own copy for the file it
    // stands in for.
    const auto ownCopy = [&share](const Kind& k) { return share + "own/" + k.hostFile + ".own"; };
    enum class Leads { Outside, Inside };
    struct Form {
        std::string what;
        Leads leads;
        std::function<std::string(const Kind&)> target;
    };
    const std::vector<Form> forms = {
        {"absolute, to this machine", Leads::Outside, [&](const Kind& k) { return hostDir + "/" + k.hostFile; }},
        {"relative, climbing to /", Leads::Outside, [&](const Kind& k) { return climb + hostDir.substr(1) + "/" + k.hostFile; }},
        {"relative, through a linked directory", Leads::Outside,
         [&](const Kind& k) { return relativeTo(share + "host/" + k.hostFile, k.path); }},
        {"absolute, to the package's own file", Leads::Inside, [&](const Kind& k) { return ownCopy(k); }},
        {"relative, to the package's own file", Leads::Inside, [&](const Kind& k) { return relativeTo(ownCopy(k), k.path); }},
    };

    for (const Form& form : forms) {
        TestKit::Package package = cleanPackage();
        std::vector<std::string> expected;
        for (const Kind& kind : kinds) {
            std::erase_if(package.entries, [&](const TestKit::Entry& e) { return e.path == kind.path; });
            package.entries.push_back(TestKit::symlink(kind.path, form.target(kind)));
            package.entries.push_back(TestKit::file(ownCopy(kind), kind.ownText));
            const auto& lines = form.leads == Leads::Outside ? kind.unreadable : kind.inside;
            expected.insert(expected.end(), lines.begin(), lines.end());
        }
        package.entries.push_back(TestKit::symlink(share + "host", hostDir));
        // Every file is scanned, the package's own copies too.
        expected.push_back(error("[" + share + "own/notes.own] Hardcoded path found"));
        const std::string report = work / "links.jsonl";
        auto result = vetrik({"--color", "never", "-p", "regular", "--report", report, build(package)});
        EXPECT_THAT(TestKit::fileValidatorLines(result.findings), ::testing::UnorderedElementsAreArray(expected))
            << form.what << "\n" << result.rawErr;
        if (form.leads == Leads::Outside) {
            EXPECT_EQ(result.rawErr.find(marker), std::string::npos) << form.what;
            EXPECT_EQ(result.run.out.find(marker), std::string::npos) << form.what;
            EXPECT_EQ(TestKit::readFile(report).find(marker), std::string::npos) << form.what;
        }
    }
}

// A link to a file of this machine is never read, however large: four
// links to a sparse file of 30 GB, which took a minute each to scan.
TEST_F(HostileInputTest, LinksToAHugeFileOfThisMachineAreNotRead)
{
    const std::string huge = work / "huge";
    auto made = TestKit::run({"truncate", "-s", "30G", huge});
    if (made.exitCode != 0)
        GTEST_SKIP() << "no sparse file of 30 GB here: " << made.err;
    TestKit::Package package = cleanPackage();
    const std::string share = "/usr/share/org.example.clean/";
    for (const char* name : {"a", "b", "c", "d"})
        package.entries.push_back(TestKit::symlink(share + name, huge));
    TestKit::RunOptions options;
    options.timeoutSeconds = 60;
    auto result = vetrik({"--color", "never", "-p", "regular", build(package)}, options);
    fs::remove(huge);
    EXPECT_FALSE(result.run.timedOut);
    EXPECT_LT(result.run.seconds, 60);
    EXPECT_EQ(result.exitCode, 1) << result.rawErr;
    EXPECT_THAT(TestKit::fileValidatorLines(result.findings), IsEmpty());
}

// OpenPGP signatures of the header are still checked: against the keys
// imported into the rpm database, which is read without being written.
class SignedPackageTest : public HostileInputTest {
protected:
    void SetUp() override
    {
        if (::access("/usr/bin/gpg", X_OK) != 0 || ::access("/usr/bin/rpmsign", X_OK) != 0)
            GTEST_SKIP() << "gpg and rpmsign are needed";
        gpgOptions.env = {{"GNUPGHOME", gnupg.path()}};
        auto key = TestKit::run({"gpg", "--batch", "--passphrase", "", "--quick-gen-key",
                                 "Taliro Test Signer <signer@example.org>", "rsa2048", "sign", "never"},
                                gpgOptions);
        ASSERT_EQ(key.exitCode, 0) << key.err;
        auto exported = TestKit::run({"gpg", "--armor", "--export", "--output", work / "signer.asc",
                                      "signer@example.org"},
                                     gpgOptions);
        ASSERT_EQ(exported.exitCode, 0) << exported.err;
    }

    void TearDown() override
    {
        // gpg leaves an agent running for its home directory.
        TestKit::run({"gpgconf", "--kill", "gpg-agent"}, gpgOptions);
    }

    std::string sign(const std::string& package)
    {
        auto result = TestKit::run({"rpmsign", "--addsign", "--define", "__gpg /usr/bin/gpg", "--define",
                                    "_gpg_name signer@example.org", "--define", "_gpg_path " + gnupg.path(), package},
                                   gpgOptions);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return package;
    }

    TestKit::TempDir gnupg{"gnupg", E2E_WORK_DIR};
    TestKit::RunOptions gpgOptions;
};

TEST_F(SignedPackageTest, UnknownKeysAreRefusedKnownOnesAcceptedAndTheDatabaseIsNotWritten)
{
    const std::string package = sign(build(cleanPackage()));
    TestKit::TempDir home{"home", E2E_WORK_DIR};
    TestKit::RunOptions options;
    options.env = {{"HOME", home.path()}};

    // Under a hostile name too: librpm's own warning names the file.
    const std::string evilName = work / "signed\x1b[2K.rpm";
    fs::copy_file(package, evilName);
    const std::string shownName = work.path() + "/signed\\x1b[2K.rpm";
    auto unknown = vetrik({"--color", "never", "-p", "regular", evilName}, options);
    EXPECT_EQ(unknown.exitCode, 1);
    ASSERT_EQ(unknown.findings.size(), 3u) << unknown.rawErr;
    EXPECT_TRUE(unknown.findings[0].starts_with("warning: " + shownName + ": Header V4 RSA/SHA512 Signature, key ID "))
        << unknown.findings[0];
    EXPECT_TRUE(unknown.findings[0].ends_with(": NOKEY")) << unknown.findings[0];
    EXPECT_EQ(unknown.findings[1], "Couldn't read rpm package");
    EXPECT_EQ(unknown.findings[2], "Invalid filename: " + shownName);
    EXPECT_EQ(unknown.rawErr.find('\x1b'), std::string::npos);
    EXPECT_TRUE(fs::is_empty(home.path()));

    auto imported = TestKit::run({"rpm", "--dbpath", home / ".rpmdb", "--import", work / "signer.asc"});
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    const auto database = snapshot(home.path());
    auto known = vetrik({"--color", "never", "-p", "regular", package}, options);
    EXPECT_EQ(known.exitCode, 0) << known.rawErr;
    EXPECT_THAT(known.findings, IsEmpty());
    EXPECT_EQ(snapshot(home.path()), database);
}

// A report is never written over what the run reads: not by the same path,
// a hard link, or a symbolic link either way, and not over an RPM package
// that a shell pattern put first (--report *.rpm). The run stops before any
// package is looked at, and nothing in the directory changes.
TEST_F(HostileInputTest, ReportOverAPackageIsRefusedAndNothingChanges)
{
    const std::string built = build(cleanPackage());
    const std::string inputs = work / "inputs";
    fs::create_directories(inputs);
    const std::string a = inputs + "/a.rpm", b = inputs + "/b.rpm", c = inputs + "/c.rpm";
    for (const std::string& copy : {a, b, c})
        fs::copy_file(built, copy);
    const std::string hard = inputs + "/hard.rpm", link = inputs + "/link.rpm";
    fs::create_hard_link(a, hard);
    fs::create_symlink("a.rpm", link);
    const auto before = snapshot(inputs);
    const std::string bytes = TestKit::readFile(a);

    struct Case {
        std::vector<std::string> arguments;
        std::string line;
    };
    const Case cases[] = {
        {{"--report", a, a}, "Cannot write the report " + a + ": it is the package " + a},
        {{"--report-format", "junit", "--report", a, a}, "Cannot write the report " + a + ": it is the package " + a},
        {{"-j", "1", "--report", b, a, b, c}, "Cannot write the report " + b + ": it is the package " + b},
        {{"-j", "4", "--report", c, a, b, c}, "Cannot write the report " + c + ": it is the package " + c},
        {{"--report", hard, a}, "Cannot write the report " + hard + ": it is the package " + a},
        {{"--report", link, a}, "Cannot write the report " + link + ": it is the package " + a},
        {{"--report", a, link}, "Cannot write the report " + a + ": it is the package " + link},
        {{"--report", a, b, c}, "Cannot write the report " + a + ": it is an RPM package"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {"--color", "never", "-p", "regular"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        auto result = vetrik(arguments);
        EXPECT_EQ(result.exitCode, 1) << c.line;
        EXPECT_THAT(result.out, IsEmpty()) << c.line;
        EXPECT_THAT(result.findings, ElementsAre(c.line));
        EXPECT_EQ(snapshot(inputs), before) << c.line;
        EXPECT_TRUE(TestKit::readFile(a) == bytes) << c.line << ": the package changed";
        EXPECT_THAT(names(inputs), ElementsAre("a.rpm", "b.rpm", "c.rpm", "hard.rpm", "link.rpm")) << c.line;
        EXPECT_TRUE(fs::is_symlink(link)) << c.line;
    }
}

// A report name as long as a name can be (255 bytes) is written, whether
// there is a report of that name already or not, and with either kind of
// temporary file: none of them makes the name too long.
TEST_F(HostileInputTest, ReportNamesOfTheLongestValidLength)
{
    const std::string package = build(cleanPackage());
    const std::string name(255, 'r');
    for (const bool named : {false, true}) {
        for (const bool existing : {false, true}) {
            const std::string what = std::string(named ? "named" : "unnamed") + " temporary, "
                + (existing ? "over an existing report" : "a new report");
            TestKit::TempDir reports{"reports", E2E_WORK_DIR};
            const std::string report = reports / name;
            if (existing)
                TestKit::writeFile(report, "old report\n");
            TestKit::RunOptions options;
            if (named)
                options.env = {{"VETRIK_NAMED_REPORT_TEMPORARY", "1"}};
            auto result = vetrik({"--color", "never", "-p", "regular", "--report", report, package}, options);
            EXPECT_EQ(result.exitCode, 0) << what << ": " << result.rawErr;
            EXPECT_THAT(result.findings, IsEmpty()) << what;
            EXPECT_THAT(names(reports.path()), ElementsAre(name)) << what;
            EXPECT_THAT(outcomes(report), ElementsAre("passed")) << what;
        }
    }
}

// A report path that is a symbolic link is written through to where the
// link leads, as a shell's > would: the link stays, its target gets the
// report, and a link to nothing yet makes its target.
TEST_F(HostileInputTest, ReportPathThatIsASymbolicLinkIsWrittenThrough)
{
    const std::string package = build(cleanPackage());
    struct Case {
        std::string what;
        std::vector<std::pair<std::string, std::string>> links;  // name, target, made in this order
        std::string report;                                      // the link named on the command line
        std::string written;                                     // where the report must land
        bool targetExists;
    };
    TestKit::TempDir elsewhere{"elsewhere", E2E_WORK_DIR};
    const std::vector<Case> cases = {
        {"link to a report", {{"link.jsonl", "sub/target.jsonl"}}, "link.jsonl", "sub/target.jsonl", true},
        {"link to nothing yet", {{"link.jsonl", "sub/target.jsonl"}}, "link.jsonl", "sub/target.jsonl", false},
        {"chain of links", {{"link.jsonl", "sub/target.jsonl"}, {"chain.jsonl", "link.jsonl"}}, "chain.jsonl",
         "sub/target.jsonl", true},
        {"link in a subdirectory", {{"sub/link.jsonl", "target.jsonl"}}, "sub/link.jsonl", "sub/target.jsonl", true},
        {"absolute link", {{"link.jsonl", elsewhere / "target.jsonl"}}, "link.jsonl", elsewhere / "target.jsonl", true},
    };
    for (const bool named : {false, true}) {
        for (const Case& c : cases) {
            const std::string what = c.what + (named ? ", named temporary" : "");
            TestKit::TempDir reports{"reports", E2E_WORK_DIR};
            fs::create_directories(reports / "sub");
            const std::string written = c.written.starts_with("/") ? c.written : reports / c.written;
            fs::remove(written);
            if (c.targetExists)
                TestKit::writeFile(written, "old report\n");
            for (const auto& [name, target] : c.links)
                fs::create_symlink(target, reports / name);
            TestKit::RunOptions options;
            options.workingDirectory = reports.path();
            if (named)
                options.env = {{"VETRIK_NAMED_REPORT_TEMPORARY", "1"}};
            auto result = vetrik({"--color", "never", "-p", "regular", "--report", c.report, package}, options);
            EXPECT_EQ(result.exitCode, 0) << what << ": " << result.rawErr;
            for (const auto& [name, target] : c.links) {
                EXPECT_TRUE(fs::is_symlink(reports / name)) << what << ": " << name;
                EXPECT_EQ(fs::read_symlink(reports / name), target) << what;
            }
            EXPECT_THAT(outcomes(written), ElementsAre("passed")) << what;
            // Nothing else is made beside the target.
            std::vector<std::string> expected = {fs::path(written).filename().string()};
            if (fs::path(written).parent_path() == fs::path(reports / "sub")) {
                for (const auto& [name, target] : c.links) {
                    if (name.starts_with("sub/"))
                        expected.push_back(name.substr(4));
                }
            }
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(names(fs::path(written).parent_path()), expected) << what;
            fs::remove(written);
        }
    }
}

// Every signal whose default action ends a process, and that a process can
// catch, ends a run as SIGTERM does: by that signal, after removing the
// extraction root and the report's temporary file, with no report. The
// run is caught once its payload is being unpacked. Every second signal
// finds the report under a named temporary file, as on a file system
// without unnamed files.
TEST_F(HostileInputTest, EveryCatchableTerminatingSignalCleansUp)
{
    requirePrivateTmp();
    const std::string package = build(slowPackage());
    std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,    SIGTRAP, SIGABRT,   SIGBUS, SIGFPE,
                                SIGUSR1, SIGSEGV, SIGUSR2, SIGALRM,   SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ,
                                SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSYS};
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        signals.push_back(signal);
    const std::string reports = work / "reports";
    fs::create_directories(reports);

    for (std::size_t i = 0; i < signals.size(); ++i) {
        const int signal = signals[i];
        const std::string what = std::to_string(signal) + " (" + ::strsignal(signal) + ")";
        // Core dumps of the signals that make them are not wanted here; a
        // sanitizer build would take some of them for faults of its own.
        const std::string script = withTemporaryKind(i % 2 == 1, std::string("ulimit -c 0\n")
            + "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0\"\n"
            + "\"$@\" & pid=$!\n"
            + "n=0; while [ -z \"$(ls -A /tmp/dir.* 2>/dev/null)\" ] && [ $n -lt 4000 ]; do n=$((n+1)); sleep 0.005; done\n"
            + "kill -" + std::to_string(signal) + " $pid; wait $pid; echo \"status=$?\"; ls -d /tmp/dir.* 2>/dev/null; ls -A '"
            + reports + "'\n");
        auto result = withPrivateTmp(script, {"--color", "never", "-p", "regular", "--report", reports + "/run.jsonl", package});
        ASSERT_NE(result.exitCode, 99) << result.err;
        EXPECT_EQ(result.out, "Processing " + package + "...\nstatus=" + std::to_string(128 + signal) + "\n")
            << what << ": " << result.err;
    }
}

// SIGKILL cannot be caught, yet leaves no report and no temporary file of
// it: the report is an unnamed file until the run has ended.
TEST_F(HostileInputTest, KilledRunLeavesNoReport)
{
    requirePrivateTmp();
    const std::string package = build(slowPackage());
    const std::string reports = work / "reports";
    fs::create_directories(reports);
    const std::string script = std::string("\"$@\" & pid=$!\n")
        + "n=0; while [ -z \"$(ls -A /tmp/dir.* 2>/dev/null)\" ] && [ $n -lt 4000 ]; do n=$((n+1)); sleep 0.005; done\n"
        + "kill -KILL $pid; wait $pid; echo \"status=$?\"; ls -A '" + reports + "'\n";
    auto result = withPrivateTmp(script, {"--color", "never", "-p", "regular", "--report", reports + "/run.jsonl", package});
    ASSERT_NE(result.exitCode, 99) << result.err;
    EXPECT_EQ(result.out, "Processing " + package + "...\nstatus=137\n") << result.err;
}

// Under a limit of 64 open files (ulimit -n 64: setrlimit in the shell
// before vetrik starts), a hundred packages at once give what one at a time
// gives, report included: packages wait for descriptors rather than fail
// for want of them, and no extraction root is left behind.
TEST_F(HostileInputTest, JobsBeyondTheOpenFileLimitAreQueuedNotFailed)
{
    requirePrivateTmp();
    const std::string built = build(cleanPackage());
    const std::string many = work / "many";
    fs::create_directories(many);
    std::vector<std::string> packages;
    for (int i = 0; i < 100; ++i) {
        packages.push_back(many + "/p" + std::to_string(i) + ".rpm");
        fs::create_hard_link(built, packages.back());
    }
    const auto run = [&](const std::string& jobs) {
        const std::string report = work / ("jobs" + jobs + ".jsonl");
        std::vector<std::string> arguments = {"--color", "never", "-p", "regular", "-j", jobs, "--report", report};
        arguments.insert(arguments.end(), packages.begin(), packages.end());
        auto result = withPrivateTmp("ulimit -n 64 || exit 99\n\"$@\"; echo \"status=$?\"; ls -d /tmp/dir.* 2>/dev/null",
                                     arguments);
        EXPECT_NE(result.exitCode, 99) << result.err;
        std::string text = TestKit::readFile(report);
        for (std::size_t at = text.find(",\"milliseconds\":"); at != std::string::npos;
             at = text.find(",\"milliseconds\":", at))
            text.erase(at, text.find_first_not_of("0123456789", at + 16) - at);
        return std::make_pair(result, text);
    };
    const auto [one, oneReport] = run("1");
    ASSERT_TRUE(one.out.ends_with("...\nstatus=0\n")) << one.out << one.err;
    EXPECT_EQ(one.err.find("open files"), std::string::npos) << one.err;
    EXPECT_EQ(outcomes(work / "jobs1.jsonl"), std::vector<std::string>(100, "passed"));
    const auto [hundred, hundredReport] = run("100");
    EXPECT_EQ(hundred.out, one.out);
    EXPECT_EQ(hundred.err, one.err);
    EXPECT_EQ(hundredReport, oneReport);

    // A limit too low to be sure of even one package is said once, first.
    auto low = withPrivateTmp("ulimit -n 20 || exit 99\n\"$@\"",
                              {"--color", "never", "-p", "regular", "-j", "4", packages[0], packages[1], packages[2]});
    ASSERT_NE(low.exitCode, 99) << low.err;
    const std::vector<std::string> lines = TestKit::lines(low.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].starts_with("The limit on open files (20) is below the ")) << low.err;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("limit on open files") != std::string::npos; }),
              1)
        << low.err;
}

} // namespace
