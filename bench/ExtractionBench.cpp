// vetrik against the floor of its work: unpacking the payload with
// rpm2cpio | cpio -idm into a fresh directory, and (once validators read
// files) one full read of the unpacked tree. Also checks that vetrik's
// peak memory does not grow with the payload.

#include "BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    const std::string vetrik = argc > 1 ? argv[1] : VETRIK_PATH;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    TestKit::TempDir work("bench-extract");
    TestKit::TempDir root("bench-root");
    TestKit::writeFile(root / "var/lib/developer-moded/developer-moded.conf", "[developermode]\nvalidationEnabled=true\n");

    std::printf("building packages...\n");
    const auto packages = Bench::buildAside([&] {
        return std::vector<std::string>{Bench::buildLargePackage(work.path(), "org.example.small", 3200, 50),
                                        Bench::buildLargePackage(work.path(), "org.example.large", 3200, 220)};
    });
    const std::string& small = packages.at(0);
    const std::string& large = packages.at(1);
    std::printf("large package: %.1f MiB on disk, 3200 files, 220 MiB unpacked, zstd\n",
                static_cast<double>(fs::file_size(large)) / (1024 * 1024));

    const std::string floorScript = "d=$(mktemp -d) && cd \"$d\" && /usr/bin/rpm2cpio \"$1\" | cpio -idm --quiet; "
                                    "s=$?; cd / && rm -rf \"$d\"; exit $s";
    const std::string readScript = "d=$(mktemp -d) && cd \"$d\" && /usr/bin/rpm2cpio \"$1\" | cpio -idm --quiet && "
                                   "find . -type f -exec cat {} + > /dev/null; s=$?; cd / && rm -rf \"$d\"; exit $s";
    const std::vector<std::pair<std::string, std::string>> env = {{"KVD_ROOT_FS", root.path()}};

    Bench::Measurement floor = Bench::median(runs, {"sh", "-c", floorScript, "sh", large});
    Bench::Measurement floorRead = Bench::median(runs, {"sh", "-c", readScript, "sh", large});
    Bench::Measurement vetrikLarge = Bench::median(runs, {vetrik, "--color", "never", "-p", "regular", large}, env);
    Bench::Measurement vetrikSmall = Bench::median(runs, {vetrik, "--color", "never", "-p", "regular", small}, env);

    std::printf("\nmedian of %d runs:\n", runs);
    Bench::printRow("floor: rpm2cpio | cpio -idm", floor);
    Bench::printRow("floor + one read of the unpacked tree", floorRead);
    Bench::printRow("vetrik, large package", vetrikLarge);
    Bench::printRow("vetrik, same files, 50 MiB unpacked", vetrikSmall);
    std::printf("\nwall time  vetrik / extraction floor          : %.2f\n", vetrikLarge.seconds / floor.seconds);
    std::printf("wall time  vetrik / (extraction + full read)   : %.2f\n", vetrikLarge.seconds / floorRead.seconds);
    std::printf("own peak   vetrik 220 MiB / 50 MiB payload     : %.2f  (%ld KiB vs %ld KiB)\n",
                static_cast<double>(vetrikLarge.ownPeakKiB) / static_cast<double>(vetrikSmall.ownPeakKiB),
                vetrikLarge.ownPeakKiB, vetrikSmall.ownPeakKiB);
    std::printf("tree peak  vetrik / extraction floor           : %.2f\n",
                static_cast<double>(vetrikLarge.treePeakKiB) / static_cast<double>(floor.treePeakKiB));
    // The benchmark packages have findings (no main executable): exit
    // status 1 is a completed validation.
    return vetrikLarge.exitCode == 0 || vetrikLarge.exitCode == 1 ? 0 : 1;
}
