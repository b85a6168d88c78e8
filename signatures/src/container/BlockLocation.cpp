// Blocks are chained backwards from the end of the file: each trailer gives
// the length of the DER before it, and the previous block ends where this
// one starts. Nothing about a block is believed before it is checked: its
// trailer must leave the package below it whole, a version-3 block must
// carry its frame header, and its DER must be a CMS.

#include "container/BlockLocation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <openssl/cms.h>
#include <openssl/err.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/OpenSslHandles.h"
#include "common/PosixIo.h"
#include "container/BlockLayout.h"
#include "container/RpmExtent.h"
#include "torvel/CmsHeader.h"

namespace PackageSignatures {

namespace {

// No signer adds more than three blocks, and a file with more is refused by
// every check; looking at the last 256 at most keeps memory and time bounded
// whatever a file stacks up, and still shows that there are too many.
constexpr size_t maximumLocatedBlocks = 256;

bool readAt(int fd, int64_t offset, size_t len, uint8_t* out)
{
    return Common::readFull(fd, out, len, off_t(offset)) == ssize_t(len);
}

std::optional<int64_t> packageFloor(int fd, int64_t fileSize)
{
    static constexpr uint8_t leadMagic[] = {0xED, 0xAB, 0xEE, 0xDB};
    uint8_t start[rpmStartSize];
    if (fileSize < int64_t(sizeof leadMagic) || !readAt(fd, 0, sizeof leadMagic, start)
        || std::memcmp(start, leadMagic, sizeof leadMagic) != 0)
        return 0;
    if (fileSize < int64_t(rpmStartSize) || !readAt(fd, 0, rpmStartSize, start))
        return std::nullopt;
    const std::optional<size_t> sectionEnd = rpmSignatureSectionEnd(start, sizeof start);
    if (!sectionEnd || int64_t(*sectionEnd) > fileSize)
        return std::nullopt;
    std::vector<uint8_t> section(*sectionEnd);
    if (!readAt(fd, 0, section.size(), section.data()))
        return std::nullopt;
    return rpmPackageLength(section.data(), section.size());
}

// The DER's outer SEQUENCE must span exactly the block, which turns most
// garbage away before any of it is read. An indefinite length (BER, as
// older signers may have written) is left to the parser.
bool derSpansExactly(int fd, int64_t offset, int64_t size)
{
    uint8_t head[6] = {};
    if (size < 2 || !readAt(fd, offset, size_t(std::min<int64_t>(size, sizeof head)), head) || head[0] != 0x30)
        return false;
    uint64_t contentLength = head[1];
    int64_t headerLength = 2;
    if (head[1] == 0x80)
        return true;
    if (head[1] & 0x80) {
        const int lengthBytes = head[1] & 0x7F;
        if (lengthBytes == 0 || lengthBytes > 4 || size < 2 + lengthBytes)
            return false;
        contentLength = 0;
        for (int i = 0; i < lengthBytes; ++i)
            contentLength = contentLength << 8 | head[2 + i];
        headerLength += lengthBytes;
    }
    return uint64_t(size - headerLength) == contentLength;
}

bool derIsCms(int fd, int64_t offset, int64_t size)
{
    if (!derSpansExactly(fd, offset, size))
        return false;
    std::vector<uint8_t> der(static_cast<size_t>(size));
    if (!readAt(fd, offset, der.size(), der.data()))
        return false;
    const unsigned char* cursor = der.data();
    const Common::OpenSsl::CmsHandle cms(d2i_CMS_ContentInfo(nullptr, &cursor, long(der.size())));
    // A failed parse is an answer here, not an error to report later.
    ERR_clear_error();
    return cms && cursor == der.data() + der.size();
}

// The frame header of a version-3 block: magic and frame length = size + 12.
bool hasFrameHeader(int fd, int64_t offset, int64_t size, int64_t floor)
{
    uint8_t header[skippableFrameHeaderSize];
    if (offset - skippableFrameHeaderSize < floor
        || !readAt(fd, offset - skippableFrameHeaderSize, sizeof header, header)
        || std::memcmp(header, skippableFrameMagic, sizeof skippableFrameMagic) != 0)
        return false;
    const uint32_t frameLength =
        uint32_t(header[4]) | uint32_t(header[5]) << 8 | uint32_t(header[6]) << 16 | uint32_t(header[7]) << 24;
    return uint64_t(frameLength) == uint64_t(size) + uint64_t(CmsHeader::encodedSize);
}

} // namespace

PackageBlocks locatePackageBlocks(int fd)
{
    PackageBlocks found;
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return found;
    found.fileSize = status.st_size;
    found.floor = packageFloor(fd, found.fileSize);
    if (!found.floor)
        return found;
    const int64_t floor = *found.floor;

    int64_t regionEnd = found.fileSize;
    uint8_t trailer[CmsHeader::encodedSize];
    while (found.blocks.size() < maximumLocatedBlocks && regionEnd - floor >= CmsHeader::encodedSize
           && readAt(fd, regionEnd - CmsHeader::encodedSize, sizeof trailer, trailer)) {
        const std::optional<CmsHeader> header = CmsHeader::read(trailer, sizeof trailer);
        // A legacy trailer's 64-bit size may read as negative; it is as
        // bogus as one claiming more bytes than lie above the floor.
        if (!header || header->derSize < 0 || header->derSize > regionEnd - CmsHeader::encodedSize - floor)
            break;
        LocatedBlock block;
        block.location.offset = regionEnd - CmsHeader::encodedSize - header->derSize;
        block.location.end = block.location.offset + header->derSize;
        block.location.version = header->version;
        block.location.size = header->derSize;
        block.start = block.location.offset;
        if (header->version == skippableFrameVersion) {
            block.framed = hasFrameHeader(fd, block.location.offset, header->derSize, floor);
            if (block.framed)
                block.start -= skippableFrameHeaderSize;
        }
        block.parses = derIsCms(fd, block.location.offset, header->derSize);
        found.blocks.push_back(block);
        regionEnd = block.start;
    }
    // Found last to first; callers get them in file order.
    std::reverse(found.blocks.begin(), found.blocks.end());
    return found;
}

} // namespace PackageSignatures
