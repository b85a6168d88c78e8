// torvel dumpdb on a large trust database: every statement a database
// runs has a budget of steps (database/Confinement.h), and this shows the
// budget never stops a real large database. A file of the current schema
// with N installed packages (default 10^6), each with a developer's and a
// seclab's certificate (2N package rows), is listed by
//   torvel dumpdb -t packages          (SELECT DISTINCT over 2N rows, then
//                                       one lookup per package)
//   torvel dumpdb -t certificates
// each three times; printed: median wall and processor time, peak memory,
// and whether every row came out.
//
//   bench_dumpdb [packages]

#include "BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sqlite3.h>

#include <torvel/torvel.h>

#include "common/SqliteHandles.h"

namespace {

void check(bool ok, const std::string& what)
{
    if (!ok) {
        std::fprintf(stderr, "%s failed\n", what.c_str());
        std::exit(1);
    }
}

std::vector<uint8_t> derOf(const std::string& pem)
{
    const TestKit::RunResult der = TestKit::run({"openssl", "x509", "-in", pem, "-outform", "DER"});
    check(der.exitCode == 0, "openssl x509");
    return std::vector<uint8_t>(der.out.begin(), der.out.end());
}

void exec(sqlite3* connection, const std::string& sql)
{
    check(sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK, sql);
}

// Two certificates of real signers, issued by a CA made here.
std::vector<std::vector<uint8_t>> makeCertificates(const std::string& work)
{
    check(TestKit::run({"openssl", "ecparam", "-genkey", "-name", "prime256v1", "-noout", "-out", work + "/ca.key"})
                  .exitCode
              == 0,
          "ecparam");
    check(make_ca_certificate((work + "/ca.pem").c_str(), (work + "/ca.key").c_str(), "Bench Root") == 0, "CA");
    std::vector<std::vector<uint8_t>> certificates;
    for (const std::string group : {"developer", "seclab"}) {
        const std::string base = work + "/" + group;
        check(TestKit::run({"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                            "-nodes", "-keyout", base + ".key", "-subj", "/CN=Bench " + group, "-out", base + ".csr"})
                      .exitCode
                  == 0,
              "req");
        check(make_certificate((base + ".pem").c_str(), (base + ".csr").c_str(), (work + "/ca.key").c_str(),
                               (work + "/ca.pem").c_str(), group.c_str())
                  == 0,
              "certificate");
        certificates.push_back(derOf(base + ".pem"));
    }
    return certificates;
}

void fill(const std::string& path, const std::string& conf, int packages,
          const std::vector<std::vector<uint8_t>>& certificates)
{
    { PackageSignatures::Database created(path, conf); }
    sqlite3* opened = nullptr;
    check(sqlite3_open(path.c_str(), &opened) == SQLITE_OK, "open");
    const Common::Sqlite::DatabaseHandle connection(opened);
    exec(connection.get(), "INSERT INTO groups (name) VALUES ('developer'), ('seclab')");
    exec(connection.get(), "INSERT INTO subgroups (name) VALUES ('regular')");
    for (size_t i = 0; i < certificates.size(); ++i) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(connection.get(),
                           "INSERT INTO certificates (id, key, certificate, subject, group_id, subgroup_id) VALUES "
                           "(?, ?, ?, 'Bench', ?, 1)",
                           -1, &statement, nullptr);
        const Common::Sqlite::StatementHandle owned(statement);
        sqlite3_bind_int64(statement, 1, int64_t(i + 1));
        sqlite3_bind_text(statement, 2, ("bench" + std::to_string(i)).c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_blob(statement, 3, certificates[i].data(), int(certificates[i].size()), SQLITE_STATIC);
        sqlite3_bind_int64(statement, 4, int64_t(i + 1));
        check(sqlite3_step(statement) == SQLITE_DONE, "certificate row");
    }
    exec(connection.get(), "BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                               + std::to_string(packages)
                               + ") INSERT INTO packages (id, certificateid) SELECT 'org.bench.application' || i, c "
                                 "FROM n, (SELECT 1 AS c UNION ALL SELECT 2); COMMIT");
}

size_t countLines(const std::string& path)
{
    std::ifstream in(path);
    size_t lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    return lines;
}

} // namespace

int main(int argc, char** argv)
{
    const int packages = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const TestKit::TempDir work("benchdumpdb");
    const std::string conf = work / "torvel.conf";
    TestKit::writeFile(work / "revocation.conf", "[revoke-on-bind]\n");
    TestKit::writeFile(work / "devmode.conf", "[developermode]\nenabled=false\n");
    TestKit::writeFile(conf, "[main]\nrevocation_conf=" + work / "revocation.conf"
                                 + "\ndevelopermode_runtime_conf=" + work / "devmode.conf\n");
    const std::string database = work / "packages.db";
    fill(database, conf, packages, makeCertificates(work.path()));
    std::printf("%d packages, %d package rows, file of %.0f MiB\n", packages, 2 * packages,
                double(std::filesystem::file_size(database)) / (1 << 20));

    // TORVEL_ROOTFS lets dumpdb find the configuration; its output goes to
    // a file through a shell so that its lines can be counted.
    const std::string rootfs = work / "root";
    std::filesystem::create_directories(rootfs + "/etc/torvel");
    std::filesystem::copy_file(conf, rootfs + "/etc/torvel/torvel.conf");
    for (const std::string type : {"packages", "certificates"}) {
        const std::string out = work / ("dump-" + type);
        const Bench::Measurement m = Bench::median(
            3, {"sh", "-c", std::string(TORVEL_PATH) + " dumpdb -t " + type + " " + database + " > " + out},
            {{"TORVEL_ROOTFS", rootfs}});
        Bench::printRow("dumpdb -t " + type, m);
        std::printf("  exit status %d, %zu lines\n", m.exitCode, countLines(out));
    }
    return 0;
}
