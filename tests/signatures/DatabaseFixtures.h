#pragma once

// What the trust database tests share: a database with its configuration,
// revocation and developer-mode files below one directory, blocks signed by
// the library's own signing code, and plain SQLite access to the file.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <torvel/Cms.h>
#include <torvel/Database.h>

#include "SignatureFixtures.h"
#include "common/SqliteHandles.h"

namespace DatabaseFixtures {

// The file through SQLite itself, as another program sees it.
class SqliteFile {
public:
    explicit SqliteFile(const std::string& path);

    sqlite3* connection() const { return m_connection.get(); }
    // Throw with SQLite's message on failure.
    void exec(const std::string& sql) const;
    void execBlob(const std::string& sql, const SignatureFixtures::Bytes& blob) const;
    // The first column of the first row; "" when there is none.
    std::string text(const std::string& sql) const;

private:
    Common::Sqlite::StatementHandle prepare(const std::string& sql) const;

    Common::Sqlite::DatabaseHandle m_connection;
};

class CapturedStderr {
public:
    CapturedStderr() { testing::internal::CaptureStderr(); }
    ~CapturedStderr() { text(); }
    CapturedStderr(const CapturedStderr&) = delete;
    CapturedStderr& operator=(const CapturedStderr&) = delete;
    const std::string& text();

private:
    bool m_done = false;
    std::string m_text;
};

// Signers A, B and C of one developer whose keys rotated A -> B -> C, a
// second developer, a seclab, and blocks signed by them with the library's
// cms_sign.
struct Blocks {
    static const Blocks& instance();

    SignatureFixtures::Signer a, b, c, stranger, seclab;
    PackageSignatures::Cms signedByA, signedByB, signedByBFromA, signedByCFromAB, signedByStranger, seclabBlock;

private:
    Blocks();
};

// A file of an earlier schema version (0 to 3), as older builds of the
// package manager left it: `rows` installed packages org.example.old<n>,
// each with the developer's certificate (subgroup mdm from version 1 on),
// and for versions 2 and 3 the revoked key id "0ld".
void writeOldDatabase(const std::string& path, int version, const SignatureFixtures::Signer& developer, int rows = 1);

TestKit::RunResult torvel(const std::vector<std::string>& arguments, const TestKit::RunOptions& options = {});

} // namespace DatabaseFixtures

// A database below its own directory, configured by
// etc/torvel/torvel.conf there (so TORVEL_ROOTFS can name the directory):
// revoke-on-bind keys "b0und" (superseded) and "b1acklisted", developer
// mode off.
class TrustDatabaseTest : public ::testing::Test {
protected:
    TrustDatabaseTest();

    std::unique_ptr<PackageSignatures::Database> open() const;
    void writeRevocations(const std::string& content) const;
    // An empty text removes the file.
    void writeDeveloperMode(const std::string& runtime, const std::string& initial) const;

    TestKit::TempDir m_dir {"sigdb"};
    std::string m_dbPath;
    std::string m_confPath;
};
