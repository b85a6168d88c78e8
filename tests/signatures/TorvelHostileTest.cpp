// torvel on hostile input, killed at random moments and run concurrently:
// a package keeps either its old blocks or the complete new ones, blocks
// that are not what they claim are neither signed over nor removed, files
// that are not regular files never block a command, and text from a signed
// file cannot drive the terminal.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"
#include "common/VisibleText.h"
#include "container/ReplacementName.h"

using namespace SignatureFixtures;
using PackageSignatures::FileWithCmses;

namespace {

std::vector<std::string> torvelArguments(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv {TORVEL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

TestKit::RunResult torvel(const std::vector<std::string>& arguments, const TestKit::RunOptions& options = {})
{
    return TestKit::run(torvelArguments(arguments), options);
}

// Starts torvel without waiting for it, its output thrown away.
pid_t startTorvel(const std::vector<std::string>& arguments)
{
    const std::vector<std::string> argv = torvelArguments(arguments);
    std::vector<char*> pointers;
    for (const std::string& argument : argv)
        pointers.push_back(const_cast<char*>(argument.c_str()));
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    if (posix_spawn(&child, pointers[0], &actions, nullptr, pointers.data(), environ) != 0)
        child = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// The new files of replacements of `path` that are still in its directory.
std::vector<std::string> leftovers(const std::string& path)
{
    const std::filesystem::path package(path);
    const std::string prefix = PackageSignatures::replacementPrefix(package.filename().string());
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(package.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0)
            found.push_back(name);
    }
    return found;
}

bool verifies(const std::string& path)
{
    testing::internal::CaptureStderr();
    const bool verified =
        FileWithCmses::fromPath(path.c_str(), "r")->verifyCmses(Pki::instance().ca.certificate.c_str());
    testing::internal::GetCapturedStderr();
    return verified;
}

size_t blockCount(const std::string& path)
{
    return FileWithCmses::fromPath(path.c_str(), "r")->locateCmses().size();
}

// The names in a directory, as the bytes they are.
std::set<std::string> namesIn(const std::string& directory)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

// A name that is not UTF-8, and the name a decoder that replaces invalid
// bytes by U+FFFD would make of it: another file's name.
const std::string invalidByte = "\xff";
const std::string replacementCharacter = "\xef\xbf\xbd";

} // namespace

class TorvelHostileTest : public ::testing::Test {
protected:
    std::vector<std::string> signArguments(const Signer& signer, const std::vector<std::string>& rest)
    {
        std::vector<std::string> arguments {"sign", "-k", signer.key, "-c", signer.certificate};
        arguments.insert(arguments.end(), rest.begin(), rest.end());
        return arguments;
    }

    std::string package(const std::string& name, const std::string& content = "payload\n")
    {
        TestKit::Package description;
        description.name = name;
        description.entries = {TestKit::file("/usr/share/" + name + "/data", content),
                               TestKit::file("/usr/bin/" + name, "#!/bin/sh\n", 0755)};
        return TestKit::buildRpm(description, m_dir.path());
    }

    const Pki& m_pki = Pki::instance();
    TestKit::TempDir m_dir {"sighostile"};
};

TEST_F(TorvelHostileTest, AKillAtAnyMomentLeavesTheOldOrTheCompleteNewBlocks)
{
    const std::string path = package("com.example.killed");
    const Bytes bare = readBytes(path);
    ASSERT_EQ(torvel(signArguments(m_pki.developer, {path})).exitCode, 0);
    const Bytes developer = readBytes(path);
    ASSERT_EQ(torvel(signArguments(m_pki.seclab, {path})).exitCode, 0);
    const Bytes twoBlocks = readBytes(path);

    struct Operation {
        const char* what;
        const Bytes& before;
        std::vector<std::string> arguments;
        size_t blocksAfter;
        const Bytes* exactlyAfter; // for deleting, which makes known bytes
    };
    const std::vector<Operation> operations {
        {"sign", bare, signArguments(m_pki.developer, {path}), 1, nullptr},
        {"sign after a block", developer, signArguments(m_pki.seclab, {path}), 2, nullptr},
        {"sign -f", developer, signArguments(m_pki.developer, {"-f", path}), 1, nullptr},
        {"sign -f over two blocks", twoBlocks, signArguments(m_pki.developer, {"-f", path}), 1, nullptr},
        {"delete", twoBlocks, {"delete", path}, 0, &bare},
        {"delete -l", twoBlocks, {"delete", "-l", path}, 1, &developer},
    };
    constexpr int killsPerOperation = 34;
    std::mt19937 random(20240611);
    int totalKills = 0;
    for (const Operation& operation : operations) {
        // Kills land at random moments of the time an uninterrupted run
        // takes; every other one in its second half, where the file is
        // changed (loading the program takes much of the first).
        std::vector<long> durations;
        for (int run = 0; run < 3; ++run) {
            writeBytes(path, operation.before);
            const auto started = std::chrono::steady_clock::now();
            int status = 0;
            waitpid(startTorvel(operation.arguments), &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << operation.what;
            durations.push_back(long(std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now() - started)
                                         .count()));
        }
        std::sort(durations.begin(), durations.end());
        // The run time drifts with the machine's load: a run that ended
        // before its kill narrows the window, a killed one widens it again.
        long window = durations[1];

        int kills = 0, oldKept = 0, newMade = 0;
        for (int attempt = 0; kills < killsPerOperation && attempt < 10 * killsPerOperation; ++attempt) {
            writeBytes(path, operation.before);
            const pid_t child = startTorvel(operation.arguments);
            ASSERT_GT(child, 0);
            const long from = attempt % 2 == 0 ? 0 : window / 2;
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::uniform_int_distribution<long>(from, window)(random)));
            kill(child, SIGKILL);
            int status = 0;
            waitpid(child, &status, 0);
            const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
            kills += killed ? 1 : 0;
            window = killed ? std::min(window * 21 / 20, 2 * durations[1]) : window * 3 / 4;

            const Bytes after = readBytes(path);
            if (after == operation.before) {
                oldKept += killed ? 1 : 0;
            } else {
                newMade += killed ? 1 : 0;
                EXPECT_EQ(blockCount(path), operation.blocksAfter) << operation.what << ", attempt " << attempt;
                if (operation.exactlyAfter != nullptr) {
                    EXPECT_TRUE(after == *operation.exactlyAfter) << operation.what << ", attempt " << attempt;
                }
                if (operation.blocksAfter > 0) {
                    EXPECT_TRUE(verifies(path)) << operation.what << ", attempt " << attempt;
                }
            }
            // Only a killed signer may leave its new file behind, and the
            // next change of the package removes it.
            if (!killed) {
                EXPECT_TRUE(leftovers(path).empty()) << operation.what << ", attempt " << attempt;
            }
        }
        EXPECT_EQ(kills, killsPerOperation) << operation.what;
        writeBytes(path, operation.before);
        EXPECT_EQ(torvel(operation.arguments).exitCode, 0) << operation.what;
        EXPECT_TRUE(leftovers(path).empty()) << operation.what;
        std::printf("%-24s %d kills: %d left the old blocks, %d the complete new ones\n", operation.what, kills,
                    oldKept, newMade);
        totalKills += kills;
    }
    RecordProperty("kills", totalKills);
}

TEST_F(TorvelHostileTest, TheNextChangeRemovesWhatAKilledSignerLeftBehind)
{
    const std::string path = package("com.example.stale");
    const std::string prefix = PackageSignatures::replacementPrefix("com.example.stale-1.0-1.noarch.rpm");
    ASSERT_EQ(std::filesystem::path(path).filename(), "com.example.stale-1.0-1.noarch.rpm");
    const std::vector<std::string> stale {prefix + "Ab12Cd", prefix + "zzzzzz"};
    // Not of this package, or not of the name a replacement gets.
    const std::vector<std::string> others {".other.rpm.torvel-Ab12Cd", prefix + "Ab12C", prefix + "Ab12Cde",
                                           "com.example.stale-1.0-1.noarch.rpm.torvel-Ab12Cd"};
    const auto plant = [&](const std::vector<std::string>& names) {
        for (const std::string& name : names)
            TestKit::writeFile(m_dir / name, "left behind");
    };
    plant(stale);
    plant(others);
    ASSERT_EQ(torvel(signArguments(m_pki.developer, {path})).exitCode, 0);
    for (const std::string& name : stale)
        EXPECT_FALSE(std::filesystem::exists(m_dir / name)) << name;
    for (const std::string& name : others)
        EXPECT_TRUE(std::filesystem::exists(m_dir / name)) << name;

    plant(stale);
    ASSERT_EQ(torvel({"delete", path}).exitCode, 0);
    for (const std::string& name : stale)
        EXPECT_FALSE(std::filesystem::exists(m_dir / name)) << name;

    // A name too long to take a suffix is shortened, and still told apart.
    const std::string longName(250, 'n');
    const std::string longPrefix = PackageSignatures::replacementPrefix(longName);
    EXPECT_LE(longPrefix.size() + 6, 255u);
    EXPECT_NE(longPrefix, PackageSignatures::replacementPrefix(longName.substr(1) + "m"));
}

TEST_F(TorvelHostileTest, ConcurrentSignersOfOnePackageTakeTurns)
{
    // Large enough that two signers overlap in time.
    std::string content(6 << 20, '\0');
    std::mt19937 random(7);
    std::generate(content.begin(), content.end(), [&] { return char(random()); });
    const std::string path = package("com.example.concurrent", content);
    const Bytes bare = readBytes(path);
    ASSERT_EQ(torvel(signArguments(m_pki.developer, {path})).exitCode, 0);
    const Bytes developer = readBytes(path);

    for (int attempt = 0; attempt < 4; ++attempt) {
        // Two developers replacing each other's block: both succeed.
        writeBytes(path, bare);
        const pid_t first = startTorvel(signArguments(m_pki.developer, {"-f", path}));
        const pid_t second = startTorvel(signArguments(m_pki.developer, {"-f", path}));
        int firstStatus = 0, secondStatus = 0;
        waitpid(first, &firstStatus, 0);
        waitpid(second, &secondStatus, 0);
        EXPECT_TRUE(WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0) << attempt;
        EXPECT_TRUE(WIFEXITED(secondStatus) && WEXITSTATUS(secondStatus) == 0) << attempt;
        EXPECT_EQ(blockCount(path), 1u) << attempt;
        EXPECT_TRUE(verifies(path)) << attempt;

        // A seclab and a client after the developer: whoever comes second
        // signs after the first, or is refused; either way it verifies.
        writeBytes(path, developer);
        const pid_t seclab = startTorvel(signArguments(m_pki.seclab, {path}));
        const pid_t client = startTorvel(signArguments(m_pki.client, {path}));
        waitpid(seclab, &firstStatus, 0);
        waitpid(client, &secondStatus, 0);
        const int signers = (WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0 ? 1 : 0)
                            + (WIFEXITED(secondStatus) && WEXITSTATUS(secondStatus) == 0 ? 1 : 0);
        EXPECT_GE(signers, 1) << attempt;
        EXPECT_EQ(blockCount(path), size_t(1 + signers)) << attempt;
        EXPECT_TRUE(verifies(path)) << attempt;
        EXPECT_TRUE(leftovers(path).empty()) << attempt;
    }
}

TEST_F(TorvelHostileTest, RefusesToSignOverOrReplaceAMalformedBlock)
{
    const std::string bare = package("com.example.garbage");
    const Bytes notCms(64, 0x30);
    Bytes unframed = sampleCms(0);
    const Bytes trailer = currentTrailer(uint32_t(unframed.size()), 3);
    unframed.insert(unframed.end(), trailer.begin(), trailer.end());
    struct Case {
        const char* what;
        const Signer& signer;
        bool force;
        Bytes appended;
        const char* refusal;
    };
    const std::vector<Case> cases {
        {"seclab after DER that is no CMS", m_pki.seclab, false, blockV2(notCms), "refusing to sign after it"},
        {"client after DER that is no CMS", m_pki.client, false, blockV3(notCms), "refusing to sign after it"},
        {"seclab after a version-3 block without frame", m_pki.seclab, false, unframed, "refusing to sign after it"},
        {"developer replacing DER that is no CMS", m_pki.developer, true, blockV2(notCms), "refusing to replace it"},
    };
    for (const Case& c : cases) {
        const std::string path = m_dir / "garbage.rpm";
        std::filesystem::copy_file(bare, path, std::filesystem::copy_options::overwrite_existing);
        appendBytes(path, c.appended);
        const Bytes before = readBytes(path);
        const auto result = torvel(signArguments(c.signer, c.force ? std::vector<std::string> {"-f", path}
                                                                   : std::vector<std::string> {path}));
        EXPECT_EQ(result.exitCode, 1) << c.what;
        EXPECT_NE(result.err.find("\"" + path + "\": signature block 1 is malformed, " + c.refusal),
                  std::string::npos)
            << c.what << ": " << result.err;
        EXPECT_EQ(readBytes(path), before) << c.what;
    }
}

TEST_F(TorvelHostileTest, FilesThatAreNotRegularNeverBlockACommand)
{
    const std::string fifo = m_dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string missing = m_dir / "missing.rpm";
    const std::string directory = m_dir.path();
    const std::string path = package("com.example.regular");
    const std::string& ca = m_pki.ca.certificate;
    // A configuration file that is a FIFO.
    const TestKit::TempDir root {"sighostileroot"};
    std::filesystem::create_directories(root / "etc/torvel");
    ASSERT_EQ(mkfifo((root / "etc/torvel/torvel.conf").c_str(), 0644), 0);
    const std::string notRegular = "not a regular file";
    // OpenSSL's engines, as FIFOs.
    const std::string engines = m_dir / "engines";
    std::filesystem::create_directories(engines);
    ASSERT_EQ(mkfifo((engines + "/gost.so").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((engines + "/pkcs11.so").c_str(), 0644), 0);
    const std::string gostNotLoaded = "The 'gost' engine is not loaded: OPENSSL_ENGINES \"" + engines
                                      + "/gost.so\": " + notRegular + "\nThe 'gost' engine isn't available\n";
    const std::string tokenKey = "pkcs11:token=absent;object=dev;pin-value=1234";

    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string message;
        std::vector<std::pair<std::string, std::string>> env = {};
    };
    const std::vector<Case> cases {
        {{"info", fifo}, 1, "Could not open certificate \"" + fifo + "\": " + notRegular},
        {{"dump", fifo}, 1, "Could not open file \"" + fifo + "\": " + notRegular},
        {{"dump", directory}, 1, "Could not open file \"" + directory + "\": " + notRegular},
        {{"dump", missing}, 1, "Could not open file \"" + missing + "\": No such file or directory"},
        {{"verify", "-r", ca, fifo}, 1, "torvel: " + fifo + " is " + notRegular},
        {{"verify", "-r", fifo, path}, 1, "Could not open certificate store \"" + fifo + "\": " + notRegular},
        {{"verify", path}, 1, "No path to root certificate bundle provided", {{"TORVEL_ROOTFS", root.path()}}},
        {{"delete", fifo}, 1, "torvel: " + fifo + " is " + notRegular},
        {{"extract-cert", "-o", m_dir / "out.pem", fifo}, 1, "Could not open file"},
        {{"sign", "-k", fifo, "-c", m_pki.developer.certificate, path}, 1,
         "Could not open private key \"" + fifo + "\": " + notRegular},
        {{"sign", "-k", m_pki.developer.key, "-c", fifo, path}, 1,
         "Could not open certificate \"" + fifo + "\": " + notRegular},
        // A TA key or a chain that cannot be read ends the command.
        {{"sign", "-k", m_pki.developer.key, "-c", m_pki.developer.certificate, "--ta-key", fifo, path}, 1,
         "Could not open private key \"" + fifo + "\": " + notRegular},
        {{"sign", "-k", m_pki.developer.key, "-c", m_pki.developer.certificate, "-r", fifo, path}, 1,
         "Could not open proof-of-rotation: " + notRegular},
        {{"sign", "-k", m_pki.developer.key, "-c", m_pki.developer.certificate, fifo}, 1,
         fifo + " is neither a file nor a directory."},
        {{"verify-cert", "-c", fifo, "--ca-cert", ca}, 1, "Could not open certificate \"" + fifo + "\": " + notRegular},
        {{"verify-cert", "-c", ca, "--ca-cert", fifo}, 1,
         "Could not open certificate store \"" + fifo + "\": " + notRegular},
        {{"makecertca", "-k", fifo, "-c", "Root", "-o", m_dir / "ca.pem"}, 1, notRegular},
        {{"makecert", "-i", fifo, "-k", m_pki.ca.key, "-c", ca, "-g", "developer", "-o", m_dir / "user.pem"}, 1,
         "Could not open CSR file: " + notRegular},
        {{"rotate", "--old-key", m_pki.developer.key, "--old-cert", fifo, "--new-key", m_pki.developerMdm.key,
          "--new-cert", m_pki.developerMdm.certificate, "-o", m_dir / "chain.pem"},
         1, "Could not open certificate \"" + fifo + "\": " + notRegular},
        // Files named by the environment: OpenSSL goes on without its
        // configuration or the gost engine, a token key cannot be read.
        {{"info", ca}, 0, "OpenSSL's configuration is not loaded: OPENSSL_CONF \"" + fifo + "\": " + notRegular + "\n",
         {{"OPENSSL_CONF", fifo}}},
        {{"info", ca}, 0, gostNotLoaded, {{"OPENSSL_ENGINES", engines}}},
        {{"makecertca", "-k", tokenKey, "-c", "Root", "-o", m_dir / "ca.pem"}, 1,
         gostNotLoaded + "Could not read private key \"pkcs11:token=absent;object=dev;pin-value=***\": the \"pkcs11\" "
             "engine is not available (OPENSSL_ENGINES \"" + engines + "/pkcs11.so\": " + notRegular + ")\n",
         {{"OPENSSL_ENGINES", engines}}},
        {{"makecertca", "-k", tokenKey, "-c", "Root", "-o", m_dir / "ca.pem"}, 1,
         "PKCS11_MODULE_PATH \"" + fifo + "\": " + notRegular, {{"PKCS11_MODULE_PATH", fifo}}},
    };
    for (const Case& c : cases) {
        TestKit::RunOptions options;
        options.timeoutSeconds = 30;
        options.env = c.env;
        const auto result = torvel(c.arguments, options);
        const std::string command = c.arguments.front() + " " + c.arguments.back();
        EXPECT_FALSE(result.timedOut) << command;
        EXPECT_EQ(result.exitCode, c.exitCode) << command << ": " << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << command << ": " << result.err;
    }
}

TEST_F(TorvelHostileTest, SaysWhyAPackageCannotBeChanged)
{
    // As an unprivileged user: a package it may not write, and one it may
    // write in a directory it may not.
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0755), 0);
    const std::string keys = m_dir / "keys";
    std::filesystem::create_directories(keys);
    for (const std::string& file : {m_pki.developer.key, m_pki.developer.certificate})
        std::filesystem::copy_file(file, keys + "/" + std::filesystem::path(file).filename().string());
    const std::string key = keys + "/" + std::filesystem::path(m_pki.developer.key).filename().string();
    const std::string certificate =
        keys + "/" + std::filesystem::path(m_pki.developer.certificate).filename().string();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.path()))
        chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);

    const std::string writableDirectory = m_dir / "open";
    std::filesystem::create_directories(writableDirectory);
    ASSERT_EQ(chmod(writableDirectory.c_str(), 0777), 0);
    const std::string readOnly = writableDirectory + "/read-only.rpm";
    std::filesystem::copy_file(package("com.example.readonly"), readOnly);
    const std::string signedReadOnly = writableDirectory + "/signed-read-only.rpm";
    std::filesystem::copy_file(readOnly, signedReadOnly);
    ASSERT_EQ(torvel(signArguments(m_pki.developer, {signedReadOnly})).exitCode, 0);
    const std::string inClosedDirectory = m_dir / "closed.rpm";
    std::filesystem::copy_file(readOnly, inClosedDirectory);
    ASSERT_EQ(chown(inClosedDirectory.c_str(), 65534, 65534), 0);

    struct Case {
        std::vector<std::string> arguments;
        std::string path;
        std::string message;
    };
    const std::vector<Case> cases {
        {{"sign", "-k", key, "-c", certificate, readOnly}, readOnly,
         "Could not sign \"" + readOnly + "\": the file is read-only"},
        {{"delete", signedReadOnly}, signedReadOnly,
         "Could not delete signatures from \"" + signedReadOnly + "\": the file is read-only"},
        {{"sign", "-k", key, "-c", certificate, inClosedDirectory}, inClosedDirectory,
         "to replace \"" + inClosedDirectory + "\" with: Permission denied (signing replaces the package and needs a "
         "writable directory)"},
    };
    for (const Case& c : cases) {
        const Bytes before = readBytes(c.path);
        std::vector<std::string> argv {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", TORVEL_PATH};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const auto result = TestKit::run(argv);
        EXPECT_EQ(result.exitCode, 1) << c.arguments.front() << ": " << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("Bad file descriptor"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("Invalid argument"), std::string::npos) << result.err;
        EXPECT_EQ(readBytes(c.path), before) << c.path;
        EXPECT_TRUE(leftovers(c.path).empty()) << c.path;
    }
}

TEST_F(TorvelHostileTest, TextFromASignedFileCannotDriveTheTerminal)
{
    const std::string subject = "Evil\x1b[2K\r(INFO)\t\tall good\n";
    const Signer evil = m_pki.issue(subject, "developer");
    const std::string path = package("com.example.evil");
    ASSERT_EQ(torvel(signArguments(evil, {path})).exitCode, 0);
    const std::string shown = "Subject: Evil\\x1b[2K\\r(INFO)\\t\\tall good\\n\n";
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string> {"dump", path}, std::vector<std::string> {"info", evil.certificate}}) {
        const auto result = torvel(arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out.substr(0, shown.size()), shown) << result.out;
    }
}

TEST_F(TorvelHostileTest, APackageNameThatIsNotUtf8NamesThatFileAndNoOther)
{
    // A is named "x\xff.rpm"; B, "x" U+FFFD ".rpm", is what a lossy decoding
    // of A's name gives. Every command works on A, leaves B alone, and shows
    // A's name with its byte escaped.
    const std::string directory = m_dir / "pair";
    const std::string a = directory + "/x" + invalidByte + ".rpm";
    const std::string b = directory + "/x" + replacementCharacter + ".rpm";
    const std::string shownA = Common::visibleText(a);
    ASSERT_EQ(shownA, directory + "/x\\xff.rpm");
    const std::string certificateOut = directory + "/c" + invalidByte + ".pem";

    const std::string built = package("com.example.pair");
    const Bytes bare = readBytes(built);
    ASSERT_EQ(torvel(signArguments(m_pki.developer, {built})).exitCode, 0);
    const Bytes signedByDeveloper = readBytes(built);
    const std::string textContent = "not a package\n";
    const Bytes text(textContent.begin(), textContent.end());

    struct Case {
        const char* what;
        const Bytes& a;
        const Bytes& b;
        std::vector<std::string> arguments;
        int exitCode;
        std::string expected;              // in standard output and error together
        std::optional<size_t> blocksOfA;   // none: A is left as it was
        std::optional<size_t> blocksOfB;   // none: B is left as it was
        // Files the command makes beside A and B, by name, with what they hold.
        std::map<std::string, std::string> made = {};
    };
    const std::vector<Case> cases {
        {"verify of a text file", text, signedByDeveloper, {"verify", "-r", m_pki.ca.certificate, a}, 1,
         "Could not verify signatures for \"" + shownA + "\"\n", std::nullopt, std::nullopt},
        {"verify of a signed package", signedByDeveloper, text, {"verify", "-r", m_pki.ca.certificate, a}, 0,
         "Signatures successfully verified for \"" + shownA + "\"\n", std::nullopt, std::nullopt},
        {"sign", bare, bare, signArguments(m_pki.developer, {a}), 0, "Signed ( 1 / 1 ) \"" + shownA + "\"\n", 1,
         std::nullopt},
        {"sign of a text file", text, bare, signArguments(m_pki.developer, {a}), 1,
         "File \"" + shownA + "\" doesn't looks like RPM package\n", std::nullopt, std::nullopt},
        {"delete", signedByDeveloper, signedByDeveloper, {"delete", a}, 0,
         "Successfully deleted signature(s) from \"" + shownA + "\"\n", 0, std::nullopt},
        {"delete of a text file", text, signedByDeveloper, {"delete", a}, 0,
         "No signatures found in \"" + shownA + "\"\n", std::nullopt, std::nullopt},
        {"dump", text, signedByDeveloper, {"dump", a}, 0, "No signatures found in package.\n", std::nullopt,
         std::nullopt},
        {"dump of both", text, signedByDeveloper, {"dump", a, b}, 0,
         shownA + ":\nNo signatures found in package.\n" + b + ":\nSubject: developer\n", std::nullopt,
         std::nullopt},
        {"extract-cert of a text file", text, signedByDeveloper, {"extract-cert", "-o", certificateOut, a}, 1,
         "Package has no CMSes" + shownA, std::nullopt, std::nullopt},
        {"extract-cert", signedByDeveloper, text, {"extract-cert", "-o", certificateOut, a}, 0, "", std::nullopt,
         std::nullopt, {{"c" + invalidByte + ".pem", m_pki.developer.certificate}}},
        {"sign -R", bare, bare, signArguments(m_pki.developer, {"-R", directory}), 0,
         "/ 2 ) \"" + shownA + "\"\n", 1, 1},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory);
        writeBytes(a, c.a);
        writeBytes(b, c.b);
        const auto result = torvel(c.arguments);
        const std::string output = result.out + result.err;
        EXPECT_EQ(result.exitCode, c.exitCode) << c.what << ": " << output;
        EXPECT_NE(output.find(c.expected), std::string::npos) << c.what << ": " << output;
        if (c.blocksOfA) {
            EXPECT_EQ(blockCount(a), *c.blocksOfA) << c.what;
        } else {
            EXPECT_TRUE(readBytes(a) == c.a) << c.what << ": A changed";
        }
        if (c.blocksOfB) {
            EXPECT_EQ(blockCount(b), *c.blocksOfB) << c.what;
        } else {
            EXPECT_TRUE(readBytes(b) == c.b) << c.what << ": B changed";
            // B is not even named, unless it was given.
            if (std::find(c.arguments.begin(), c.arguments.end(), b) == c.arguments.end()) {
                EXPECT_EQ(output.find(replacementCharacter), std::string::npos) << c.what << ": " << output;
            }
        }
        std::set<std::string> expectedNames {"x" + invalidByte + ".rpm", "x" + replacementCharacter + ".rpm"};
        for (const auto& [name, source] : c.made) {
            expectedNames.insert(name);
            EXPECT_TRUE(readBytes(directory + "/" + name) == readBytes(source)) << c.what << ": " << name;
        }
        EXPECT_EQ(namesIn(directory), expectedNames) << c.what;
    }
    // Both were found, and each was signed once.
    const auto recursive = torvel(signArguments(m_pki.seclab, {"-R", directory}));
    EXPECT_EQ(recursive.exitCode, 0) << recursive.err;
    EXPECT_NE(recursive.err.find("/ 2 ) \"" + b + "\"\n"), std::string::npos) << recursive.err;
    EXPECT_EQ(blockCount(a), 2u);
    EXPECT_EQ(blockCount(b), 2u);
}

TEST_F(TorvelHostileTest, AFileArgumentThatIsNotUtf8NamesThatFileAndNoOther)
{
    // Each file an option names is given under a name that is not UTF-8,
    // and the name a lossy decoding would make of it holds something else.
    const std::string directory = m_dir / "files";
    std::filesystem::create_directories(directory);
    const auto named = [&](const std::string& stem) { return directory + "/" + stem + invalidByte; };
    const auto decoyOf = [&](const std::string& stem) { return directory + "/" + stem + replacementCharacter; };
    const std::vector<std::pair<std::string, std::string>> inputs {
        {"key", m_pki.developer.key},   {"cert", m_pki.developer.certificate},
        {"newkey", m_pki.developerMdm.key}, {"newcert", m_pki.developerMdm.certificate},
        {"ca", m_pki.ca.certificate},   {"cakey", m_pki.ca.key},
    };
    for (const auto& [stem, source] : inputs)
        std::filesystem::copy_file(source, named(stem));
    openssl({"req", "-new", "-key", m_pki.stranger.key, "-subj", "/CN=csr", "-out", named("csr")});
    // The database is not there; only its decoy is.
    const std::vector<std::string> decoyed {"key", "cert", "newkey", "newcert", "ca", "cakey", "csr", "db"};
    for (const std::string& stem : decoyed)
        TestKit::writeFile(decoyOf(stem), "decoy\n");
    const std::string shownDb = Common::visibleText(named("db"));

    const std::string toSign = package("com.example.files");
    const std::string toRotate = package("com.example.rotated");
    const std::string signedPackage = package("com.example.signed");
    ASSERT_EQ(torvel(signArguments(m_pki.developer, {signedPackage})).exitCode, 0);

    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string expected; // in standard output and error together
        std::string made;     // a file the command writes
    };
    // In order: the chain that rotate writes is the one sign reads.
    const std::vector<Case> cases {
        {{"sign", "-k", named("key"), "-c", named("cert"), toSign}, 0, "Signed ( 1 / 1 )", ""},
        {{"rotate", "--old-key", named("key"), "--old-cert", named("cert"), "--new-key", named("newkey"),
          "--new-cert", named("newcert"), "-o", named("chain")},
         0, "", named("chain")},
        {{"sign", "-k", named("newkey"), "-c", named("newcert"), "-r", named("chain"), toRotate}, 0,
         "Signed ( 1 / 1 )", ""},
        {{"dump", toRotate}, 0, "\tRotation: " + m_pki.developer.keyId + " -> " + m_pki.developerMdm.keyId + "\n", ""},
        {{"verify", "-r", named("ca"), signedPackage}, 0, "Signatures successfully verified", ""},
        {{"info", named("cert")}, 0, "Subject: developer\n", ""},
        {{"issyscert", named("cert")}, 0,
         "\"" + Common::visibleText(named("cert")) + "\" is not a system developer certificate\n", ""},
        {{"verify-cert", "-c", named("cert"), "--ca-cert", named("ca")}, 0,
         "Successfully verified the certificate's authority\n", ""},
        {{"makecertca", "-k", named("cakey"), "-c", "Root", "-o", named("newca")}, 0,
         "Successfully issued CA certificate: " + Common::visibleText(named("newca")) + "\n", named("newca")},
        {{"makecert", "-i", named("csr"), "-k", named("cakey"), "-c", named("ca"), "-g", "developer", "-o",
          named("user")},
         0, "Successfully issued end-user certificate: " + Common::visibleText(named("user")) + "\n",
         named("user")},
        {{"dumpdb", named("db")}, 1, "Could not open database at " + shownDb + ": No such file or directory\n", ""},
    };
    for (const Case& c : cases) {
        const std::string command = c.arguments.front();
        const auto result = torvel(c.arguments);
        const std::string output = result.out + result.err;
        EXPECT_EQ(result.exitCode, c.exitCode) << command << ": " << output;
        EXPECT_NE(output.find(c.expected), std::string::npos) << command << ": " << output;
        EXPECT_EQ(output.find(replacementCharacter), std::string::npos) << command << ": " << output;
        if (!c.made.empty()) {
            EXPECT_TRUE(std::filesystem::is_regular_file(c.made)) << command;
        }
    }
    // The decoys were neither read nor written, and nothing else was made.
    std::set<std::string> expectedNames {"csr" + invalidByte, "chain" + invalidByte, "newca" + invalidByte,
                                         "user" + invalidByte};
    for (const auto& [stem, source] : inputs)
        expectedNames.insert(stem + invalidByte);
    for (const std::string& stem : decoyed) {
        expectedNames.insert(stem + replacementCharacter);
        EXPECT_EQ(TestKit::readFile(decoyOf(stem)), "decoy\n") << stem;
    }
    EXPECT_EQ(namesIn(directory), expectedNames);
    EXPECT_EQ(blockCount(toSign), 1u);
}

TEST_F(TorvelHostileTest, SignWithAChainItCannotReadChangesNothing)
{
    // Run as an unprivileged user, for whom a file of mode 0 is unreadable;
    // the key, the certificate and the package are open to it.
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0755), 0);
    const std::string open = m_dir / "open";
    std::filesystem::create_directories(open);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    const std::string key = open + "/developer.key";
    const std::string certificate = open + "/developer.pem";
    std::filesystem::copy_file(m_pki.developer.key, key);
    std::filesystem::copy_file(m_pki.developer.certificate, certificate);
    const std::string path = open + "/package.rpm";
    std::filesystem::copy_file(package("com.example.chainless"), path);
    for (const std::string& file : {key, certificate, path})
        ASSERT_EQ(chmod(file.c_str(), 0666), 0);

    const std::string fifo = open + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    const std::string unreadable = open + "/unreadable.pem";
    std::filesystem::copy_file(m_pki.developer.certificate, unreadable);
    ASSERT_EQ(chmod(unreadable.c_str(), 0), 0);
    const std::string textFile = open + "/text.pem";
    TestKit::writeFile(textFile,
                       "-----BEGIN PROOF OF ROTATION CHAIN-----\nnot base64\n-----END PROOF OF ROTATION CHAIN-----\n");
    const std::string empty = open + "/empty.pem";
    TestKit::writeFile(empty, "");
    ASSERT_EQ(chmod(textFile.c_str(), 0644), 0);
    ASSERT_EQ(chmod(empty.c_str(), 0644), 0);

    struct Case {
        std::string chain;
        std::string message; // all of standard error
    };
    const std::vector<Case> cases {
        {open + "/missing.pem", "Could not open proof-of-rotation: No such file or directory\n"},
        {unreadable, "Could not open proof-of-rotation: Permission denied\n"},
        {fifo, "Could not open proof-of-rotation: not a regular file\n"},
        {open, "Could not open proof-of-rotation: not a regular file\n"},
        {textFile, "Could not read proof-of-rotation chain\n"},
        {empty, "Could not read proof-of-rotation chain\n"},
        {certificate, "Could not read proof-of-rotation chain\n"},
    };
    const Bytes before = readBytes(path);
    for (const Case& c : cases) {
        std::vector<std::string> argv {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", TORVEL_PATH,
                                       "sign", "-k", key, "-c", certificate, "-r", c.chain, path};
        TestKit::RunOptions options;
        options.timeoutSeconds = 60;
        const auto result = TestKit::run(argv, options);
        EXPECT_FALSE(result.timedOut) << c.chain;
        EXPECT_EQ(result.exitCode, 1) << c.chain << ": " << result.err;
        EXPECT_EQ(result.err, c.message) << c.chain;
        EXPECT_EQ(result.out, "") << c.chain;
        EXPECT_TRUE(readBytes(path) == before) << c.chain;
        EXPECT_TRUE(leftovers(path).empty()) << c.chain;
    }
}

TEST_F(TorvelHostileTest, EveryByteOfAFileNameSurvivesTheRoundTrip)
{
    // Each kind of invalid UTF-8, and valid characters beside the escapes
    // of invalid bytes, found by sign -R and named to verify.
    const std::vector<std::string> stems {
        "\x80",                 // a continuation byte alone
        "\xc3",                 // a sequence cut short by what follows
        "\xe2\x82",
        "\xc0\xaf",             // an overlong form of '/'
        "\xed\xa0\x80",         // a UTF-16 surrogate
        "\xf4\x90\x80\x80",     // past U+10FFFF
        "\xf8\x88\x80\x80\x80", // a five-byte form
        "\xfe\xff",
        "\xf0\x9f\x82\x80\xff", // U+1F080, whose low surrogate is an escape's neighbour, then an invalid byte
        "\xc2\x9b",             // a C1 control, valid but shown escaped
        "caf\xc3\xa9",          // valid, shown as it is
    };
    const std::string directory = m_dir / "names";
    std::filesystem::create_directories(directory);
    const std::string built = package("com.example.names");
    std::vector<std::string> paths;
    for (const std::string& stem : stems) {
        paths.push_back(directory + "/n" + stem + ".rpm");
        std::filesystem::copy_file(built, paths.back());
    }

    const auto signedRun = torvel(signArguments(m_pki.developer, {"-R", directory}));
    EXPECT_EQ(signedRun.exitCode, 0) << signedRun.err;
    std::vector<std::string> verifyArguments {"verify", "-r", m_pki.ca.certificate};
    std::string verified;
    for (const std::string& path : paths) {
        const std::string shown = Common::visibleText(path);
        EXPECT_NE(signedRun.err.find(" / " + std::to_string(paths.size()) + " ) \"" + shown + "\"\n"),
                  std::string::npos)
            << shown << ": " << signedRun.err;
        EXPECT_EQ(blockCount(path), 1u) << shown;
        verifyArguments.push_back(path);
        verified += "Signatures successfully verified for \"" + shown + "\"\n";
    }
    const auto verifyRun = torvel(verifyArguments);
    EXPECT_EQ(verifyRun.exitCode, 0) << verifyRun.err;
    EXPECT_EQ(verifyRun.out, verified);
    EXPECT_EQ(namesIn(directory).size(), stems.size());
}
