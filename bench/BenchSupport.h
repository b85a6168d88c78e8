#pragma once

// Shared pieces of the benchmarks: the large sample package and a runner
// that measures wall time and peak memory of a command.

#include "TestKit.h"

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
};

// Runs argv (no shell) with stdout/stderr discarded.
Measurement measure(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env = {});

// Median of `runs` measurements by wall time.
Measurement median(int runs, const std::vector<std::string>& argv,
                   const std::vector<std::pair<std::string, std::string>>& env = {});

// A package of `files` files holding about `megabytes` MiB in all: a mix of
// compressible text and incompressible bytes, as real applications carry.
std::string buildLargePackage(const std::string& workDir, const std::string& name, int files, int megabytes,
                              const std::string& compressor = "zstd");

// Runs `build` in a child process and returns the paths it produced, so
// that the memory spent on building never counts towards what this process
// (and the children it measures) hold.
std::vector<std::string> buildAside(const std::function<std::vector<std::string>()>& build);

void printRow(const std::string& label, const Measurement& m);

} // namespace Bench
