// vetrik against the floor of its work, measured in the same run: unpacking
// the payload with rpm2cpio | cpio -idm into a fresh directory and one full
// read of the unpacked tree. Application packages of several shapes (a small
// one, one of many small files, a large one compressed with zstd and with
// xz) carry what the file validators read: QML files, a desktop entry, a
// manifest, launcher icons and an integrity-daemon watch list. The small and
// the large packages hold the same files, so their peak memory shows whether
// vetrik's memory grows with the payload.
//
// Each contender runs once per round, in an order that rotates from round to
// round, and the ratio is the median of the per-round ratios, so that a
// change of the machine's load touches both sides of a ratio alike. Measured
// with /tmp as it is and again, where a private mount namespace allows it,
// with a tmpfs on /tmp. Then `vetrik --jobs 2` over twenty small packages
// against one vetrik process per package.
//
// Then what vetrik pays per package whatever the package holds, all in the
// same rounds: a small application of about 1 MB against its floor, vetrik
// on a file that is not an RPM, `vetrik --version`, and `vetrik --jobs 2`
// over ten copies of the small application against ten separate runs.
//
//     bench_extraction [vetrik] [runs] [baseline-vetrik] [shapes]
//
// Use a multiple of three runs: each takes every place in the order equally
// often. With a baseline vetrik (an earlier build), its ratios are measured
// in the same rounds, so that the cost of a change can be read off directly
// (vetrik/baseline, the median of the per-round ratios). `shapes` picks some
// of small,manyfiles,large,largexz,jobs,fixed (comma-separated; default
// all): the large packages take minutes to build alone. "fixed" is the fixed
// cost of a package, measured with /tmp as it is and then on a tmpfs.

#include "BenchSupport.h"

#include "Fixtures.h"
#include "Png.h"
#include "checks/desktop/Desktop.h"
#include "core/Config.h"
#include "package/RpmMeta.h"

#include <algorithm>
#include <chrono>
#include <sched.h>
#include <sys/mount.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <iostream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// `files` files holding about `megabytes` MiB: every other one a QML file
// (text, a header of imports, then a body), the rest incompressible data,
// plus the manifest, the four launcher icons and the watch list.
std::string buildApplicationPackage(const std::string& workDir, const std::string& name, int files, int megabytes,
                                    const std::string& compressor = "zstd")
{
    TestKit::Package package;
    package.name = name;
    package.compressor = compressor;
    const auto qml = [](std::size_t size) {
        std::string content = "import QtQuick 2.6\nimport QtQuick.Layouts 1.1\nimport \"../d0\"\n\nItem {\n";
        content.reserve(size);
        while (content.size() < size)
            content += "    Item { id: item" + std::to_string(content.size()) + " }\n";
        return content;
    };
    const std::vector<std::string> paths = Bench::addPayload(package, files, megabytes, qml, ".qml");
    std::string watch = "{\"watch\": [";
    for (std::size_t i = 1; i < paths.size(); i += 50)
        watch += std::string(watch.back() == '[' ? "" : ", ") + "\"file:" + paths[i] + "\"";
    package.entries.push_back(TestKit::file("/etc/integrityd/config.d/" + name + ".json", watch + "]}\n"));
    package.entries.push_back(TestKit::file(TestKit::desktopPath(name), TestKit::validDesktopFile(name)));
    package.entries.push_back(TestKit::file("/manifest.json", "{\"minOSVersion\": [\"5.1\", \"4.0.2\"]}\n"));
    for (TestKit::Entry& icon : TestKit::launcherIcons(name))
        package.entries.push_back(std::move(icon));
    return TestKit::buildRpm(package, workDir);
}

// The small application of a store: about 1 MB unpacked, its main
// executable (a C program carrying some 600 KB of data, incompressible like
// the resources real programs embed), 30 QML files of some 13 KB, its
// desktop entry and its four launcher icons. What vetrik takes on it is
// mostly what it pays per package whatever the package holds.
std::string buildSmallApplication(const std::string& workDir, const std::string& name)
{
    TestKit::Package package = TestKit::validApplication(name, workDir);
    std::mt19937_64 random(7);
    std::string source = "#include <stdio.h>\nstatic const unsigned long long data[] = {";
    for (int i = 0; i < 600 * 1024 / 8; ++i)
        source += std::to_string(random()) + "ull,";
    source += "};\nint main(int argc, char** argv) { (void)argv; printf(\"%llu\\n\", data[argc]); return 0; }\n";
    const std::string binary = workDir + "/" + name + ".bin";
    TestKit::compileC(source, binary, {"-O1", "-rdynamic", "-Wl,--disable-new-dtags", "-Wl,-rpath,/usr/share/" + name + "/lib"});
    for (TestKit::Entry& entry : package.entries) {
        if (entry.path == "/usr/bin/" + name)
            entry.content = TestKit::readFile(binary);
    }
    const std::string base = "/usr/share/" + name + "/qml";
    package.entries.push_back(TestKit::directory(base));
    for (int i = 0; i < 30; ++i) {
        std::string content = "import QtQuick 2.6\nimport QtQuick.Layouts 1.1\nimport \".\"\n\nItem {\n";
        while (content.size() < 13 * 1024)
            content += "    Label { id: label" + std::to_string(content.size()) + "; text: qsTr(\"Item\") }\n";
        content += "}\n";
        package.entries.push_back(TestKit::file(base + "/Page" + std::to_string(i) + ".qml", std::move(content)));
    }
    return TestKit::buildRpm(package, workDir);
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
        *context.unpackedTree = Validator::UnpackedTree(tree.path());
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

// The median of the per-round ratios of `field`.
double pairedRatio(const std::vector<Bench::Measurement>& numerators, const std::vector<Bench::Measurement>& denominators,
                   double Bench::Measurement::*field)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < std::min(numerators.size(), denominators.size()); ++i)
        ratios.push_back(numerators[i].*field / denominators[i].*field);
    if (ratios.empty())
        return 0;
    std::sort(ratios.begin(), ratios.end());
    return ratios.size() % 2 ? ratios[ratios.size() / 2] : (ratios[ratios.size() / 2 - 1] + ratios[ratios.size() / 2]) / 2;
}

long peakOf(const std::vector<Bench::Measurement>& all, long Bench::Measurement::*field)
{
    long peak = 0;
    for (const Bench::Measurement& m : all)
        peak = std::max(peak, m.*field);
    return peak;
}

struct Row {
    std::string shape;
    std::string label;
    std::string package;
    std::vector<Bench::Measurement> floors, vetriks, baselines;
};

// One round after another, every contender once per round in a rotating
// order. Each starts after the writes of the one before reached the disk:
// what a run leaves to write back would otherwise slow down whichever runs
// next.
void runRounds(int runs, const std::vector<std::function<void()>>& contenders)
{
    for (int round = 0; round < runs; ++round) {
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            Bench::measure({"sync"});
            contenders[(i + static_cast<std::size_t>(round)) % contenders.size()]();
        }
    }
}

// A mount namespace of this process's own with a tmpfs on /tmp; false when
// the system does not allow it. Everything the benchmark reads lives
// outside /tmp.
bool tmpfsOnTmp()
{
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && ::mount("tmpfs", "/tmp", "tmpfs", 0, "size=4g") == 0;
}

// The machine's load averages, as /proc/loadavg gives them: on a shared
// machine they say how much the figures beside them can be trusted.
std::string loadAverages()
{
    std::string text = TestKit::readFile("/proc/loadavg");
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

bool chosen(const std::string& shapes, const std::string& shape)
{
    if (shapes.empty())
        return true;
    std::istringstream list(shapes);
    for (std::string item; std::getline(list, item, ',');) {
        if (item == shape)
            return true;
    }
    return false;
}

std::string fileSystemOf(const std::string& path)
{
    const auto result = TestKit::run({"stat", "-f", "-c", "%T", path});
    std::string type = result.out;
    while (!type.empty() && type.back() == '\n')
        type.pop_back();
    return type;
}

// What the fixed-cost rounds run: the programs (vetrik, and the baseline
// when there is one) and their inputs.
struct FixedCostInputs {
    std::vector<std::string> programs;
    std::string smallApplication;
    std::vector<std::string> copies;  // of the small application, for --jobs
    std::string notAPackage;
    std::string readScript;
    std::vector<std::pair<std::string, std::string>> env;
};

// One program's measurements in the fixed-cost rounds.
struct FixedCost {
    std::vector<Bench::Measurement> small, notAPackage, version, separately, jobs;
};

std::vector<std::string> vetrikArguments(const std::string& program, const std::vector<std::string>& extra)
{
    std::vector<std::string> argv = {program, "--color", "never", "-p", "regular"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

// The copies one after another, one process each: the whole sequence is one
// measurement, what a store's pipeline waits for.
Bench::Measurement oneProcessEach(const std::string& program, const FixedCostInputs& inputs)
{
    Bench::Measurement sum;
    sum.exitCode = 0;
    for (const std::string& package : inputs.copies) {
        sum.addFollowing(Bench::measure(vetrikArguments(program, {package}), inputs.env));
    }
    return sum;
}

// Exit status 1 is a completed validation with findings.
bool completed(const std::vector<Bench::Measurement>& all)
{
    return std::all_of(all.begin(), all.end(), [](const Bench::Measurement& m) { return m.exitCode == 0 || m.exitCode == 1; });
}

// The fixed cost of a package, every contender once per round; false when a
// run of vetrik did not complete.
bool measureFixedCost(const FixedCostInputs& inputs, int runs, const std::string& fileSystem)
{
    std::vector<Bench::Measurement> floors;
    std::vector<FixedCost> costs(inputs.programs.size());
    std::vector<std::string> jobs = {"--jobs", "2"};
    jobs.insert(jobs.end(), inputs.copies.begin(), inputs.copies.end());
    std::vector<std::function<void()>> contenders = {
        [&] { floors.push_back(Bench::measure({"sh", "-c", inputs.readScript, "sh", inputs.smallApplication})); },
    };
    for (std::size_t i = 0; i < inputs.programs.size(); ++i) {
        const std::string& program = inputs.programs[i];
        FixedCost& cost = costs[i];
        contenders.push_back([&] { cost.small.push_back(Bench::measure(vetrikArguments(program, {inputs.smallApplication}), inputs.env)); });
        contenders.push_back([&] { cost.notAPackage.push_back(Bench::measure(vetrikArguments(program, {inputs.notAPackage}), inputs.env)); });
        contenders.push_back([&] { cost.version.push_back(Bench::measure({program, "--version"}, inputs.env)); });
        contenders.push_back([&] { cost.separately.push_back(oneProcessEach(program, inputs)); });
        contenders.push_back([&] { cost.jobs.push_back(Bench::measure(vetrikArguments(program, jobs), inputs.env)); });
    }
    const std::string loadBefore = loadAverages();
    runRounds(runs, contenders);

    constexpr auto seconds = &Bench::Measurement::seconds;
    std::printf("\nfixed cost of a package, /tmp on %s, median of %d paired rounds; small application %.2f MiB on disk,"
                " floor %.3f s\n",
                fileSystem.c_str(), runs, static_cast<double>(fs::file_size(inputs.smallApplication)) / (1024 * 1024),
                Bench::medianOf(floors).seconds);
    std::printf("load averages before: %s, after: %s\n", loadBefore.c_str(), loadAverages().c_str());
    std::printf("%-36s %10s %10s %8s\n", "", "vetrik", inputs.programs.size() > 1 ? "baseline" : "", "target");
    const auto line = [&](const char* label, const char* target, const std::function<double(const FixedCost&)>& value) {
        std::printf("%-36s", label);
        for (const FixedCost& cost : costs)
            std::printf(" %10.3f", value(cost));
        if (costs.size() < 2)
            std::printf(" %10s", "");
        std::printf(" %8s\n", target);
    };
    line("small application / floor", "1.3", [&](const FixedCost& c) { return pairedRatio(c.small, floors, seconds); });
    line("  processor time / floor's", "",
         [&](const FixedCost& c) { return pairedRatio(c.small, floors, &Bench::Measurement::cpuSeconds); });
    line("  vetrik s", "", [&](const FixedCost& c) { return Bench::medianOf(c.small).seconds; });
    line("not an RPM, ms", "25", [&](const FixedCost& c) { return Bench::medianOf(c.notAPackage).seconds * 1000; });
    line("--version, ms", "", [&](const FixedCost& c) { return Bench::medianOf(c.version).seconds * 1000; });
    line("--jobs 2 / ten separate runs", "0.56", [&](const FixedCost& c) { return pairedRatio(c.jobs, c.separately, seconds); });
    line("  ten separate runs s", "", [&](const FixedCost& c) { return Bench::medianOf(c.separately).seconds; });
    line("  --jobs 2 s", "", [&](const FixedCost& c) { return Bench::medianOf(c.jobs).seconds; });
    line("  own peak KiB, small application", "",
         [&](const FixedCost& c) { return static_cast<double>(peakOf(c.small, &Bench::Measurement::ownPeakKiB)); });
    return std::all_of(costs.begin(), costs.end(), [](const FixedCost& c) {
        return completed(c.small) && completed(c.notAPackage) && completed(c.separately) && completed(c.jobs);
    });
}

} // namespace

int main(int argc, char** argv)
{
    // Line by line, also into a file: a long run shows how far it got.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string vetrik = argc > 1 ? argv[1] : VETRIK_PATH;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 6;
    const std::string baseline = argc > 3 ? argv[3] : "";
    const std::string shapes = argc > 4 ? argv[4] : "";
    // Outside /tmp, which gets a tmpfs of its own later.
    TestKit::TempDir work("bench-extract", "/var/tmp");
    TestKit::TempDir root("bench-root", "/var/tmp");
    TestKit::writeFile(root / "var/lib/developer-moded/developer-moded.conf", "[developermode]\nvalidationEnabled=true\n");
    TestKit::writeFile(root / "etc/os-release", "NAME=Taliro\nVERSION_ID=5.1.0.1\n");

    constexpr int kSmallPackages = 20;
    std::printf("building packages...\n");
    struct Shape {
        const char* shape;
        const char* label;
        const char* name;
        int files;
        int megabytes;
        const char* compressor;
    };
    constexpr Shape kShapes[] = {
        {"small", "small: 3200 files, 50 MiB, zstd", "org.example.small", 3200, 50, "zstd"},
        {"manyfiles", "many files: 20000 files, 60 MiB, zstd", "org.example.manyfiles", 20000, 60, "zstd"},
        {"large", "large: 3200 files, 220 MiB, zstd", "org.example.large", 3200, 220, "zstd"},
        {"largexz", "large: 3200 files, 220 MiB, xz", "org.example.largexz", 3200, 220, "xz"},
    };
    const bool measureJobs = chosen(shapes, "jobs");
    const bool measureFixed = chosen(shapes, "fixed");
    std::vector<Row> rows;
    for (const Shape& shape : kShapes) {
        if (chosen(shapes, shape.shape))
            rows.push_back({shape.shape, shape.label, {}, {}, {}, {}});
    }
    const auto packages = Bench::buildAside([&] {
        std::vector<std::string> built;
        for (const Shape& shape : kShapes) {
            if (chosen(shapes, shape.shape))
                built.push_back(buildApplicationPackage(work.path(), shape.name, shape.files, shape.megabytes, shape.compressor));
        }
        for (int i = 0; measureJobs && i < kSmallPackages; ++i)
            built.push_back(buildApplicationPackage(work.path(), "org.example.tiny" + std::to_string(i), 40, 1));
        if (measureFixed)
            built.push_back(buildSmallApplication(work.path(), "org.example.smallapp"));
        return built;
    });
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].package = packages.at(i);
    const std::vector<std::string> tiny(packages.begin() + static_cast<std::ptrdiff_t>(rows.size()),
                                        packages.end() - (measureFixed ? 1 : 0));
    for (const Row& row : rows)
        std::printf("%-40s %6.1f MiB on disk\n", row.label.c_str(), static_cast<double>(fs::file_size(row.package)) / (1024 * 1024));
    if (measureJobs)
        std::printf("%d small packages of 40 files, %.1f MiB on disk each\n", kSmallPackages,
                    static_cast<double>(fs::file_size(tiny.at(0))) / (1024 * 1024));
    const auto rowOf = [&](const std::string& shape) -> const Row* {
        for (const Row& row : rows) {
            if (row.shape == shape)
                return &row;
        }
        return nullptr;
    };

    const std::string readScript = "d=$(mktemp -d) && cd \"$d\" && /usr/bin/rpm2cpio \"$1\" | cpio -idm --quiet && "
                                   "find . -type f -exec cat {} + > /dev/null; s=$?; cd / && rm -rf \"$d\"; exit $s";
    const std::vector<std::pair<std::string, std::string>> env = {{"KVD_ROOT_FS", root.path()}};
    FixedCostInputs fixed;
    if (measureFixed) {
        fixed.programs = {vetrik};
        if (!baseline.empty())
            fixed.programs.push_back(baseline);
        fixed.smallApplication = packages.back();
        fs::create_directories(work / "copies");
        for (int i = 0; i < 10; ++i) {
            fixed.copies.push_back(work / ("copies/org.example.smallapp-" + std::to_string(i) + ".rpm"));
            fs::copy_file(fixed.smallApplication, fixed.copies.back());
        }
        fixed.notAPackage = work / "not-a-package.rpm";
        TestKit::writeFile(fixed.notAPackage, "This is a text file, not an RPM package.\n");
        fixed.readScript = readScript;
        fixed.env = env;
    }

    const auto measureRows = [&](const std::string& fileSystem) {
        if (rows.empty())
            return;
        std::printf("\n/tmp on %s, median of %d paired rounds; floor = rpm2cpio | cpio -idm, then one read of the tree\n",
                    fileSystem.c_str(), runs);
        std::printf("load averages before: %s\n", loadAverages().c_str());
        for (Row& row : rows) {
            row.floors.clear();
            row.vetriks.clear();
            row.baselines.clear();
            std::vector<std::function<void()>> contenders = {
                [&] { row.floors.push_back(Bench::measure({"sh", "-c", readScript, "sh", row.package})); },
                [&] { row.vetriks.push_back(Bench::measure(vetrikArguments(vetrik, {row.package}), env)); },
            };
            if (!baseline.empty())
                contenders.push_back([&] { row.baselines.push_back(Bench::measure(vetrikArguments(baseline, {row.package}), env)); });
            runRounds(runs, contenders);
        }
        std::printf("%-40s %8s %8s %14s %10s", "", "floor s", "vetrik s", "vetrik/floor", "cpu ratio");
        if (!baseline.empty())
            std::printf(" %16s", "baseline/floor");
        std::printf(" %16s %16s\n", "own peak KiB", "tree peak KiB");
        for (const Row& row : rows) {
            std::printf("%-40s %8.3f %8.3f %14.3f %10.3f", row.label.c_str(), Bench::medianOf(row.floors).seconds,
                        Bench::medianOf(row.vetriks).seconds, pairedRatio(row.vetriks, row.floors, &Bench::Measurement::seconds),
                        pairedRatio(row.vetriks, row.floors, &Bench::Measurement::cpuSeconds));
            if (!baseline.empty())
                std::printf(" %16.3f", pairedRatio(row.baselines, row.floors, &Bench::Measurement::seconds));
            std::printf(" %16ld %16ld\n", peakOf(row.vetriks, &Bench::Measurement::ownPeakKiB),
                        peakOf(row.vetriks, &Bench::Measurement::treePeakKiB));
            if (!baseline.empty()) {
                std::printf("%-40s %8s %8.3f %14s %10s %16s %16ld %16ld\n", "  baseline", "", Bench::medianOf(row.baselines).seconds, "",
                            "", "", peakOf(row.baselines, &Bench::Measurement::ownPeakKiB),
                            peakOf(row.baselines, &Bench::Measurement::treePeakKiB));
                std::printf("%-40s %8s %8s %14.3f %10.3f  (vetrik/baseline)\n", "", "", "",
                            pairedRatio(row.vetriks, row.baselines, &Bench::Measurement::seconds),
                            pairedRatio(row.vetriks, row.baselines, &Bench::Measurement::cpuSeconds));
            }
        }
        std::printf("load averages after: %s\n", loadAverages().c_str());
        // A ratio of a run that did not validate is no figure: say so (a
        // baseline under /tmp, say, is hidden by the tmpfs).
        for (const Row& row : rows) {
            for (const auto* runsOf : {&row.vetriks, &row.baselines}) {
                const bool broken = std::any_of(runsOf->begin(), runsOf->end(),
                                                [](const auto& m) { return m.exitCode != 0 && m.exitCode != 1; });
                if (broken)
                    std::printf("%s: a %s run ended with a status other than 0 or 1; its figures mean nothing\n",
                                row.label.c_str(), runsOf == &row.vetriks ? "vetrik" : "baseline");
            }
        }
        if (rowOf("small") && rowOf("large")) {
            const long small = peakOf(rowOf("small")->vetriks, &Bench::Measurement::treePeakKiB);
            const long large = peakOf(rowOf("large")->vetriks, &Bench::Measurement::treePeakKiB);
            std::printf("tree peak, large / small (same files): %.2f\n", static_cast<double>(large) / static_cast<double>(small));
        }
    };

    measureRows(fileSystemOf("/tmp"));
    bool fixedFailed = measureFixed && !measureFixedCost(fixed, runs, fileSystemOf("/tmp"));
    const bool firstFailed = std::any_of(rows.begin(), rows.end(), [](const Row& row) {
        return std::any_of(row.vetriks.begin(), row.vetriks.end(), [](const auto& m) { return m.exitCode != 0 && m.exitCode != 1; });
    });
    if (tmpfsOnTmp()) {
        measureRows(fileSystemOf("/tmp"));
        fixedFailed = (measureFixed && !measureFixedCost(fixed, runs, fileSystemOf("/tmp"))) || fixedFailed;
    } else {
        std::printf("\nno private mount namespace here: no run with a tmpfs on /tmp\n");
    }

    // Several small packages: one process per package against one process
    // validating two at a time. The whole sequence of processes is one
    // measurement, so the ratio compares what a store's pipeline waits for.
    if (measureJobs) {
        std::vector<Bench::Measurement> oneByOne, jobs;
        runRounds(runs, {
            [&] {
                Bench::Measurement sum;
                for (const std::string& package : tiny)
                    sum.addFollowing(Bench::measure(vetrikArguments(vetrik, {package}), env));
                oneByOne.push_back(sum);
            },
            [&] {
                std::vector<std::string> extra = {"--jobs", "2"};
                extra.insert(extra.end(), tiny.begin(), tiny.end());
                jobs.push_back(Bench::measure(vetrikArguments(vetrik, extra), env));
            },
        });
        std::printf("\n%d small packages, median of %d paired rounds (/tmp on %s)\n", kSmallPackages, runs, fileSystemOf("/tmp").c_str());
        std::printf("  one process per package   %8.3f s   own peak %7ld KiB   tree peak %7ld KiB\n", Bench::medianOf(oneByOne).seconds,
                    peakOf(oneByOne, &Bench::Measurement::ownPeakKiB), peakOf(oneByOne, &Bench::Measurement::treePeakKiB));
        std::printf("  vetrik --jobs 2           %8.3f s   own peak %7ld KiB   tree peak %7ld KiB\n", Bench::medianOf(jobs).seconds,
                    peakOf(jobs, &Bench::Measurement::ownPeakKiB), peakOf(jobs, &Bench::Measurement::treePeakKiB));
        std::printf("  speed-up (one process per package / --jobs 2): %.3f, processor time ratio %.3f\n",
                    pairedRatio(oneByOne, jobs, &Bench::Measurement::seconds),
                    pairedRatio(oneByOne, jobs, &Bench::Measurement::cpuSeconds));
    }

    if (const Row* small = rowOf("small")) {
        const double family = desktopFamilySeconds(small->package, "org.example.small");
        std::printf("desktop family in process: %.3f ms per package, %.3f %% of vetrik (small)\n", family * 1000,
                    family / Bench::medianOf(small->vetriks).seconds * 100);
    }
    // The packages have findings (no main executable): exit status 1 is a
    // completed validation.
    return firstFailed || fixedFailed ? 1 : 0;
}
