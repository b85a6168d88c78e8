#include "checks/desktop/DesktopCapabilities.h"

#include "checks/desktop/DesktopMessages.h"
#include "package/PackagedFile.h"

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <istream>
#include <map>
#include <streambuf>
#include <string_view>
#include <vector>

namespace Validator {

namespace {

const std::string kGroup = "X-Taliro-Capabilities";
const std::map<std::string, std::vector<std::string>, std::less<>> kCapabilities = {
    {"Input", {"Mouse", "Tablet"}},
    {"UserInterface", {"ResizeableContent"}},
    {"ScreenOrientation", {"Landscape", "LandscapeInverted", "Portrait", "PortraitInverted"}},
};

// A packaged file as an input stream, read in blocks: the INI reader keeps
// one line at a time, so the file is never held whole beside the tree.
class PackagedFileBuffer : public std::streambuf {
public:
    explicit PackagedFileBuffer(PackagedFile& file) : m_file(file) {}
    bool failed() const { return m_failed; }

protected:
    int_type underflow() override
    {
        const ssize_t n = m_file.read(m_block, sizeof m_block);
        if (n <= 0) {
            m_failed = m_failed || n < 0;
            return traits_type::eof();
        }
        setg(m_block, m_block, m_block + n);
        return traits_type::to_int_type(m_block[0]);
    }

private:
    PackagedFile& m_file;
    char m_block[65536];
    bool m_failed = false;
};

// The INI reader's tree of the file; nullopt when the file cannot be read
// or the reader refuses it.
std::optional<boost::property_tree::ptree> readIni(const std::string& fullPath)
{
    std::optional<PackagedFile> file = PackagedFile::open(fullPath);
    if (!file)
        return std::nullopt;
    PackagedFileBuffer buffer(*file);
    std::istream stream(&buffer);
    boost::property_tree::ptree tree;
    try {
        boost::property_tree::ini_parser::read_ini(stream, tree);
    } catch (const boost::property_tree::ptree_error&) {
        return std::nullopt;
    }
    if (buffer.failed())
        return std::nullopt;
    return tree;
}

} // namespace

void DesktopCapabilities::validate(const std::string& path, const std::string& fullPath)
{
    m_path = path;
    m_fullPath = fullPath;
    const std::optional<boost::property_tree::ptree> tree = readIni(m_fullPath);
    if (!tree) {
        logger().add(DesktopMessage::BrokenFile);
        return;
    }
    // Looked up by name, not by path: a path would split at dots.
    const auto section = tree->find(kGroup);
    if (section == tree->not_found())
        return;
    for (const auto& [key, node] : section->second) {
        const auto capability = kCapabilities.find(key);
        if (capability == kCapabilities.end()) {
            logger().add(CapabilitiesMessage::KeyInvalid, {key, kGroup});
            continue;
        }
        // Every ";" splits: a value ending in ";" has an empty last piece.
        std::string_view value = node.data();
        for (;;) {
            const std::size_t semicolon = value.find(';');
            const std::string_view piece = value.substr(0, semicolon);
            const std::vector<std::string>& allowed = capability->second;
            if (std::find(allowed.begin(), allowed.end(), piece) == allowed.end())
                logger().add(CapabilitiesMessage::ValueInvalid, {piece, key});
            if (semicolon == std::string_view::npos)
                break;
            value.remove_prefix(semicolon + 1);
        }
    }
}

} // namespace Validator
