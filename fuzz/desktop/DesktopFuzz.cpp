// Feeds arbitrary bytes, as the desktop file of one fixed package, through
// the desktop validator: the desktop-entry layer, its five checkers and its
// final step. The package model is built once with rpmbuild; the unpacked
// tree holds the main executable and a helper, so ExecDBus resolution has
// something to find.
//
// Small inputs reach the layer's limits through one directive, expanded
// before the file is written: a line "#repeat N" or "#repeat N L" stands
// for N copies of the L lines after it (one by default), each "@" in them
// replaced by the copy's number. The expansion stops a little beyond the
// file limit, so the fuzzer tries files just within and just beyond every
// limit without mutating megabytes. (Unexpanded, the line is a comment.)
//
// Beside crashes and sanitizer reports, one property is checked: what the
// layer accepts never holds more groups or keys than its limits allow.

#include "checks/desktop/Desktop.h"
#include "core/Config.h"
#include "core/Logger.h"
#include "deskinfo/ManifestEntry.h"
#include "package/RpmMeta.h"

#include "FuzzInput.h"
#include "TestKit.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kName = "org.example.app";

// Findings and diagnostics go nowhere: only crashes, leaks and sanitizer
// reports matter here.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

struct Fixture {
    Fixture()
    {
        TestKit::Package package;
        package.name = kName;
        package.requirements = {"libtaliroapp-launcher"};
        package.entries = {TestKit::file("/usr/share/applications/" + kName + ".desktop", "[Desktop Entry]\n")};
        meta = std::make_shared<const Validator::RpmMeta>(TestKit::buildRpm(package, work.path()));
        TestKit::writeFile(tree / ("usr/bin/" + kName), "main\n", 0755);
        TestKit::writeFile(tree / ("usr/libexec/" + kName + "/service"), "helper\n", 0755);
        for (Validator::Profile profile : {Validator::Profile::Regular, Validator::Profile::Mdm, Validator::Profile::Pwa})
            configs.push_back(std::make_shared<const Validator::Config>(profile));
        // The validator opens the desktop file beneath the tree, so each
        // input is written there, into one file kept open for the run.
        std::filesystem::create_directories(tree / "usr/share/applications");
        input.emplace(Fuzz::InputFile::at(tree / ("usr/share/applications/" + kName + ".desktop")));
    }

    TestKit::TempDir work{"desktop-fuzz"};
    TestKit::TempDir tree{"desktop-fuzz-tree"};
    std::shared_ptr<const Validator::RpmMeta> meta;
    std::vector<std::shared_ptr<const Validator::Config>> configs;
    std::optional<Fuzz::InputFile> input;
    NullBuffer sink;
};

Fixture* g_fixture = nullptr;

using AppManifest::ManifestEntry;

// Enough to pass every limit by a little.
constexpr std::size_t kLargestExpansion = ManifestEntry::kMaxFileBytes + 4096;

// The number after "#repeat " and, optionally, a second one; false when the
// line is no directive.
bool parseDirective(std::string_view line, std::size_t& copies, std::size_t& lines)
{
    constexpr std::string_view kDirective = "#repeat ";
    if (!line.starts_with(kDirective))
        return false;
    line.remove_prefix(kDirective.size());
    const auto number = [&line](std::size_t& out) {
        std::size_t digits = 0;
        out = 0;
        while (digits < line.size() && digits < 8 && line[digits] >= '0' && line[digits] <= '9')
            out = out * 10 + static_cast<std::size_t>(line[digits++] - '0');
        line.remove_prefix(digits);
        return digits > 0;
    };
    if (!number(copies))
        return false;
    lines = 1;
    if (line.starts_with(" ")) {
        line.remove_prefix(1);
        if (!number(lines) || lines == 0)
            return false;
    }
    return line.empty();
}

std::string expand(std::string_view input)
{
    std::string out;
    // Without a directive the input is the file, a last line without its
    // line feed included.
    bool ended = false;
    const auto nextLine = [&input, &ended]() {
        const std::size_t end = input.find('\n');
        const std::string_view line = input.substr(0, end);
        ended = end != std::string_view::npos;
        input.remove_prefix(ended ? end + 1 : input.size());
        return line;
    };
    while (!input.empty() && out.size() < kLargestExpansion) {
        const std::string_view line = nextLine();
        std::size_t copies = 0;
        std::size_t lines = 0;
        if (!parseDirective(line, copies, lines)) {
            out.append(line);
            if (ended)
                out += '\n';
            continue;
        }
        std::vector<std::string_view> body;
        while (body.size() < lines && !input.empty())
            body.push_back(nextLine());
        for (std::size_t copy = 0; copy < copies && out.size() < kLargestExpansion; ++copy) {
            const std::string number = std::to_string(copy);
            for (std::string_view text : body) {
                for (char c : text) {
                    if (c == '@')
                        out += number;
                    else
                        out += c;
                }
                out += '\n';
            }
        }
    }
    return out;
}

// What an accepted entry holds is within the limits.
void checkLimitsHeld(const std::string& path)
{
    const std::optional<ManifestEntry> entry = ManifestEntry::fromFilename(path);
    if (!entry)
        return;
    const std::vector<std::string> groups = entry->groups();
    std::size_t keys = 0;
    for (const std::string& group : groups)
        keys += entry->groupKeys(group).size();
    if (groups.size() > ManifestEntry::kMaxGroups || keys > ManifestEntry::kMaxKeys)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A warning from GLib about its own state is a finding too.
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_FATAL_MASK | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL));
    g_fixture = new Fixture;
    std::cerr.rdbuf(&g_fixture->sink);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Fixture& fixture = *g_fixture;
    const std::string text = expand(std::string_view(reinterpret_cast<const char*>(data), size));
    fixture.input->write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    // The profile changes which keys and forms are allowed; it follows
    // from the input, so every run is reproducible from its file alone.
    Validator::ValidationContext context{fixture.configs[size % fixture.configs.size()], fixture.meta,
                                         std::make_shared<Validator::Logger>()};
    *context.unpackedTree = Validator::UnpackedTree(fixture.tree.path());
    Validator::Desktop desktop(context);
    for (const char* common : {"/usr/share/common/org.example/x", "/usr/share/common/other"})
        desktop.accepts(common, fixture.tree / common);
    const std::string packagePath = "/usr/share/applications/" + kName + ".desktop";
    if (desktop.accepts(packagePath, fixture.input->path()))
        desktop.validate(packagePath, fixture.input->path());
    desktop.finish();
    checkLimitsHeld(fixture.input->path());
    return 0;
}
