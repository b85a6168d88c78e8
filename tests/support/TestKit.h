#pragma once

// Fixture kit of the test suite: real RPM packages built with rpmbuild from a
// description written in the test, ELF files compiled from C sources, and a
// runner that starts a built program and captures what it did.

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace TestKit {

// A fresh directory (below /tmp unless `base` names another directory),
// removed with everything in it at destruction.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "testkit", const std::string& base = "/tmp");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const;

private:
    std::string m_path;
};

// Points KVD_ROOT_FS, the root of the platform's file system, at a fresh
// directory for the lifetime of the object.
class PlatformRoot {
public:
    PlatformRoot();
    ~PlatformRoot();
    PlatformRoot(const PlatformRoot&) = delete;
    PlatformRoot& operator=(const PlatformRoot&) = delete;

    // Writes the developer-mode settings file below the root.
    void developerMode(const std::string& content);

    TempDir dir{"root"};
};

// The threads this process has now, from /proc: what a test counts to see
// that every thread it started has ended.
std::size_t threadsOfThisProcess();

// Writes `content` to `path`, creating parent directories.
void writeFile(const std::string& path, const std::string& content, unsigned mode = 0644);
std::string readFile(const std::string& path);

// Replaces the one occurrence of `from` in the file by `to` of the same
// length (for crafting hostile archives from packages built without payload
// compression). Throws unless there is exactly one occurrence.
void replaceUnique(const std::string& path, const std::string& from, const std::string& to);

struct RunOptions {
    // Added to (or replacing in) the inherited environment.
    std::vector<std::pair<std::string, std::string>> env;
    // Names removed from the inherited environment.
    std::vector<std::string> unsetEnv;
    std::string workingDirectory;
    std::string standardInput;
    int timeoutSeconds = 300;
};

struct RunResult {
    int exitCode = -1;      // -1 when the process was killed by a signal
    int signal = 0;         // the signal that ended it, 0 otherwise
    bool timedOut = false;  // killed by the runner after timeoutSeconds
    std::string out;
    std::string err;
    long maxRssKiB = 0;     // peak resident set size of the process
    double seconds = 0;     // wall time
};

// Starts argv[0] (searched in PATH when it has no slash) without a shell.
RunResult run(const std::vector<std::string>& argv, const RunOptions& options = {});

struct Entry {
    enum class Kind { File, Directory, Symlink, HardLink, Fifo };
    Kind kind = Kind::File;
    std::string path{};          // absolute installed path, e.g. /usr/bin/app
    std::string content{};       // File only
    std::string target{};        // Symlink: link target; HardLink: installed path of the file it links to
    unsigned mode = 0644;        // permission bits (07777)
    std::string user = "root";
    std::string group = "root";
};

Entry file(std::string path, std::string content, unsigned mode = 0644);
Entry directory(std::string path, unsigned mode = 0755);
Entry symlink(std::string path, std::string target);
Entry hardLink(std::string path, std::string existingPath);
// A named pipe: an entry of none of the usual types.
Entry fifo(std::string path, unsigned mode = 0644);

struct Package {
    std::string name = "com.example.app";
    std::string version = "1.0";
    std::string release = "1";
    std::string vendor;                 // empty: no Vendor tag at all
    bool noarch = true;                 // false: the build machine's architecture
    std::vector<std::string> provides;  // extra Provides lines ("name" or "name = 1.0")
    std::vector<std::string> requirements;
    std::vector<std::string> conflicts;
    std::vector<std::string> obsoletes;
    // Script bodies by section: pre, post, preun, postun, pretrans, posttrans.
    std::map<std::string, std::string> scripts;
    // Script programs by section (e.g. {"posttrans", "/usr/bin/true"}): the
    // section is written with -p and no body.
    std::map<std::string, std::string> scriptPrograms;
    std::string compressor = "zstd";    // gzip, xz, zstd or none
    std::vector<Entry> entries;
};

// Builds `package` with rpmbuild below `workDir` and returns the path of the
// .rpm file. Automatic dependencies, build-id links, debug packages and
// post-install processing are switched off, so the package holds exactly what
// the description says (plus rpmbuild's self-provide and rpmlib requirements).
// Throws std::runtime_error carrying rpmbuild's output on failure.
std::string buildRpm(const Package& package, const std::string& workDir);

// Compiles one C source with the system compiler into `outputPath`.
// Throws std::runtime_error carrying the compiler's output on failure.
void compileC(const std::string& source, const std::string& outputPath,
              const std::vector<std::string>& flags = {});

} // namespace TestKit
