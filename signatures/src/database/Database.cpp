// Opening, creating and upgrading the trust database, and its queries.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <sys/stat.h>

#include "common/SqliteHandles.h"
#include "common/VisibleText.h"
#include "database/DatabaseRecord.h"
#include "torvel/Configuration.h"

namespace PackageSignatures {

using Sql::Query;

namespace {

// A path that exists and is not a regular file (a FIFO would block the
// first read for ever) is never handed to SQLite, nor an empty one, which
// SQLite would take for a private temporary database (a configuration
// without database_path must fail, not show an empty database).
bool openable(const std::string& path)
{
    struct stat status {};
    return !path.empty() && (::stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode));
}

// SQLite's own busy timeout sleeps up to 100 ms between attempts. A process
// that commits and starts its next write at once then takes every gap, and
// its waiters starve past any timeout; polling every millisecond gives them
// their turn.
int waitForLock(void* state, int attempt)
{
    auto& record = *static_cast<Database::Record*>(state);
    const auto now = std::chrono::steady_clock::now();
    if (attempt == 0)
        record.lockWaitStarted = now;
    if (now - record.lockWaitStarted >= std::chrono::milliseconds(Database::busyTimeoutMilliseconds))
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 1;
}

} // namespace

// ---- one use of a cached statement ----

StatementUse::StatementUse(sqlite3* connection, sqlite3_stmt* statement, Confinement& confinement)
    : m_connection(connection)
    , m_statement(statement)
    , m_confinement(confinement)
{
    m_confinement.startStatement();
}

StatementUse::~StatementUse()
{
    if (m_statement != nullptr) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
}

void StatementUse::bind(int index, const std::string& text)
{
    if (m_statement != nullptr
        && sqlite3_bind_text(m_statement, index, text.data(), int(text.size()), SQLITE_STATIC) != SQLITE_OK)
        m_bindFailed = true;
}

void StatementUse::bindBlob(int index, const std::vector<uint8_t>& bytes)
{
    if (m_statement != nullptr
        && sqlite3_bind_blob(m_statement, index, bytes.data(), int(bytes.size()), SQLITE_STATIC) != SQLITE_OK)
        m_bindFailed = true;
}

void StatementUse::bind(int index, int64_t value)
{
    if (m_statement != nullptr && sqlite3_bind_int64(m_statement, index, value) != SQLITE_OK)
        m_bindFailed = true;
}

StatementUse::Step StatementUse::step()
{
    if (m_statement == nullptr)
        return Step::Error;
    if (m_bindFailed) {
        std::fprintf(stderr, "Database query failed: %s\n", m_confinement.failure(m_connection).c_str());
        return Step::Error;
    }
    switch (sqlite3_step(m_statement)) {
    case SQLITE_ROW: return Step::Row;
    case SQLITE_DONE: return Step::Done;
    default:
        std::fprintf(stderr, "Database query failed: %s\n", m_confinement.failure(m_connection).c_str());
        return Step::Error;
    }
}

bool StatementUse::run()
{
    Step result;
    while ((result = step()) == Step::Row) {
    }
    return result == Step::Done;
}

int64_t StatementUse::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::string StatementUse::text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return text == nullptr ? std::string() : std::string(text, size_t(sqlite3_column_bytes(m_statement, column)));
}

const void* StatementUse::blob(int column) const
{
    return sqlite3_column_blob(m_statement, column);
}

size_t StatementUse::blobSize(int column) const
{
    return size_t(sqlite3_column_bytes(m_statement, column));
}

// ---- the record ----

StatementUse Database::Record::use(Query query)
{
    Common::Sqlite::StatementHandle& cached = statements[size_t(query)];
    if (!cached && connection) {
        const std::string_view sql = Sql::text(query);
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(connection.get(), sql.data(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement,
                               nullptr)
            == SQLITE_OK)
            cached.reset(statement);
        else
            std::fprintf(stderr, "Database query failed: %s\n", confinement.failure(connection.get()).c_str());
    }
    return StatementUse(connection.get(), cached.get(), confinement);
}

std::optional<std::string> Database::Record::viewOrTriggerInUse()
{
    StatementUse statement = use(Query::ViewOrTriggerInUse);
    switch (statement.step()) {
    case StatementUse::Step::Done: return std::string();
    case StatementUse::Step::Error: return std::nullopt;
    case StatementUse::Step::Row: break;
    }
    const std::string name = Common::visibleText(statement.text(1));
    if (statement.text(0) == "view")
        return "\"" + name + "\" is a view, not a table";
    return "the trigger \"" + name + "\" would run on \"" + Common::visibleText(statement.text(2))
           + "\", and the trust database has no triggers";
}

void Database::Record::close()
{
    for (Common::Sqlite::StatementHandle& statement : statements)
        statement.reset();
    connection.reset();
}

std::shared_ptr<const Certificate> Database::Record::certificateFromDer(const void* der, size_t size)
{
    const std::string_view bytes(static_cast<const char*>(der), size);
    if (const auto found = certificatesByDer.find(bytes); found != certificatesByDer.end())
        return found->second;
    auto certificate =
        std::make_shared<const Certificate>(Certificate::fromDer(static_cast<const unsigned char*>(der), size));
    certificatesByDer.emplace(std::string(bytes), certificate);
    return certificate;
}

bool Database::Record::execute(const Sql::SchemaStatement& statement)
{
    const std::string sql(statement.sql);
    confinement.startStatement();
    if (connection && sqlite3_exec(connection.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "%.*s%s\n", int(statement.failure.size()), statement.failure.data(),
                 confinement.failure(connection.get()).c_str());
    return false;
}

std::vector<std::string> Database::Record::textColumn(Query query, bool& complete)
{
    std::vector<std::string> values;
    StatementUse statement = use(query);
    StatementUse::Step step;
    while ((step = statement.step()) == StatementUse::Step::Row)
        values.push_back(statement.text(0));
    complete = step == StatementUse::Step::Done;
    return values;
}

std::vector<Certificate> Database::Record::certificateColumn(Query query, std::optional<int64_t> parameter,
                                                             bool& complete)
{
    std::vector<Certificate> values;
    StatementUse statement = use(query);
    if (parameter)
        statement.bind(1, *parameter);
    StatementUse::Step step;
    while ((step = statement.step()) == StatementUse::Step::Row)
        values.push_back(Certificate::fromDer(static_cast<const unsigned char*>(statement.blob(0)),
                                              statement.blobSize(0)));
    complete = step == StatementUse::Step::Done;
    return values;
}

int64_t Database::Record::insertName(Query select, Query insert, const std::string& name)
{
    {
        StatementUse lookup = use(select);
        lookup.bind(1, name);
        switch (lookup.step()) {
        case StatementUse::Step::Row: return lookup.integer(0);
        case StatementUse::Step::Error: return 0;
        case StatementUse::Step::Done: break;
        }
    }
    StatementUse statement = use(insert);
    statement.bind(1, name);
    return statement.run() ? sqlite3_last_insert_rowid(connection.get()) : 0;
}

std::optional<int> Database::Record::revocationStatus(const std::string& keyid)
{
    StatementUse statement = use(Query::RevocationStatus);
    statement.bind(1, keyid);
    switch (statement.step()) {
    case StatementUse::Step::Row: return statement.integer(0) == Superseded ? Superseded : Blacklisted;
    case StatementUse::Step::Done: return -1;
    case StatementUse::Step::Error: break;
    }
    return std::nullopt;
}

std::optional<bool> Database::Record::packageExists(const std::string& id)
{
    StatementUse statement = use(Query::PackageExists);
    statement.bind(1, id);
    const StatementUse::Step result = statement.step();
    if (result == StatementUse::Step::Error)
        return std::nullopt;
    return result == StatementUse::Step::Row;
}

std::optional<std::shared_ptr<const Certificate>> Database::Record::packageCertificateWithGroup(const std::string& id,
                                                                                                Group group)
{
    const std::string name = groupToString(group);
    StatementUse statement = use(Query::PackageCertificateWithGroup);
    statement.bind(1, id);
    statement.bind(2, name);
    switch (statement.step()) {
    case StatementUse::Step::Row: return certificateFromDer(statement.blob(0), statement.blobSize(0));
    case StatementUse::Step::Done: return std::shared_ptr<const Certificate>();
    case StatementUse::Step::Error: break;
    }
    return std::nullopt;
}

// ---- construction and housekeeping ----

Database::Database(std::string_view dbPath, std::string_view confPath)
    : m_record(std::make_unique<Record>())
{
    m_record->confPath = std::string(confPath);
    const std::string path(dbPath);
    sqlite3* connection = nullptr;
    const int opened = openable(path)
        ? sqlite3_open_v2(path.c_str(), &connection, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        : SQLITE_CANTOPEN;
    // SQLite hands out a connection even when opening fails; it is closed here.
    Common::Sqlite::DatabaseHandle owned(connection);
    if (opened != SQLITE_OK) {
        std::fprintf(stderr, "Could not open database at %s\n", Common::visibleText(path).c_str());
        return;
    }
    // The package manager, a second installer and torvel may hold the file
    // for a moment; waiting beats failing, and failing stays closed.
    sqlite3_busy_handler(owned.get(), waitForLock, m_record.get());
    m_record->confinement.guard(owned.get());
    m_record->connection = std::move(owned);

    // Both facts from one snapshot: another process creating the tables
    // between two separate reads would make a new file look like an old one.
    int version = -1;
    int tables = 0;
    std::optional<std::string> refusal;
    {
        Transaction snapshot(m_record->connection.get());
        version = snapshot.begun() ? queryVersion() : -1;
        if (version < 0)
            return; // not a database SQLite can read, or locked for too long: leave it alone
        // Refused before anything runs on it, upgrades included; the guards
        // of the connection would refuse each statement that uses the
        // object, this names it once and up front.
        refusal = m_record->viewOrTriggerInUse();
        if (!refusal)
            return;
        StatementUse count = m_record->use(Query::TableCount);
        if (count.step() != StatementUse::Step::Row)
            return;
        tables = int(count.integer(0));
    }
    if (!refusal->empty()) {
        std::fprintf(stderr, "Refusing database at %s: %s\n", Common::visibleText(path).c_str(), refusal->c_str());
        m_record->close();
        return;
    }
    if (tables == 0)
        initializeDatabase();
    else if (version < schemaVersion)
        migrate(version, schemaVersion);
    else if (version > schemaVersion)
        std::fprintf(stderr, "Unsupported database version: %d\n", version);
}

Database::Database(std::string_view dbPath)
    : Database(dbPath, Configuration().confPath())
{
}

Database::~Database() = default;

std::string Database::defaultPath()
{
    return Configuration().databasePath();
}

sqlite3* Database::connection() const
{
    return m_record->connection.get();
}

bool Database::createTables()
{
    return m_record->execute(Sql::createTables);
}

bool Database::initializeDatabase()
{
    // Creating is idempotent, so a process that finds the tables made by
    // another while it waited for the lock simply makes them again.
    Transaction transaction(connection(), Transaction::Lock::Immediate);
    if (!transaction.begun())
        return false;
    if (!createTables()) {
        std::fprintf(stderr, "Could not create tables\n");
        return false;
    }
    if (!isDeveloperModeEnabled() && !revokePublicKeys()) {
        std::fprintf(stderr, "Could not revoke public keys\n");
        return false;
    }
    if (!setVersion(schemaVersion)) {
        std::fprintf(stderr, "Could not set database version\n");
        return false;
    }
    return transaction.commit();
}

int Database::queryVersion()
{
    StatementUse statement = m_record->use(Query::UserVersion);
    return statement.step() == StatementUse::Step::Row ? int(statement.integer(0)) : -1;
}

bool Database::setVersion(int version)
{
    const std::string sql = "PRAGMA user_version = " + std::to_string(version);
    return connection() != nullptr && sqlite3_exec(connection(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Database::migrate(int from, int to)
{
    if (from < 0 || from > 3 || to <= from || to > schemaVersion) {
        std::fprintf(stderr, "Could not upgrade database schema from version %d to version %d\n", from, to);
        return false;
    }
    // A switch rather than a table of member pointers: GCC's bounds
    // sanitizer misreads the index into such a table.
    const auto step = [this](int version) {
        switch (version) {
        case 0:
            return migrateV0toV1();
        case 1:
            return migrateV1toV2();
        case 2:
            return migrateV2toV3();
        case 3:
            return migrateV3toV4();
        }
        return false;
    };
    for (int version = from; version < to; ++version) {
        if (!step(version)) {
            std::fprintf(stderr, "Schema upgrade to version %d failed\n", version + 1);
            return false;
        }
    }
    return true;
}

namespace {

// One upgrade step and the version it reaches, committed together: a
// process killed between the two would otherwise leave a file whose step
// is done but not recorded, and running the step again fails for ever
// (the subgroup names are unique). A process that opened the file at the
// same time may have made the step while this one waited for the lock.
template <size_t N>
bool upgradeStep(Database& database, Database::Record& record, const std::array<Sql::SchemaStatement, N>& statements,
                 int target)
{
    Transaction transaction(database.connection(), Transaction::Lock::Immediate);
    if (!transaction.begun())
        return false;
    const int version = database.queryVersion();
    if (version >= target)
        return transaction.commit();
    return version >= 0 && record.execute(statements) && database.setVersion(target) && transaction.commit();
}

} // namespace

bool Database::migrateV0toV1()
{
    return upgradeStep(*this, *m_record, Sql::upgradeToVersion1, 1);
}

bool Database::migrateV1toV2()
{
    return upgradeStep(*this, *m_record, Sql::upgradeToVersion2, 2);
}

bool Database::migrateV2toV3()
{
    return upgradeStep(*this, *m_record, Sql::upgradeToVersion3, 3);
}

bool Database::migrateV3toV4()
{
    // Without a transaction, as each revocation it applies can be applied
    // again: a step cut short is simply redone at the next opening.
    const bool applied = isDeveloperModeEnabled() ? trustPublicKeys() : revokePublicKeys();
    return applied && setVersion(4);
}

// ---- queries and updates ----

std::vector<std::string> Database::packages()
{
    bool complete = false;
    return packages(complete);
}

std::vector<std::string> Database::packages(bool& complete)
{
    return m_record->textColumn(Query::Packages, complete);
}

std::vector<std::string> Database::revokedKeyids()
{
    bool complete = false;
    return revokedKeyids(complete);
}

std::vector<std::string> Database::revokedKeyids(bool& complete)
{
    return m_record->textColumn(Query::RevokedKeyids, complete);
}

bool Database::removePackage(const std::string& id)
{
    StatementUse statement = m_record->use(Query::RemovePackage);
    statement.bind(1, id);
    return statement.run();
}

bool Database::packageExists(const std::string& id)
{
    return m_record->packageExists(id).value_or(false);
}

bool Database::removeRevokedKeyid(const std::string& keyid, RevocationType type)
{
    StatementUse statement = m_record->use(Query::RemoveRevokedKeyid);
    statement.bind(1, keyid);
    statement.bind(2, int64_t(type));
    return statement.run();
}

int Database::getKeyidRevocationStatus(const std::string& keyid)
{
    return m_record->revocationStatus(keyid).value_or(-1);
}

bool Database::insertRevokedKeyid(const std::string& keyid, RevocationType type)
{
    StatementUse statement = m_record->use(Query::InsertRevokedKeyid);
    statement.bind(1, keyid);
    statement.bind(2, int64_t(type));
    statement.bind(3, int64_t(type));
    statement.bind(4, int64_t(Blacklisted));
    return statement.run();
}

bool Database::hasCertificatesWithGroup(Group group)
{
    const std::string name = groupToString(group);
    StatementUse statement = m_record->use(Query::HasCertificatesWithGroup);
    statement.bind(1, name);
    return statement.step() == StatementUse::Step::Row;
}

int Database::certificateReferences(const Certificate& certificate)
{
    const std::vector<uint8_t> der = certificate.toDer();
    StatementUse statement = m_record->use(Query::CertificateReferences);
    statement.bindBlob(1, der);
    return statement.step() == StatementUse::Step::Row ? int(statement.integer(0)) : 0;
}

bool Database::packageHasCertificateWithGroup(const std::string& id, Group group)
{
    const std::string name = groupToString(group);
    StatementUse statement = m_record->use(Query::PackageHasCertificateWithGroup);
    statement.bind(1, id);
    statement.bind(2, name);
    return statement.step() == StatementUse::Step::Row;
}

std::optional<Certificate> Database::packageCertificateWithGroup(const std::string& id, Group group)
{
    const auto found = m_record->packageCertificateWithGroup(id, group);
    if (!found || !*found)
        return std::nullopt;
    return Certificate(**found);
}

int64_t Database::insertGroup(Group group)
{
    return m_record->insertName(Query::SelectGroup, Query::InsertGroup, groupToString(group));
}

int64_t Database::insertSubgroup(Subgroup subgroup)
{
    return m_record->insertName(Query::SelectSubgroup, Query::InsertSubgroup, subgroupToString(subgroup));
}

int64_t Database::insertCertificate(const Certificate& certificate)
{
    const std::vector<uint8_t> der = certificate.toDer();
    if (der.empty())
        return 0;
    {
        StatementUse lookup = m_record->use(Query::SelectCertificate);
        lookup.bindBlob(1, der);
        switch (lookup.step()) {
        case StatementUse::Step::Row: return lookup.integer(0);
        case StatementUse::Step::Error: return 0;
        case StatementUse::Step::Done: break;
        }
    }
    const int64_t groupId = insertGroup(certificate.group());
    const int64_t subgroupId = groupId == 0 ? 0 : insertSubgroup(certificate.subgroup());
    if (subgroupId == 0)
        return 0;
    StatementUse statement = m_record->use(Query::InsertCertificate);
    statement.bindBlob(1, der);
    statement.bind(2, certificate.keyId());
    statement.bind(3, certificate.subject());
    statement.bind(4, groupId);
    statement.bind(5, subgroupId);
    return statement.run() ? sqlite3_last_insert_rowid(connection()) : 0;
}

bool Database::insertPackageWithCertificate(const std::string& id, const Certificate& certificate)
{
    const int64_t certificateId = insertCertificate(certificate);
    if (certificateId == 0)
        return false;
    StatementUse statement = m_record->use(Query::InsertPackageRow);
    statement.bind(1, id);
    statement.bind(2, certificateId);
    return statement.run();
}

std::vector<Certificate> Database::activeCertificates()
{
    bool complete = false;
    return m_record->certificateColumn(Query::ActiveCertificates, int64_t(Blacklisted), complete);
}

std::vector<Certificate> Database::certificates()
{
    bool complete = false;
    return certificates(complete);
}

std::vector<Certificate> Database::certificates(bool& complete)
{
    return m_record->certificateColumn(Query::Certificates, std::nullopt, complete);
}

std::vector<std::shared_ptr<const Certificate>> Database::packageCertificates(const std::string& id)
{
    bool complete = false;
    return packageCertificates(id, complete);
}

std::vector<std::shared_ptr<const Certificate>> Database::packageCertificates(const std::string& id, bool& complete)
{
    std::vector<std::shared_ptr<const Certificate>> values;
    StatementUse statement = m_record->use(Query::PackageCertificates);
    statement.bind(1, id);
    StatementUse::Step step;
    while ((step = statement.step()) == StatementUse::Step::Row) {
        const int64_t row = statement.integer(0);
        auto& cached = m_record->certificatesByRow[row];
        if (!cached)
            cached = m_record->certificateFromDer(statement.blob(1), statement.blobSize(1));
        values.push_back(cached);
    }
    complete = step == StatementUse::Step::Done;
    return values;
}

} // namespace PackageSignatures
