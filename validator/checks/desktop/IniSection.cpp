#include "checks/desktop/IniSection.h"

#include "deskinfo/ManifestEntry.h"
#include "package/PackagedFile.h"

#include <boost/property_tree/ini_parser.hpp>

#include <algorithm>
#include <istream>
#include <memory>
#include <streambuf>
#include <unordered_set>

namespace Validator {

namespace {

// The part of boost::property_tree::ptree that read_ini uses: default and
// data construction, empty, find/not_found, push_back returning an
// iterator, pop_back and swap. The root records section names (and keys
// before any section, which share their name space); a section records its
// key names. Only the newest child is held: read_ini never goes back to an
// earlier one, and a name given again is an error whatever it held. The
// entries of the section named `Section` are kept.
//
// read_ini builds a tree of its own and swaps it into the caller's at the
// end, so what to keep cannot be handed to the object: it is part of the
// type.
template <const char* Section>
class IniDigest {
public:
    using key_type = std::string;
    using data_type = std::string;
    using value_type = std::pair<const std::string, IniDigest>;
    using iterator = value_type*;
    struct Lookup {
        bool found;
        bool operator!=(const Lookup& other) const { return found != other.found; }
    };

    IniDigest() = default;
    explicit IniDigest(const data_type& data) : m_data(data) {}

    bool empty() const { return m_names.empty(); }
    Lookup find(const key_type& name) const { return {m_names.count(name) != 0}; }
    Lookup not_found() const { return {false}; }

    iterator push_back(value_type&& entry)
    {
        m_names.insert(entry.first);
        if (m_kept)
            m_entries.emplace_back(entry.first, std::move(entry.second.m_data));
        collectNewest();
        m_newest = std::make_unique<value_type>(std::move(entry));
        IniDigest& child = m_newest->second;
        child.m_data.clear();
        child.m_depth = m_depth + 1;
        child.m_kept = child.m_depth == 1 && m_newest->first == Section;
        return m_newest.get();
    }

    // Only ever called to drop a section that stayed empty.
    void pop_back()
    {
        m_names.erase(m_newest->first);
        m_newest.reset();
    }

    void swap(IniDigest& other) noexcept
    {
        std::swap(m_names, other.m_names);
        std::swap(m_newest, other.m_newest);
        std::swap(m_entries, other.m_entries);
        std::swap(m_data, other.m_data);
        std::swap(m_depth, other.m_depth);
        std::swap(m_kept, other.m_kept);
    }

    // The kept section's entries, once reading is over.
    IniEntries takeEntries()
    {
        collectNewest();
        return std::move(m_entries);
    }

private:
    // Before the newest section is replaced, the kept one hands its entries
    // to the root.
    void collectNewest()
    {
        if (m_newest && m_newest->second.m_kept)
            m_entries = std::move(m_newest->second.m_entries);
    }

    std::unordered_set<std::string> m_names;
    std::unique_ptr<value_type> m_newest;
    IniEntries m_entries;
    data_type m_data;
    int m_depth = 0;
    bool m_kept = false;
};

// A packaged file as a stream of lines for the INI reader, with the value
// of every key line left out unless its key is in `valuesOf`: what decides
// the reader's verdict (comments, section lines, keys, the "=") passes
// unchanged, so a value the checker never looks at is never held.
//
// The stream ends early, and the read fails, at the first section line or
// key line beyond the desktop-entry layer's limits: the digest holds every
// section name, so a file it may read must be one the layer would take.
// Lines are told apart as the reader does (";" too begins a comment), so
// that what is counted is what the digest holds.
class KeyLineFilter : public std::streambuf {
public:
    KeyLineFilter(PackagedFile& file, const std::vector<std::string>& valuesOf) : m_file(file), m_valuesOf(valuesOf) {}
    bool failed() const { return m_failed || m_beyondLimits; }

protected:
    int_type underflow() override
    {
        std::size_t produced = 0;
        while (produced == 0) {
            if (m_at == m_filled) {
                const ssize_t n = m_file.read(m_in, sizeof m_in);
                if (n <= 0) {
                    m_failed = m_failed || n < 0;
                    return traits_type::eof();
                }
                m_at = 0;
                m_filled = static_cast<std::size_t>(n);
            }
            while (m_at < m_filled && produced < sizeof m_out && !m_beyondLimits)
                produced += step(m_in[m_at++], m_out + produced);
            if (m_beyondLimits)
                return traits_type::eof();
        }
        setg(m_out, m_out, m_out + produced);
        return traits_type::to_int_type(m_out[0]);
    }

private:
    enum class State { LineStart, PassLine, Key, SkipValue };
    static constexpr std::size_t kLongestKey = 64;

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

    // The wanted keys hold no blank, so only a key that has none inside,
    // less the blanks the reader trims, can be one.
    bool keyWanted() const
    {
        return m_keyFits && std::find(m_valuesOf.begin(), m_valuesOf.end(), m_key) != m_valuesOf.end();
    }

    // Consumes one input byte; returns how many bytes it wrote to `out`.
    std::size_t step(char c, char* out)
    {
        if (c == '\n') {
            m_state = State::LineStart;
            *out = c;
            return 1;
        }
        switch (m_state) {
        case State::LineStart:
            // The reader trims lines, so leading blanks may go.
            if (isSpace(c))
                return 0;
            if (c == '[' && ++m_sections > AppManifest::ManifestEntry::kMaxGroups) {
                m_beyondLimits = true;
                return 0;
            }
            if (c == '[' || c == ';' || c == '#') {
                m_state = State::PassLine;
            } else {
                if (++m_keys > AppManifest::ManifestEntry::kMaxKeys) {
                    m_beyondLimits = true;
                    return 0;
                }
                m_state = State::Key;
                m_key.clear();
                m_keyFits = true;
                m_blankAfterKey = false;
                return keyByte(c, out);
            }
            break;
        case State::PassLine:
            break;
        case State::Key:
            return keyByte(c, out);
        case State::SkipValue:
            return 0;
        }
        *out = c;
        return 1;
    }

    std::size_t keyByte(char c, char* out)
    {
        if (c == '=')
            m_state = keyWanted() ? State::PassLine : State::SkipValue;
        else if (isSpace(c))
            m_blankAfterKey = true;
        else if (m_blankAfterKey || m_key.size() == kLongestKey)
            m_keyFits = false;
        else
            m_key += c;
        *out = c;
        return 1;
    }

    PackagedFile& m_file;
    const std::vector<std::string>& m_valuesOf;
    char m_in[65536];
    char m_out[65536];
    std::size_t m_at = 0;
    std::size_t m_filled = 0;
    State m_state = State::LineStart;
    std::string m_key;
    bool m_keyFits = true;
    bool m_blankAfterKey = false;
    bool m_failed = false;
    std::size_t m_sections = 0;
    std::size_t m_keys = 0;
    bool m_beyondLimits = false;
};

} // namespace

std::optional<IniEntries> readCapabilitiesSection(PackagedFile& file, const std::vector<std::string>& valuesOf)
{
    if (file.size() > AppManifest::ManifestEntry::kMaxFileBytes)
        return std::nullopt;
    KeyLineFilter filter(file, valuesOf);
    std::istream stream(&filter);
    IniDigest<kCapabilitiesGroup> root;
    try {
        boost::property_tree::ini_parser::read_ini(stream, root);
    } catch (const boost::property_tree::ptree_error&) {
        return std::nullopt;
    }
    if (filter.failed())
        return std::nullopt;
    return root.takeEntries();
}

} // namespace Validator
