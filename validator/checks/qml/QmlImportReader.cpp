#include "checks/qml/QmlImportReader.h"

#include "package/PackagedFile.h"

namespace Validator {

namespace {

constexpr std::string_view kKeyword = "import";

// What a text stream takes for white space, less the newline that ends a line.
bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// Bytes of multi-byte UTF-8 characters count as letters, so that a word
// such as "importé" is not taken for the keyword and a module name keeps
// its characters whole.
bool isLetter(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || byte >= 0x80;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isModuleCharacter(char c)
{
    return isLetter(c) || isDigit(c) || c == '.';
}

bool isVersionCharacter(char c)
{
    return isDigit(c) || c == '.';
}

} // namespace

void QmlImportReader::append(std::string& token, char c)
{
    if (token.size() < kMaxTokenBytes)
        token.push_back(c);
}

bool QmlImportReader::feed(std::string_view bytes)
{
    for (const char c : bytes) {
        if (m_state == State::Done)
            return false;
        if (c == '\n') {
            endLine();
            continue;
        }
        if (c == '{')
            m_lineHasBrace = true;
        step(c);
    }
    return m_state != State::Done;
}

void QmlImportReader::finish()
{
    if (m_state != State::Done)
        endLine();
    m_state = State::Done;
}

// One character of a line. A state that ends at a character hands that
// character on to the next state, as the statement grammar reads on from it.
void QmlImportReader::step(char c)
{
    for (;;) {
        switch (m_state) {
        case State::Separators:
            if (isSpace(c) || c == ';')
                return;
            m_state = State::Keyword;
            m_matched = 0;
            continue;
        case State::Keyword:
            if (c != kKeyword[m_matched]) {
                m_state = State::RestOfLine;
                return;
            }
            if (++m_matched == kKeyword.size())
                m_state = State::KeywordEnd;
            return;
        case State::KeywordEnd:
            if (isLetter(c)) {
                m_state = State::RestOfLine;
                return;
            }
            m_module.clear();
            m_version.clear();
            m_state = State::ModuleStart;
            continue;
        case State::ModuleStart:
            if (isSpace(c))
                return;
            if (c == '"') {
                append(m_module, c);
                m_state = State::QuotedModule;
                return;
            }
            m_state = State::NameModule;
            continue;
        case State::NameModule:
            if (isModuleCharacter(c)) {
                append(m_module, c);
                return;
            }
            m_state = State::VersionStart;
            continue;
        case State::QuotedModule:
            append(m_module, c);
            if (c == '"')
                m_state = State::VersionStart;
            return;
        case State::VersionStart:
            if (isSpace(c))
                return;
            m_state = State::Version;
            continue;
        case State::Version:
            if (isVersionCharacter(c)) {
                append(m_version, c);
                return;
            }
            addImport();
            if (m_state == State::Done)
                return;
            m_state = State::Separators;
            continue;
        case State::RestOfLine:
        case State::Done:
            return;
        }
    }
}

void QmlImportReader::endLine()
{
    switch (m_state) {
    case State::ModuleStart:
    case State::NameModule:
    case State::QuotedModule:
    case State::VersionStart:
    case State::Version:
        addImport();
        break;
    default:
        break;
    }
    if (m_state == State::Done)
        return;
    // Imports belong to the file's header, which ends with the line that
    // opens the first object.
    m_state = m_lineHasBrace ? State::Done : State::Separators;
    m_lineHasBrace = false;
}

void QmlImportReader::addImport()
{
    // "import" followed by nothing but white space names no module.
    if (m_module.empty())
        return;
    std::string entry = m_version.empty() ? m_module : m_module + " " + m_version;
    if (m_seen.insert(entry).second) {
        m_imports.push_back(std::move(entry));
        if (m_imports.size() >= kMaxImports)
            m_state = State::Done;
    }
    m_module.clear();
    m_version.clear();
}

std::vector<std::string> readQmlImports(PackagedFile& file)
{
    QmlImportReader reader;
    // Small blocks: a header is a few hundred bytes, after which the rest of
    // the block is read for nothing.
    char block[8192];
    for (;;) {
        const ssize_t n = file.read(block, sizeof block);
        if (n <= 0 || !reader.feed(std::string_view(block, static_cast<std::size_t>(n))))
            break;
    }
    reader.finish();
    return reader.imports();
}

} // namespace Validator
