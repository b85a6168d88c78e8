// torvel on hostile input, killed at random moments and run concurrently:
// a package keeps either its old blocks or the complete new ones, blocks
// that are not what they claim are neither signed over nor removed, files
// that are not regular files never block a command, and text from a signed
// file cannot drive the terminal.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
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
        {{"info", fifo}, 0, "Could not open certificate \"" + fifo + "\": " + notRegular},
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
        // A TA key that cannot be read ends the command; a chain that cannot
        // be read is left out.
        {{"sign", "-k", m_pki.developer.key, "-c", m_pki.developer.certificate, "--ta-key", fifo, path}, 1,
         "Could not open private key \"" + fifo + "\": " + notRegular},
        {{"sign", "-k", m_pki.developer.key, "-c", m_pki.developer.certificate, "-r", fifo, path}, 0,
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
