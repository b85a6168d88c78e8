#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "torvel/Certificate.h"
#include "torvel/Cms.h"
#include "torvel/Export.h"
#include "torvel/Group.h"

struct sqlite3;

namespace PackageSignatures {

// A transaction on a connection: BEGIN TRANSACTION when made, ROLLBACK when
// destroyed without a successful commit().
class TORVEL_EXPORT Transaction {
public:
    enum class Lock {
        // Takes the write lock at its first write, waiting for it then. A
        // transaction whose first statement only reads cannot wait there:
        // SQLite fails such a write at once while another process holds
        // the write lock, so those use Immediate.
        Deferred,
        // BEGIN IMMEDIATE TRANSACTION: waits for the write lock when made.
        Immediate,
    };

    explicit Transaction(sqlite3* connection, Lock lock = Lock::Deferred);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // False when BEGIN failed (the database is locked, unreadable, or not
    // open): statements run now would each commit on their own, so a caller
    // that needs them together must give up.
    bool begun() const { return m_begun; }
    bool commit();
    bool committed() const { return m_committed; }

private:
    sqlite3* m_connection;
    bool m_begun = false;
    bool m_committed = false;
};

// The trust database of installed packages, their signer certificates and
// revoked developer key ids, in an SQLite file whose schema version is kept
// in user_version. Opening brings an older file up to the current version.
// One object is used by one thread; several processes may share the file.
// No operation throws: failures print one line on standard error and give
// false, 0, -1 or an empty result.
class TORVEL_EXPORT Database {
public:
    enum RevocationType : int {
        Superseded = 0,  // "superseded": a rotation chain replaced the key
        Blacklisted = 1, // "blacklisted"
    };

    enum RevokedKeyidsOperation : int {
        Revoke = 0, // insert the listed key ids
        Trust = 1,  // delete them
    };

    enum DeveloperModeConfigType : int {
        InitialConfig = 0,
        RuntimeConfig = 1,
    };

    // What checkPackage answers. Only CheckPassed lets a package in.
    enum CheckResult : int {
        CheckPassed = 0,
        CheckNoDeveloperSignature = 1,   // the first block is not a developer's
        CheckDeveloperMismatch = 3,      // the installed package has another developer
        CheckKeySuperseded = 5,          // the developer key was rotated away
        CheckKeyBlacklisted = 6,         // the developer key, or a previous key of its chain, is blacklisted
        // The database could not answer: not open, locked for longer than
        // the busy timeout, corrupt or unreadable. Never treat it as passed.
        CheckNotPossible = 7,
    };

    static constexpr int schemaVersion = 4;
    // How long a statement waits for another process's lock before failing.
    static constexpr int busyTimeoutMilliseconds = 5000;

    // Opens (creating it when absent) the file read-write and brings it to
    // schemaVersion. confPath names the library configuration that supplies
    // the revocation and developer-mode files.
    Database(std::string_view dbPath, std::string_view confPath);
    // The same with the default configuration file.
    explicit Database(std::string_view dbPath);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The configured database_path.
    static std::string defaultPath();

    // Borrowed; null when the file could not be opened.
    sqlite3* connection() const;

    bool createTables();
    bool initializeDatabase();
    // -1 when it cannot be read.
    int queryVersion();
    bool setVersion(int version);
    bool migrate(int from, int to);
    bool migrateV0toV1();
    bool migrateV1toV2();
    bool migrateV2toV3();
    bool migrateV3toV4();

    std::vector<std::string> packages();
    std::vector<std::string> revokedKeyids();
    bool removePackage(const std::string& id);
    bool packageExists(const std::string& id);
    bool removeRevokedKeyid(const std::string& keyid, RevocationType type);
    // -1 when the key id is not revoked (or on a database error), else its RevocationType.
    int getKeyidRevocationStatus(const std::string& keyid);
    // An existing blacklisted entry is never changed; a superseded one takes the new type.
    bool insertRevokedKeyid(const std::string& keyid, RevocationType type);
    bool hasCertificatesWithGroup(Group group);
    int certificateReferences(const Certificate& certificate);
    bool packageHasCertificateWithGroup(const std::string& id, Group group);
    std::optional<Certificate> packageCertificateWithGroup(const std::string& id, Group group);
    // Row ids; 0 on failure.
    int64_t insertGroup(Group group);
    int64_t insertSubgroup(Subgroup subgroup);
    int64_t insertCertificate(const Certificate& certificate);
    bool insertPackageWithCertificate(const std::string& id, const Certificate& certificate);
    // Certificates of installed packages whose key is not blacklisted.
    std::vector<Certificate> activeCertificates();
    std::vector<Certificate> certificates();
    // In row order; each row is decoded once and then served from this
    // object's cache.
    std::vector<std::shared_ptr<const Certificate>> packageCertificates(const std::string& id);
    // The same four lists, telling in `complete` whether the query ran to
    // its end: after a failure (its reason printed) they hold the rows read
    // before it, and `complete` is false.
    std::vector<std::string> packages(bool& complete);
    std::vector<std::string> revokedKeyids(bool& complete);
    std::vector<Certificate> certificates(bool& complete);
    std::vector<std::shared_ptr<const Certificate>> packageCertificates(const std::string& id, bool& complete);

    // Records the package's signer certificates in place of what was
    // recorded for it, and marks every previous key of each block's rotation
    // chain as superseded; all of it or nothing.
    bool insertPackage(const std::string& id, const std::vector<Cms>& cmses);
    // Whether the block comes from the developer of the installed package
    // (directly or through its rotation chain); true for a package that is
    // not installed. False when the database cannot answer.
    bool developerMatch(const std::string& id, const Cms& cms);
    // A CheckResult. The flag is kept for callers; it does not change the result.
    int checkPackage(const std::string& id, const std::vector<Cms>& cmses, bool flag);

    bool isDeveloperModeEnabled();
    // True when the file gave an answer, which is then stored in enabled.
    bool readDeveloperModeConfig(DeveloperModeConfigType type, bool& enabled);
    bool processKeyidsFromFile(const std::string& path, const std::string& groupName,
                               RevokedKeyidsOperation operation);
    bool processPublicKeys(RevokedKeyidsOperation operation);
    bool trustPublicKeys();
    bool revokePublicKeys();
    bool updateRevokedKeyids();

    struct Record;

private:
    std::unique_ptr<Record> m_record;
};

} // namespace PackageSignatures
