#pragma once

// Owning handles for SQLite objects, in the same form as every other C
// object of the library (Handles.h): a zero-size deleter per free function.

#include <sqlite3.h>

#include "Handles.h"

namespace PackageSignatures::Handles {

// sqlite3_close_v2 rather than sqlite3_close: should a statement outlive the
// connection by mistake, the connection becomes a zombie instead of leaking.
using SqlitePtr = Owned<sqlite3, sqlite3_close_v2>;
using StatementPtr = Owned<sqlite3_stmt, sqlite3_finalize>;
using GStrvPtr = Owned<gchar*, g_strfreev>;

} // namespace PackageSignatures::Handles
