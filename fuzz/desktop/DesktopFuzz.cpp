// Feeds arbitrary bytes, as the desktop file of one fixed package, through
// the desktop validator: the desktop-entry layer, its five checkers and its
// final step. The package model is built once with rpmbuild; the unpacked
// tree holds the main executable and a helper, so ExecDBus resolution has
// something to find.

#include "checks/desktop/Desktop.h"
#include "core/Config.h"
#include "core/Logger.h"
#include "package/RpmMeta.h"

#include "TestKit.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <fcntl.h>
#include <unistd.h>

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
        path = tree / ("usr/share/applications/" + kName + ".desktop");
        TestKit::writeFile(path, "");
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            std::abort();
    }

    void write(const std::uint8_t* data, std::size_t size) const
    {
        if (ftruncate(fd, 0) != 0)
            std::abort();
        std::size_t written = 0;
        while (written < size) {
            const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
            if (n <= 0)
                std::abort();
            written += static_cast<std::size_t>(n);
        }
    }

    TestKit::TempDir work{"desktop-fuzz"};
    TestKit::TempDir tree{"desktop-fuzz-tree"};
    std::shared_ptr<const Validator::RpmMeta> meta;
    std::vector<std::shared_ptr<const Validator::Config>> configs;
    int fd = -1;
    std::string path;
    NullBuffer sink;
};

Fixture* g_fixture = nullptr;

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
    fixture.write(data, size);
    // The profile changes which keys and forms are allowed; it follows
    // from the input, so every run is reproducible from its file alone.
    Validator::ValidationContext context{fixture.configs[size % fixture.configs.size()], fixture.meta,
                                         std::make_shared<Validator::Logger>()};
    *context.unpackedTree = Validator::UnpackedTree(fixture.tree.path());
    Validator::Desktop desktop(context);
    for (const std::string& common : {"/usr/share/common/org.example/x", "/usr/share/common/other"})
        desktop.accepts(common, fixture.tree / common);
    const std::string packagePath = "/usr/share/applications/" + kName + ".desktop";
    if (desktop.accepts(packagePath, fixture.path))
        desktop.validate(packagePath, fixture.path);
    desktop.finish();
    return 0;
}
