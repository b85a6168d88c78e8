// vetrik against the floor of its work: unpacking the payload with
// rpm2cpio | cpio -idm into a fresh directory, and (once validators read
// files) one full read of the unpacked tree. Also checks that vetrik's
// peak memory does not grow with the payload, and what the package's
// desktop file (read and checked six times over) adds to each ratio.

#include "BenchSupport.h"
#include "Fixtures.h"
#include "checks/desktop/Desktop.h"
#include "core/Config.h"
#include "package/RpmMeta.h"

#include <chrono>
#include <iostream>
#include <sstream>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// What the desktop family costs per package, measured in this process where
// a shared machine's noise cannot hide it: every path of the package offered
// to the desktop validator, its desktop file checked by the five checkers,
// and the final step. Seconds per package.
double desktopFamilySeconds(const std::string& package, const std::string& name)
{
    const auto meta = std::make_shared<const Validator::RpmMeta>(package);
    TestKit::TempDir tree("bench-tree");
    const std::string desktopPath = TestKit::desktopPath(name);
    TestKit::writeFile(tree / desktopPath.substr(1), TestKit::validDesktopFile(name));
    std::ostringstream discarded;
    std::streambuf* previous = std::cerr.rdbuf(discarded.rdbuf());
    const auto config = std::make_shared<const Validator::Config>(Validator::Profile::Regular);
    constexpr int kRounds = 50;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) {
        Validator::ValidationContext context{config, meta, std::make_shared<Validator::Logger>()};
        *context.unpackDir = tree.path();
        Validator::Desktop desktop(context);
        for (const std::string& path : meta->paths()) {
            if (desktop.accepts(path, tree.path() + path))
                desktop.validate(path, tree.path() + path);
        }
        desktop.finish();
        discarded.str({});
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cerr.rdbuf(previous);
    return seconds / kRounds;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string vetrik = argc > 1 ? argv[1] : VETRIK_PATH;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    TestKit::TempDir work("bench-extract");
    TestKit::TempDir root("bench-root");
    TestKit::writeFile(root / "var/lib/developer-moded/developer-moded.conf", "[developermode]\nvalidationEnabled=true\n");

    std::printf("building packages...\n");
    // The same packages with and without a desktop file, built apart so
    // that their file names do not clash.
    const auto packages = Bench::buildAside([&] {
        std::vector<std::string> built;
        for (const char* variant : {"desktop", "plain"}) {
            const std::string dir = work / variant;
            const auto desktop = [&](const std::string& name) {
                return std::string(variant) == "desktop" ? TestKit::validDesktopFile(name) : std::string();
            };
            built.push_back(Bench::buildLargePackage(dir, "org.example.small", 3200, 50, "zstd", desktop("org.example.small")));
            built.push_back(Bench::buildLargePackage(dir, "org.example.large", 3200, 220, "zstd", desktop("org.example.large")));
        }
        return built;
    });
    const std::string& small = packages.at(0);
    const std::string& large = packages.at(1);
    const std::string& smallPlain = packages.at(2);
    const std::string& largePlain = packages.at(3);
    std::printf("large package: %.1f MiB on disk, 3200 files, 220 MiB unpacked, zstd\n",
                static_cast<double>(fs::file_size(large)) / (1024 * 1024));

    const std::string floorScript = "d=$(mktemp -d) && cd \"$d\" && /usr/bin/rpm2cpio \"$1\" | cpio -idm --quiet; "
                                    "s=$?; cd / && rm -rf \"$d\"; exit $s";
    const std::string readScript = "d=$(mktemp -d) && cd \"$d\" && /usr/bin/rpm2cpio \"$1\" | cpio -idm --quiet && "
                                   "find . -type f -exec cat {} + > /dev/null; s=$?; cd / && rm -rf \"$d\"; exit $s";
    const std::vector<std::pair<std::string, std::string>> env = {{"KVD_ROOT_FS", root.path()}};

    const auto runVetrik = [&](const std::string& package) {
        return Bench::median(runs, {vetrik, "--color", "never", "-p", "regular", package}, env);
    };
    Bench::Measurement floor = Bench::median(runs, {"sh", "-c", floorScript, "sh", large});
    Bench::Measurement floorSmall = Bench::median(runs, {"sh", "-c", floorScript, "sh", small});
    Bench::Measurement floorRead = Bench::median(runs, {"sh", "-c", readScript, "sh", large});
    Bench::Measurement vetrikLarge = runVetrik(large);
    Bench::Measurement vetrikSmall = runVetrik(small);
    Bench::Measurement vetrikLargePlain = runVetrik(largePlain);
    Bench::Measurement vetrikSmallPlain = runVetrik(smallPlain);

    std::printf("\nmedian of %d runs:\n", runs);
    Bench::printRow("floor: rpm2cpio | cpio -idm", floor);
    Bench::printRow("floor + one read of the unpacked tree", floorRead);
    Bench::printRow("vetrik, large package", vetrikLarge);
    Bench::printRow("vetrik, same files, 50 MiB unpacked", vetrikSmall);
    Bench::printRow("floor, 50 MiB package", floorSmall);
    Bench::printRow("vetrik, large package, no desktop file", vetrikLargePlain);
    Bench::printRow("vetrik, 50 MiB package, no desktop file", vetrikSmallPlain);
    std::printf("\nwall time  vetrik / extraction floor          : %.2f\n", vetrikLarge.seconds / floor.seconds);
    std::printf("wall time  vetrik / (extraction + full read)   : %.2f\n", vetrikLarge.seconds / floorRead.seconds);
    std::printf("own peak   vetrik 220 MiB / 50 MiB payload     : %.2f  (%ld KiB vs %ld KiB)\n",
                static_cast<double>(vetrikLarge.ownPeakKiB) / static_cast<double>(vetrikSmall.ownPeakKiB),
                vetrikLarge.ownPeakKiB, vetrikSmall.ownPeakKiB);
    std::printf("tree peak  vetrik / extraction floor           : %.2f\n",
                static_cast<double>(vetrikLarge.treePeakKiB) / static_cast<double>(floor.treePeakKiB));
    // The desktop family's share: the same ratio without the desktop file,
    // in wall time and in processor time (which varies less on a shared
    // machine).
    const auto ratios = [](const char* label, const Bench::Measurement& with, const Bench::Measurement& without,
                           const Bench::Measurement& base) {
        std::printf("wall time  vetrik / floor, %-17s: %.3f with the desktop file, %.3f without (%+.1f %%)\n", label,
                    with.seconds / base.seconds, without.seconds / base.seconds,
                    (with.seconds / without.seconds - 1) * 100);
        std::printf("cpu time   vetrik / floor, %-17s: %.3f with the desktop file, %.3f without (%+.1f %%)\n", label,
                    with.cpuSeconds / base.cpuSeconds, without.cpuSeconds / base.cpuSeconds,
                    (with.cpuSeconds / without.cpuSeconds - 1) * 100);
    };
    ratios("small package", vetrikSmall, vetrikSmallPlain, floorSmall);
    ratios("large package", vetrikLarge, vetrikLargePlain, floor);
    const double family = desktopFamilySeconds(small, "org.example.small");
    std::printf("desktop family in process: %.3f ms per package, moving vetrik / floor by %.3f %% (small) "
                "and %.3f %% (large)\n",
                family * 1000, family / vetrikSmallPlain.seconds * 100, family / vetrikLargePlain.seconds * 100);
    // The benchmark packages have findings (no main executable): exit
    // status 1 is a completed validation.
    return vetrikLarge.exitCode == 0 || vetrikLarge.exitCode == 1 ? 0 : 1;
}
