#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace Validator {

class PackagedFile;

// Reads the import statements at the head of a QML file: on each line,
// "import" followed by something other than a letter, the module (a run of
// letters, digits and dots, or a double-quoted directory) and an optional
// version (digits and dots); several statements may share a line, separated
// by ";". Reading ends after the first line that holds a "{".
//
// The file is fed in pieces of any size and never held whole, so that a
// file of hundreds of megabytes on one line, or without any "{", costs no
// more memory than a small one. For the same reason a module or version is
// kept to its first kMaxTokenBytes bytes (no real module name comes near,
// and the profile's lists classify a longer one by its prefix alike), and
// reading stops after kMaxImports different imports.
class QmlImportReader {
public:
    static constexpr std::size_t kMaxTokenBytes = 4096;
    static constexpr std::size_t kMaxImports = 1000;

    // Returns false once reading is over; further input is ignored.
    bool feed(std::string_view bytes);
    // The end of the file, which ends its last line.
    void finish();

    // "module version", or "module" alone, in the order first read, each once.
    const std::vector<std::string>& imports() const { return m_imports; }

private:
    enum class State {
        Separators,   // skipping white space and ";"
        Keyword,      // matching "import"
        KeywordEnd,   // "import" matched: what follows decides
        ModuleStart,  // skipping white space before the module
        NameModule,
        QuotedModule,
        VersionStart, // skipping white space before the version
        Version,
        RestOfLine,   // nothing more to read on this line
        Done,
    };

    void step(char c);
    void endLine();
    void addImport();
    static void append(std::string& token, char c);

    State m_state = State::Separators;
    std::size_t m_matched = 0;
    bool m_lineHasBrace = false;
    std::string m_module;
    std::string m_version;
    std::vector<std::string> m_imports;
    std::unordered_set<std::string> m_seen;
};

// The imports of a whole file, read in blocks.
std::vector<std::string> readQmlImports(PackagedFile& file);

} // namespace Validator
