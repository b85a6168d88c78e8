#include "app/report/Baseline.h"

#include "common/PosixIo.h"
#include "common/UniqueFd.h"
#include "common/VisibleText.h"

#include <boost/json.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Validator {

namespace {

struct BaselineFinding {
    std::string rule;
    std::vector<std::string> arguments;
};

struct Entry {
    std::string package;  // the header's name, raw
    BaselineFinding finding;
};

const boost::json::string* stringField(const boost::json::object& object, std::string_view key)
{
    const boost::json::value* value = object.if_contains(key);
    return value ? value->if_string() : nullptr;
}

class BaselineParser {
public:
    // False with `error` set at the first line that is not a report record.
    bool line(std::string_view text, std::size_t number, std::string& error)
    {
        if (text.find_first_not_of(" \t\r") == std::string_view::npos)
            return true;
        const auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        boost::system::error_code ec;
        const boost::json::value value = boost::json::parse(text, ec);
        if (ec)
            return fail("not JSON (" + ec.message() + ")");
        const boost::json::object* object = value.if_object();
        if (!object)
            return fail("not a JSON object");
        const boost::json::string* type = stringField(*object, "type");
        if (!type)
            return fail("no \"type\" string");
        if (*type == "finding")
            return finding(*object, fail);
        if (*type == "package")
            return package(*object, fail);
        return true;
    }

    // Findings of a package whose record never came (a report cut short)
    // name no package, and are dropped.
    std::vector<Entry> take() { return std::move(m_entries); }

private:
    template <typename Fail>
    bool finding(const boost::json::object& object, const Fail& fail)
    {
        const boost::json::string* package = stringField(object, "package");
        const boost::json::string* rule = stringField(object, "rule");
        const boost::json::string* severity = stringField(object, "severity");
        const boost::json::value* args = object.if_contains("args");
        if (!package || !rule || !severity)
            return fail("a finding without \"package\", \"rule\" and \"severity\" strings (a report of an older vetrik?)");
        if (!args || !args->is_array())
            return fail("a finding without an \"args\" array");
        BaselineFinding read {std::string(*rule), {}};
        for (const boost::json::value& argument : args->get_array()) {
            if (!argument.is_string())
                return fail("an argument that is no string");
            read.arguments.push_back(Common::fromVisibleText(argument.get_string()));
        }
        if (*severity == "critical")
            return true;
        m_pending[std::string(*package)].push_back(std::move(read));
        return true;
    }

    template <typename Fail>
    bool package(const boost::json::object& object, const Fail& fail)
    {
        const boost::json::string* package = stringField(object, "package");
        const boost::json::value* name = object.if_contains("name");
        if (!package)
            return fail("a package without a \"package\" string");
        if (!name || !(name->is_string() || name->is_null()))
            return fail("a package without a \"name\" string or null (a report of an older vetrik?)");
        const auto pending = m_pending.find(std::string(*package));
        if (pending == m_pending.end())
            return true;
        // A package without a header had no checks, so no findings to name.
        if (name->is_string()) {
            const std::string raw = Common::fromVisibleText(name->get_string());
            for (BaselineFinding& finding : pending->second)
                m_entries.push_back({raw, std::move(finding)});
        }
        m_pending.erase(pending);
        return true;
    }

    std::map<std::string, std::vector<BaselineFinding>> m_pending;  // by the report's package field
    std::vector<Entry> m_entries;
};

} // namespace

bool readBaseline(const std::string& path, FindingAcceptance& acceptance, std::string& error)
{
    // Without blocking: a named pipe would otherwise wait for a writer.
    Common::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return false;
    }
    const std::string tooLarge = "larger than " + std::to_string(kMaxBaselineBytes >> 20) + " MiB";
    if (static_cast<std::uint64_t>(st.st_size) > kMaxBaselineBytes) {
        error = tooLarge;
        return false;
    }

    BaselineParser parser;
    std::string line;
    std::size_t number = 1;
    std::size_t total = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = Common::retryOnInterrupt([&] { return ::read(fd.get(), buffer, sizeof buffer); });
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0)
            break;
        // The file may have grown since it was measured.
        total += static_cast<std::size_t>(n);
        if (total > kMaxBaselineBytes) {
            error = tooLarge;
            return false;
        }
        std::string_view chunk(buffer, static_cast<std::size_t>(n));
        while (!chunk.empty()) {
            const std::size_t newline = chunk.find('\n');
            line.append(chunk.substr(0, newline));
            if (line.size() > kMaxBaselineLineBytes) {
                error = "line " + std::to_string(number) + " is longer than "
                    + std::to_string(kMaxBaselineLineBytes >> 20) + " MiB";
                return false;
            }
            if (newline == std::string_view::npos)
                break;
            if (!parser.line(line, number, error))
                return false;
            line.clear();
            ++number;
            chunk.remove_prefix(newline + 1);
        }
    }
    if (!parser.line(line, number, error))
        return false;
    for (Entry& entry : parser.take())
        acceptance.acceptFromBaseline(entry.package, entry.finding.rule, entry.finding.arguments);
    return true;
}

} // namespace Validator
