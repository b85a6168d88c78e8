#pragma once

// The private state of a Database and the one way its queries are run.

#include <array>
#include <chrono>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/SqliteHandles.h"
#include "database/Confinement.h"
#include "database/Statements.h"
#include "torvel/Database.h"

namespace PackageSignatures {

// One use of a cached prepared statement. Whatever way the use ends, the
// statement is reset (releasing its read lock and its hold on the table)
// and its bindings cleared, so it is ready for the next use.
class StatementUse {
public:
    enum class Step { Row, Done, Error };

    // statement may be null: the use then fails at its first step. The
    // use starts the statement's step budget.
    StatementUse(sqlite3* connection, sqlite3_stmt* statement, Confinement& confinement);
    ~StatementUse();
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;

    // SQLite keeps pointers to bound values until the use ends, so only
    // values that outlive it may be bound: no temporaries.
    void bind(int index, const std::string& text);
    void bind(int index, std::string&&) = delete;
    void bindBlob(int index, const std::vector<uint8_t>& bytes);
    void bindBlob(int index, std::vector<uint8_t>&&) = delete;
    void bind(int index, int64_t value);

    // An error prints SQLite's message once.
    Step step();
    // Steps to the end; true when the statement completed.
    bool run();

    int64_t integer(int column) const;
    std::string text(int column) const;
    const void* blob(int column) const;
    size_t blobSize(int column) const;

private:
    sqlite3* m_connection;
    sqlite3_stmt* m_statement;
    Confinement& m_confinement;
    bool m_bindFailed = false;
};

// Lets the DER cache be searched with the bytes of a result column
// without copying them into a string first.
struct BytesHash {
    using is_transparent = void;
    size_t operator()(std::string_view bytes) const noexcept { return std::hash<std::string_view>{}(bytes); }
};

// Nested in an exported class, so it would be exported too unless hidden.
struct __attribute__((visibility("hidden"))) Database::Record {
    std::string confPath;
    // Outlives the connection whose handlers it is.
    Confinement confinement;
    // Declared before the statements so that they are finalized first.
    Common::Sqlite::DatabaseHandle connection;
    std::array<Common::Sqlite::StatementHandle, size_t(Sql::Query::Count)> statements;
    // Decoded certificates by row id, and by DER for the queries that
    // select a certificate without its row id; both point at one object.
    std::unordered_map<int64_t, std::shared_ptr<const Certificate>> certificatesByRow;
    std::unordered_map<std::string, std::shared_ptr<const Certificate>, BytesHash, std::equal_to<>> certificatesByDer;
    // When the current wait for another process's lock began.
    std::chrono::steady_clock::time_point lockWaitStarted;

    // The cached statement of the query site, prepared on first use.
    StatementUse use(Sql::Query query);
    // Why the file is refused: a view or a trigger where the statements
    // expect a table of theirs. Empty when there is none; nullopt when the
    // schema cannot be read.
    std::optional<std::string> viewOrTriggerInUse();
    // Finalizes the statements and closes the connection: every later
    // query fails as on a file that could not be opened.
    void close();
    // The cached certificate with these DER bytes, decoded when new.
    std::shared_ptr<const Certificate> certificateFromDer(const void* der, size_t size);

    // Answers that keep a database error apart from a negative answer, for
    // the checks that must fail closed.
    std::optional<int> revocationStatus(const std::string& keyid);
    std::optional<bool> packageExists(const std::string& id);
    // nullopt on a database error; a null certificate when there is none.
    std::optional<std::shared_ptr<const Certificate>> packageCertificateWithGroup(const std::string& id, Group group);
    std::optional<bool> developerMatch(const std::string& id, const Cms& cms);

    // The rows read; `complete` is false when the query failed before its end.
    std::vector<std::string> textColumn(Sql::Query query, bool& complete);
    std::vector<Certificate> certificateColumn(Sql::Query query, std::optional<int64_t> parameter, bool& complete);
    int64_t insertName(Sql::Query select, Sql::Query insert, const std::string& name);
    // Runs statements in order; the first failure prints its words and
    // SQLite's error text.
    template <size_t N>
    bool execute(const std::array<Sql::SchemaStatement, N>& statements);
    bool execute(const Sql::SchemaStatement& statement);
};

template <size_t N>
bool Database::Record::execute(const std::array<Sql::SchemaStatement, N>& statements)
{
    for (const Sql::SchemaStatement& statement : statements) {
        if (!execute(statement))
            return false;
    }
    return true;
}

} // namespace PackageSignatures
