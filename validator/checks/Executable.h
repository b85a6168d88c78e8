#pragma once

#include "core/IValidator.h"

#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace Validator {

class IElfReader;

// Every executable of the package and, above all, the main executable
// (binDir + package name): ELF format and byte order, location, needed
// libraries, run paths, the symbols the launcher relies on, and QML imports
// compiled into read-only data. Per-file facts are kept as logger flags that
// the final step turns into findings.
class Executable final : public IValidator {
public:
    using IValidator::IValidator;

    bool accepts(const std::string& path, const std::string& fullPath) override;
    void validate(const std::string& path, const std::string& fullPath) override;
    void finish() override;

    // The run path elements the main executable of package `name` may have,
    // each also with further components ("/usr/lib/sub"), none of them "..".
    static std::vector<std::string> allowedRunPaths(const std::string& name);
    // Whether a profile's applications have a main executable whose
    // existence, symbols and run path the final step judges.
    static bool checksMainBinary(const Config& config);

private:
    void checkLibraries();
    void checkSearchPath();
    void checkSymbols();
    void checkLocation();
    void checkCompiledImports();
    using PathSet = std::unordered_set<std::string_view>;
    bool packageShipsLibrary(const std::string& library, const PathSet& paths) const;
    bool ownerExecutable() const;

    std::string m_path;
    std::string m_fullPath;
    std::shared_ptr<IElfReader> m_reader;
};

} // namespace Validator
