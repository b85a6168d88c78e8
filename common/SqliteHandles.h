#pragma once

// Owning handles for SQLite objects.

#include <sqlite3.h>

#include "common/OwningHandle.h"

namespace Common::Sqlite {

// sqlite3_close_v2 rather than sqlite3_close: should a statement outlive the
// connection by mistake, the connection becomes a zombie instead of leaking.
using DatabaseHandle = Owned<sqlite3, sqlite3_close_v2>;
using StatementHandle = Owned<sqlite3_stmt, sqlite3_finalize>;

} // namespace Common::Sqlite
