#include "Fixtures.h"

#include "Png.h"

namespace TestKit {

std::string compileMainBinary(const std::string& name, const std::string& workDir,
                              const std::vector<std::string>& extraFlags)
{
    const std::string output = workDir + "/" + name + ".bin";
    std::vector<std::string> flags = {"-O1", "-rdynamic", "-Wl,--disable-new-dtags",
                                      "-Wl,-rpath,/usr/share/" + name + "/lib"};
    flags.insert(flags.end(), extraFlags.begin(), extraFlags.end());
    compileC("#include <stdio.h>\nint main(void) { puts(\"hello\"); return 0; }\n", output, flags);
    return readFile(output);
}

Package validApplication(const std::string& name, const std::string& workDir)
{
    Package package;
    package.name = name;
    package.noarch = false;
    package.entries = {
        file("/usr/bin/" + name, compileMainBinary(name, workDir), 0755),
        directory("/usr/share/" + name),
        file("/usr/share/" + name + "/data.txt", "some data\n"),
    };
    for (Entry& icon : launcherIcons(name))
        package.entries.push_back(std::move(icon));
    return package;
}

} // namespace TestKit
