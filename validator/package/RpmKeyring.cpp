#include "package/RpmKeyring.h"

#include "common/LibcHandles.h"
#include "common/SqliteHandles.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>

#include <rpm/rpmbase64.h>
#include <rpm/rpmfileutil.h>
#include <rpm/rpmtag.h>

namespace Common::Rpm {

namespace {

// The file of librpm's SQLite database back end; empty when it is not there.
std::string databaseFile()
{
    Libc::CStringHandle path(rpmGetPath("%{_dbpath}/rpmdb.sqlite", nullptr));
    struct stat st {};
    if (!path || ::stat(path.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return path.get();
}

// A read-only, immutable SQLite URI for `path`; the characters a URI
// reserves are escaped.
std::string immutableUri(const std::string& path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '%' || c == '?' || c == '#' || byte < 0x21 || byte >= 0x7f) {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0x0f];
        } else {
            uri += c;
        }
    }
    return uri + "?mode=ro&immutable=1";
}

// The keys of one gpg-pubkey header (each key also brings its subkeys), as
// librpm adds them when it loads its keyring from the database.
void addKeys(rpmKeyring keyring, Header header)
{
    TdHandle keys(rpmtdNew());
    if (!headerGet(header, RPMTAG_PUBKEYS, keys.get(), HEADERGET_MINMEM))
        return;
    while (const char* encoded = rpmtdNextString(keys.get())) {
        void* packet = nullptr;
        std::size_t length = 0;
        if (rpmBase64Decode(encoded, &packet, &length) != 0)
            continue;
        Libc::MallocHandle<void> ownedPacket(packet);
        PubkeyHandle key(rpmPubkeyNew(static_cast<const std::uint8_t*>(packet), length));
        if (!key)
            continue;
        rpmKeyringAddKey(keyring, key.get());
        int count = 0;
        Libc::MallocHandle<rpmPubkey[]> subkeys(rpmGetSubkeys(key.get(), &count));
        for (int i = 0; subkeys && i < count; ++i) {
            PubkeyHandle subkey(subkeys[i]);
            rpmKeyringAddKey(keyring, subkey.get());
        }
    }
    rpmtdFreeData(keys.get());
}

} // namespace

KeyringHandle readOnlyKeyring()
{
    KeyringHandle keyring(rpmKeyringNew());
    const std::string file = databaseFile();
    if (file.empty())
        return keyring;

    sqlite3* rawDatabase = nullptr;
    const int opened = sqlite3_open_v2(immutableUri(file).c_str(), &rawDatabase, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                                       nullptr);
    Sqlite::DatabaseHandle database(rawDatabase);
    if (opened != SQLITE_OK)
        return keyring;
    sqlite3_stmt* rawStatement = nullptr;
    if (sqlite3_prepare_v2(database.get(),
                           "SELECT blob FROM Packages WHERE hnum IN (SELECT hnum FROM Name WHERE key = 'gpg-pubkey')",
                           -1, &rawStatement, nullptr)
        != SQLITE_OK)
        return keyring;
    Sqlite::StatementHandle statement(rawStatement);
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        const void* blob = sqlite3_column_blob(statement.get(), 0);
        const int size = sqlite3_column_bytes(statement.get(), 0);
        if (!blob || size <= 0)
            continue;
        // Copied: the blob belongs to the statement.
        HeaderHandle header(headerImport(const_cast<void*>(blob), static_cast<unsigned int>(size), HEADERIMPORT_COPY));
        if (header)
            addKeys(keyring.get(), header.get());
    }
    return keyring;
}

} // namespace Common::Rpm
