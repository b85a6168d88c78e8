// torvel sign with the signing key in a hardware security module (a SoftHSM2
// token reached through the pkcs11 engine) against the same key in a PEM
// file, measured in the same run:
//   a 3000-file package, token key / key file;
//   four packages with the token key, --jobs 2 / --jobs 1 (and the same
//   for the key file, so the cost of taking turns at the token shows).
// Every file signature is one private-key operation, so the first ratio is
// mostly the token's cost per signature; the second shows what serialising
// the token key's use between jobs leaves of the parallel speed-up.
// And in this process, through the library: the same four packages on two
// threads sharing one token key object (whose lock they take turns at)
// against two threads with a key object each (the same token key loaded
// twice, so no lock between them): the price of the serialisation itself.

#include "BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <torvel/torvel.h>

#include "common/OpenSslHandles.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* module = "/usr/lib/softhsm/libsofthsm2.so";
constexpr const char* pin = "1234";

void check(const TestKit::RunResult& result, const std::string& what)
{
    if (result.exitCode != 0) {
        std::fprintf(stderr, "%s failed:\n%s%s\n", what.c_str(), result.out.c_str(), result.err.c_str());
        std::exit(1);
    }
}

struct Keys {
    std::string file;
    std::string token;
    std::string certificate;
};

// One RSA key, made as a file and imported into a fresh token, so both runs
// sign with exactly the same key and certificate.
Keys makeKeys(const std::string& torvel, const TestKit::TempDir& dir)
{
    fs::create_directories(dir / "store");
    TestKit::writeFile(dir / "softhsm2.conf", "directories.tokendir = " + dir / "store"
                                                  + "\nobjectstore.backend = file\nlog.level = ERROR\n");
    setenv("SOFTHSM2_CONF", (dir / "softhsm2.conf").c_str(), 1);
    setenv("PKCS11_MODULE_PATH", module, 1);
    setenv("KEY_PASSPHRASE", pin, 1);

    Keys keys {dir / "dev.key", "pkcs11:token=bench;object=dev", dir / "dev.pem"};
    check(TestKit::run({"openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out",
                        keys.file}),
          "genpkey");
    check(TestKit::run({"pkcs11-tool", "--module", module, "--init-token", "--slot", "0", "--label", "bench",
                        "--so-pin", "000000", "--init-pin", "--pin", pin}),
          "init-token");
    check(TestKit::run({"softhsm2-util", "--import", keys.file, "--token", "bench", "--label", "dev", "--id", "01",
                        "--pin", pin}),
          "softhsm2-util --import");
    check(TestKit::run({"openssl", "genrsa", "-out", dir / "ca.key", "2048"}), "genrsa");
    check(TestKit::run({torvel, "makecertca", "-k", dir / "ca.key", "-c", "Bench CA", "-o", dir / "ca.pem"}),
          "makecertca");
    check(TestKit::run({"openssl", "req", "-new", "-key", keys.file, "-subj", "/CN=Bench Developer", "-out",
                        dir / "dev.csr"}),
          "req");
    check(TestKit::run({torvel, "makecert", "-i", dir / "dev.csr", "-k", dir / "ca.key", "-c", dir / "ca.pem", "-g",
                        "developer", "-o", keys.certificate}),
          "makecert");
    return keys;
}

// Seconds for two threads to sign two packages each, the first thread with
// `first`, the second with `second`; the blocks are removed before.
double signOnTwoThreads(const std::vector<std::string>& paths, X509* certificate, EVP_PKEY* first, EVP_PKEY* second)
{
    for (const std::string& path : paths) {
        auto file = PackageSignatures::FileWithCmses::fromPath(path);
        if (!file || (!file->locateCmses().empty() && !file->deleteCmses(false)))
            std::exit(1);
    }
    bool failed = false;
    const auto start = std::chrono::steady_clock::now();
    const auto signHalf = [&](size_t from, EVP_PKEY* key) {
        for (size_t i = from; i < from + paths.size() / 2; ++i) {
            auto file = PackageSignatures::FileWithCmses::fromPath(paths[i]);
            if (!file->sign(certificate, key, nullptr, TA_ALGORITHM_RSASSA_PKCS1_V1_5_SHA256, nullptr, false, true,
                            true))
                failed = true;
        }
    };
    std::thread other(signHalf, paths.size() / 2, second);
    signHalf(0, first);
    other.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failed) {
        std::fprintf(stderr, "in-process signing failed\n");
        std::exit(1);
    }
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const std::string torvel = argc > 1 ? argv[1] : TORVEL_PATH;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    if (!fs::exists(module)) {
        std::fprintf(stderr, "SoftHSM2 is not installed (%s)\n", module);
        return 1;
    }
    TestKit::TempDir work("bench-token");
    const Keys keys = makeKeys(torvel, work);

    std::printf("building packages...\n");
    const auto packages = Bench::buildAside([&] {
        std::vector<std::string> built {Bench::buildLargePackage(work.path(), "org.example.token", 3000, 50)};
        for (int i = 0; i < 4; ++i)
            built.push_back(Bench::buildLargePackage(work.path(), "org.example.tokenbatch" + std::to_string(i), 750, 12));
        return built;
    });
    const std::string& large = packages.at(0);
    const std::vector<std::string> batch(packages.begin() + 1, packages.end());

    // -f replaces the block of the previous run, so every run does the same work.
    const auto sign = [&](const std::string& key, const std::vector<std::string>& paths,
                          const std::vector<std::string>& options = {}) {
        std::vector<std::string> argv {torvel, "sign", "-f", "-k", key, "-c", keys.certificate};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), paths.begin(), paths.end());
        return Bench::median(runs, argv);
    };
    const Bench::Measurement fileLarge = sign(keys.file, {large});
    const Bench::Measurement tokenLarge = sign(keys.token, {large});
    const Bench::Measurement tokenOneJob = sign(keys.token, batch, {"-j", "1"});
    const Bench::Measurement tokenTwoJobs = sign(keys.token, batch, {"-j", "2"});
    const Bench::Measurement fileOneJob = sign(keys.file, batch, {"-j", "1"});
    const Bench::Measurement fileTwoJobs = sign(keys.file, batch, {"-j", "2"});

    // The library in this process: one shared key object, or one each.
    const Common::OpenSsl::X509Handle certificate(certificate_read(keys.certificate.c_str()));
    const Common::OpenSsl::EvpPkeyHandle sharedKey(private_key_read(keys.token.c_str(), pin));
    const Common::OpenSsl::EvpPkeyHandle secondKey(private_key_read(keys.token.c_str(), pin));
    if (!certificate || !sharedKey || !secondKey)
        return 1;
    std::vector<double> sharedTimes;
    std::vector<double> ownTimes;
    for (int run = 0; run < runs; ++run) {
        sharedTimes.push_back(signOnTwoThreads(batch, certificate.get(), sharedKey.get(), sharedKey.get()));
        ownTimes.push_back(signOnTwoThreads(batch, certificate.get(), sharedKey.get(), secondKey.get()));
    }
    const double sharedSeconds = median(sharedTimes);
    const double ownSeconds = median(ownTimes);

    std::printf("\nmedian of %d runs:\n", runs);
    Bench::printRow("sign 3000 files, key file", fileLarge);
    Bench::printRow("sign 3000 files, token key", tokenLarge);
    Bench::printRow("sign 4 x 750 files, token key, --jobs 1", tokenOneJob);
    Bench::printRow("sign 4 x 750 files, token key, --jobs 2", tokenTwoJobs);
    Bench::printRow("sign 4 x 750 files, key file, --jobs 1", fileOneJob);
    Bench::printRow("sign 4 x 750 files, key file, --jobs 2", fileTwoJobs);
    std::printf("\nwall time  3000 files, token key / key file   : %.2f\n", tokenLarge.seconds / fileLarge.seconds);
    std::printf("wall time  token key, --jobs 2 / --jobs 1     : %.2f  (speed-up %.2f)\n",
                tokenTwoJobs.seconds / tokenOneJob.seconds, tokenOneJob.seconds / tokenTwoJobs.seconds);
    std::printf("wall time  key file, --jobs 2 / --jobs 1      : %.2f  (speed-up %.2f)\n",
                fileTwoJobs.seconds / fileOneJob.seconds, fileOneJob.seconds / fileTwoJobs.seconds);
    std::printf("library, 2 threads, 4 x 750 files: one shared token key %.3f s, a key object each %.3f s\n",
                sharedSeconds, ownSeconds);
    std::printf("wall time  shared (serialised) / a key each   : %.2f\n", sharedSeconds / ownSeconds);
    const bool ran = fileLarge.exitCode == 0 && tokenLarge.exitCode == 0 && tokenOneJob.exitCode == 0
                     && tokenTwoJobs.exitCode == 0 && fileOneJob.exitCode == 0 && fileTwoJobs.exitCode == 0;
    return ran ? 0 : 1;
}
