#include "Fixtures.h"

#include "Png.h"

#include <map>
#include <mutex>
#include <utility>

namespace TestKit {

std::string compileMainBinary(const std::string& name, const std::string& workDir,
                              const std::vector<std::string>& extraFlags)
{
    // Table-driven tests start every case from the valid application; the
    // compiler gives the same bytes for the same name and flags, so each
    // binary is compiled once per test program.
    static std::mutex guard;
    static std::map<std::pair<std::string, std::vector<std::string>>, std::string> compiled;
    const std::lock_guard lock(guard);
    const auto key = std::make_pair(name, extraFlags);
    if (const auto found = compiled.find(key); found != compiled.end())
        return found->second;

    const std::string output = workDir + "/" + name + ".bin";
    std::vector<std::string> flags = {"-O1", "-rdynamic", "-Wl,--disable-new-dtags",
                                      "-Wl,-rpath,/usr/share/" + name + "/lib"};
    flags.insert(flags.end(), extraFlags.begin(), extraFlags.end());
    compileC("#include <stdio.h>\nint main(void) { puts(\"hello\"); return 0; }\n", output, flags);
    return compiled.emplace(key, readFile(output)).first->second;
}

std::string validDesktopFile(const std::string& name, const std::string& exec)
{
    const std::size_t dot = name.rfind('.');
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Example\n"
           "Icon=" + name + "\n"
           "Exec=" + (exec.empty() ? "/usr/bin/" + name : exec) + "\n"
           "X-Olvex-Application-Type=varnel-qt5\n"
           "\n"
           "[X-Application]\n"
           "OrganizationName=" + name.substr(0, dot) + "\n"
           "ApplicationName=" + name.substr(dot + 1) + "\n"
           "Permissions=Internet\n";
}

void setDesktopFile(Package& package, const std::string& content)
{
    for (Entry& entry : package.entries) {
        if (entry.path == desktopPath(package.name)) {
            entry.content = content;
            return;
        }
    }
    package.entries.push_back(file(desktopPath(package.name), content));
}

Package validApplication(const std::string& name, const std::string& workDir)
{
    Package package;
    package.name = name;
    package.noarch = false;
    package.entries = {
        file("/usr/bin/" + name, compileMainBinary(name, workDir), 0755),
        file(desktopPath(name), validDesktopFile(name)),
        directory("/usr/share/" + name),
        file("/usr/share/" + name + "/data.txt", "some data\n"),
    };
    for (Entry& icon : launcherIcons(name))
        package.entries.push_back(std::move(icon));
    return package;
}

} // namespace TestKit
