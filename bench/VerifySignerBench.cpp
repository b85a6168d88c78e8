// What `vetrik --verify-signer` costs: the developer block checked against
// the CA bundle before its subgroup chooses the profile, which digests the
// package bytes once more. vetrik with and without the option, on the
// shapes of bench_extraction's small and large packages (3200 files of
// 50 MiB and of 220 MiB, zstd), each signed by a developer of a CA made here.
//
// Both contenders run once per round, in an order that alternates from round
// to round; the ratio is the median of the per-round ratios, so that a change
// of the machine's load touches both sides alike.
//
//     bench_verify_signer [vetrik] [runs] [torvel]

#include "BenchSupport.h"

#include <torvel/CertificateFunctions.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void run(const std::vector<std::string>& argv)
{
    const TestKit::RunResult result = TestKit::run(argv);
    if (result.exitCode != 0)
        throw std::runtime_error(argv.front() + " failed: " + result.err);
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string vetrik = argc > 1 ? argv[1] : VETRIK_PATH;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 6;
    const std::string torvel = argc > 3 ? argv[3] : TORVEL_PATH;
    TestKit::TempDir work("bench-verify-signer", "/var/tmp");
    TestKit::TempDir root("bench-root", "/var/tmp");
    TestKit::writeFile(root / "var/lib/developer-moded/developer-moded.conf", "[developermode]\nvalidationEnabled=true\n");
    TestKit::writeFile(root / "etc/os-release", "NAME=Taliro\nVERSION_ID=5.1.0.1\n");

    std::printf("building and signing packages...\n");
    run({"openssl", "genrsa", "-out", work / "ca.key", "2048"});
    if (make_ca_certificate((work / "ca.pem").c_str(), (work / "ca.key").c_str(), "Bench CA") != 0)
        throw std::runtime_error("could not issue the CA");
    run({"openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", work / "dev.key", "-subj",
         "/CN=Bench Developer", "-out", work / "dev.csr"});
    if (make_certificate((work / "dev.pem").c_str(), (work / "dev.csr").c_str(), (work / "ca.key").c_str(),
                         (work / "ca.pem").c_str(), "developer:mdm")
        != 0)
        throw std::runtime_error("could not issue the developer");
    const std::vector<std::string> packages = Bench::buildAside([&] {
        return std::vector<std::string> {
            Bench::buildLargePackage(work.path(), "org.example.small", 3200, 50),
            Bench::buildLargePackage(work.path(), "org.example.large", 3200, 220),
        };
    });
    for (const std::string& package : packages)
        run({torvel, "sign", "-k", work / "dev.key", "-c", work / "dev.pem", package});
    const std::vector<std::string> labels = {"small: 3200 files, 50 MiB, zstd", "large: 3200 files, 220 MiB, zstd"};

    const std::vector<std::pair<std::string, std::string>> env = {{"KVD_ROOT_FS", root.path()}};
    std::printf("\nmedian of %d paired rounds; vetrik chooses the profile from the certificate either way\n", runs);
    std::printf("%-36s %10s %12s %8s %12s\n", "package", "plain s", "verified s", "ratio", "added s");
    for (std::size_t p = 0; p < packages.size(); ++p) {
        std::vector<double> plain, verified, ratios, added;
        for (int round = 0; round < runs; ++round) {
            Bench::Measurement without, with;
            const std::function<void()> contenders[] = {
                [&] { without = Bench::measure({vetrik, "--color", "never", packages[p]}, env); },
                [&] {
                    with = Bench::measure({vetrik, "--color", "never", "--ca-bundle", work / "ca.pem", packages[p]},
                                          env);
                },
            };
            for (int i = 0; i < 2; ++i) {
                Bench::measure({"sync"});
                contenders[(i + round) % 2]();
            }
            plain.push_back(without.seconds);
            verified.push_back(with.seconds);
            ratios.push_back(with.seconds / without.seconds);
            added.push_back(with.seconds - without.seconds);
        }
        std::printf("%-36s %10.3f %12.3f %8.3f %12.3f\n", labels[p].c_str(), median(plain), median(verified),
                    median(ratios), median(added));
    }
    // The check alone, as torvel verify makes it for every block.
    std::printf("\ntorvel verify of the same packages (the same check, all blocks), median of %d runs\n", runs);
    for (std::size_t p = 0; p < packages.size(); ++p)
        Bench::printRow(labels[p], Bench::median(runs, {torvel, "verify", "-r", work / "ca.pem", packages[p]}));
    return 0;
}
