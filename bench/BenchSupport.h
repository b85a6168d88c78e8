#pragma once

#include <sys/types.h>

// Shared pieces of the benchmarks: the large sample package and a runner
// that measures wall time and peak memory of a command.

#include "TestKit.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace Bench {

struct Measurement {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time of the process and the children it waited for
    long treePeakKiB = 0;  // largest resident set among the process and its children
    long ownPeakKiB = 0;   // the process itself (VmHWM, sampled until it exits)
    int exitCode = -1;

    // Adds `next` as a run that followed this one: times add up, the peaks
    // and the exit status are the larger of the two.
    void addFollowing(const Measurement& next)
    {
        seconds += next.seconds;
        cpuSeconds += next.cpuSeconds;
        treePeakKiB = std::max(treePeakKiB, next.treePeakKiB);
        ownPeakKiB = std::max(ownPeakKiB, next.ownPeakKiB);
        exitCode = std::max(exitCode, next.exitCode);
    }
};

// Runs argv (no shell) with stdout/stderr discarded.
Measurement measure(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env = {});

// The medians of wall and processor time (each on its own), with the
// largest peaks of all runs; the rest is the median-wall-time run's.
Measurement medianOf(std::vector<Measurement> all);

// VmHWM of a process (this one: getpid()), in KiB; -1 when unreadable.
long highWaterMarkKiB(pid_t pid);

Measurement median(int runs, const std::vector<std::string>& argv,
                   const std::vector<std::pair<std::string, std::string>>& env = {});

// Adds to `package` `files` files holding about `megabytes` MiB in all below
// /usr/share/<name>, a hundred to a directory: every other one text, which
// `text` writes to the given size (a path of its own ends in `textSuffix`),
// the rest incompressible bytes, as real applications carry. Returns the
// files' paths in order.
std::vector<std::string> addPayload(TestKit::Package& package, int files, int megabytes,
                                    const std::function<std::string(std::size_t size)>& text,
                                    const std::string& textSuffix = {});

// A package of `files` files holding about `megabytes` MiB in all: a mix of
// compressible text and incompressible bytes, as real applications carry;
// with `desktopFile`, also the package's desktop file with that content.
std::string buildLargePackage(const std::string& workDir, const std::string& name, int files, int megabytes,
                              const std::string& compressor = "zstd", const std::string& desktopFile = {});

// Runs `build` in a child process and returns the paths it produced, so
// that the memory spent on building never counts towards what this process
// (and the children it measures) hold.
std::vector<std::string> buildAside(const std::function<std::vector<std::string>()>& build);

void printRow(const std::string& label, const Measurement& m);

} // namespace Bench
