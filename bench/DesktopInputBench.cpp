// Hostile desktop files: long intents, long task group names, many groups,
// and files of 100 MiB. Time must grow linearly with the file: each shape is
// run at one, two and four times a base size, and the processor time beyond
// that of a package with an ordinary desktop file must double and double
// again. (Processor time, because the wall time of a shared machine varies
// more between runs than the growth being measured.)
// Peak memory must stay at what GKeyFile itself needs to load the same
// file, measured in the same run by a program that does nothing else.

#include "BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::string kName = "org.example.app";
constexpr std::size_t kMiB = 1024 * 1024;

const std::string kEntry = "[Desktop Entry]\nType=Application\nName=Example\nIcon=" + kName + "\nExec=/usr/bin/" + kName
    + "\nX-Olvex-Application-Type=varnel-qt5\n";
const std::string kSandbox = "[X-Application]\nOrganizationName=org.example\nApplicationName=app\nPermissions=Internet\n";

// A package that holds nothing but its desktop file. Its other findings
// (no main executable) cost the same whatever the desktop file.
std::string buildWithDesktop(const std::string& workDir, int release, const std::string& desktop)
{
    TestKit::Package package;
    package.name = kName;
    package.release = std::to_string(release);
    package.entries = {TestKit::file("/usr/share/applications/" + kName + ".desktop", desktop)};
    return TestKit::buildRpm(package, workDir);
}

std::string repeat(const std::string& piece, std::size_t times)
{
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

// One valid intent whose flag list is `bytes` long, and one invalid intent
// of `bytes` bytes.
std::string longIntents(std::size_t bytes)
{
    return kEntry + kSandbox + "Intents=Start:" + repeat("gui|", bytes / 4) + "gui;" + std::string(bytes, 'A') + "!\n";
}

// A valid and an invalid task group, each named by `bytes` letters.
std::string longTaskNames(std::size_t bytes)
{
    const std::string name(bytes, 'A');
    return kEntry + kSandbox + "[X-Task " + name + "]\nType=periodic\n[X-Task " + name + "!]\nType=periodic\n";
}

// `count` groups: half of them disallowed, half background tasks.
std::string manyGroups(std::size_t count)
{
    std::string out = kEntry + kSandbox;
    for (std::size_t i = 0; i < count / 2; ++i)
        out += "[G" + std::to_string(i) + "]\n[X-Task T" + std::to_string(i) + "]\nType=periodic\nExec=" + kName + "\n";
    return out;
}

// About 100 MiB of short keys in "Desktop Entry".
std::string manyKeys()
{
    std::string out = kEntry;
    for (std::size_t i = 0; out.size() < 100 * kMiB; ++i)
        out += "K" + std::to_string(i) + "=v\n";
    return out + kSandbox;
}

struct Shape {
    std::string label;
    std::function<std::string(std::size_t)> make;
    std::size_t base;
};

struct Big {
    std::string label;
    std::function<std::string()> make;
};

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string vetrik = argc > 1 && *argv[1] ? argv[1] : VETRIK_PATH;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    TestKit::TempDir work("bench-desktop", "/var/tmp");
    TestKit::TempDir root("bench-root");
    TestKit::writeFile(root / "var/lib/developer-moded/developer-moded.conf", "[developermode]\nvalidationEnabled=true\n");
    const std::vector<std::pair<std::string, std::string>> env = {{"KVD_ROOT_FS", root.path()}};

    const std::vector<Shape> shapes = {
        {"Intents value", longIntents, kMiB},
        {"task group names", longTaskNames, kMiB},
        {"groups", manyGroups, 100000},
    };
    const std::vector<std::size_t> factors = {1, 2, 4};
    const std::vector<Big> bigs = {
        {"one unread value of 100 MiB", [] { return kEntry + "Comment=" + std::string(100 * kMiB, 'a') + "\n" + kSandbox; }},
        {"a Name of 100 MiB",
         [] {
             std::string entry = kEntry;
             entry.replace(entry.find("=Example") + 1, 7, std::string(100 * kMiB, 'a'));
             return entry + kSandbox;
         }},
        {"100 MiB of short keys", manyKeys},
    };

    std::printf("building packages...\n");
    const auto packages = Bench::buildAside([&] {
        int release = 0;
        std::vector<std::string> paths = {buildWithDesktop(work.path(), release++, kEntry + kSandbox)};
        for (const Shape& shape : shapes) {
            for (std::size_t factor : factors)
                paths.push_back(buildWithDesktop(work.path(), release++, shape.make(shape.base * factor)));
        }
        for (std::size_t i = 0; i < bigs.size(); ++i) {
            const std::string desktop = bigs[i].make();
            TestKit::writeFile(work / ("big" + std::to_string(i) + ".desktop"), desktop);
            paths.push_back(buildWithDesktop(work.path(), release++, desktop));
        }
        return paths;
    });

    const auto run = [&](const std::string& package, int times) {
        return Bench::median(times, {vetrik, "--color", "never", "-p", "regular", package}, env);
    };
    std::size_t next = 0;
    const Bench::Measurement plain = run(packages.at(next++), runs);
    std::printf("\nmedian of %d runs; processor time beyond an ordinary desktop file (%.3f s):\n", runs, plain.cpuSeconds);
    for (const Shape& shape : shapes) {
        std::vector<double> extra;
        for (std::size_t factor : factors) {
            const Bench::Measurement m = run(packages.at(next++), runs);
            extra.push_back(m.cpuSeconds - plain.cpuSeconds);
            std::printf("  %-18s x%zu (%9zu)  wall %7.3f s  cpu %7.3f s  beyond: %7.3f s  own peak %8ld KiB\n",
                        shape.label.c_str(), factor, shape.base * factor, m.seconds, m.cpuSeconds, extra.back(),
                        m.ownPeakKiB);
        }
        std::printf("  %-18s growth x1->x2: %.2f, x2->x4: %.2f  (linear: 2.00)\n", shape.label.c_str(), extra[1] / extra[0],
                    extra[2] / extra[1]);
    }

    std::printf("\n100 MiB desktop files, one run each: vetrik's peaks against GKeyFile loading the file and giving out its Name\n");
    for (std::size_t i = 0; i < bigs.size(); ++i) {
        const Bench::Measurement floor = Bench::measure({FLOOR_PATH, work / ("big" + std::to_string(i) + ".desktop")});
        const Bench::Measurement m = run(packages.at(next++), 1);
        // vetrik checks each package in a child process: its own peak is
        // that of the parent, the tree's peak that of the validating child.
        std::printf("  %-30s vetrik %8.1f s own %8ld KiB tree %8ld KiB   GKeyFile %6.1f s %8ld KiB   tree peak ratio %.2f\n",
                    bigs[i].label.c_str(), m.seconds, m.ownPeakKiB, m.treePeakKiB, floor.seconds, floor.ownPeakKiB,
                    static_cast<double>(m.treePeakKiB) / static_cast<double>(floor.ownPeakKiB));
    }
    return 0;
}
