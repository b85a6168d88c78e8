#include "deskinfo/ManifestEntry.h"

#include <glib.h>

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace AppManifest {

namespace {

template <auto FreeFunction>
struct GFree {
    template <typename T>
    void operator()(T* object) const noexcept { FreeFunction(object); }
};
using GCharPtr = std::unique_ptr<gchar, GFree<g_free>>;
using GStrvPtr = std::unique_ptr<gchar*, GFree<g_strfreev>>;
using GErrorPtr = std::unique_ptr<GError, GFree<g_error_free>>;

constexpr const char* kDesktopEntry = "Desktop Entry";
// In the order in which a later one wins over an earlier one.
constexpr const char* kSandboxSections[] = {"X-Application", "X-Tervane", "Tervane"};

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// The bytes of a regular file, at most the size it had when opened. A FIFO
// would block in open without O_NONBLOCK, and a device such as /dev/zero
// never ends, so anything but a regular file is refused before a byte is
// read.
std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes)
{
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0
        || static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return std::nullopt;
    std::string data(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t filled = 0;
    while (filled < data.size()) {
        const ssize_t n = ::read(fd.get(), data.data() + filled, data.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    data.resize(filled);
    return data;
}

std::vector<std::string> toVector(gchar** strings, gsize count)
{
    const GStrvPtr owned(strings);
    std::vector<std::string> out;
    if (!strings)
        return out;
    out.reserve(count);
    for (gsize i = 0; i < count; ++i)
        out.emplace_back(strings[i]);
    return out;
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

} // namespace

void ManifestEntry::KeyFileFree::operator()(GKeyFile* keyFile) const noexcept
{
    g_key_file_free(keyFile);
}

std::optional<ManifestEntry> ManifestEntry::fromFilename(const std::string& path)
{
    KeyFilePtr keyFile(g_key_file_new());
    {
        // The bytes are released as soon as GKeyFile holds what it parsed,
        // so a large file is in memory twice only while it is being parsed.
        const std::optional<std::string> data = readRegularFile(path, kMaxFileBytes);
        if (!data)
            return std::nullopt;
        GError* rawError = nullptr;
        // Translations are kept: without them, which localised keys a group
        // lists would depend on the locale vetrik runs in.
        const gboolean loaded = g_key_file_load_from_data(keyFile.get(), data->data(), data->size(),
                                                          G_KEY_FILE_KEEP_TRANSLATIONS, &rawError);
        const GErrorPtr error(rawError);
        if (!loaded)
            return std::nullopt;
    }
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
    const GErrorPtr error(rawError);
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
    const GErrorPtr error(rawError);
    return found;
}

std::string ManifestEntry::value(const std::string& group, const std::string& key) const
{
    GError* rawError = nullptr;
    const GCharPtr raw(g_key_file_get_value(m_keyFile.get(), group.c_str(), key.c_str(), &rawError));
    const GErrorPtr error(rawError);
    return raw ? std::string(raw.get()) : std::string();
}

std::string ManifestEntry::value(const std::string& key) const
{
    return value(kDesktopEntry, key);
}

std::vector<std::string> ManifestEntry::stringVectorValue(const std::string& group, const std::string& key) const
{
    gsize count = 0;
    GError* rawError = nullptr;
    gchar** items = g_key_file_get_string_list(m_keyFile.get(), group.c_str(), key.c_str(), &count, &rawError);
    const GErrorPtr error(rawError);
    if (items || !contains(group, key))
        return toVector(items, count);
    return splitRefusedList(value(group, key));
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
