// torvel sign against the single-core floor of its work, measured in the
// same run and paired (each run measures the floor, then torvel, so a load
// that changes during the run moves both):
//   one pass of the key's digest over the package (openssl dgst),
// + decompressing the payload (rpm2cpio > /dev/null),
// + one digest and one signature per regular file on one thread
//   (bench_signing_floor over the already decompressed archive),
// for RSA and GOST R 34.10-2012 keys, on a package of 20 000 small files and
// on a large one. Also: eight packages signed with --jobs 2 against
// --jobs 1 (paired too), torvel verify against openssl cms -verify over the
// same bytes, and the peak memory of every run.

#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <torvel/FileWithCmses.h>

namespace fs = std::filesystem;

namespace {

struct Signer {
    const char* name;
    std::string key;
    std::string certificate;
    std::vector<std::string> packageDigest; // openssl dgst options for the key's digest
};

struct Keys {
    std::string caCertificate;
    Signer rsa;
    Signer gost;
};

void check(const TestKit::RunResult& result, const std::string& what)
{
    if (result.exitCode != 0) {
        std::fprintf(stderr, "%s failed:\n%s%s\n", what.c_str(), result.out.c_str(), result.err.c_str());
        std::exit(1);
    }
}

Keys makeKeys(const std::string& torvel, const TestKit::TempDir& dir)
{
    Keys keys;
    keys.caCertificate = dir / "ca.pem";
    check(TestKit::run({"openssl", "genrsa", "-out", dir / "ca.key", "2048"}), "genrsa");
    check(TestKit::run({torvel, "makecertca", "-k", dir / "ca.key", "-c", "Bench CA", "-o", keys.caCertificate}),
          "makecertca");
    keys.rsa = {"RSA", dir / "rsa.key", dir / "rsa.pem", {"-sha256"}};
    check(TestKit::run({"openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", keys.rsa.key, "-subj",
                        "/CN=Bench Developer", "-out", dir / "rsa.csr"}),
          "req");
    keys.gost = {"GOST", dir / "gost.key", dir / "gost.pem", {"-engine", "gost", "-md_gost12_256"}};
    check(TestKit::run({"openssl", "genpkey", "-engine", "gost", "-algorithm", "gost2012_256", "-pkeyopt",
                        "paramset:A", "-out", keys.gost.key}),
          "genpkey");
    check(TestKit::run({"openssl", "req", "-engine", "gost", "-new", "-key", keys.gost.key, "-subj",
                        "/CN=Bench GOST Developer", "-out", dir / "gost.csr"}),
          "req");
    for (const Signer* signer : {&keys.rsa, &keys.gost}) {
        const std::string request = signer == &keys.rsa ? dir / "rsa.csr" : dir / "gost.csr";
        check(TestKit::run({torvel, "makecert", "-i", request, "-k", dir / "ca.key", "-c", keys.caCertificate, "-g",
                            "developer", "-o", signer->certificate}),
              "makecert");
    }
    return keys;
}

// The first block's DER and the bare package it covers, for openssl.
void splitSigned(const std::string& signedPackage, const std::string& derPath, const std::string& barePath)
{
    auto file = PackageSignatures::FileWithCmses::fromPath(signedPackage.c_str(), "r");
    const auto blocks = file->locateCmses();
    if (blocks.size() != 1)
        std::exit(1);
    const auto der = file->cmses().at(0).data();
    TestKit::writeFile(derPath, std::string(der.begin(), der.end()));
    fs::copy_file(signedPackage, barePath, fs::copy_options::overwrite_existing);
    fs::resize_file(barePath, uintmax_t(blocks[0].offset - (blocks[0].version == 3 ? 8 : 0)));
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The run of median wall time, with the largest peaks of all runs.
Bench::Measurement summary(std::vector<Bench::Measurement> all)
{
    std::sort(all.begin(), all.end(), [](const auto& x, const auto& y) { return x.seconds < y.seconds; });
    Bench::Measurement result = all[all.size() / 2];
    for (const Bench::Measurement& m : all) {
        result.ownPeakKiB = std::max(result.ownPeakKiB, m.ownPeakKiB);
        result.treePeakKiB = std::max(result.treePeakKiB, m.treePeakKiB);
        result.exitCode = std::max(result.exitCode, m.exitCode);
    }
    return result;
}

// A and B measured alternately; the ratio is the median of the per-run ratios.
struct Paired {
    Bench::Measurement a;
    Bench::Measurement b;
    double ratio = 0; // a / b
};

template <typename MeasureA, typename MeasureB>
Paired paired(int runs, const MeasureA& measureA, const MeasureB& measureB)
{
    std::vector<Bench::Measurement> as, bs;
    std::vector<double> ratios;
    for (int run = 0; run < runs; ++run) {
        as.push_back(measureA());
        bs.push_back(measureB());
        ratios.push_back(as.back().seconds / bs.back().seconds);
    }
    return {summary(as), summary(bs), median(ratios)};
}

// The sum of the floor's three single-process pieces, as one measurement.
Bench::Measurement floorOf(const std::string& package, const std::string& archive, const Signer& signer,
                           const std::string& floorProgram)
{
    std::vector<std::string> digest {"openssl", "dgst"};
    digest.insert(digest.end(), signer.packageDigest.begin(), signer.packageDigest.end());
    digest.push_back(package);
    Bench::Measurement total;
    total.exitCode = 0;
    for (const auto& argv : {digest, std::vector<std::string> {"sh", "-c", "rpm2cpio \"$1\" > /dev/null", "sh",
                                                               package},
                             std::vector<std::string> {floorProgram, archive, signer.key}})
        total.addFollowing(Bench::measure(argv));
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string torvel = argc > 1 ? argv[1] : TORVEL_PATH;
    const std::string floorProgram = argc > 2 ? argv[2] : FLOOR_PATH;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    TestKit::TempDir work("bench-sign");
    const Keys keys = makeKeys(torvel, work);

    std::printf("building packages...\n");
    const auto packages = Bench::buildAside([&] {
        std::vector<std::string> built {Bench::buildLargePackage(work.path(), "org.example.small", 800, 50),
                                        Bench::buildLargePackage(work.path(), "org.example.large", 3200, 220),
                                        Bench::buildLargePackage(work.path(), "org.example.manyfiles", 20000, 50)};
        for (int i = 0; i < 8; ++i)
            built.push_back(Bench::buildLargePackage(work.path(), "org.example.batch" + std::to_string(i), 400, 28));
        return built;
    });
    const std::string& small = packages.at(0);
    const std::string& large = packages.at(1);
    const std::string& manyFiles = packages.at(2);
    const std::vector<std::string> batch(packages.begin() + 3, packages.end());
    std::printf("large package: %.1f MiB on disk, 3200 files, 220 MiB unpacked, zstd\n",
                double(fs::file_size(large)) / (1024 * 1024));
    std::printf("many-files package: %.1f MiB on disk, 20000 files, 50 MiB unpacked, zstd\n",
                double(fs::file_size(manyFiles)) / (1024 * 1024));
    const std::string loadBefore = loadAverage();

    // Every run signs unsigned copies of the packages, made before the clock
    // starts, so that every run does the same work as a developer's first
    // signature.
    const std::string signing = work / "signing";
    fs::create_directories(signing);
    const auto sign = [&](const Signer& signer, const std::vector<std::string>& paths,
                          const std::vector<std::string>& options = {}) {
        std::vector<std::string> argv {torvel, "sign", "-k", signer.key, "-c", signer.certificate};
        argv.insert(argv.end(), options.begin(), options.end());
        for (const std::string& path : paths) {
            const std::string copy = signing + "/" + fs::path(path).filename().string();
            fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
            // On the disk before the clock starts: torvel syncs the file it
            // writes, which would otherwise wait for the copy as well.
            check(TestKit::run({"sync", copy}), "sync");
            argv.push_back(copy);
        }
        return Bench::measure(argv);
    };

    struct SignCase {
        std::string label;
        const std::string* package;
        const Signer* signer;
        Paired result;
    };
    std::vector<SignCase> cases;
    for (const std::string* package : {&manyFiles, &large}) {
        const std::string archive = work / "floor.cpio";
        check(TestKit::run({"sh", "-c", "rpm2cpio \"$1\" > \"$2\"", "sh", *package, archive}), "rpm2cpio");
        for (const Signer* signer : {&keys.rsa, &keys.gost}) {
            const std::string label = std::string(signer->name) + (package == &large ? ", large" : ", 20000 files");
            std::printf("measuring %s...\n", label.c_str());
            std::fflush(stdout);
            cases.push_back({label, package, signer,
                             paired(
                                 runs, [&] { return sign(*signer, {*package}); },
                                 [&] { return floorOf(*package, archive, *signer, floorProgram); })});
        }
        fs::remove(archive);
    }
    std::printf("measuring the small package, eight packages and verification...\n");
    std::fflush(stdout);
    std::vector<Bench::Measurement> smallRuns;
    for (int run = 0; run < runs; ++run)
        smallRuns.push_back(sign(keys.rsa, {small}));
    const Bench::Measurement signSmall = summary(smallRuns);
    const Paired jobs = paired(
        runs, [&] { return sign(keys.rsa, batch, {"-j", "1"}); }, [&] { return sign(keys.rsa, batch, {"-j", "2"}); });

    check(TestKit::run({torvel, "sign", "-k", keys.rsa.key, "-c", keys.rsa.certificate, large, small}), "sign");
    const std::string der = work / "large.der";
    const std::string bare = work / "large.bare.rpm";
    splitSigned(large, der, bare);
    const Bench::Measurement verifyLarge = Bench::median(runs, {torvel, "verify", "-r", keys.caCertificate, large});
    const Bench::Measurement verifySmall = Bench::median(runs, {torvel, "verify", "-r", keys.caCertificate, small});
    const Bench::Measurement opensslVerify =
        Bench::median(runs, {"openssl", "cms", "-verify", "-binary", "-purpose", "smimesign", "-inform", "DER", "-in",
                             der, "-content", bare, "-CAfile", keys.caCertificate, "-out", "/dev/null"});

    std::printf("\nload average before: %s, after: %s\n", loadBefore.c_str(), loadAverage().c_str());
    std::printf("median of %d runs:\n", runs);
    for (const SignCase& c : cases) {
        Bench::printRow("floor (1 core), " + c.label, c.result.b);
        Bench::printRow("torvel sign, " + c.label, c.result.a);
    }
    Bench::printRow("torvel sign, RSA, small (800 files, 50 MiB)", signSmall);
    Bench::printRow("torvel sign, 8 packages, --jobs 1", jobs.a);
    Bench::printRow("torvel sign, 8 packages, --jobs 2", jobs.b);
    Bench::printRow("torvel verify, large package", verifyLarge);
    Bench::printRow("torvel verify, small package", verifySmall);
    Bench::printRow("openssl cms -verify, same bytes", opensslVerify);

    std::printf("\n");
    for (const SignCase& c : cases) {
        const bool targeted = c.signer == &keys.rsa && c.package == &manyFiles;
        std::printf("wall time  sign / floor, %-19s: %.2f  (cpu %.2f)%s\n", c.label.c_str(), c.result.ratio,
                    c.result.a.cpuSeconds / c.result.b.cpuSeconds, targeted ? "  (target <= 0.60)" : "");
    }
    std::printf("speed-up   8 packages, --jobs 2 over --jobs 1 : %.2f  (target >= 1.85)\n", jobs.ratio);
    std::printf("wall time  verify / openssl cms -verify       : %.2f  (target <= 1.10)\n",
                verifyLarge.seconds / opensslVerify.seconds);
    for (const SignCase& c : cases) {
        const bool targeted = c.package == &manyFiles;
        std::printf("own peak   sign, %-29s: %6ld KiB%s\n", c.label.c_str(), c.result.a.ownPeakKiB,
                    targeted ? "  (target <= 32768)" : "");
    }
    std::printf("own peak   sign, 8 packages, --jobs 1 / --jobs 2 : %ld KiB / %ld KiB\n", jobs.a.ownPeakKiB,
                jobs.b.ownPeakKiB);
    const Bench::Measurement& signLarge = cases.at(2).result.a;
    std::printf("own peak   sign 220 MiB / 50 MiB (RSA)        : %.2f  (%ld KiB vs %ld KiB, target 1.00)\n",
                double(signLarge.ownPeakKiB) / double(signSmall.ownPeakKiB), signLarge.ownPeakKiB,
                signSmall.ownPeakKiB);
    std::printf("own peak   verify large / verify small        : %.2f  (%ld KiB vs %ld KiB)\n",
                double(verifyLarge.ownPeakKiB) / double(verifySmall.ownPeakKiB), verifyLarge.ownPeakKiB,
                verifySmall.ownPeakKiB);
    bool ran = signSmall.exitCode == 0 && jobs.a.exitCode == 0 && jobs.b.exitCode == 0 && verifyLarge.exitCode == 0
               && opensslVerify.exitCode == 0;
    for (const SignCase& c : cases)
        ran = ran && c.result.a.exitCode == 0 && c.result.b.exitCode == 0;
    return ran ? 0 : 1;
}
