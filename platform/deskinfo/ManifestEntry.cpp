#include "deskinfo/ManifestEntry.h"

#include "common/GlibHandles.h"
#include "common/PosixIo.h"
#include "common/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace AppManifest {

namespace {

using Common::Glib::ErrorHandle;
using Common::Glib::StringHandle;
using Common::Glib::StrvHandle;

constexpr const char* kDesktopEntry = "Desktop Entry";
// In the order in which a later one wins over an earlier one.
constexpr const char* kSandboxSections[] = {"X-Application", "X-Tervane", "Tervane"};

std::vector<std::string> toVector(gchar** strings, gsize count)
{
    const StrvHandle owned(strings);
    std::vector<std::string> out;
    if (!strings)
        return out;
    out.reserve(count);
    for (gsize i = 0; i < count; ++i)
        out.emplace_back(strings[i]);
    return out;
}

// Whether the raw value holds an escape GKeyFile does not know, or ends in
// a lone backslash. GKeyFile refuses such a list, and for some of them (an
// unknown escape, then a final backslash) it also sets one error over
// another and warns on standard error, so they are never given to it.
bool hasUnknownEscape(std::string_view raw)
{
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\')
            continue;
        if (++i == raw.size() || std::string_view("sntr\\;").find(raw[i]) == std::string_view::npos)
            return true;
    }
    return false;
}

// GKeyFile's list syntax applied to a value GKeyFile itself refuses to
// split: one that is not UTF-8, or that holds an escape GKeyFile does not
// know. Such a list is still split where GKeyFile would split it, and the
// bytes GKeyFile could not interpret are kept as written, so that its items
// are judged like any other instead of the whole list counting as absent.
std::vector<std::string> splitRefusedList(std::string_view raw)
{
    std::vector<std::string> items;
    std::string item;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == ';') {
            items.push_back(std::move(item));
            item.clear();
        } else if (c != '\\' || i + 1 == raw.size()) {
            item += c;
        } else {
            const char escaped = raw[++i];
            switch (escaped) {
            case 's': item += ' '; break;
            case 'n': item += '\n'; break;
            case 't': item += '\t'; break;
            case 'r': item += '\r'; break;
            case '\\': item += '\\'; break;
            case ';': item += ';'; break;
            default: item += '\\'; item += escaped; break;
            }
        }
    }
    // Like GKeyFile: a last item is one only when it is not empty, so
    // "a;b;" holds two items and ";" one empty item.
    if (!item.empty())
        items.push_back(std::move(item));
    return items;
}

// The file's bytes from its start, whatever the descriptor's position, no
// more than `size` of them: the size it had when it was checked. Files of
// the kernel's pseudo file systems say they are empty and may never end
// (/proc/self/pagemap), so they are read as empty; one that would block
// (/proc/kmsg) is refused.
std::optional<std::string> readAtMost(int fd, std::size_t size)
{
    std::string text(size, '\0');
    const ssize_t filled = Common::readFull(fd, text.data(), size, 0);
    if (filled < 0)
        return std::nullopt;
    text.resize(static_cast<std::size_t>(filled));
    return text;
}

// Whether the text keeps to the group and key limits, counted as GKeyFile
// splits and sorts its lines: at line feeds, leading blanks skipped; a line
// then empty or beginning with "#" (or with a NUL, where GKeyFile's C
// strings end) is a comment, which GKeyFile drops; one beginning with "["
// opens a group; any other holds a key. A line that GKeyFile refuses makes
// the whole file refused, so counting it does no harm; one beginning with
// "[" that GKeyFile takes for a key counts as a group, so that the two
// limits together bound everything it holds.
bool withinLimits(std::string_view text)
{
    std::size_t groups = 0;
    std::size_t keys = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::size_t first = start;
        while (first < end && g_ascii_isspace(text[first]))
            ++first;
        if (first < end && text[first] != '#' && text[first] != '\0') {
            if (text[first] == '[' ? ++groups > ManifestEntry::kMaxGroups : ++keys > ManifestEntry::kMaxKeys)
                return false;
        }
        start = end + 1;
    }
    return true;
}

} // namespace

void ManifestEntry::KeyFileFree::operator()(GKeyFile* keyFile) const noexcept
{
    g_key_file_free(keyFile);
}

std::optional<ManifestEntry> ManifestEntry::fromFilename(const std::string& path)
{
    // A FIFO would block in open without O_NONBLOCK, and a device such as
    // /dev/zero never ends, so anything but a regular file is refused before
    // a byte is read.
    const Common::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return std::nullopt;
    return fromDescriptor(fd.get());
}

std::optional<ManifestEntry> ManifestEntry::fromDescriptor(int fd)
{
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0
        || static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes)
        return std::nullopt;
    // Counted and parsed from one copy, so that GKeyFile parses exactly the
    // bytes that were found within the limits.
    const std::optional<std::string> text = readAtMost(fd, static_cast<std::size_t>(st.st_size));
    if (!text || !withinLimits(*text))
        return std::nullopt;
    KeyFilePtr keyFile(g_key_file_new());
    // Translations are kept: without them, which localised keys a group
    // lists would depend on the locale vetrik runs in.
    GError* rawError = nullptr;
    const gboolean loaded
        = g_key_file_load_from_data(keyFile.get(), text->data(), text->size(), G_KEY_FILE_KEEP_TRANSLATIONS, &rawError);
    const ErrorHandle error(rawError);
    if (!loaded)
        return std::nullopt;
    return ManifestEntry(std::move(keyFile));
}

std::vector<std::string> ManifestEntry::groups() const
{
    gsize count = 0;
    gchar** names = g_key_file_get_groups(m_keyFile.get(), &count);
    return toVector(names, count);
}

std::vector<std::string> ManifestEntry::groupKeys(const std::string& group) const
{
    gsize count = 0;
    GError* rawError = nullptr;
    gchar** keys = g_key_file_get_keys(m_keyFile.get(), group.c_str(), &count, &rawError);
    const ErrorHandle error(rawError);
    return toVector(keys, count);
}

bool ManifestEntry::containsGroup(const std::string& group) const
{
    return g_key_file_has_group(m_keyFile.get(), group.c_str());
}

bool ManifestEntry::contains(const std::string& group, const std::string& key) const
{
    GError* rawError = nullptr;
    const gboolean found = g_key_file_has_key(m_keyFile.get(), group.c_str(), key.c_str(), &rawError);
    const ErrorHandle error(rawError);
    return found;
}

std::string ManifestEntry::value(const std::string& group, const std::string& key) const
{
    GError* rawError = nullptr;
    const StringHandle raw(g_key_file_get_value(m_keyFile.get(), group.c_str(), key.c_str(), &rawError));
    const ErrorHandle error(rawError);
    return raw ? std::string(raw.get()) : std::string();
}

void ManifestEntry::viewValue(const std::string& group, const std::string& key,
                              const std::function<void(std::string_view)>& look) const
{
    GError* rawError = nullptr;
    const StringHandle raw(g_key_file_get_value(m_keyFile.get(), group.c_str(), key.c_str(), &rawError));
    const ErrorHandle error(rawError);
    look(raw ? std::string_view(raw.get()) : std::string_view());
}

std::string ManifestEntry::value(const std::string& key) const
{
    return value(kDesktopEntry, key);
}

std::vector<std::string> ManifestEntry::stringVectorValue(const std::string& group, const std::string& key) const
{
    if (!contains(group, key))
        return {};
    const std::string raw = value(group, key);
    if (hasUnknownEscape(raw))
        return splitRefusedList(raw);
    gsize count = 0;
    GError* rawError = nullptr;
    gchar** items = g_key_file_get_string_list(m_keyFile.get(), group.c_str(), key.c_str(), &count, &rawError);
    const ErrorHandle error(rawError);
    if (items || !error)
        return toVector(items, count);
    return splitRefusedList(raw);
}

std::string ManifestEntry::nameUnlocalized() const
{
    return value("Name");
}

std::string ManifestEntry::exec() const
{
    return value("Exec");
}

std::string ManifestEntry::icon() const
{
    return value("Icon");
}

std::string ManifestEntry::type() const
{
    return value("Type");
}

std::string ManifestEntry::sandboxSection() const
{
    std::string section;
    for (const char* candidate : kSandboxSections) {
        if (containsGroup(candidate))
            section = candidate;
    }
    return section;
}

std::string ManifestEntry::appName() const
{
    return value(sandboxSection(), "ApplicationName");
}

std::string ManifestEntry::appOrgname() const
{
    return value(sandboxSection(), "OrganizationName");
}

std::vector<std::string> ManifestEntry::appPermissions() const
{
    return stringVectorValue(sandboxSection(), "Permissions");
}

} // namespace AppManifest
