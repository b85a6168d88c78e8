#pragma once

// Owning handles for SQLite objects. The deleters are empty structs, so a
// handle is exactly one pointer wide.

#include <memory>

#include <sqlite3.h>

namespace Common::Sqlite {

struct DatabaseDeleter {
    void operator()(sqlite3* database) const noexcept { sqlite3_close(database); }
};

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};

using DatabaseHandle = std::unique_ptr<sqlite3, DatabaseDeleter>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

} // namespace Common::Sqlite
