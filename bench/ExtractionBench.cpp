// vetrik against the floor of its work, measured in the same run: unpacking
// the payload with rpm2cpio | cpio -idm into a fresh directory and one full
// read of the unpacked tree. Three application packages (a small one, one of
// many small files, a large one) carry what the file validators read: QML
// files, a desktop entry, a manifest, launcher icons and an integrity-daemon
// watch list. The
// small and the large package hold the same files, so their peak memory
// shows whether vetrik's memory grows with the payload.
//
//     bench_extraction [vetrik] [runs] [baseline-vetrik]
//
// Use a multiple of three runs: each takes every place in the order equally
// often.
//
// With a baseline vetrik (an earlier build), its ratios are measured in the
// same run, so that the cost of a change can be read off directly.

#include "BenchSupport.h"

#include "Fixtures.h"
#include "Png.h"
#include "checks/desktop/Desktop.h"
#include "core/Config.h"
#include "package/RpmMeta.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// `files` files holding about `megabytes` MiB: every other one a QML file
// (text, a header of imports, then a body), the rest incompressible data,
// plus the manifest, the four launcher icons and the watch list.
std::string buildApplicationPackage(const std::string& workDir, const std::string& name, int files, int megabytes)
{
    TestKit::Package package;
    package.name = name;
    std::mt19937_64 random(42);
    const std::size_t perFile = static_cast<std::size_t>(megabytes) * 1024 * 1024 / static_cast<std::size_t>(files);
    const std::string base = "/usr/share/" + name;
    package.entries.push_back(TestKit::directory(base));
    for (int d = 0; d < files / 100 + 1; ++d)
        package.entries.push_back(TestKit::directory(base + "/d" + std::to_string(d)));
    std::string watch = "{\"watch\": [";
    for (int i = 0; i < files; ++i) {
        std::string content;
        content.reserve(perFile);
        const bool qml = i % 2 == 0;
        if (qml) {
            content = "import QtQuick 2.6\nimport QtQuick.Layouts 1.1\nimport \"../d0\"\n\nItem {\n";
            while (content.size() < perFile)
                content += "    Item { id: item" + std::to_string(content.size()) + " }\n";
        } else {
            while (content.size() < perFile) {
                std::uint64_t v = random();
                content.append(reinterpret_cast<const char*>(&v), sizeof v);
            }
        }
        content.resize(perFile);
        const std::string path = base + "/d" + std::to_string(i / 100) + "/f" + std::to_string(i) + (qml ? ".qml" : "");
        if (i % 50 == 1)
            watch += std::string(watch.back() == '[' ? "" : ", ") + "\"file:" + path + "\"";
        package.entries.push_back(TestKit::file(path, std::move(content)));
    }
    package.entries.push_back(TestKit::file("/etc/integrityd/config.d/" + name + ".json", watch + "]}\n"));
    package.entries.push_back(TestKit::file(TestKit::desktopPath(name), TestKit::validDesktopFile(name)));
    package.entries.push_back(TestKit::file("/manifest.json", "{\"minOSVersion\": [\"5.1\", \"4.0.2\"]}\n"));
    for (TestKit::Entry& icon : TestKit::launcherIcons(name))
        package.entries.push_back(std::move(icon));
    return TestKit::buildRpm(package, workDir);
}

// The medians of wall and processor time, with the largest peaks of all runs.
Bench::Measurement medianOf(std::vector<Bench::Measurement> all)
{
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.cpuSeconds < b.cpuSeconds; });
    const double cpuSeconds = all[all.size() / 2].cpuSeconds;
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
    Bench::Measurement result = all[all.size() / 2];
    result.cpuSeconds = cpuSeconds;
    for (const Bench::Measurement& m : all) {
        result.ownPeakKiB = std::max(result.ownPeakKiB, m.ownPeakKiB);
        result.treePeakKiB = std::max(result.treePeakKiB, m.treePeakKiB);
    }
    return result;
}

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

struct Row {
    const char* label;
    std::string package;
    Bench::Measurement floorRead;
    Bench::Measurement vetrik;
    Bench::Measurement baseline;
};

} // namespace

int main(int argc, char** argv)
{
    const std::string vetrik = argc > 1 ? argv[1] : VETRIK_PATH;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 6;
    const std::string baseline = argc > 3 ? argv[3] : "";
    TestKit::TempDir work("bench-extract");
    TestKit::TempDir root("bench-root");
    TestKit::writeFile(root / "var/lib/developer-moded/developer-moded.conf", "[developermode]\nvalidationEnabled=true\n");
    TestKit::writeFile(root / "etc/os-release", "NAME=Taliro\nVERSION_ID=5.1.0.1\n");

    std::printf("building packages...\n");
    const auto packages = Bench::buildAside([&] {
        return std::vector<std::string>{buildApplicationPackage(work.path(), "org.example.small", 3200, 50),
                                        buildApplicationPackage(work.path(), "org.example.manyfiles", 20000, 60),
                                        buildApplicationPackage(work.path(), "org.example.large", 3200, 220)};
    });
    std::vector<Row> rows = {
        {"small: 3200 files, 50 MiB", packages.at(0), {}, {}, {}},
        {"many files: 20000 files, 60 MiB", packages.at(1), {}, {}, {}},
        {"large: 3200 files, 220 MiB", packages.at(2), {}, {}, {}},
    };
    for (const Row& row : rows)
        std::printf("%-34s %6.1f MiB on disk, zstd\n", row.label,
                    static_cast<double>(fs::file_size(row.package)) / (1024 * 1024));

    const std::string readScript = "d=$(mktemp -d) && cd \"$d\" && /usr/bin/rpm2cpio \"$1\" | cpio -idm --quiet && "
                                   "find . -type f -exec cat {} + > /dev/null; s=$?; cd / && rm -rf \"$d\"; exit $s";
    const std::vector<std::pair<std::string, std::string>> env = {{"KVD_ROOT_FS", root.path()}};
    // The floor and the programs take turns within each round, in an order
    // that rotates from round to round, so that a change in the machine's
    // load touches all of them alike. Each starts after the writes of the one
    // before reached the disk: what a run leaves to write back would
    // otherwise slow down whichever runs next.
    for (Row& row : rows) {
        std::vector<Bench::Measurement> floors, vetriks, baselines;
        const std::vector<std::function<void()>> contenders = {
            [&] { floors.push_back(Bench::measure({"sh", "-c", readScript, "sh", row.package})); },
            [&] { vetriks.push_back(Bench::measure({vetrik, "--color", "never", "-p", "regular", row.package}, env)); },
            [&] {
                if (!baseline.empty())
                    baselines.push_back(Bench::measure({baseline, "--color", "never", "-p", "regular", row.package}, env));
            },
        };
        for (int round = 0; round < runs; ++round) {
            for (std::size_t i = 0; i < contenders.size(); ++i) {
                Bench::measure({"sync"});
                contenders[(i + static_cast<std::size_t>(round)) % contenders.size()]();
            }
        }
        row.floorRead = medianOf(floors);
        row.vetrik = medianOf(vetriks);
        if (!baseline.empty())
            row.baseline = medianOf(baselines);
    }

    std::printf("\nmedian of %d runs; floor = rpm2cpio | cpio -idm, then one read of the unpacked tree\n", runs);
    for (const Row& row : rows) {
        std::printf("%s\n", row.label);
        Bench::printRow("floor", row.floorRead);
        Bench::printRow("vetrik", row.vetrik);
        if (!baseline.empty())
            Bench::printRow("baseline vetrik", row.baseline);
    }
    // Wall time is what a user waits for; processor time (of the program and
    // the extraction it starts) is what the program spends, and moves far
    // less with the load of a shared machine.
    const auto table = [&](const char* title, double Bench::Measurement::*field) {
        std::printf("\n%-34s %16s", title, "vetrik / floor");
        if (!baseline.empty())
            std::printf(" %18s %10s", "baseline / floor", "change");
        std::printf("\n");
        for (const Row& row : rows) {
            const double ratio = row.vetrik.*field / row.floorRead.*field;
            std::printf("%-34s %16.3f", row.label, ratio);
            if (!baseline.empty()) {
                const double before = row.baseline.*field / row.floorRead.*field;
                std::printf(" %18.3f %+9.1f%%", before, 100 * (ratio - before) / before);
            }
            std::printf("\n");
        }
    };
    table("wall time", &Bench::Measurement::seconds);
    table("processor time", &Bench::Measurement::cpuSeconds);
    const Bench::Measurement& small = rows.at(0).vetrik;
    const Bench::Measurement& large = rows.at(2).vetrik;
    std::printf("\nown peak   vetrik, large / small (same files)   : %.2f  (%ld KiB vs %ld KiB)\n",
                static_cast<double>(large.ownPeakKiB) / static_cast<double>(small.ownPeakKiB), large.ownPeakKiB,
                small.ownPeakKiB);
    std::printf("tree peak  vetrik, large / small (same files)   : %.2f  (%ld KiB vs %ld KiB)\n",
                static_cast<double>(large.treePeakKiB) / static_cast<double>(small.treePeakKiB), large.treePeakKiB,
                small.treePeakKiB);
    const double family = desktopFamilySeconds(rows.at(0).package, "org.example.small");
    std::printf("desktop family in process: %.3f ms per package, %.3f %% of vetrik (small), %.3f %% (large)\n",
                family * 1000, family / small.seconds * 100, family / large.seconds * 100);
    // The packages have findings (no main executable): exit status 1 is a
    // completed validation.
    for (const Row& row : rows) {
        if (row.vetrik.exitCode != 0 && row.vetrik.exitCode != 1)
            return 1;
    }
    return 0;
}
