#pragma once

// The fixture of the driver's end-to-end tests: packages built in a work
// directory outside /tmp, a vetrik with a platform root of its own, and runs
// in a mount namespace with a private /tmp.

#include "Fixtures.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace TestKit {

class DriverFixture : public ::testing::Test {
protected:
    Package cleanPackage() { return validApplication("org.example.clean", work.path()); }

    std::string build(const Package& package) { return buildRpm(package, work.path()); }

    // A clean package that takes a while to unpack (`blobs` files of 2 MiB
    // behind gzip), for the tests that interrupt or kill a run meanwhile.
    Package slowPackage(int blobs = 60)
    {
        Package large = cleanPackage();
        large.name = "org.example.large";
        large.compressor = "gzip";
        for (int i = 0; i < blobs; ++i)
            large.entries.push_back(file("/usr/share/org.example.clean/blob" + std::to_string(i), std::string(2 << 20, 'z')));
        return large;
    }

    // Runs a shell script in a mount namespace with a /tmp of its own (made
    // read-only when asked), so that every /tmp/dir.* the script sees was
    // left by the run itself. What the run needs from the real /tmp (the
    // build tree, the packages, the platform root) is bound back into it.
    // $1 is vetrik, the rest are `arguments`.
    RunResult withPrivateTmp(const std::string& script, const std::vector<std::string>& arguments,
                             bool readOnly = false)
    {
        std::set<std::string> keep;
        for (const std::string& path : {Vetrik::path(), work.path(), vetrik.root()}) {
            if (path.rfind("/tmp/", 0) == 0)
                keep.insert("/tmp/" + path.substr(5, path.find('/', 5) - 5));
        }
        std::string setup = "mount --bind /tmp '" + realTmp.path() + "' && mount -t tmpfs tmpfs /tmp || exit 99\n";
        for (const std::string& path : keep)
            setup += "mkdir -p '" + path + "' && mount --bind '" + realTmp.path() + path.substr(4) + "' '" + path + "' || exit 99\n";
        if (readOnly)
            setup += "mount -o remount,ro /tmp || exit 99\n";
        std::vector<std::string> argv = {"unshare", "-m", "sh", "-c", setup + script, "sh", Vetrik::path()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        RunOptions options;
        options.env = {{"KVD_ROOT_FS", vetrik.root()}};
        return run(argv, options);
    }

    void requirePrivateTmp()
    {
        auto probe = run({"unshare", "-m", "sh", "-c", "mount -t tmpfs tmpfs /tmp"});
        if (probe.exitCode != 0)
            GTEST_SKIP() << "mount namespaces are not available here: " << probe.err;
    }

    // Where the real /tmp stays reachable inside the namespace.
    TempDir realTmp{"real-tmp", "/var/tmp"};
    // Outside /tmp, so that runs with a private /tmp still see the packages.
    TempDir work{"driver", E2E_WORK_DIR};
    Vetrik vetrik;
};

} // namespace TestKit
