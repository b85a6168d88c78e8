// torvel sign against the floor of its work, measured in the same run:
//   one SHA-256 pass over the package (openssl dgst),
// + decompressing the payload (rpm2cpio > /dev/null),
// + one digest and one signature per regular file (bench_signing_floor over
//   the already decompressed archive).
// Also: torvel verify against openssl cms -verify over the same bytes, eight
// packages signed with --jobs 2 against --jobs 1, and peak memory of signing
// and verifying packages of different sizes and file counts.

#include "BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <torvel/FileWithCmses.h>

namespace fs = std::filesystem;

namespace {

struct Keys {
    std::string caCertificate;
    std::string key;
    std::string certificate;
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
    Keys keys {dir / "ca.pem", dir / "dev.key", dir / "dev.pem"};
    check(TestKit::run({"openssl", "genrsa", "-out", dir / "ca.key", "2048"}), "genrsa");
    check(TestKit::run({torvel, "makecertca", "-k", dir / "ca.key", "-c", "Bench CA", "-o", keys.caCertificate}),
          "makecertca");
    check(TestKit::run({"openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", keys.key, "-subj",
                        "/CN=Bench Developer", "-out", dir / "dev.csr"}),
          "req");
    check(TestKit::run({torvel, "makecert", "-i", dir / "dev.csr", "-k", dir / "ca.key", "-c", keys.caCertificate,
                        "-g", "developer", "-o", keys.certificate}),
          "makecert");
    return keys;
}

// The first block's DER and the bare package it covers, for openssl.
void splitSigned(const std::string& signedPackage, const std::string& derPath, const std::string& barePath)
{
    auto file = PackageSignatures::FileWithCmses::fromPath(signedPackage.c_str(), "r");
    const auto blocks = file->locateCmses();
    if (blocks.size() != 1)
        std::exit(1);
    TestKit::writeFile(derPath, "");
    const auto der = file->cmses().at(0).data();
    TestKit::writeFile(derPath, std::string(der.begin(), der.end()));
    fs::copy_file(signedPackage, barePath, fs::copy_options::overwrite_existing);
    fs::resize_file(barePath, uintmax_t(blocks[0].offset - (blocks[0].version == 3 ? 8 : 0)));
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
                                        Bench::buildLargePackage(work.path(), "org.example.manyfiles", 3200, 50)};
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

    // The floor's pieces, each over the unsigned package.
    const std::string archive = work / "large.cpio";
    check(TestKit::run({"sh", "-c", "rpm2cpio \"$1\" > \"$2\"", "sh", large, archive}), "rpm2cpio");
    const Bench::Measurement digestPass = Bench::median(runs, {"openssl", "dgst", "-sha256", large});
    const Bench::Measurement decompress =
        Bench::median(runs, {"sh", "-c", "rpm2cpio \"$1\" > /dev/null", "sh", large});
    const Bench::Measurement fileSigning = Bench::median(runs, {floorProgram, archive, keys.key});
    fs::remove(archive);
    const double floor = digestPass.seconds + decompress.seconds + fileSigning.seconds;

    // -f replaces the block of the previous run, so every run does the same work.
    const auto sign = [&](const std::vector<std::string>& paths, const std::vector<std::string>& options = {}) {
        std::vector<std::string> argv {torvel, "sign", "-f", "-k", keys.key, "-c", keys.certificate};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), paths.begin(), paths.end());
        return Bench::median(runs, argv);
    };
    const Bench::Measurement signLarge = sign({large});
    const Bench::Measurement signSmall = sign({small});
    const Bench::Measurement signManyFiles = sign({manyFiles});

    const std::string der = work / "large.der";
    const std::string bare = work / "large.bare.rpm";
    splitSigned(large, der, bare);
    const Bench::Measurement verifyLarge = Bench::median(runs, {torvel, "verify", "-r", keys.caCertificate, large});
    const Bench::Measurement verifySmall = Bench::median(runs, {torvel, "verify", "-r", keys.caCertificate, small});
    const Bench::Measurement opensslVerify =
        Bench::median(runs, {"openssl", "cms", "-verify", "-binary", "-purpose", "smimesign", "-inform", "DER", "-in",
                             der, "-content", bare, "-CAfile", keys.caCertificate, "-out", "/dev/null"});

    const Bench::Measurement oneJob = sign(batch, {"-j", "1"});
    const Bench::Measurement twoJobs = sign(batch, {"-j", "2"});

    std::printf("\nmedian of %d runs:\n", runs);
    Bench::printRow("floor: openssl dgst -sha256 (package)", digestPass);
    Bench::printRow("floor: rpm2cpio > /dev/null", decompress);
    Bench::printRow("floor: digest + sign each regular file", fileSigning);
    Bench::printRow("torvel sign, large package", signLarge);
    Bench::printRow("torvel sign, small package (50 MiB)", signSmall);
    Bench::printRow("torvel sign, 50 MiB in 3200 files", signManyFiles);
    Bench::printRow("torvel verify, large package", verifyLarge);
    Bench::printRow("torvel verify, small package", verifySmall);
    Bench::printRow("openssl cms -verify, same bytes", opensslVerify);
    Bench::printRow("torvel sign, 8 packages, --jobs 1", oneJob);
    Bench::printRow("torvel sign, 8 packages, --jobs 2", twoJobs);
    std::printf("\nwall time  sign / floor (%.3f s)              : %.2f  (target <= 1.30)\n", floor,
                signLarge.seconds / floor);
    std::printf("wall time  verify / openssl cms -verify       : %.2f  (target <= 1.10)\n",
                verifyLarge.seconds / opensslVerify.seconds);
    std::printf("speed-up   8 packages, --jobs 2 over --jobs 1 : %.2f  (target >= 1.70)\n",
                oneJob.seconds / twoJobs.seconds);
    std::printf("own peak   sign large / sign small            : %.2f  (%ld KiB vs %ld KiB)\n",
                double(signLarge.ownPeakKiB) / double(signSmall.ownPeakKiB), signLarge.ownPeakKiB,
                signSmall.ownPeakKiB);
    // The file signatures themselves are held until the block is written,
    // so only the number of files may move the peak, never the bytes.
    std::printf("own peak   sign 220 MiB / 50 MiB, 3200 files  : %.2f  (%ld KiB vs %ld KiB)\n",
                double(signLarge.ownPeakKiB) / double(signManyFiles.ownPeakKiB), signLarge.ownPeakKiB,
                signManyFiles.ownPeakKiB);
    std::printf("own peak   verify large / verify small        : %.2f  (%ld KiB vs %ld KiB)\n",
                double(verifyLarge.ownPeakKiB) / double(verifySmall.ownPeakKiB), verifyLarge.ownPeakKiB,
                verifySmall.ownPeakKiB);
    const bool ran = signLarge.exitCode == 0 && verifyLarge.exitCode == 0 && opensslVerify.exitCode == 0
                     && oneJob.exitCode == 0 && twoJobs.exitCode == 0 && fileSigning.exitCode == 0;
    return ran ? 0 : 1;
}
