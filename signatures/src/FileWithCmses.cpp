#include "torvel/FileWithCmses.h"

#include <algorithm>
#include <cstring>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BlockLayout.h"
#include "FileRange.h"
#include "torvel/CmsHeader.h"

namespace PackageSignatures {

namespace {

class ReadOnlyMapping {
public:
    explicit ReadOnlyMapping(int fd)
    {
        struct stat status;
        m_size = fstat(fd, &status) == 0 ? status.st_size : 0;
        if (m_size <= 0)
            return;
        void* address = mmap(nullptr, size_t(m_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (address != MAP_FAILED)
            m_data = static_cast<const unsigned char*>(address);
    }
    ~ReadOnlyMapping()
    {
        if (m_data != nullptr)
            munmap(const_cast<unsigned char*>(m_data), size_t(m_size));
    }
    ReadOnlyMapping(const ReadOnlyMapping&) = delete;
    ReadOnlyMapping& operator=(const ReadOnlyMapping&) = delete;

    const unsigned char* data() const { return m_data; }
    int64_t size() const { return m_size; }

private:
    const unsigned char* m_data = nullptr;
    int64_t m_size = 0;
};

} // namespace

FileWithCmses::FileWithCmses(FILE* stream)
    : m_stream(stream)
{
}

FileWithCmses::~FileWithCmses() = default;

std::unique_ptr<FileWithCmses> FileWithCmses::fromPath(const char* path, const char* mode)
{
    if (path == nullptr || mode == nullptr)
        return nullptr;
    FILE* stream = std::fopen(path, mode);
    if (stream == nullptr)
        return nullptr;
    return std::make_unique<FileWithCmses>(stream);
}

std::unique_ptr<FileWithCmses> FileWithCmses::fromPath(const char* path)
{
    if (path == nullptr)
        return nullptr;
    if (auto file = fromPath(path, "r+"))
        return file;
    std::fprintf(stderr,
                 "torvel: trying to reopen %s in read-only mode, as it failed to open in read-write mode "
                 "(some features that modify a file may fail with an error)\n",
                 path);
    std::fflush(stderr);
    return fromPath(path, "r");
}

std::unique_ptr<FileWithCmses> FileWithCmses::fromPath(const std::string& path)
{
    return fromPath(path.c_str());
}

int FileWithCmses::fd() const
{
    return fileno(m_stream.get());
}

bool FileWithCmses::isRpmPackage() const
{
    static constexpr unsigned char rpmLeadMagic[] = {0xED, 0xAB, 0xEE, 0xDB};
    const std::vector<uint8_t> head = readFileRange(m_stream.get(), 0, sizeof rpmLeadMagic);
    return head.size() == sizeof rpmLeadMagic && std::memcmp(head.data(), rpmLeadMagic, sizeof rpmLeadMagic) == 0;
}

std::vector<CmsLocation> FileWithCmses::locateCmses() const
{
    std::vector<CmsLocation> locations;
    if (!m_stream)
        return locations;
    const ReadOnlyMapping mapping(fd());
    if (mapping.data() == nullptr)
        return locations;

    // Blocks are chained backwards from the end of the file: each trailer
    // gives the length of the DER before it, and the previous block's trailer
    // ends where that DER starts.
    int64_t regionEnd = mapping.size();
    while (true) {
        const std::optional<CmsHeader> header = CmsHeader::read(mapping.data(), long(regionEnd));
        if (!header)
            break;
        // A legacy trailer's 64-bit size may read as negative; it is as bogus
        // as one claiming more bytes than there are, and would otherwise move
        // the region end forwards instead of backwards.
        if (header->derSize < 0 || header->derSize > regionEnd - CmsHeader::encodedSize)
            break;
        CmsLocation location;
        location.offset = regionEnd - CmsHeader::encodedSize - header->derSize;
        location.end = location.offset + header->derSize;
        location.version = header->version;
        location.size = header->derSize;
        locations.push_back(location);

        regionEnd = location.offset;
        if (location.version == skippableFrameVersion && regionEnd >= skippableFrameHeaderSize)
            regionEnd -= skippableFrameHeaderSize;
    }
    // Found last to first; callers get them in file order.
    std::reverse(locations.begin(), locations.end());
    return locations;
}

std::vector<Cms> FileWithCmses::cmses() const
{
    std::vector<Cms> result;
    for (const CmsLocation& location : locateCmses())
        result.emplace_back(readFileRange(m_stream.get(), location.offset, location.end));
    return result;
}

bool FileWithCmses::deleteCmses(bool onlyLast)
{
    const std::vector<CmsLocation> locations = locateCmses();
    if (locations.empty())
        return true;
    const CmsLocation& victim = onlyLast ? locations.back() : locations.front();
    std::fflush(m_stream.get());
    return ftruncate(fd(), off_t(blockStart(victim))) == 0;
}

} // namespace PackageSignatures
