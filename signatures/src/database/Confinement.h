#pragma once

// What keeps a trust database file from making a statement do more than
// read and write the library's own tables. The file may come from anyone
// (dumpdb is pointed at whatever path it is given), and SQLite takes its
// schema from the file: a view named like a table runs whatever query the
// file holds, an endlessly recursive one included, and a trigger runs
// statements of the file's choosing on every write. So on every connection:
// - statements may use tables only: SQLite's authorizer refuses any access
//   made on behalf of a view or a trigger. It sees the schema as SQLite
//   parsed it, at every prepare (and every re-prepare after the schema
//   changed), so a schema row whose type column lies cannot slip by, as it
//   could past a look at sqlite_schema;
// - each statement use has a budget of virtual-machine steps;
// - each string or blob is limited in size.

#include <cstdint>
#include <string>

#include <sqlite3.h>

namespace PackageSignatures {

class Confinement {
public:
    // The budget of one statement use. The largest statements of a real
    // database are scans of a whole table: listing 10^6 installed packages
    // of two certificates each takes 8 * 10^6 steps (SELECT DISTINCT over
    // 2 * 10^6 rows, four steps a row), and an upgrade copies a table at 18
    // steps a row. 2^27 steps leave sixteen times the room of such a
    // database, and still end a runaway statement within seconds (SQLite
    // runs 10^7 to 10^8 steps a second) and before it has grown by more than
    // a few hundred megabytes.
    static constexpr uint64_t stepBudget = uint64_t(1) << 27;
    // How often SQLite reports progress, in steps.
    static constexpr int stepsPerReport = 10000;
    // No string or blob of a trust database comes near this: certificates
    // are a few kilobytes, key ids and package identifiers far less.
    static constexpr int valueLimit = 1 << 20;

    // Installs the guards on the connection; this object must outlive it.
    void guard(sqlite3* connection);

    // Gives the statement about to be used its whole budget.
    void startStatement();

    // Why the last call on the connection failed: what a guard refused, or
    // SQLite's own message.
    std::string failure(sqlite3* connection);

private:
    static int authorize(void* state, int action, const char*, const char*, const char*, const char* onBehalfOf);
    static int countSteps(void* state);

    std::string m_refusedObject;
    uint64_t m_reports = 0;
    bool m_budgetSpent = false;
};

} // namespace PackageSignatures
