#include "TestKit.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <openssl/sha.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace TestKit {

TempDir::TempDir(const std::string& prefix, const std::string& base)
{
    fs::create_directories(base);
    std::string pattern = base + "/" + prefix + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    m_path = buffer.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Tests make read-only trees; removal needs write permission on directories.
    for (auto it = fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_path, ec);
}

std::string TempDir::operator/(const std::string& relative) const
{
    return m_path + "/" + relative;
}

PlatformRoot::PlatformRoot()
{
    ::setenv("KVD_ROOT_FS", dir.path().c_str(), 1);
}

PlatformRoot::~PlatformRoot()
{
    ::unsetenv("KVD_ROOT_FS");
}

void PlatformRoot::developerMode(const std::string& content)
{
    writeFile(dir / "var/lib/developer-moded/developer-moded.conf", content);
}

std::size_t threadsOfThisProcess()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

void writeFile(const std::string& path, const std::string& content, unsigned mode)
{
    fs::path p(path);
    if (p.has_parent_path())
        fs::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
    ::chmod(path.c_str(), mode);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

void replaceUnique(const std::string& path, const std::string& from, const std::string& to)
{
    if (from.size() != to.size())
        throw std::invalid_argument("replaceUnique: lengths differ");
    std::string data = readFile(path);
    std::size_t at = data.find(from);
    if (at == std::string::npos || data.find(from, at + 1) != std::string::npos)
        throw std::runtime_error("replaceUnique: not exactly one occurrence of " + from + " in " + path);
    data.replace(at, from.size(), to);
    writeFile(path, data);
}

namespace {

std::vector<std::string> buildEnvironment(const RunOptions& options)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool dropped = false;
        for (const auto& u : options.unsetEnv)
            dropped = dropped || u == name;
        for (const auto& kv : options.env)
            dropped = dropped || kv.first == name;
        if (!dropped)
            env.push_back(entry);
    }
    for (const auto& kv : options.env)
        env.push_back(kv.first + "=" + kv.second);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (auto& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

RunResult run(const std::vector<std::string>& argv, const RunOptions& options)
{
    if (argv.empty())
        throw std::invalid_argument("run: empty argv");
    int inPipe[2], outPipe[2], errPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) || ::pipe2(outPipe, O_CLOEXEC) || ::pipe2(errPipe, O_CLOEXEC))
        throw std::runtime_error("pipe failed");

    std::vector<std::string> args = argv;
    std::vector<std::string> env = buildEnvironment(options);
    auto argp = pointers(args);
    auto envp = pointers(env);

    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(inPipe[0], 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        // A process group of its own lets the runner stop the whole tree on a timeout.
        ::setpgid(0, 0);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0)
            ::_exit(126);
        environ = envp.data();
        ::execvp(argp[0], argp.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    setNonBlocking(inPipe[1]);
    setNonBlocking(outPipe[0]);
    setNonBlocking(errPipe[0]);

    RunResult result;
    std::size_t written = 0;
    int inFd = inPipe[1];
    if (options.standardInput.empty()) {
        ::close(inFd);
        inFd = -1;
    }
    int outFd = outPipe[0], errFd = errPipe[0];
    auto deadline = start + std::chrono::seconds(options.timeoutSeconds);
    char buffer[65536];
    while (outFd >= 0 || errFd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (outFd >= 0)
            fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0)
            fds[n++] = {errFd, POLLIN, 0};
        if (inFd >= 0)
            fds[n++] = {inFd, POLLOUT, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            result.timedOut = true;
            ::kill(-pid, SIGKILL);
            break;
        }
        int ready = ::poll(fds, static_cast<nfds_t>(n), static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents)
                continue;
            if (fds[i].fd == inFd) {
                ssize_t w = ::write(inFd, options.standardInput.data() + written, options.standardInput.size() - written);
                if (w > 0)
                    written += static_cast<std::size_t>(w);
                if (w < 0 || written == options.standardInput.size()) {
                    ::close(inFd);
                    inFd = -1;
                }
                continue;
            }
            ssize_t r = ::read(fds[i].fd, buffer, sizeof buffer);
            if (r > 0) {
                (fds[i].fd == outFd ? result.out : result.err).append(buffer, static_cast<std::size_t>(r));
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                ::close(fds[i].fd);
                (fds[i].fd == outFd ? outFd : errFd) = -1;
            }
        }
    }
    for (int fd : {inFd, outFd, errFd})
        if (fd >= 0)
            ::close(fd);

    int status = 0;
    rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.maxRssKiB = usage.ru_maxrss;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

Entry file(std::string path, std::string content, unsigned mode)
{
    return {.kind = Entry::Kind::File, .path = std::move(path), .content = std::move(content), .mode = mode};
}

Entry directory(std::string path, unsigned mode)
{
    return {.kind = Entry::Kind::Directory, .path = std::move(path), .mode = mode};
}

Entry symlink(std::string path, std::string target)
{
    return {.kind = Entry::Kind::Symlink, .path = std::move(path), .target = std::move(target), .mode = 0777};
}

Entry hardLink(std::string path, std::string existingPath)
{
    return {.kind = Entry::Kind::HardLink, .path = std::move(path), .target = std::move(existingPath)};
}

Entry fifo(std::string path, unsigned mode)
{
    return {.kind = Entry::Kind::Fifo, .path = std::move(path), .mode = mode};
}

namespace {

std::string payloadMacro(const std::string& compressor)
{
    if (compressor == "gzip")
        return "w9.gzdio";
    if (compressor == "xz")
        return "w2.xzdio";
    if (compressor == "zstd")
        return "w3.zstdio";
    if (compressor == "none")
        return "w.ufdio";
    throw std::invalid_argument("unknown payload compressor: " + compressor);
}

// rpm's file list treats blanks, globs and percent signs specially; a quoted
// name with escaped percent signs is taken literally.
std::string fileListName(const std::string& path)
{
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '%')
            quoted += "%%";
        else if (c == '*' || c == '?' || c == '[' || c == ']' || c == '{' || c == '}' || c == '\\')
            quoted += std::string("\\") + c;
        else
            quoted += c;
    }
    return quoted + "\"";
}

std::string octal(unsigned mode)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04o", mode & 07777);
    return buffer;
}

// The build tree's cache of what the tests make again and again, or
// nothing when TALIRO_TEST_RPM_CACHE is "off".
std::optional<fs::path> cacheDirectory()
{
    std::string directory = TESTKIT_RPM_CACHE;
    if (const char* chosen = std::getenv("TALIRO_TEST_RPM_CACHE"))
        directory = chosen;
    if (directory.empty() || directory == "off")
        return std::nullopt;
    return fs::path(directory);
}

std::string sha256Hex(const std::string& bytes)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    ::SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    std::string hex;
    for (unsigned char byte : digest) {
        static constexpr char kHex[] = "0123456789abcdef";
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

// Packages built before in this build tree, by the SHA-256 of everything
// that goes into one: the spec file, each staged entry and rpmbuild's own
// command line, with the paths of the temporary build tree taken out. Test
// programs run once per test, and many tests build the same package; a copy
// of the earlier build stands in for rpmbuild's second run. Each caller gets
// a copy of its own to change as it likes. TALIRO_TEST_RPM_CACHE names
// another directory, or "off" for none.
class PackageCache {
public:
    static std::optional<PackageCache> forBuild(const Package& package, const std::string& spec,
                                                const std::vector<std::string>& command, const std::string& top)
    {
        const std::optional<fs::path> directory = cacheDirectory();
        if (!directory)
            return std::nullopt;

        // An rpm upgrade builds packages anew.
        struct stat tool {};
        ::stat("/usr/bin/rpmbuild", &tool);
        std::string key = "1\n" + std::to_string(tool.st_mtime) + "\n" + withoutTop(spec, top);
        for (const std::string& word : command)
            key += withoutTop(word, top) + '\0';
        for (const Entry& e : package.entries) {
            key += std::to_string(static_cast<int>(e.kind)) + '\0' + e.path + '\0' + e.target + '\0'
                + std::to_string(e.content.size()) + '\0' + e.content;
        }
        return PackageCache(*directory / sha256Hex(key));
    }

    // The cached package copied into `workDir`, if there is one.
    std::optional<std::string> copyTo(const std::string& workDir) const
    {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(m_entry, ec)) {
            const std::string result = workDir + "/" + entry.path().filename().string();
            if (fs::copy_file(entry.path(), result, fs::copy_options::overwrite_existing, ec))
                return result;
        }
        return std::nullopt;
    }

    // Keeps a copy of a fresh build. Several test processes may build the
    // same package at once: each fills a directory of its own and the first
    // rename wins.
    void store(const std::string& package) const
    {
        std::error_code ec;
        const fs::path staging = m_entry.string() + ".tmp" + std::to_string(::getpid());
        fs::create_directories(staging, ec);
        if (!ec && fs::copy_file(package, staging / fs::path(package).filename(), ec))
            fs::rename(staging, m_entry, ec);
        fs::remove_all(staging, ec);
    }

private:
    explicit PackageCache(fs::path entry) : m_entry(std::move(entry)) {}

    static std::string withoutTop(std::string text, const std::string& top)
    {
        for (std::size_t at = text.find(top); at != std::string::npos; at = text.find(top, at))
            text.replace(at, top.size(), "@TOP@");
        return text;
    }

    fs::path m_entry;
};

} // namespace

std::string buildRpm(const Package& package, const std::string& workDir)
{
    const std::string top = workDir + "/rpmbuild-" + package.name;
    const std::string stage = top + "/stage";
    fs::remove_all(top);
    fs::create_directories(stage);
    for (const char* sub : {"BUILD", "RPMS", "SPECS", "SOURCES", "SRPMS", "BUILDROOT"})
        fs::create_directories(top + "/" + sub);

    // The staged tree is copied into the build root by %install; modes and
    // owners come from %attr, so the staged files only need to be readable.
    for (const Entry& e : package.entries) {
        const std::string staged = stage + e.path;
        fs::create_directories(fs::path(staged).parent_path());
        switch (e.kind) {
        case Entry::Kind::File:
            writeFile(staged, e.content, 0644);
            break;
        case Entry::Kind::Directory:
            fs::create_directories(staged);
            break;
        case Entry::Kind::Symlink:
            fs::create_symlink(e.target, staged);
            break;
        case Entry::Kind::HardLink:
            fs::create_hard_link(stage + e.target, staged);
            break;
        case Entry::Kind::Fifo:
            if (::mkfifo(staged.c_str(), 0644) != 0)
                throw std::runtime_error("mkfifo failed: " + staged);
            break;
        }
    }

    std::ostringstream spec;
    spec << "Name: " << package.name << "\n"
         << "Version: " << package.version << "\n"
         << "Release: " << package.release << "\n"
         << "Summary: Test package " << package.name << "\n"
         << "License: MIT\n"
         << "AutoReqProv: no\n";
    if (!package.vendor.empty())
        spec << "Vendor: " << package.vendor << "\n";
    if (package.noarch)
        spec << "BuildArch: noarch\n";
    for (const auto& p : package.provides)
        spec << "Provides: " << p << "\n";
    for (const auto& r : package.requirements)
        spec << "Requires: " << r << "\n";
    for (const auto& c : package.conflicts)
        spec << "Conflicts: " << c << "\n";
    for (const auto& o : package.obsoletes)
        spec << "Obsoletes: " << o << "\n";
    spec << "\n%description\nTest package.\n\n"
         << "%install\nmkdir -p %{buildroot}\ncp -a " << stage << "/. %{buildroot}/\n\n";
    for (const auto& [section, body] : package.scripts)
        spec << "%" << section << "\n" << body << "\n\n";
    for (const auto& [section, program] : package.scriptPrograms)
        spec << "%" << section << " -p " << program << "\n\n";
    spec << "%files\n";
    for (const Entry& e : package.entries) {
        if (e.kind == Entry::Kind::Symlink)
            spec << "%attr(-," << e.user << "," << e.group << ") ";
        else
            spec << "%attr(" << octal(e.mode) << "," << e.user << "," << e.group << ") ";
        if (e.kind == Entry::Kind::Directory)
            spec << "%dir ";
        spec << fileListName(e.path) << "\n";
    }

    const std::string specPath = top + "/SPECS/" + package.name + ".spec";
    writeFile(specPath, spec.str());

    // The build root lives below `top`, which goes as a whole afterwards, so
    // rpmbuild's own clean-up is skipped; and the file list names exactly
    // what was staged, so its search for unpackaged files is too. Both
    // halve the time a package takes to build.
    const std::vector<std::string> command = {"rpmbuild", "-bb", "--quiet", "--noclean",
                       "--define", "_topdir " + top,
                       "--define", "__check_files %{nil}",
                       "--define", "_binary_payload " + payloadMacro(package.compressor),
                       "--define", "__os_install_post %{nil}",
                       "--define", "__brp_mangle_shebangs %{nil}",
                       "--define", "_build_id_links none",
                       "--define", "debug_package %{nil}",
                       "--define", "_unpackaged_files_terminate_build 0",
                       "--define", "_source_payload w9.gzdio",
                       "--define", "source_date_epoch_from_changelog 0",
                       specPath};

    const std::optional<PackageCache> cache = PackageCache::forBuild(package, spec.str(), command, top);
    if (cache) {
        if (std::optional<std::string> cached = cache->copyTo(workDir)) {
            fs::remove_all(top);
            return *cached;
        }
    }

    RunResult r = run(command, {{{"LC_ALL", "C"}}, {}, "", "", 600});
    if (r.exitCode != 0)
        throw std::runtime_error("rpmbuild failed:\n" + r.out + r.err + "\nspec file:\n" + spec.str());

    for (const auto& entry : fs::recursive_directory_iterator(top + "/RPMS")) {
        if (entry.is_regular_file() && entry.path().extension() == ".rpm") {
            const std::string result = workDir + "/" + entry.path().filename().string();
            fs::rename(entry.path(), result);
            fs::remove_all(top);
            if (cache)
                cache->store(result);
            return result;
        }
    }
    throw std::runtime_error("rpmbuild produced no package:\n" + r.out + r.err);
}

void compileC(const std::string& source, const std::string& outputPath, const std::vector<std::string>& flags)
{
    // Test programs run once per test, and many tests compile the same
    // program: the build tree keeps each output under the SHA-256 of the
    // compiler, the output's name, the flags and the source.
    std::optional<fs::path> cached;
    if (const std::optional<fs::path> directory = cacheDirectory()) {
        struct stat compiler {};
        ::stat("/usr/bin/cc", &compiler);
        std::string key = "cc 1\n" + std::to_string(compiler.st_mtime) + '\0' + fs::path(outputPath).filename().string();
        for (const std::string& flag : flags)
            key += '\0' + flag;
        key += '\0' + source;
        cached = *directory / ("cc-" + sha256Hex(key));
        std::error_code ec;
        if (fs::copy_file(*cached, outputPath, fs::copy_options::overwrite_existing, ec))
            return;
    }

    const std::string sourcePath = outputPath + ".src.c";
    writeFile(sourcePath, source);
    std::vector<std::string> argv = {"cc", "-o", outputPath, sourcePath};
    argv.insert(argv.end(), flags.begin(), flags.end());
    RunResult r = run(argv);
    fs::remove(sourcePath);
    if (r.exitCode != 0)
        throw std::runtime_error("compiler failed:\n" + r.out + r.err + "\nsource:\n" + source);
    if (cached) {
        // Several test processes may compile the same program at once; the
        // first rename wins, and each copy is whole.
        std::error_code ec;
        fs::create_directories(cached->parent_path(), ec);
        const fs::path staging = cached->string() + ".tmp" + std::to_string(::getpid());
        if (fs::copy_file(outputPath, staging, fs::copy_options::overwrite_existing, ec))
            fs::rename(staging, *cached, ec);
        fs::remove(staging, ec);
    }
}

} // namespace TestKit
