#pragma once

// The platform's desktop-entry reader: a desktop file parsed by GLib's
// GKeyFile, and the queries the validators make of it.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _GKeyFile GKeyFile;

namespace AppManifest {

class ManifestEntry {
public:
    // Files beyond these limits are refused as broken, before GKeyFile sees
    // a byte of them. Real desktop entries are a few kilobytes; one
    // translated into every language GNOME or KDE ships (Name, GenericName,
    // Comment and Keywords in some 150 locales, with a few actions) is tens
    // of kilobytes and under two thousand lines, in a handful of groups. So
    // each limit is ten times what the largest real entry needs, or more.
    //
    // They bound what a hostile file costs: GKeyFile holds every group at
    // about 300 bytes (a hash table of its own) and every key at about 100
    // beyond its text, and each group or key may become a finding that is
    // kept, printed and reported: unbounded, a 10 MB file of a million
    // groups would cost some 700 MB.
    static constexpr std::size_t kMaxFileBytes = std::size_t(1) << 20;
    // Lines that open a group (a group opened again counts again).
    static constexpr std::size_t kMaxGroups = 1000;
    // Lines that hold a key, in all groups together; comments and blank
    // lines, which GKeyFile drops, do not count.
    static constexpr std::size_t kMaxKeys = 20000;

    // nullopt when the path does not lead to a regular file (devices and
    // FIFOs are never read), cannot be read, is beyond the limits above,
    // or is not a desktop entry GKeyFile accepts.
    static std::optional<ManifestEntry> fromFilename(const std::string& path);
    // The same from a descriptor the caller opened for reading and still
    // owns, so that the caller decides which file that is (a file of an
    // unpacked package is opened beneath its root). It is read from its
    // start, not from where it stands; the same refusals apply.
    static std::optional<ManifestEntry> fromDescriptor(int fd);

    ManifestEntry(ManifestEntry&&) noexcept = default;
    ManifestEntry& operator=(ManifestEntry&&) noexcept = default;
    ~ManifestEntry() = default;

    // Group names in file order. A group opened twice is one group, at the
    // place it was first opened.
    std::vector<std::string> groups() const;
    // Key names of the group in file order; empty for a missing group.
    std::vector<std::string> groupKeys(const std::string& group) const;
    bool containsGroup(const std::string& group) const;
    bool contains(const std::string& group, const std::string& key) const;
    // The raw value, escapes and bytes as written; empty when missing.
    std::string value(const std::string& group, const std::string& key) const;
    // A key of "Desktop Entry".
    std::string value(const std::string& key) const;
    // Shows the raw value to `look` without copying it (empty when missing):
    // a value of any size is then held once beside the key file, so that a
    // huge Name costs no more than loading the file did.
    void viewValue(const std::string& group, const std::string& key,
                   const std::function<void(std::string_view)>& look) const;
    // The value split into its ";"-separated items with escapes resolved;
    // empty when missing.
    std::vector<std::string> stringVectorValue(const std::string& group, const std::string& key) const;

    std::string nameUnlocalized() const;
    std::string exec() const;
    std::string icon() const;
    std::string type() const;

    // Keys of the sandbox section. When a file has several of
    // "X-Application", "X-Tervane" and "Tervane", the later one in this
    // order is read.
    std::string appName() const;
    std::string appOrgname() const;
    std::vector<std::string> appPermissions() const;

private:
    struct KeyFileFree {
        void operator()(GKeyFile* keyFile) const noexcept;
    };
    using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileFree>;

    explicit ManifestEntry(KeyFilePtr keyFile) : m_keyFile(std::move(keyFile)) {}

    std::string sandboxSection() const;

    KeyFilePtr m_keyFile;
};

} // namespace AppManifest
