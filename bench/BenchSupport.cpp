#include "BenchSupport.h"

#include "Vetrik.h"
#include "common/ChildProcess.h"
#include "common/PosixIo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Bench {

long highWaterMarkKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 20, '\n');
    }
    return -1;
}


Measurement measure(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env)
{
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        envStrings.emplace_back(*e);
    for (const auto& [name, value] : env)
        envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    // posix_spawn shares this process's memory until exec, so the peak of
    // the child is the program's own, not that of a forked copy.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return {};
    Measurement m;
    int status = 0;
    rusage usage {};
    // Woken as soon as the child ends, so that the wall time of a run of a
    // few milliseconds is not rounded up to the sampling period.
    const int exited = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        // VmHWM only grows, so the last sample before exit is the peak.
        long hwm = highWaterMarkKiB(pid);
        m.ownPeakKiB = std::max(m.ownPeakKiB, hwm);
        pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (exited >= 0) {
            pollfd end {exited, POLLIN, 0};
            ::poll(&end, 1, 2);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    if (exited >= 0)
        ::close(exited);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.treePeakKiB = usage.ru_maxrss;
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    m.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

Measurement medianOf(std::vector<Measurement> all)
{
    std::sort(all.begin(), all.end(), [](const Measurement& a, const Measurement& b) { return a.cpuSeconds < b.cpuSeconds; });
    const double cpuSeconds = all[all.size() / 2].cpuSeconds;
    std::sort(all.begin(), all.end(), [](const Measurement& a, const Measurement& b) { return a.seconds < b.seconds; });
    Measurement result = all[all.size() / 2];
    result.cpuSeconds = cpuSeconds;
    for (const Measurement& m : all) {
        result.ownPeakKiB = std::max(result.ownPeakKiB, m.ownPeakKiB);
        result.treePeakKiB = std::max(result.treePeakKiB, m.treePeakKiB);
    }
    return result;
}

Measurement median(int runs, const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env)
{
    std::vector<Measurement> all;
    for (int i = 0; i < runs; ++i)
        all.push_back(measure(argv, env));
    return medianOf(std::move(all));
}

std::vector<std::string> addPayload(TestKit::Package& package, int files, int megabytes,
                                    const std::function<std::string(std::size_t size)>& text,
                                    const std::string& textSuffix)
{
    std::mt19937_64 random(42);
    const std::size_t perFile = static_cast<std::size_t>(megabytes) * 1024 * 1024 / static_cast<std::size_t>(files);
    const std::string base = "/usr/share/" + package.name;
    package.entries.push_back(TestKit::directory(base));
    for (int d = 0; d < files / 100 + 1; ++d)
        package.entries.push_back(TestKit::directory(base + "/d" + std::to_string(d)));
    std::vector<std::string> paths;
    for (int i = 0; i < files; ++i) {
        const bool isText = i % 2 == 0;
        std::string content;
        if (isText) {
            content = text(perFile);
        } else {
            content.reserve(perFile);
            while (content.size() < perFile) {
                std::uint64_t v = random();
                content.append(reinterpret_cast<const char*>(&v), sizeof v);
            }
        }
        content.resize(perFile);
        paths.push_back(base + "/d" + std::to_string(i / 100) + "/f" + std::to_string(i) + (isText ? textSuffix : ""));
        package.entries.push_back(TestKit::file(paths.back(), std::move(content)));
    }
    return paths;
}

std::string buildLargePackage(const std::string& workDir, const std::string& name, int files, int megabytes,
                              const std::string& compressor, const std::string& desktopFile)
{
    TestKit::Package package;
    package.name = name;
    package.compressor = compressor;
    addPayload(package, files, megabytes, [](std::size_t size) {
        std::string content;
        content.reserve(size);
        while (content.size() < size)
            content += "import QtQuick 2.6\nItem { id: item" + std::to_string(content.size()) + " }\n";
        return content;
    });
    if (!desktopFile.empty())
        package.entries.push_back(TestKit::file("/usr/share/applications/" + name + ".desktop", desktopFile));
    return TestKit::buildRpm(package, workDir);
}

std::vector<std::string> buildAside(const std::function<std::vector<std::string>()>& build)
{
    Common::PipeEnds pipe = Common::makePipe();
    if (!pipe.read)
        throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        pipe.read.reset();
        int status = 0;
        try {
            std::string joined;
            for (const std::string& path : build())
                joined += path + "\n";
            if (!Common::writeAll(pipe.write.get(), joined))
                status = 1;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            status = 1;
        }
        ::_exit(status);
    }
    Common::ChildProcess builder(pid);
    pipe.write.reset();
    const std::string joined = Common::readAll(pipe.read.get(), 1 << 20).value_or(std::string());
    const int status = builder.wait();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("building the benchmark packages failed");
    return TestKit::lines(joined);
}

void printRow(const std::string& label, const Measurement& m)
{
    std::printf("  %-44s %8.3f s   cpu %7.3f s   own peak %7ld KiB   tree peak %7ld KiB   exit %d\n", label.c_str(),
                m.seconds, m.cpuSeconds, m.ownPeakKiB, m.treePeakKiB, m.exitCode);
}

} // namespace Bench
