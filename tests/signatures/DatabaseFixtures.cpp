#include "DatabaseFixtures.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <torvel/CmsFunctions.h>
#include <torvel/RotationFunctions.h>

#include "common/LibcHandles.h"
#include "TorvelHandles.h"

using namespace SignatureFixtures;

namespace DatabaseFixtures {

SqliteFile::SqliteFile(const std::string& path)
{
    sqlite3* connection = nullptr;
    const int opened = sqlite3_open(path.c_str(), &connection);
    m_connection.reset(connection);
    if (opened != SQLITE_OK)
        throw std::runtime_error("cannot open " + path);
}

void SqliteFile::exec(const std::string& sql) const
{
    if (sqlite3_exec(connection(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw std::runtime_error(sql + ": " + sqlite3_errmsg(connection()));
}

Common::Sqlite::StatementHandle SqliteFile::prepare(const std::string& sql) const
{
    sqlite3_stmt* statement = nullptr;
    const int prepared = sqlite3_prepare_v2(connection(), sql.c_str(), -1, &statement, nullptr);
    Common::Sqlite::StatementHandle owned(statement);
    if (prepared != SQLITE_OK)
        throw std::runtime_error(sql + ": " + sqlite3_errmsg(connection()));
    return owned;
}

void SqliteFile::execBlob(const std::string& sql, const Bytes& blob) const
{
    const Common::Sqlite::StatementHandle statement = prepare(sql);
    sqlite3_bind_blob(statement.get(), 1, blob.data(), int(blob.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(statement.get()) != SQLITE_DONE)
        throw std::runtime_error(sql + ": " + sqlite3_errmsg(connection()));
}

std::string SqliteFile::text(const std::string& sql) const
{
    const Common::Sqlite::StatementHandle statement = prepare(sql);
    if (sqlite3_step(statement.get()) != SQLITE_ROW || sqlite3_column_text(statement.get(), 0) == nullptr)
        return "";
    return reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
}

const std::string& CapturedStderr::text()
{
    if (!m_done) {
        m_text = testing::internal::GetCapturedStderr();
        m_done = true;
    }
    return m_text;
}

namespace {

// Earlier schemas, as older builds of the package manager left them.
constexpr const char* version0Schema =
    "CREATE TABLE groups(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "CREATE TABLE certificates(id INTEGER PRIMARY KEY, key BLOB NOT NULL, certificate BLOB NOT NULL, subject TEXT "
    "NOT NULL, group_id INTEGER, FOREIGN KEY(group_id) REFERENCES groups(id), UNIQUE (id, key, group_id));"
    "CREATE TABLE packages(id TEXT NOT NULL, certificateid INTEGER NOT NULL, FOREIGN KEY(certificateid) "
    "REFERENCES certificates(id), UNIQUE (id, certificateid));";
constexpr const char* version1Schema =
    "CREATE TABLE groups(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "CREATE TABLE subgroups(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "INSERT INTO subgroups (name) VALUES ('regular'), ('antivirus'), ('extended'), ('mdm');"
    "CREATE TABLE certificates(id INTEGER PRIMARY KEY, key BLOB NOT NULL, certificate BLOB NOT NULL, subject TEXT "
    "NOT NULL, group_id INTEGER, subgroup_id INTEGER, FOREIGN KEY(group_id) REFERENCES groups(id), FOREIGN "
    "KEY(subgroup_id) REFERENCES subgroups(id), UNIQUE (id, key, group_id, subgroup_id));"
    "CREATE TABLE packages(id TEXT NOT NULL, certificateid INTEGER NOT NULL, FOREIGN KEY(certificateid) "
    "REFERENCES certificates(id), UNIQUE (id, certificateid));";
constexpr const char* version2Table = "CREATE TABLE revoked_keyids(id INTEGER PRIMARY KEY, keyid TEXT NOT NULL UNIQUE);";
constexpr const char* version3Table =
    "CREATE TABLE revoked_keyids(id INTEGER PRIMARY KEY, keyid TEXT NOT NULL UNIQUE, type INTEGER NOT NULL);";

PackageSignatures::Cms signBlock(const Signer& signer, const std::vector<const Signer*>& rotatedFrom)
{
    // The chain runs from the oldest key through rotatedFrom to the signer.
    const Common::Torvel::ProofOfRotationChainHandle chain(
        rotatedFrom.empty() ? nullptr : sk_ProofOfRotation_new_null());
    for (size_t i = 0; i < rotatedFrom.size(); ++i) {
        const LoadedSigner from = load(*rotatedFrom[i]);
        const LoadedSigner to = load(i + 1 < rotatedFrom.size() ? *rotatedFrom[i + 1] : signer);
        sk_ProofOfRotation_push(chain.get(), ProofOfRotation_create(from.certificate.get(), from.key.get(),
                                                                    to.certificate.get(), to.key.get()));
    }
    const TestKit::TempDir dir("sigdbblock");
    TestKit::writeFile(dir / "content", "package bytes for " + signer.keyId);
    const int fd = ::open((dir / "content").c_str(), O_RDONLY);
    const LoadedSigner loaded = load(signer);
    size_t length = 0;
    const Common::Libc::MallocHandle<unsigned char> der(
        cms_sign(fd, false, loaded.key.get(), nullptr, 0, loaded.certificate.get(), chain.get(), &length));
    ::close(fd);
    if (der == nullptr)
        throw std::runtime_error("could not sign a block for " + signer.certificate);
    return PackageSignatures::Cms(Bytes(der.get(), der.get() + length));
}

} // namespace

const Blocks& Blocks::instance()
{
    static const Blocks blocks;
    return blocks;
}

Blocks::Blocks()
    : a(Pki::instance().developer)
    , b(Pki::instance().developerMdm)
    , c(Pki::instance().gostDeveloper)
    , stranger(Pki::instance().stranger)
    , seclab(Pki::instance().seclab)
    , signedByA(signBlock(a, {}))
    , signedByB(signBlock(b, {}))
    , signedByBFromA(signBlock(b, {&a}))
    , signedByCFromAB(signBlock(c, {&a, &b}))
    , signedByStranger(signBlock(stranger, {}))
    , seclabBlock(signBlock(seclab, {}))
{
}

void writeOldDatabase(const std::string& path, int version, const Signer& developer, int rows)
{
    SqliteFile file(path);
    file.exec(version == 0 ? version0Schema : version1Schema);
    if (version == 2)
        file.exec(version2Table);
    if (version == 3)
        file.exec(version3Table);
    file.exec("INSERT INTO groups (name) VALUES ('developer')");
    const Bytes der = certificateDer(developer.certificate);
    const std::string columns = version == 0 ? "" : ", subgroup_id";
    const std::string values = version == 0 ? "" : ", 4";
    file.exec("BEGIN");
    for (int row = 0; row < rows; ++row) {
        file.execBlob("INSERT INTO certificates (key, certificate, subject, group_id" + columns + ") VALUES ('"
                          + developer.keyId + "', ?, 'developer', 1" + values + ")",
                      der);
        file.exec("INSERT INTO packages (id, certificateid) VALUES ('org.example.old" + std::to_string(row) + "', "
                  + std::to_string(row + 1) + ")");
    }
    file.exec("COMMIT");
    if (version == 2)
        file.exec("INSERT INTO revoked_keyids (keyid) VALUES ('0ld')");
    if (version == 3)
        file.exec("INSERT INTO revoked_keyids (keyid, type) VALUES ('0ld', 1)");
    file.exec("PRAGMA user_version = " + std::to_string(version));
}


TestKit::RunResult torvel(const std::vector<std::string>& arguments, const TestKit::RunOptions& options)
{
    std::vector<std::string> argv {TORVEL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return TestKit::run(argv, options);
}

} // namespace DatabaseFixtures

TrustDatabaseTest::TrustDatabaseTest()
    : m_dbPath(m_dir / "packages.db")
    , m_confPath(m_dir / "etc/torvel/torvel.conf")
{
    TestKit::writeFile(m_confPath, "[main]\ndatabase_path=" + m_dbPath + "\nrevocation_conf=" + m_dir / "revocation.conf"
                                       + "\ndevelopermode_init_conf=" + m_dir / "devmode-init.conf"
                                       + "\ndevelopermode_runtime_conf=" + m_dir / "devmode-runtime.conf\n");
    writeRevocations("[revoke-on-bind]\nb0und=superseded\nb1acklisted=blacklisted\n");
    writeDeveloperMode("[developermode]\nenabled=false\n", "");
}

std::unique_ptr<PackageSignatures::Database> TrustDatabaseTest::open() const
{
    return std::make_unique<PackageSignatures::Database>(m_dbPath, m_confPath);
}

void TrustDatabaseTest::writeRevocations(const std::string& content) const
{
    TestKit::writeFile(m_dir / "revocation.conf", content);
}

void TrustDatabaseTest::writeDeveloperMode(const std::string& runtime, const std::string& initial) const
{
    for (const auto& [name, content] : {std::pair {"devmode-runtime.conf", runtime}, {"devmode-init.conf", initial}}) {
        if (content.empty())
            std::filesystem::remove(m_dir / name);
        else
            TestKit::writeFile(m_dir / name, content);
    }
}
