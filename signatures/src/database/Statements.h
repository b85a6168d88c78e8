#pragma once

// Every SQL text of the trust database in one place. The texts are part of
// the stored format's contract with the package manager's older builds, so
// they are kept exactly, spacing included.

#include <array>
#include <cstddef>
#include <string_view>

namespace PackageSignatures::Sql {

// One cached prepared statement per query site; the value is its slot in
// the statement cache.
enum class Query : size_t {
    UserVersion,
    TableCount,
    ViewOrTriggerInUse,
    Packages,
    RevokedKeyids,
    RemovePackage,
    PackageExists,
    RemoveRevokedKeyid,
    RevocationStatus,
    InsertRevokedKeyid,
    HasCertificatesWithGroup,
    CertificateReferences,
    PackageHasCertificateWithGroup,
    PackageCertificateWithGroup,
    SelectGroup,
    InsertGroup,
    SelectSubgroup,
    InsertSubgroup,
    SelectCertificate,
    InsertCertificate,
    InsertPackageRow,
    ActiveCertificates,
    Certificates,
    PackageCertificates,
    Count
};

struct QueryText {
    Query query;
    std::string_view sql;
};

// In the order of the enum; the static_assert below keeps the two in step.
inline constexpr std::array<QueryText, size_t(Query::Count)> queries {{
    {Query::UserVersion, "PRAGMA user_version"},
    {Query::TableCount, "SELECT COUNT(1) FROM sqlite_master WHERE type='table'"},
    // Every table a statement of this file names, the upgrades' own
    // included; SQLite's names are case-insensitive. A view's tbl_name is
    // its own name, a trigger's the table it runs on.
    {Query::ViewOrTriggerInUse,
     "SELECT type, name, tbl_name FROM sqlite_master WHERE type IN ('view', 'trigger') AND tbl_name COLLATE NOCASE IN "
     "('groups', 'subgroups', 'certificates', 'packages', 'revoked_keyids', 'new_certificates', "
     "'new_revoked_keyids') LIMIT 1"},
    {Query::Packages, "SELECT DISTINCT id FROM packages"},
    {Query::RevokedKeyids, "SELECT keyid FROM revoked_keyids"},
    {Query::RemovePackage, "DELETE FROM packages WHERE id = ?"},
    {Query::PackageExists, "SELECT 1 FROM packages WHERE id = ?"},
    {Query::RemoveRevokedKeyid, "DELETE FROM revoked_keyids WHERE keyid = ? AND type = ?"},
    {Query::RevocationStatus, "SELECT type FROM revoked_keyids WHERE keyid = ?"},
    {Query::InsertRevokedKeyid,
     "INSERT INTO revoked_keyids (keyid, type) VALUES (?, ?) ON CONFLICT DO UPDATE SET type = ? WHERE type != ?"},
    {Query::HasCertificatesWithGroup,
     "SELECT 1 FROM certificates WHERE group_id = (SELECT id FROM groups WHERE name = ?)"},
    {Query::CertificateReferences,
     "SELECT COUNT(1) FROM packages WHERE certificateid = (SELECT id FROM certificates WHERE certificate = ?)"},
    {Query::PackageHasCertificateWithGroup,
     "SELECT 1 FROM certificates WHERE id IN (SELECT certificateid FROM packages WHERE id = ?) AND group_id = "
     "(SELECT id FROM groups WHERE name = ?)"},
    {Query::PackageCertificateWithGroup,
     "SELECT certificate FROM certificates WHERE id IN (SELECT certificateid FROM packages WHERE id = ?) AND "
     "group_id = (SELECT id FROM groups WHERE name = ?)"},
    {Query::SelectGroup, "SELECT id FROM groups WHERE name = ?"},
    {Query::InsertGroup, "INSERT INTO groups (name) VALUES (?)"},
    {Query::SelectSubgroup, "SELECT id FROM subgroups WHERE name = ?"},
    {Query::InsertSubgroup, "INSERT INTO subgroups (name) VALUES (?)"},
    {Query::SelectCertificate, "SELECT id FROM certificates WHERE certificate = ?"},
    {Query::InsertCertificate,
     "INSERT INTO certificates (certificate, key, subject, group_id, subgroup_id)VALUES (?, ?, ?, ?, ?)"},
    {Query::InsertPackageRow, "INSERT INTO packages (id, certificateid) VALUES (?, ?)"},
    {Query::ActiveCertificates,
     "SELECT certificate FROM certificates WHERE id IN (     SELECT certificateid FROM packages ) AND key NOT IN ("
     "     SELECT keyid FROM revoked_keyids     WHERE type = ? ) "},
    {Query::Certificates, "SELECT certificate FROM certificates"},
    {Query::PackageCertificates,
     "SELECT id, certificate FROM certificates WHERE id IN (SELECT certificateid FROM packages WHERE id = ?)"},
}};

constexpr bool queriesInEnumOrder()
{
    for (size_t i = 0; i < queries.size(); ++i) {
        if (size_t(queries[i].query) != i)
            return false;
    }
    return true;
}
static_assert(queriesInEnumOrder(), "the query table must list every query site in enum order");

constexpr std::string_view text(Query query)
{
    return queries[size_t(query)].sql;
}

// A statement of the schema or of an upgrade step, with the words printed
// before SQLite's error text when it fails.
struct SchemaStatement {
    std::string_view sql;
    std::string_view failure;
};

// The version-4 schema, in table order.
inline constexpr std::array<SchemaStatement, 5> createTables {{
    {"CREATE TABLE IF NOT EXISTS groups(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)",
     "Could not create groups table: "},
    {"CREATE TABLE IF NOT EXISTS subgroups(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)",
     "Could not create subgroups table: "},
    {"CREATE TABLE IF NOT EXISTS certificates(id INTEGER PRIMARY KEY, key BLOB NOT NULL, certificate BLOB NOT NULL, "
     "subject TEXT NOT NULL, group_id INTEGER, subgroup_id INTEGER, FOREIGN KEY(group_id) REFERENCES groups(id), "
     "FOREIGN KEY(subgroup_id) REFERENCES subgroups(id), UNIQUE (id, key, group_id, subgroup_id))",
     "Could not create certificates table: "},
    {"CREATE TABLE IF NOT EXISTS packages(id TEXT NOT NULL, certificateid INTEGER NOT NULL, FOREIGN "
     "KEY(certificateid) REFERENCES certificates(id), UNIQUE (id, certificateid))",
     "Could not create packages table: "},
    {"CREATE TABLE IF NOT EXISTS revoked_keyids(id INTEGER PRIMARY KEY, keyid TEXT NOT NULL UNIQUE, type INTEGER NOT "
     "NULL)",
     "Could not create revoked_keyids table: "},
}};

// Version 0 to 1: subgroups arrive, and every certificate becomes regular.
inline constexpr std::array<SchemaStatement, 6> upgradeToVersion1 {{
    createTables[1],
    {"INSERT INTO subgroups (name) VALUES ('regular'), ('antivirus'), ('extended'), ('mdm')",
     "Could not insert subgroups data: "},
    {"CREATE TABLE IF NOT EXISTS new_certificates(id INTEGER PRIMARY KEY, key BLOB NOT NULL, certificate BLOB NOT "
     "NULL, subject TEXT NOT NULL, group_id INTEGER, subgroup_id INTEGER, FOREIGN KEY(group_id) REFERENCES "
     "groups(id), FOREIGN KEY(subgroup_id) REFERENCES subgroups(id), UNIQUE (id, key, group_id, subgroup_id))",
     "Could not create new_certificates table: "},
    {"INSERT INTO new_certificates (id, key, certificate, subject, group_id, subgroup_id) SELECT id, key, "
     "certificate, subject, group_id, (SELECT id FROM subgroups WHERE name = 'regular') FROM certificates",
     "Could not copy data from certificates to new_certificates: "},
    {"DROP TABLE certificates", "Could not drop certificates table: "},
    {"ALTER TABLE new_certificates RENAME TO certificates",
     "Could not rename new_certificates to certificates table: "},
}};

// Version 1 to 2: revocations, still without their type.
inline constexpr std::array<SchemaStatement, 1> upgradeToVersion2 {{
    {"CREATE TABLE IF NOT EXISTS revoked_keyids(id INTEGER PRIMARY KEY, keyid TEXT NOT NULL UNIQUE)",
     "Could not create revoked_keyids table: "},
}};

// Version 2 to 3: revocations get their type; existing ones were superseded keys.
inline constexpr std::array<SchemaStatement, 4> upgradeToVersion3 {{
    {"CREATE TABLE IF NOT EXISTS new_revoked_keyids(id INTEGER PRIMARY KEY, keyid TEXT NOT NULL UNIQUE, type "
     "INTEGER NOT NULL)",
     "Could not create new_revoked_keyids table: "},
    {"INSERT INTO new_revoked_keyids (id, keyid, type) SELECT id, keyid, 0 FROM revoked_keyids",
     "Could not copy data from revoked_keyids to new_revoked_keyids: "},
    {"DROP TABLE revoked_keyids", "Could not drop revoked_keyids table: "},
    {"ALTER TABLE new_revoked_keyids RENAME TO revoked_keyids",
     "Could not rename new_revoked_keyids to revoked_keyids table: "},
}};

} // namespace PackageSignatures::Sql
