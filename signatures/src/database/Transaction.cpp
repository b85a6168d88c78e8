#include <cstdio>

#include <sqlite3.h>

#include "torvel/Database.h"

namespace PackageSignatures {

namespace {

bool execute(sqlite3* connection, const char* sql, const char* failure)
{
    if (connection == nullptr)
        return false;
    if (sqlite3_exec(connection, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "%s%s\n", failure, sqlite3_errmsg(connection));
    return false;
}

} // namespace

Transaction::Transaction(sqlite3* connection, Lock lock)
    : m_connection(connection)
    , m_begun(execute(connection, lock == Lock::Immediate ? "BEGIN IMMEDIATE TRANSACTION" : "BEGIN TRANSACTION",
                      "Could not begin transaction: "))
{
}

Transaction::~Transaction()
{
    // A statement that failed may have rolled the transaction back already
    // (SQLite does so on some errors); a second ROLLBACK would only complain.
    if (m_begun && !m_committed && sqlite3_get_autocommit(m_connection) == 0)
        execute(m_connection, "ROLLBACK", "Could not roll back transaction: ");
}

bool Transaction::commit()
{
    if (!m_begun || m_committed)
        return false;
    m_committed = execute(m_connection, "COMMIT", "Could not commit transaction: ");
    return m_committed;
}

} // namespace PackageSignatures
