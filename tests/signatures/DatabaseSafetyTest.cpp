// The trust database under stress: checks that cannot be answered fail
// closed, processes share the file, and processes killed with SIGKILL in
// the middle of a write or an upgrade leave a file that is whole.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "DatabaseFixtures.h"
#include "Vetrik.h"

using namespace SignatureFixtures;
using namespace DatabaseFixtures;
using PackageSignatures::Cms;
using PackageSignatures::Database;

namespace {

const std::string app = "org.example.app";

// Another connection holding the exclusive lock until released.
class LockHolder {
public:
    explicit LockHolder(const std::string& path)
    {
        std::promise<void> locked;
        std::future<void> isLocked = locked.get_future();
        m_thread = std::thread([this, path, locked = std::move(locked)]() mutable {
            SqliteFile file(path);
            file.exec("BEGIN EXCLUSIVE");
            locked.set_value();
            m_release.get_future().wait();
            file.exec("COMMIT");
        });
        isLocked.wait();
    }
    ~LockHolder() { release(); }
    void release()
    {
        if (m_thread.joinable()) {
            m_release.set_value();
            m_thread.join();
        }
    }

private:
    std::promise<void> m_release;
    std::thread m_thread;
};

// Runs body in a child process and returns its exit status, or minus the
// signal that ended it. With killAfter, a child still running then is
// killed with SIGKILL.
template <typename Body>
int inChild(Body body, std::chrono::milliseconds killAfter = std::chrono::milliseconds::zero())
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    const auto deadline = std::chrono::steady_clock::now() + killAfter;
    int status = 0;
    while (killAfter.count() > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            ::kill(pid, SIGKILL);
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (killAfter.count() == 0 || !(WIFEXITED(status) || WIFSIGNALED(status)))
        ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

bool exists(const SqliteFile& file, const std::string& table, const std::string& column = "")
{
    const std::string sql = column.empty()
        ? "SELECT COUNT(1) FROM sqlite_master WHERE type='table' AND name='" + table + "'"
        : "SELECT COUNT(1) FROM pragma_table_info('" + table + "') WHERE name='" + column + "'";
    return file.text(sql) == "1";
}

} // namespace

TEST_F(TrustDatabaseTest, ChecksFailClosedWhenTheDatabaseCannotAnswer)
{
    // Answered, this update from another developer is refused with 3; a
    // database that cannot answer must not turn that into 0.
    const Blocks& b = Blocks::instance();
    const std::vector<Cms> update {b.signedByStranger};
    auto database = open();
    ASSERT_TRUE(database->insertPackage(app, {b.signedByA}));
    const std::string couldNotCheck = "Could not check package " + app + " against the trust database\n";

    {
        // A lock held briefly is waited for.
        LockHolder lock(m_dbPath);
        std::thread releaser([&lock] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            lock.release();
        });
        EXPECT_EQ(database->checkPackage(app, update, false), Database::CheckDeveloperMismatch);
        releaser.join();
    }
    {
        LockHolder lock(m_dbPath);
        CapturedStderr err;
        EXPECT_EQ(database->checkPackage(app, update, false), Database::CheckNotPossible);
        EXPECT_EQ(err.text(), "Database query failed: database is locked\n" + couldNotCheck);
    }

    // Not an SQLite file: opening leaves it as it is.
    database.reset();
    const std::string garbage(8192, 'x');
    TestKit::writeFile(m_dbPath, garbage);
    {
        CapturedStderr err;
        auto corrupt = open();
        EXPECT_EQ(corrupt->checkPackage(app, update, false), Database::CheckNotPossible);
        EXPECT_FALSE(corrupt->developerMatch(app, update[0]));
        EXPECT_EQ(err.text(), std::string("Database query failed: file is not a database\n") + 
                                  "Database query failed: file is not a database\n" + couldNotCheck
                                  + "Database query failed: file is not a database\n");
    }
    EXPECT_EQ(TestKit::readFile(m_dbPath), garbage);

    // Unreadable: root reads everything, so the check runs as nobody.
    ::chmod(m_dbPath.c_str(), 0);
    const int status = inChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 99;
        Database unreadable(m_dbPath, m_confPath);
        return unreadable.checkPackage(app, update, false) * 2 + int(unreadable.developerMatch(app, update[0]));
    });
    EXPECT_EQ(status, Database::CheckNotPossible * 2);
}

TEST_F(TrustDatabaseTest, ProcessesWritingAtOnceAllGetRecorded)
{
    const Blocks& b = Blocks::instance();
    const std::vector<std::vector<Cms>> blocks {{b.signedByA}, {b.signedByBFromA, b.seclabBlock}};
    constexpr int processes = 4, packagesEach = 200;
    // Each process at once, its diagnostics in a file of its own; they
    // even create the file together.
    const auto together = [&](const std::function<bool(Database&, int)>& body) {
        std::vector<pid_t> children;
        for (int process = 0; process < processes; ++process) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                if (std::freopen((m_dir / ("stderr" + std::to_string(process))).c_str(), "w", stderr) == nullptr)
                    ::_exit(2);
                std::setvbuf(stderr, nullptr, _IONBF, 0);
                Database database(m_dbPath, m_confPath);
                ::_exit(body(database, process) ? 0 : 1);
            }
            children.push_back(pid);
        }
        for (int process = 0; process < processes; ++process) {
            int status = 0;
            ::waitpid(children[size_t(process)], &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << std::hex << status;
            EXPECT_EQ(TestKit::readFile(m_dir / ("stderr" + std::to_string(process))), "");
        }
    };
    together([&](Database& database, int process) {
        bool inserted = true;
        for (int i = 0; i < packagesEach; ++i)
            inserted &= database.insertPackage("p" + std::to_string(process) + ".app" + std::to_string(i),
                                               blocks[size_t(i) % 2]);
        return inserted;
    });
    EXPECT_EQ(open()->packages().size(), size_t(processes * packagesEach));
    EXPECT_EQ(SqliteFile(m_dbPath).text("SELECT COUNT(1) FROM packages"),
              std::to_string(processes * packagesEach * 3 / 2));

    // Opening an old file at once: one process upgrades, the others wait.
    std::filesystem::remove(m_dbPath);
    writeOldDatabase(m_dbPath, 0, b.a, 100);
    together([](Database& database, int) { return database.queryVersion() == 4; });
    EXPECT_EQ(SqliteFile(m_dbPath).text("SELECT COUNT(1) FROM certificates"), "100");
}

TEST_F(TrustDatabaseTest, KilledWritesLeaveWholePackagesOrNone)
{
    const Blocks& b = Blocks::instance();
    const std::vector<Cms> blocks {b.signedByBFromA, b.seclabBlock};
    open();
    std::mt19937 random(std::random_device {}());
    int interrupted = 0;
    for (int round = 0; round < 20; ++round) {
        const int status = inChild(
            [&] {
                Database database(m_dbPath, m_confPath);
                for (int i = 0;; ++i)
                    database.insertPackage("r" + std::to_string(round) + ".app" + std::to_string(i), blocks);
                return 0;
            },
            std::chrono::milliseconds(std::uniform_int_distribution(5, 60)(random)));
        ASSERT_EQ(status, -SIGKILL);
        // A journal left behind is a transaction cut short.
        interrupted += std::filesystem::exists(m_dbPath + "-journal");
        SqliteFile file(m_dbPath);
        ASSERT_EQ(file.text("PRAGMA integrity_check"), "ok");
        ASSERT_EQ(file.text("SELECT COUNT(1) FROM (SELECT id FROM packages GROUP BY id HAVING COUNT(1) != 2)"), "0");
    }
    EXPECT_GT(interrupted, 0);
    auto database = open();
    EXPECT_GT(database->packages().size(), 0u);
    EXPECT_EQ(database->getKeyidRevocationStatus(b.a.keyId), Database::Superseded);
}

TEST_F(TrustDatabaseTest, KilledUpgradesResumeFromTheLastRecordedVersion)
{
    constexpr int rows = 3000;
    const std::string original = m_dir / "version0.db";
    writeOldDatabase(original, 0, Pki::instance().developer, rows);
    const auto upgrade = [this] {
        Database database(m_dbPath, m_confPath);
        return database.queryVersion() == 4 ? 0 : 1;
    };
    const auto start = std::chrono::steady_clock::now();
    std::filesystem::copy_file(original, m_dbPath);
    ASSERT_EQ(inChild(upgrade), 0);
    const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);

    std::mt19937 random(std::random_device {}());
    std::set<int> versionsLeft;
    for (int round = 0; round < 12; ++round) {
        std::filesystem::copy_file(original, m_dbPath, std::filesystem::copy_options::overwrite_existing);
        // Several kills in a row on the same file, until an upgrade gets through.
        int status = -SIGKILL;
        for (int attempt = 0; status != 0; ++attempt) {
            const auto delay = std::uniform_int_distribution<long>(1, std::max<long>(2, whole.count()))(random);
            status = inChild(upgrade, std::chrono::milliseconds(attempt < 3 ? delay : 0));
            ASSERT_TRUE(status == 0 || status == -SIGKILL) << status;
            // Every version the file records matches the tables it holds.
            SqliteFile file(m_dbPath);
            ASSERT_EQ(file.text("PRAGMA integrity_check"), "ok");
            const int version = std::stoi(file.text("PRAGMA user_version"));
            versionsLeft.insert(version);
            EXPECT_EQ(exists(file, "subgroups"), version >= 1);
            EXPECT_EQ(exists(file, "certificates", "subgroup_id"), version >= 1);
            EXPECT_EQ(exists(file, "revoked_keyids"), version >= 2);
            EXPECT_EQ(exists(file, "revoked_keyids", "type"), version >= 3);
            EXPECT_FALSE(exists(file, "new_certificates") || exists(file, "new_revoked_keyids"));
            EXPECT_EQ(file.text("SELECT COUNT(1) FROM certificates"), std::to_string(rows));
        }
        SqliteFile file(m_dbPath);
        EXPECT_EQ(file.text("SELECT COUNT(1) FROM certificates WHERE subgroup_id = (SELECT id FROM subgroups WHERE "
                            "name = 'regular')"),
                  std::to_string(rows));
        EXPECT_EQ(file.text("SELECT COUNT(1) FROM packages"), std::to_string(rows));
    }
    // The kills fell before, inside and after the upgrade.
    EXPECT_GT(versionsLeft.size(), 1u);
    RecordProperty("versions_left_by_kills", ::testing::PrintToString(versionsLeft));
}

TEST_F(TrustDatabaseTest, DumpDbFailsOnADatabaseItCannotReadWholeAndRefusesViewsAndTriggers)
{
    const Blocks& b = Blocks::instance();
    constexpr int rows = 5000;
    // Each file starts as a real one of the current version.
    const auto made = [&](const std::string& name, const std::string& sql) {
        const std::string path = m_dir / name;
        {
            Database database(path, m_confPath);
            if (!database.insertPackage("org.example.app0", {b.signedByA}))
                throw std::runtime_error("could not make " + path);
        }
        SqliteFile(path).exec(sql);
        return path;
    };
    const std::string recursive = "WITH RECURSIVE r(n) AS (SELECT 1 UNION SELECT n + 1 FROM r) ";

    // Corrupt: a page in the middle of the index that lists the packages.
    const std::string corrupt = made("corrupt.db", "INSERT INTO packages (id, certificateid) " + recursive
                                                       + "SELECT 'org.example.app' || n, 1 FROM r LIMIT "
                                                       + std::to_string(rows - 1));
    {
        SqliteFile file(corrupt);
        ASSERT_EQ(file.text("SELECT COUNT(DISTINCT id) FROM packages"), std::to_string(rows));
        const std::string leaves =
            file.text("SELECT COUNT(1) FROM dbstat WHERE name = 'sqlite_autoindex_packages_1' AND pagetype = 'leaf'");
        ASSERT_GT(std::stoi(leaves), 4);
        const int page = std::stoi(file.text("SELECT pageno FROM dbstat WHERE name = 'sqlite_autoindex_packages_1' "
                                             "AND pagetype = 'leaf' ORDER BY path LIMIT 1 OFFSET "
                                             + std::to_string(std::stoi(leaves) / 2)));
        const int pageSize = std::stoi(file.text("PRAGMA page_size"));
        const int fd = ::open(corrupt.c_str(), O_WRONLY);
        const std::string garbage(size_t(pageSize), '\xa5');
        ASSERT_EQ(::pwrite(fd, garbage.data(), garbage.size(), off_t(page - 1) * pageSize), ssize_t(pageSize));
        ::close(fd);
    }

    struct Case {
        std::string what;
        std::string path;
        std::string type;
        std::string err;
    };
    const std::string refusing = "Refusing database at ";
    const std::vector<Case> cases {
        {"no packages table", made("nopackages.db", "DROP TABLE packages"), "packages",
         "Database query failed: no such table: packages"},
        {"corrupt", corrupt, "packages", "Database query failed: database disk image is malformed"},
        {"a recursive view named packages",
         made("view.db", "DROP TABLE packages; CREATE VIEW packages AS " + recursive
                             + "SELECT 'org.example.view' || n AS id, 1 AS certificateid FROM r"),
         "packages", refusing + m_dir / "view.db" + ": \"packages\" is a view, not a table"},
        {"a view named like a table in another case",
         made("CERTIFICATES.db", "ALTER TABLE certificates RENAME TO c; CREATE VIEW CERTIFICATES AS SELECT * FROM c"),
         "certificates", refusing + m_dir / "CERTIFICATES.db" + ": \"CERTIFICATES\" is a view, not a table"},
        {"a trigger", made("trigger.db", "CREATE TRIGGER grow AFTER INSERT ON packages BEGIN SELECT 1; END"),
         "revoked", refusing + m_dir / "trigger.db"
                        + ": the trigger \"grow\" would run on \"packages\", and the trust database has no triggers"},
        // Opening upgrades a version-3 file, and the upgrade inserts the
        // revoke-on-bind keys: the trigger would run without end.
        {"an upgrade that would fire a trigger",
         made("upgrade.db", "PRAGMA user_version = 3; DELETE FROM revoked_keyids; CREATE TRIGGER endless AFTER INSERT "
                            "ON revoked_keyids BEGIN INSERT INTO groups (name) " + recursive
                                + "SELECT 'g' || n FROM r; END"),
         "revoked", refusing + m_dir / "upgrade.db"
                        + ": the trigger \"endless\" would run on \"revoked_keyids\", and the trust database has no "
                          "triggers"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestKit::RunOptions options;
        options.env = {{"TORVEL_ROOTFS", m_dir.path()}};
        // Generous: an endless query fails the case by timing out.
        options.timeoutSeconds = 20;
        const auto dump = torvel({"dumpdb", "-t", c.type, c.path}, options);
        EXPECT_FALSE(dump.timedOut);
        EXPECT_EQ(dump.exitCode, 1);
        // Once, or twice when listing the packages read before a damaged
        // page runs into that page again.
        const std::vector<std::string> err = TestKit::lines(dump.err);
        EXPECT_EQ(std::set<std::string>(err.begin(), err.end()), std::set<std::string> {c.err});
        EXPECT_LE(err.size(), 2u);
        // What could be read is shown, and no more.
        EXPECT_LT(TestKit::lines(dump.out).size(), size_t(rows)) << c.what;
    }
}

TEST_F(TrustDatabaseTest, StatementsUseOnlyTablesEvenWhenTheSchemaChangesUnderThem)
{
    const Blocks& b = Blocks::instance();
    // In a child, so that an endless query fails the test instead of hanging it.
    const int status = inChild(
        [&] {
            auto database = open();
            if (!database->insertPackage(app, {b.signedByA}))
                return 2;
            // Another process turns the table into an endless view while
            // this object is open: the next statement is prepared anew
            // against the new schema, and refused.
            SqliteFile(m_dbPath).exec("ALTER TABLE packages RENAME TO p; CREATE VIEW packages AS WITH RECURSIVE "
                                      "r(n) AS (SELECT 1 UNION SELECT n + 1 FROM r) SELECT 'x' || n AS id, 1 AS "
                                      "certificateid FROM r");
            CapturedStderr err;
            const bool listed = database->packages().empty();
            const bool checked = database->checkPackage(app, {b.signedByA}, false) == Database::CheckNotPossible;
            const std::string refused =
                "Database query failed: \"packages\" is a view or a trigger, and only tables are used\n";
            return listed && checked && err.text().rfind(refused + refused, 0) == 0 ? 0 : 1;
        },
        std::chrono::seconds(20));
    EXPECT_EQ(status, 0);
}
