// The trust database against its floor, measured in the same run:
//   insertPackage for 10 000 packages (one or two certificates each), then
//   checkPackage for each of them,
// against the same SQL statements run directly through SQLite (prepared
// once, values computed beforehand) on a second file of the same schema.
// Library and floor take turns in slices of 500 packages, so a change in
// the machine's load falls on both.
// Also: peak memory of a process that records and checks 1 000 and 10 000
// packages, which must not grow with the number of packages.
//
//   bench_database [packages]           the comparison (default 10000)
//   bench_database --memory N workdir   one memory run (started by the comparison)

#include "BenchSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sqlite3.h>

#include <torvel/torvel.h>

#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "common/SqliteHandles.h"
#include "common/UniqueFd.h"

namespace fs = std::filesystem;
using PackageSignatures::Cms;
using PackageSignatures::Database;

namespace {

constexpr int developers = 100;
constexpr int slice = 500;

void check(const TestKit::RunResult& result, const std::string& what)
{
    if (result.exitCode != 0) {
        std::fprintf(stderr, "%s failed:\n%s%s\n", what.c_str(), result.out.c_str(), result.err.c_str());
        std::exit(1);
    }
}

std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A block over a few bytes, signed by the library with the signer's key.
std::vector<uint8_t> signBlock(const std::string& key, const std::string& certificate, const std::string& content)
{
    const Common::OpenSsl::X509Handle x509(certificate_read(certificate.c_str()));
    const Common::OpenSsl::EvpPkeyHandle pkey(private_key_read(key.c_str(), nullptr));
    const Common::UniqueFd fd(::open(content.c_str(), O_RDONLY | O_CLOEXEC));
    size_t length = 0;
    const Common::Libc::MallocHandle<unsigned char> der(
        cms_sign(fd.get(), false, pkey.get(), nullptr, 0, x509.get(), nullptr, &length));
    if (der == nullptr)
        throw std::runtime_error("could not sign with " + certificate);
    return std::vector<uint8_t>(der.get(), der.get() + length);
}

// A CA, a hundred developers and a seclab with EC keys, one block signed by
// each, and a configuration with an empty revoke-on-bind list; all below
// the work directory, as blocks/<n>.der (blocks/seclab.der) and torvel.conf.
void makeMaterial(const std::string& work)
{
    fs::create_directories(work + "/blocks");
    check(TestKit::run({"openssl", "ecparam", "-genkey", "-name", "prime256v1", "-noout", "-out", work + "/ca.key"}),
          "ecparam");
    if (make_ca_certificate((work + "/ca.pem").c_str(), (work + "/ca.key").c_str(), "Bench Root") != 0)
        std::exit(1);
    TestKit::writeFile(work + "/content", "package bytes");
    for (int n = 0; n <= developers; ++n) {
        const std::string name = n < developers ? std::to_string(n) : "seclab";
        const std::string base = work + "/" + name;
        check(TestKit::run({"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                            "-nodes", "-keyout", base + ".key", "-subj", "/CN=Bench Signer " + name, "-out",
                            base + ".csr"}),
              "req");
        if (make_certificate((base + ".pem").c_str(), (base + ".csr").c_str(), (work + "/ca.key").c_str(),
                             (work + "/ca.pem").c_str(), n < developers ? "developer" : "seclab")
            != 0)
            std::exit(1);
        const std::vector<uint8_t> der = signBlock(base + ".key", base + ".pem", work + "/content");
        TestKit::writeFile(work + "/blocks/" + name + ".der", std::string(der.begin(), der.end()));
    }
    TestKit::writeFile(work + "/revocation.conf", "[revoke-on-bind]\n");
    TestKit::writeFile(work + "/devmode.conf", "[developermode]\nenabled=false\n");
    TestKit::writeFile(work + "/torvel.conf", "[main]\nrevocation_conf=" + work + "/revocation.conf\n"
                                                  "developermode_runtime_conf=" + work + "/devmode.conf\n");
}

std::string packageId(size_t n)
{
    return "org.bench.application" + std::to_string(n);
}

// Package n is signed by developer n % 100; every second one also by the seclab.
struct Workload {
    std::vector<std::string> ids;
    std::vector<std::vector<Cms>> blocks; // per developer, with and without the seclab's
    const std::vector<Cms>& blocksOf(size_t n) const { return blocks[(n % developers) * 2 + n % 2]; }
};

// The identifiers are made beforehand for the timed runs, and not at all
// for the memory runs, whose peak must only show what the library holds.
Workload loadWorkload(const std::string& work, int packages)
{
    Workload workload;
    for (int n = 0; n < packages; ++n)
        workload.ids.push_back(packageId(size_t(n)));
    const Cms seclab(readBytes(work + "/blocks/seclab.der"));
    for (int d = 0; d < developers; ++d) {
        const Cms developer(readBytes(work + "/blocks/" + std::to_string(d) + ".der"));
        workload.blocks.push_back({developer});
        workload.blocks.push_back({developer, seclab});
    }
    // What a caller has in hand before it asks: parsed blocks.
    for (const auto& blocks : workload.blocks) {
        for (const Cms& cms : blocks) {
            cms.certificate();
            cms.rotationChain()->previousKeyids();
        }
    }
    return workload;
}

// The statements the library runs, straight through SQLite.
class Floor {
public:
    struct Signer {
        std::vector<uint8_t> der;
        std::string keyId, subject, group, subgroup;
    };

    Floor(const std::string& path, const Workload& workload)
    {
        sqlite3* connection = nullptr;
        const int opened = sqlite3_open_v2(path.c_str(), &connection, SQLITE_OPEN_READWRITE, nullptr);
        m_db.reset(connection);
        if (opened != SQLITE_OK)
            throw std::runtime_error("cannot open " + path);
        sqlite3_busy_timeout(m_db.get(), Database::busyTimeoutMilliseconds);
        for (const auto& blocks : workload.blocks) {
            std::vector<Signer> signers;
            for (const Cms& cms : blocks) {
                const auto certificate = cms.certificate();
                signers.push_back({certificate->toDer(), certificate->keyId(), certificate->subject(),
                                   PackageSignatures::groupToString(certificate->group()),
                                   PackageSignatures::subgroupToString(certificate->subgroup())});
            }
            m_signers.push_back(std::move(signers));
        }
    }
    bool insert(const std::string& id, size_t n)
    {
        const std::vector<Signer>& signers = m_signers[(n % developers) * 2 + n % 2];
        bool ok = run(begin) && run(deletePackage, {id});
        for (const Signer& signer : signers) {
            sqlite3_int64 certificateId = 0;
            ok = ok && select(selectCertificate, {}, &signer.der, &certificateId);
            if (ok && certificateId == 0) {
                sqlite3_int64 groupId = 0, subgroupId = 0;
                ok = ok && select(selectGroup, {signer.group}, nullptr, &groupId);
                if (ok && groupId == 0 && (ok = run(insertGroup, {signer.group})))
                    groupId = sqlite3_last_insert_rowid(m_db.get());
                ok = ok && select(selectSubgroup, {signer.subgroup}, nullptr, &subgroupId);
                if (ok && subgroupId == 0 && (ok = run(insertSubgroup, {signer.subgroup})))
                    subgroupId = sqlite3_last_insert_rowid(m_db.get());
                ok = ok && run(insertCertificate, {signer.keyId, signer.subject}, &signer.der, {groupId, subgroupId});
                certificateId = sqlite3_last_insert_rowid(m_db.get());
            }
            ok = ok && run(insertPackage, {id}, nullptr, {certificateId});
        }
        return run(ok ? commit : rollback) && ok;
    }

    // 0 when the developer key is not revoked and matches the installed one.
    int checkPackage(const std::string& id, size_t n)
    {
        const Signer& developer = m_signers[(n % developers) * 2 + n % 2].front();
        sqlite3_int64 type = -1, exists = 0;
        if (!select(revocationStatus, {developer.keyId}, nullptr, &type) || type != -1)
            return 1;
        if (!select(packageExists, {id}, nullptr, &exists))
            return 1;
        sqlite3_stmt* statement = prepared(installedCertificate);
        sqlite3_bind_text(statement, 1, id.data(), int(id.size()), SQLITE_STATIC);
        sqlite3_bind_text(statement, 2, "developer", -1, SQLITE_STATIC);
        int result = 3;
        if (sqlite3_step(statement) == SQLITE_ROW
            && size_t(sqlite3_column_bytes(statement, 0)) == developer.der.size()
            && std::memcmp(sqlite3_column_blob(statement, 0), developer.der.data(), developer.der.size()) == 0)
            result = 0;
        sqlite3_reset(statement);
        return result;
    }

private:
    enum Site {
        begin, commit, rollback, deletePackage, selectCertificate, selectGroup, insertGroup, selectSubgroup,
        insertSubgroup, insertCertificate, insertPackage, revocationStatus, packageExists, installedCertificate, count
    };
    static constexpr const char* sql[count] = {
        "BEGIN TRANSACTION",
        "COMMIT",
        "ROLLBACK",
        "DELETE FROM packages WHERE id = ?",
        "SELECT id FROM certificates WHERE certificate = ?",
        "SELECT id FROM groups WHERE name = ?",
        "INSERT INTO groups (name) VALUES (?)",
        "SELECT id FROM subgroups WHERE name = ?",
        "INSERT INTO subgroups (name) VALUES (?)",
        "INSERT INTO certificates (certificate, key, subject, group_id, subgroup_id)VALUES (?, ?, ?, ?, ?)",
        "INSERT INTO packages (id, certificateid) VALUES (?, ?)",
        "SELECT type FROM revoked_keyids WHERE keyid = ?",
        "SELECT 1 FROM packages WHERE id = ?",
        "SELECT certificate FROM certificates WHERE id IN (SELECT certificateid FROM packages WHERE id = ?) AND "
        "group_id = (SELECT id FROM groups WHERE name = ?)",
    };

    sqlite3_stmt* prepared(Site site)
    {
        if (!m_statements[site]) {
            sqlite3_stmt* statement = nullptr;
            sqlite3_prepare_v3(m_db.get(), sql[site], -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
            m_statements[site].reset(statement);
        }
        return m_statements[site].get();
    }

    // Texts first (or, with a blob, the blob first, then the texts), then integers.
    static void bindTexts(sqlite3_stmt* statement, const std::vector<std::string>& texts, int first = 1)
    {
        for (size_t i = 0; i < texts.size(); ++i)
            sqlite3_bind_text(statement, first + int(i), texts[i].data(), int(texts[i].size()), SQLITE_STATIC);
    }

    sqlite3_stmt* bound(Site site, const std::vector<std::string>& texts, const std::vector<uint8_t>* blob,
                        const std::vector<sqlite3_int64>& integers)
    {
        sqlite3_stmt* statement = prepared(site);
        int index = 1;
        if (blob != nullptr)
            sqlite3_bind_blob(statement, index++, blob->data(), int(blob->size()), SQLITE_STATIC);
        bindTexts(statement, texts, index);
        index += int(texts.size());
        for (sqlite3_int64 value : integers)
            sqlite3_bind_int64(statement, index++, value);
        return statement;
    }

    bool run(Site site, const std::vector<std::string>& texts = {}, const std::vector<uint8_t>* blob = nullptr,
             const std::vector<sqlite3_int64>& integers = {})
    {
        sqlite3_stmt* statement = bound(site, texts, blob, integers);
        const bool done = sqlite3_step(statement) == SQLITE_DONE;
        sqlite3_reset(statement);
        return done;
    }

    // The first column of the first row into value, left alone when there is no row.
    bool select(Site site, const std::vector<std::string>& texts, const std::vector<uint8_t>* blob,
                sqlite3_int64* value)
    {
        sqlite3_stmt* statement = bound(site, texts, blob, {});
        const int result = sqlite3_step(statement);
        if (result == SQLITE_ROW)
            *value = sqlite3_column_int64(statement, 0);
        sqlite3_reset(statement);
        return result == SQLITE_ROW || result == SQLITE_DONE;
    }

    // Statements are finalized before the connection closes.
    Common::Sqlite::DatabaseHandle m_db;
    Common::Sqlite::StatementHandle m_statements[count];
    std::vector<std::vector<Signer>> m_signers;
};

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// One process that records and checks `packages` packages with the library;
// the file stays for its size to be reported.
int memoryRun(int packages, const std::string& work)
{
    const Workload workload = loadWorkload(work, 0);
    const std::string path = work + "/memory" + std::to_string(packages) + ".db";
    fs::remove(path);
    Database database(path, work + "/torvel.conf");
    int failures = 0;
    for (size_t n = 0; n < size_t(packages); ++n)
        failures += !database.insertPackage(packageId(n), workload.blocksOf(n));
    for (size_t n = 0; n < size_t(packages); ++n)
        failures += database.checkPackage(packageId(n), workload.blocksOf(n), false) != 0;
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 4 && std::strcmp(argv[1], "--memory") == 0)
        return memoryRun(std::atoi(argv[2]), argv[3]);
    const int packages = argc > 1 ? std::atoi(argv[1]) : 10000;

    TestKit::TempDir work("bench-database");
    std::printf("making %d developer certificates and their blocks...\n", developers);
    makeMaterial(work.path());
    const Workload workload = loadWorkload(work.path(), packages);

    const std::string libraryPath = work / "library.db";
    const std::string floorPath = work / "floor.db";
    { Database create(floorPath, work / "torvel.conf"); }
    Database database(libraryPath, work / "torvel.conf");
    Floor floor(floorPath, workload);

    Clock::duration insertTime {}, insertFloorTime {}, checkTime {}, checkFloorTime {};
    int failures = 0;
    const auto timed = [](Clock::duration& total, const auto& body) {
        const auto start = Clock::now();
        body();
        total += Clock::now() - start;
    };
    std::printf("recording %d packages...\n", packages);
    for (int first = 0, turn = 0; first < packages; first += slice, ++turn) {
        const int last = std::min(packages, first + slice);
        const auto library = [&] {
            for (int n = first; n < last; ++n)
                failures += !database.insertPackage(workload.ids[size_t(n)], workload.blocksOf(size_t(n)));
        };
        const auto direct = [&] {
            for (int n = first; n < last; ++n)
                failures += !floor.insert(workload.ids[size_t(n)], size_t(n));
        };
        if (turn % 2 == 0) {
            timed(insertTime, library);
            timed(insertFloorTime, direct);
        } else {
            timed(insertFloorTime, direct);
            timed(insertTime, library);
        }
    }
    std::printf("checking %d packages...\n", packages);
    for (int first = 0, turn = 0; first < packages; first += slice, ++turn) {
        const int last = std::min(packages, first + slice);
        const auto library = [&] {
            for (int n = first; n < last; ++n)
                failures += database.checkPackage(workload.ids[size_t(n)], workload.blocksOf(size_t(n)), false) != 0;
        };
        const auto direct = [&] {
            for (int n = first; n < last; ++n)
                failures += floor.checkPackage(workload.ids[size_t(n)], size_t(n)) != 0;
        };
        if (turn % 2 == 0) {
            timed(checkTime, library);
            timed(checkFloorTime, direct);
        } else {
            timed(checkFloorTime, direct);
            timed(checkTime, library);
        }
    }
    if (failures != 0) {
        std::fprintf(stderr, "%d operations failed\n", failures);
        return 1;
    }

    const std::string self = fs::canonical("/proc/self/exe").string();
    const TestKit::RunResult small = TestKit::run({self, "--memory", std::to_string(packages / 10), work.path()});
    const TestKit::RunResult large = TestKit::run({self, "--memory", std::to_string(packages), work.path()});
    check(small, "memory run");
    check(large, "memory run");

    const double perPackage = 1e6 / packages;
    std::printf("\n%d packages, %d developers, every second package with a seclab block:\n", packages, developers);
    std::printf("  insertPackage   %8.3f s  (%6.1f us a package)   floor %8.3f s  (%6.1f us)\n",
                seconds(insertTime), seconds(insertTime) * perPackage, seconds(insertFloorTime),
                seconds(insertFloorTime) * perPackage);
    std::printf("  checkPackage    %8.3f s  (%6.1f us a package)   floor %8.3f s  (%6.1f us)\n", seconds(checkTime),
                seconds(checkTime) * perPackage, seconds(checkFloorTime), seconds(checkFloorTime) * perPackage);
    std::printf("\nwall time  insertPackage / floor               : %.2f  (target <= 1.30)\n",
                seconds(insertTime) / seconds(insertFloorTime));
    std::printf("wall time  checkPackage / floor                : %.2f  (target <= 1.30)\n",
                seconds(checkTime) / seconds(checkFloorTime));
    std::printf("peak       %6d packages / %6d packages     : %.2f  (%ld KiB vs %ld KiB; target: no growth)\n",
                packages, packages / 10, double(large.maxRssKiB) / double(small.maxRssKiB), large.maxRssKiB,
                small.maxRssKiB);
    // SQLite keeps up to 2 MiB of pages of the file (its default cache
    // size), so a file that is still smaller than that shows in the peak.
    std::printf("file size  %6d packages / %6d packages     : %ld KiB vs %ld KiB\n", packages, packages / 10,
                long(fs::file_size(work / ("memory" + std::to_string(packages) + ".db")) / 1024),
                long(fs::file_size(work / ("memory" + std::to_string(packages / 10) + ".db")) / 1024));
    std::printf("peak       this process (library and floor)      : %ld KiB\n", Bench::highWaterMarkKiB(::getpid()));
    return 0;
}
