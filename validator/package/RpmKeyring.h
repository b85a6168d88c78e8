#pragma once

#include "common/RpmHandles.h"

namespace Common::Rpm {

// The OpenPGP keys librpm trusts: those imported into the rpm database
// (%{_dbpath}), read without writing anything.
//
// Left to itself, librpm loads its keyring by opening the database: SQLite
// writes the shared-memory index of an existing database even when it is
// opened read-only, and a missing database is created, directory and all
// ($HOME/.rpmdb on this platform, or /.rpmdb when HOME is empty). Here the
// database file is read as immutable, which takes no lock and touches no
// other file; changes an rpm process is writing at that moment (still in the
// write-ahead log) are not seen. Without a database the keyring is empty,
// which is what librpm would have found in the one it created.
KeyringHandle readOnlyKeyring();

} // namespace Common::Rpm
