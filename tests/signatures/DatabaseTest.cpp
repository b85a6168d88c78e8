// The trust database: schema and upgrades, revocation and developer-mode
// files, package checks over blocks signed by the library, and torvel dumpdb.

#include <algorithm>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <torvel/torvel.h>

#include "DatabaseFixtures.h"
#include "Vetrik.h"

using namespace SignatureFixtures;
using namespace DatabaseFixtures;
using PackageSignatures::Cms;
using PackageSignatures::Database;

TEST_F(TrustDatabaseTest, CreatesTheCurrentSchemaWithTheRevokeOnBindKeys)
{
    {
        CapturedStderr err;
        auto database = open();
        EXPECT_EQ(err.text(), "");
        EXPECT_EQ(database->queryVersion(), 4);
        EXPECT_EQ(database->revokedKeyids(), (std::vector<std::string> {"b0und", "b1acklisted"}));
        EXPECT_EQ(database->getKeyidRevocationStatus("b0und"), Database::Superseded);
        EXPECT_EQ(database->getKeyidRevocationStatus("b1acklisted"), Database::Blacklisted);
        EXPECT_EQ(database->getKeyidRevocationStatus("other"), -1);
    }
    EXPECT_EQ(SqliteFile(m_dbPath).text("SELECT group_concat(name) FROM sqlite_master WHERE type='table'"),
              "groups,subgroups,certificates,packages,revoked_keyids");

    // In developer mode the keys are not revoked on creation.
    std::filesystem::remove(m_dbPath);
    writeDeveloperMode("[developermode]\nenabled=true\n", "");
    EXPECT_TRUE(open()->revokedKeyids().empty());

    // Without a revocation file nothing is created, and the next opening
    // tries again.
    std::filesystem::remove(m_dbPath);
    writeDeveloperMode("[developermode]\nenabled=false\n", "");
    std::filesystem::remove(m_dir / "revocation.conf");
    {
        CapturedStderr err;
        EXPECT_EQ(open()->queryVersion(), 0);
        EXPECT_EQ(err.text(), "Could not revoke public keys\n");
    }
    EXPECT_EQ(SqliteFile(m_dbPath).text("SELECT COUNT(1) FROM sqlite_master"), "0");
    writeRevocations("[revoke-on-bind]\nb0und=superseded\n");
    EXPECT_EQ(open()->queryVersion(), 4);

    // A newer file is left as it is; a directory or no path at all is not a database.
    SqliteFile(m_dbPath).exec("PRAGMA user_version = 5");
    CapturedStderr err;
    EXPECT_EQ(open()->queryVersion(), 5);
    Database directory(m_dir.path(), m_confPath);
    EXPECT_EQ(Database("", m_confPath).queryVersion(), -1);
    EXPECT_EQ(err.text(), "Unsupported database version: 5\nCould not open database at " + m_dir.path()
                              + "\nCould not open database at \n");
}

TEST_F(TrustDatabaseTest, UpgradesEveryEarlierVersion)
{
    const Pki& pki = Pki::instance();
    for (int version = 0; version <= 3; ++version) {
        SCOPED_TRACE(version);
        std::filesystem::remove(m_dbPath);
        writeOldDatabase(m_dbPath, version, pki.developerMdm);
        CapturedStderr err;
        auto database = open();
        EXPECT_EQ(err.text(), "");
        EXPECT_EQ(database->queryVersion(), 4);
        // Version 0 knew no subgroups: its certificates become regular.
        const auto certificates = database->packageCertificates("org.example.old0");
        ASSERT_EQ(certificates.size(), 1u);
        EXPECT_EQ(certificates[0]->keyId(), pki.developerMdm.keyId);
        EXPECT_EQ(SqliteFile(m_dbPath).text("SELECT s.name FROM certificates c JOIN subgroups s ON s.id = "
                                            "c.subgroup_id"),
                  version == 0 ? "regular" : "mdm");
        // Revocations of version 2 had no type: they were superseded keys.
        const std::vector<std::string> expected =
            version < 2 ? std::vector<std::string> {"b0und", "b1acklisted"}
                        : std::vector<std::string> {"0ld", "b0und", "b1acklisted"};
        EXPECT_EQ(database->revokedKeyids(), expected);
        EXPECT_EQ(database->getKeyidRevocationStatus("0ld"), version == 2 ? 0 : version == 3 ? 1 : -1);
    }

    // A failing step leaves the steps before it, and says which one failed.
    std::filesystem::remove(m_dbPath);
    writeOldDatabase(m_dbPath, 0, pki.developer);
    SqliteFile(m_dbPath).exec("CREATE TABLE subgroups(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
                              "INSERT INTO subgroups (name) VALUES ('mdm')");
    {
        CapturedStderr err;
        EXPECT_EQ(open()->queryVersion(), 0);
        EXPECT_EQ(err.text(), "Could not insert subgroups data: UNIQUE constraint failed: subgroups.name\n"
                              "Schema upgrade to version 1 failed\n");
    }
    std::filesystem::remove(m_dbPath);
    writeOldDatabase(m_dbPath, 2, pki.developer);
    std::filesystem::remove(m_dir / "revocation.conf");
    {
        CapturedStderr err;
        EXPECT_EQ(open()->queryVersion(), 3);
        EXPECT_EQ(err.text(), "Schema upgrade to version 4 failed\n");
    }
    CapturedStderr err;
    auto database = open();
    EXPECT_FALSE(database->migrate(4, 4));
    EXPECT_FALSE(database->migrate(-1, 4));
    EXPECT_EQ(err.text(), "Schema upgrade to version 4 failed\n"
                          "Could not upgrade database schema from version 4 to version 4\n"
                          "Could not upgrade database schema from version -1 to version 4\n");
}

TEST_F(TrustDatabaseTest, AppliesRevocationFiles)
{
    struct Case {
        const char* name;
        std::string file; // "" leaves no file at all
        std::vector<std::string> before;
        Database::RevokedKeyidsOperation operation;
        bool result;
        std::vector<std::string> after; // key id:type
        std::string err;
    };
    const std::vector<Case> cases {
        {"no file", "", {}, Database::Revoke, false, {}, ""},
        {"no group", "[other]\nk=blacklisted\n", {}, Database::Revoke, true, {}, ""},
        {"revokes in file order", "[g]\nk1=superseded\nk2=blacklisted\n", {}, Database::Revoke, true,
         {"k1:0", "k2:1"}, ""},
        {"stops at an unknown type", "[g]\nk1=blacklisted\nk2=revoked\nk3=superseded\n", {}, Database::Revoke, false,
         {"k1:1"}, "Unknown revocation type: revoked\n"},
        {"blacklisted stays blacklisted", "[g]\nk1=superseded\nk2=blacklisted\n", {"k1:1", "k2:0"},
         Database::Revoke, true, {"k1:1", "k2:1"}, ""},
        {"trust deletes entries of the same type", "[g]\nk1=superseded\nk2=superseded\n", {"k1:0", "k2:1"},
         Database::Trust, true, {"k2:1"}, ""},
    };
    // In developer mode a new database starts without revocations.
    writeDeveloperMode("[developermode]\nenabled=true\n", "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(m_dbPath);
        auto database = open();
        for (const std::string& entry : c.before) {
            const auto colon = entry.find(':');
            database->insertRevokedKeyid(entry.substr(0, colon), Database::RevocationType(std::stoi(entry.substr(colon + 1))));
        }
        const std::string path = m_dir / "list.conf";
        std::filesystem::remove(path);
        if (!c.file.empty())
            TestKit::writeFile(path, c.file);
        CapturedStderr err;
        EXPECT_EQ(database->processKeyidsFromFile(path, "g", c.operation), c.result);
        EXPECT_EQ(err.text(), c.err);
        std::vector<std::string> after;
        for (const std::string& keyid : database->revokedKeyids())
            after.push_back(keyid + ":" + std::to_string(database->getKeyidRevocationStatus(keyid)));
        EXPECT_EQ(after, c.after);
    }

    // Refreshing: revoke-on-bind follows developer mode, revoke always applies.
    std::filesystem::remove(m_dbPath);
    writeRevocations("[revoke-on-bind]\nb0und=superseded\n[revoke]\nr1=blacklisted\n");
    auto database = open();
    EXPECT_TRUE(database->updateRevokedKeyids());
    EXPECT_EQ(database->revokedKeyids(), std::vector<std::string> {"r1"});
    writeDeveloperMode("[developermode]\nenabled=false\n", "");
    EXPECT_TRUE(database->updateRevokedKeyids());
    EXPECT_EQ(database->revokedKeyids(), (std::vector<std::string> {"b0und", "r1"}));
    writeRevocations("[revoke-on-bind]\nb0und=superseded\n[revoke]\nr2=withdrawn\n");
    CapturedStderr err;
    EXPECT_FALSE(database->updateRevokedKeyids());
    EXPECT_EQ(err.text(), "Unknown revocation type: withdrawn\n");
}

TEST_F(TrustDatabaseTest, ReadsDeveloperModeFromTheRuntimeFileFirst)
{
    struct Case {
        std::string runtime; // "" leaves no file
        std::string initial;
        bool enabled;
        std::string err;
    };
    const std::string noAnswer = "Could not get developer mode state from config files\n";
    const std::vector<Case> cases {
        {"[developermode]\nenabled=true\n", "[developermode]\nenabled=false\n", true, ""},
        {"[developermode]\nenabled=false\n", "[developermode]\nenabled=true\n", false, ""},
        {"[developermode]\nenabled=TRUE\n", "", false, ""},
        {"[developermode]\nother=true\n", "[developermode]\nenabled=true\n", true, ""},
        {"[elsewhere]\nenabled=true\n", "[developermode]\nenabled=yes\n", false, ""},
        {"not a key file", "[developermode]\nenabled=true\n", true, ""},
        {"", "", false, noAnswer},
        {"[developermode]\n", "[developermode]\n", false, noAnswer},
    };
    auto database = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.runtime + "|" + c.initial);
        writeDeveloperMode(c.runtime, c.initial);
        CapturedStderr err;
        EXPECT_EQ(database->isDeveloperModeEnabled(), c.enabled);
        EXPECT_EQ(err.text(), c.err);
    }
    writeDeveloperMode("[developermode]\nenabled=true\n", "");
    bool enabled = false;
    CapturedStderr err;
    EXPECT_TRUE(database->readDeveloperModeConfig(Database::DeveloperModeConfigType(7), enabled));
    EXPECT_TRUE(enabled);
    EXPECT_FALSE(database->readDeveloperModeConfig(Database::InitialConfig, enabled));
    EXPECT_EQ(err.text(), "Unknown developer mode runtime config type: 7\nUse runtime config by default\n");
}

TEST_F(TrustDatabaseTest, ChecksPackagesAgainstInstalledDevelopersAndRevocations)
{
    const Blocks& b = Blocks::instance();
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::vector<Cms>>> installed;
        std::vector<std::pair<std::string, int>> revoked; // key id, type
        std::vector<Cms> update;
        int expected;
    };
    const std::string app = "org.example.app";
    const std::string a = b.a.keyId, bKey = b.b.keyId;
    const std::vector<Case> cases {
        {"no blocks", {}, {}, {}, Database::CheckNoDeveloperSignature},
        {"first block not a developer's", {}, {}, {b.seclabBlock}, Database::CheckNoDeveloperSignature},
        {"unknown package", {}, {}, {b.signedByA}, Database::CheckPassed},
        {"same key", {{app, {b.signedByA, b.seclabBlock}}}, {}, {b.signedByA}, Database::CheckPassed},
        {"rotated once", {{app, {b.signedByA}}}, {}, {b.signedByBFromA, b.seclabBlock}, Database::CheckPassed},
        {"rotated twice", {{app, {b.signedByA}}}, {}, {b.signedByCFromAB}, Database::CheckPassed},
        {"installed after one rotation", {{app, {b.signedByBFromA}}}, {}, {b.signedByCFromAB}, Database::CheckPassed},
        {"new key without chain", {{app, {b.signedByA}}}, {}, {b.signedByB}, Database::CheckDeveloperMismatch},
        {"other developer", {{app, {b.signedByA}}}, {}, {b.signedByStranger}, Database::CheckDeveloperMismatch},
        {"installed without developer", {{app, {b.seclabBlock}}}, {}, {b.signedByA}, Database::CheckDeveloperMismatch},
        {"superseded by another package", {{"org.example.other", {b.signedByBFromA}}}, {}, {b.signedByA},
         Database::CheckKeySuperseded},
        {"blacklisted key", {}, {{a, 1}}, {b.signedByA}, Database::CheckKeyBlacklisted},
        {"superseded previous key", {{app, {b.signedByA}}}, {{a, 0}}, {b.signedByBFromA}, Database::CheckPassed},
        {"blacklisted previous key", {{app, {b.signedByA}}}, {{a, 1}}, {b.signedByBFromA},
         Database::CheckKeyBlacklisted},
        {"blacklisted middle key", {}, {{bKey, 1}}, {b.signedByCFromAB}, Database::CheckKeyBlacklisted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(m_dbPath);
        auto database = open();
        for (const auto& [id, blocks] : c.installed)
            ASSERT_TRUE(database->insertPackage(id, blocks));
        for (const auto& [keyid, type] : c.revoked)
            database->insertRevokedKeyid(keyid, Database::RevocationType(type));
        CapturedStderr err;
        EXPECT_EQ(database->checkPackage(app, c.update, false), c.expected);
        EXPECT_EQ(database->checkPackage(app, c.update, true), c.expected);
        if (!c.update.empty()) {
            EXPECT_EQ(database->developerMatch(app, c.update[0]), c.expected != Database::CheckDeveloperMismatch);
        }
        EXPECT_EQ(err.text(), "");
    }
}

TEST_F(TrustDatabaseTest, RecordsPackagesAndTheKeysTheirChainsRetire)
{
    const Blocks& b = Blocks::instance();
    auto database = open();
    EXPECT_FALSE(database->insertPackage("org.example.empty", {}));
    ASSERT_TRUE(database->insertPackage("org.example.app", {b.signedByA, b.seclabBlock}));
    EXPECT_TRUE(database->packageExists("org.example.app"));
    EXPECT_TRUE(database->packageHasCertificateWithGroup("org.example.app", PackageSignatures::GroupSeclab));
    EXPECT_EQ(database->packageCertificateWithGroup("org.example.app", PackageSignatures::GroupDeveloper)->keyId(), b.a.keyId);
    EXPECT_FALSE(database->hasCertificatesWithGroup(PackageSignatures::GroupClient));

    // The update replaces what was recorded, and its chain retires both
    // previous keys; the blacklisted one stays blacklisted.
    database->insertRevokedKeyid(b.b.keyId, Database::Blacklisted);
    ASSERT_TRUE(database->insertPackage("org.example.app", {b.signedByCFromAB}));
    const auto certificates = database->packageCertificates("org.example.app");
    ASSERT_EQ(certificates.size(), 1u);
    EXPECT_EQ(certificates[0]->keyId(), b.c.keyId);
    EXPECT_EQ(database->getKeyidRevocationStatus(b.a.keyId), Database::Superseded);
    EXPECT_EQ(database->getKeyidRevocationStatus(b.b.keyId), Database::Blacklisted);
    EXPECT_EQ(database->checkPackage("org.example.new", {b.signedByA}, false), Database::CheckKeySuperseded);
    EXPECT_EQ(database->certificateReferences(*b.signedByA.certificate()), 0);
    EXPECT_EQ(database->certificateReferences(*b.signedByCFromAB.certificate()), 1);
    EXPECT_EQ(database->certificates().size(), 3u);
    EXPECT_EQ(database->activeCertificates().size(), 1u);

    // Rows come in row order, each decoded once for the object's lifetime.
    ASSERT_TRUE(database->insertPackage("org.example.two", {b.signedByStranger, b.seclabBlock}));
    const auto first = database->packageCertificates("org.example.two");
    const auto again = database->packageCertificates("org.example.two");
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0]->group(), PackageSignatures::GroupSeclab); // recorded before the stranger's
    EXPECT_EQ(first[1]->keyId(), b.stranger.keyId);
    EXPECT_EQ(first[0].get(), again[0].get());
    EXPECT_EQ(first[1].get(), again[1].get());

    // A failed step leaves nothing of the package.
    const Cms unreadable(Bytes {0x30, 0x03, 0x02, 0x01, 0x01});
    CapturedStderr err;
    EXPECT_FALSE(database->insertPackage("org.example.two", {b.signedByA, unreadable}));
    EXPECT_EQ(database->packageCertificates("org.example.two").size(), 2u);
    EXPECT_NE(err.text(), "");

    // Transactions roll back unless committed.
    {
        PackageSignatures::Transaction transaction(database->connection());
        ASSERT_TRUE(transaction.begun());
        database->insertRevokedKeyid("rolled-back", Database::Blacklisted);
    }
    EXPECT_EQ(database->getKeyidRevocationStatus("rolled-back"), -1);
    PackageSignatures::Transaction transaction(database->connection());
    database->insertRevokedKeyid("committed", Database::Blacklisted);
    EXPECT_TRUE(transaction.commit());
    EXPECT_EQ(database->getKeyidRevocationStatus("committed"), Database::Blacklisted);
}

TEST_F(TrustDatabaseTest, KeepsOneResetStatementPerQuerySite)
{
    auto database = open();
    sqlite3* connection = database->connection();
    const auto statements = [connection] {
        int count = 0;
        for (sqlite3_stmt* s = sqlite3_next_stmt(connection, nullptr); s != nullptr; s = sqlite3_next_stmt(connection, s)) {
            EXPECT_FALSE(sqlite3_stmt_busy(s)) << sqlite3_sql(s);
            ++count;
        }
        return count;
    };
    const int afterOpening = statements();
    database->packages();
    database->packageExists("a");
    database->packageExists("b");
    database->packages();
    EXPECT_EQ(statements(), afterOpening + 2);
}

TEST_F(TrustDatabaseTest, DumpDbPrintsPackagesCertificatesAndRevokedKeys)
{
    const Blocks& b = Blocks::instance();
    {
        auto database = open();
        ASSERT_TRUE(database->insertPackage("org.example.app", {b.signedByA, b.seclabBlock}));
        ASSERT_TRUE(database->insertPackage("org.example.thirty.characters0", {b.signedByBFromA}));
    }
    const auto last8 = [](const std::string& keyId) { return keyId.substr(keyId.size() - 8); };
    const std::string packages = "org.example.app                developer regular   " + last8(b.a.keyId)
                                 + " \"developer\"\n"
                                   "org.example.app                seclab    regular   "
                                 + last8(b.seclab.keyId)
                                 + " \"seclab\"\n"
                                   "org.example.thirty.characters0 developer mdm       "
                                 + last8(b.b.keyId) + " \"developermdm\"\n";
    TestKit::RunOptions options;
    options.env = {{"TORVEL_ROOTFS", m_dir.path()}};
    const auto dump = torvel({"dumpdb"}, options);
    EXPECT_EQ(dump.exitCode, 0);
    EXPECT_EQ(TestKit::lines(dump.out), TestKit::lines(packages));
    EXPECT_EQ(dump.err, "");

    const auto longIds = torvel({"dumpdb", "-l", "-t", "packages", m_dbPath}, options);
    EXPECT_EQ(TestKit::lines(longIds.out),
              (std::vector<std::string> {
                  "org.example.app                developer regular   " + b.a.keyId + " \"developer\"",
                  "org.example.app                seclab    regular   " + b.seclab.keyId + " \"seclab\"",
                  "org.example.thirty.characters0 developer mdm       " + b.b.keyId + " \"developermdm\""}));

    const auto certificates = torvel({"dumpdb", "--type", "certificates"}, options);
    EXPECT_EQ(certificates.out, "Subject: developer\nGroup: developer\nSubgroup: regular\nKey ID: " + b.a.keyId
                                    + "\n\nSubject: seclab\nGroup: seclab\nSubgroup: regular\nKey ID: "
                                    + b.seclab.keyId + "\n\nSubject: developermdm\nGroup: developer\nSubgroup: "
                                    "mdm\nKey ID: " + b.b.keyId + "\n\n");

    const auto revoked = torvel({"dumpdb", "-t", "revoked"}, options);
    // Listed in key id order, which is the order of the unique index SQLite reads them by.
    std::vector<std::string> keyIds {"b0und", "b1acklisted", b.a.keyId};
    std::sort(keyIds.begin(), keyIds.end());
    EXPECT_EQ(TestKit::lines(revoked.out), keyIds);

    const auto unknown = torvel({"dumpdb", "-t", "Packages"}, options);
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err, "Unknown type: Packages\n");

    // Short identifiers still get a column of twenty; hostile ones stay on their line.
    {
        auto database = open();
        ASSERT_TRUE(database->removePackage("org.example.app"));
        ASSERT_TRUE(database->removePackage("org.example.thirty.characters0"));
        ASSERT_TRUE(database->insertPackage("a\nb", {b.signedByA}));
    }
    EXPECT_EQ(torvel({"dumpdb", m_dbPath}, options).out,
              "a\\nb                 developer regular   " + last8(b.a.keyId) + " \"developer\"\n");

    // A database that is not there is neither created nor shown as empty; nor is one that is no database.
    const std::string missing = m_dir.path() + "/missing.db";
    const auto absent = torvel({"dumpdb", missing}, options);
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_EQ(absent.out, "");
    EXPECT_EQ(absent.err, "Could not open database at " + missing + ": No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(missing));
    const std::string notDatabase = m_dir.path() + "/text.db";
    TestKit::writeFile(notDatabase, "not a database\n");
    const auto corrupt = torvel({"dumpdb", notDatabase}, options);
    EXPECT_EQ(corrupt.exitCode, 1);
    EXPECT_EQ(corrupt.out, "");
    EXPECT_THAT(corrupt.err, testing::EndsWith("Could not read database at " + notDatabase + "\n"));
}
