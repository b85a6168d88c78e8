// Hostile desktop files, in two parts (name one as the third argument to
// run only that one; both by default):
//
// beyond  Files far beyond the desktop-entry layer's limits, such as a
//         million or three million groups: wall time and peak memory of the
//         whole run beside those of a package with an ordinary desktop file,
//         measured in the same run. Both must stay near the ordinary ones
//         (within 10 s and 150 MB).
// limits  The costliest files the layer still takes: as many groups, keys,
//         list items or bytes as the limits allow, most of them findings of
//         their own, also with a report written. Wall time and peaks beside
//         the ordinary package's, and beside what GKeyFile alone needs to
//         load the same file (a program that does nothing else). Since no
//         accepted file is larger, these are the bounds of what any desktop
//         file costs, whatever the time per byte of the checks.
//
// vetrik checks each package in a child process: its own peak is that of
// the parent, the tree's peak that of its largest process, the validating
// child.

#include "BenchSupport.h"

#include "deskinfo/ManifestEntry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using AppManifest::ManifestEntry;

const std::string kName = "org.example.app";

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

// `head`, then numbered pieces (`before`, the number, `after`) up to
// `count` of them or as many as fit in `size` bytes with `tail`, then `tail`.
std::string numbered(std::string head, const std::string& before, const std::string& after, std::size_t count,
                     std::size_t size = std::size_t(-1), const std::string& tail = "")
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::string piece = before + std::to_string(i) + after;
        if (head.size() + piece.size() + tail.size() > size)
            break;
        head += piece;
    }
    return head + tail;
}

struct File {
    std::string label;
    std::function<std::string()> make;
};

bool wanted(const char* parts, const char* part)
{
    return !parts || !*parts || std::strstr(parts, part);
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string vetrik = argc > 1 && *argv[1] ? argv[1] : VETRIK_PATH;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const char* parts = argc > 3 ? argv[3] : nullptr;
    TestKit::TempDir work("bench-desktop", "/var/tmp");
    TestKit::TempDir root("bench-root");
    TestKit::writeFile(root / "var/lib/developer-moded/developer-moded.conf", "[developermode]\nvalidationEnabled=true\n");
    const std::vector<std::pair<std::string, std::string>> env = {{"KVD_ROOT_FS", root.path()}};

    constexpr std::size_t cap = ManifestEntry::kMaxFileBytes;
    const std::vector<File> beyond = {
        {"1e6 groups", [] { return numbered(kEntry + kSandbox, "[G", "]\n", 1000000); }},
        {"3e6 groups", [] { return numbered(kEntry + kSandbox, "[G", "]\n", 3000000); }},
    };
    const std::vector<File> limits = {
        {"groups at the limit",
         [] { return numbered(kEntry + kSandbox, "[G", "]\n", ManifestEntry::kMaxGroups - 2); }},
        {"keys at the limit",
         [] { return numbered(kEntry + kSandbox + "[X-Taliro-Application]\n", "Key", "=\n", ManifestEntry::kMaxKeys - 8); }},
        {"permissions list of 1 MiB",
         [] { return numbered(kEntry + kSandbox.substr(0, kSandbox.find("Permissions=")) + "Permissions=", "P", ";",
                              cap, cap, "\n"); }},
        {"intents list of 1 MiB",
         [] { return numbered(kEntry + kSandbox + "Intents=", "i", ";", cap, cap, "\n"); }},
        {"a Name of 1 MiB",
         [] {
             std::string entry = kEntry;
             entry.replace(entry.find("=Example") + 1, 7, std::string(cap - kEntry.size() - kSandbox.size(), 'a'));
             return entry + kSandbox;
         }},
    };
    std::printf("building packages...\n");
    const auto packages = Bench::buildAside([&] {
        int release = 0;
        std::vector<std::string> paths = {buildWithDesktop(work.path(), release++, kEntry + kSandbox)};
        const auto add = [&](const std::string& desktop, const std::string& copy) {
            if (!copy.empty())
                TestKit::writeFile(work / copy, desktop);
            paths.push_back(buildWithDesktop(work.path(), release++, desktop));
        };
        if (wanted(parts, "beyond"))
            for (const File& file : beyond)
                add(file.make(), "");
        if (wanted(parts, "limits"))
            for (std::size_t i = 0; i < limits.size(); ++i)
                add(limits[i].make(), "limit" + std::to_string(i) + ".desktop");
        return paths;
    });

    const auto run = [&](const std::string& package, int times, const std::vector<std::string>& options = {}) {
        std::vector<std::string> argv = {vetrik, "--color", "never", "-p", "regular"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(package);
        return Bench::median(times, argv, env);
    };
    std::size_t next = 0;
    const Bench::Measurement plain = run(packages.at(next++), runs);
    std::printf("\nordinary desktop file, median of %d runs: wall %.3f s  cpu %.3f s  own peak %ld KiB  tree peak %ld KiB\n",
                runs, plain.seconds, plain.cpuSeconds, plain.ownPeakKiB, plain.treePeakKiB);

    if (wanted(parts, "beyond")) {
        std::printf("\nbeyond the limits, median of %d runs, against the ordinary file:\n", runs);
        for (const File& file : beyond) {
            const Bench::Measurement m = run(packages.at(next++), runs);
            std::printf("  %-12s wall %7.3f s (+%7.3f)  cpu %7.3f s  tree peak %8ld KiB (+%8ld)  own peak %8ld KiB\n",
                        file.label.c_str(), m.seconds, m.seconds - plain.seconds, m.cpuSeconds, m.treePeakKiB,
                        m.treePeakKiB - plain.treePeakKiB, m.ownPeakKiB);
        }
    }

    if (wanted(parts, "limits")) {
        std::printf("\nat the limits, median of %d runs: vetrik against the ordinary file, and GKeyFile loading the file\n",
                    runs);
        const std::vector<std::string> report = {"--report", work / "report.jsonl"};
        for (std::size_t i = 0; i < limits.size(); ++i) {
            const std::string package = packages.at(next++);
            // The floor has no children: its tree's peak is its own.
            const Bench::Measurement floor = Bench::measure({FLOOR_PATH, work / ("limit" + std::to_string(i) + ".desktop")});
            const Bench::Measurement m = run(package, runs);
            const Bench::Measurement reported = run(package, runs, report);
            std::printf("  %-26s wall %6.3f s (+%6.3f)  tree peak %7ld KiB (+%7ld)   with a report %6.3f s tree %7ld KiB"
                        " own %7ld KiB   GKeyFile %6.3f s %7ld KiB\n",
                        limits[i].label.c_str(), m.seconds, m.seconds - plain.seconds, m.treePeakKiB,
                        m.treePeakKiB - plain.treePeakKiB, reported.seconds, reported.treePeakKiB, reported.ownPeakKiB,
                        floor.seconds, floor.treePeakKiB);
        }
    }

    return 0;
}
