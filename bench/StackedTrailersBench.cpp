// torvel dump -f and delete on a package followed by N and 2N empty
// trailers (a hostile ending that stacks as many "blocks" as it likes):
// only the last blocks are looked at, so doubling N must not make either
// slower (a ratio of about 1), and no scan may be worse than linear. The
// package carries many files, so that work done once per block on the
// package's header, or once per block and file, would show.

#include "BenchSupport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Empty version-2 trailers: size 0, version 2, magic BB 91 9F F0.
void appendEmptyTrailers(const std::string& path, int count)
{
    static const char trailer[12] = {0, 0, 0, 0, 2, 0, 0, 0, char(0xBB), char(0x91), char(0x9F), char(0xF0)};
    std::ofstream out(path, std::ios::binary | std::ios::app);
    for (int i = 0; i < count; ++i)
        out.write(trailer, sizeof trailer);
}

} // namespace

int main()
{
    const std::string torvel = TORVEL_PATH;
    const TestKit::TempDir dir {"benchstacked"};
    TestKit::Package description;
    description.name = "com.example.stacked";
    for (int i = 0; i < 2000; ++i)
        description.entries.push_back(TestKit::file("/usr/share/stacked/file" + std::to_string(i), "x"));
    const std::string bare = TestKit::buildRpm(description, dir.path());

    constexpr int runs = 3;
    constexpr int stacked = 50000;
    std::printf("torvel dump -f / dump / delete with stacked empty trailers (median of %d)\n", runs);
    const Bench::Measurement baseline = Bench::median(runs, {torvel, "dump", "-f", bare});
    Bench::printRow("dump -f, no trailers (baseline)", baseline);

    double seconds[2][3] = {};
    for (int scale = 1; scale <= 2; ++scale) {
        const std::string path = dir / ("stacked" + std::to_string(scale) + ".rpm");
        std::filesystem::copy_file(bare, path);
        appendEmptyTrailers(path, scale * stacked);
        const std::string label = std::to_string(scale * stacked) + " trailers";
        const Bench::Measurement withFiles = Bench::median(runs, {torvel, "dump", "-f", path});
        const Bench::Measurement plain = Bench::median(runs, {torvel, "dump", path});
        const Bench::Measurement removal = Bench::median(runs, {torvel, "delete", path});
        Bench::printRow("dump -f, " + label, withFiles);
        Bench::printRow("dump, " + label, plain);
        Bench::printRow("delete (refused: malformed), " + label, removal);
        seconds[scale - 1][0] = withFiles.seconds;
        seconds[scale - 1][1] = plain.seconds;
        seconds[scale - 1][2] = removal.seconds;
    }
    const char* names[] = {"dump -f", "dump", "delete"};
    for (int i = 0; i < 3; ++i)
        std::printf("  %-8s 2N against N: %.2f (bounded: about 1, linear: 2); N against no trailers: %.2f\n",
                    names[i], seconds[1][i] / seconds[0][i], seconds[0][i] / baseline.seconds);
    return 0;
}
