#include "container/BlockLayout.h"

#include "torvel/CmsHeader.h"

namespace PackageSignatures {

std::vector<uint8_t> encodeBlock(uint32_t version, const uint8_t* der, size_t len)
{
    std::vector<uint8_t> block;
    block.reserve(len + skippableFrameHeaderSize + CmsHeader::encodedSize);
    if (version == skippableFrameVersion) {
        block.insert(block.end(), std::begin(skippableFrameMagic), std::end(skippableFrameMagic));
        const uint32_t frameLength = uint32_t(len + CmsHeader::encodedSize);
        for (int shift = 0; shift < 32; shift += 8)
            block.push_back(uint8_t(frameLength >> shift));
    }
    block.insert(block.end(), der, der + len);
    const std::vector<uint8_t> trailer = CmsHeader(version, long(len)).serialize();
    block.insert(block.end(), trailer.begin(), trailer.end());
    return block;
}

int64_t blockStart(const CmsLocation& location)
{
    if (location.version == skippableFrameVersion && location.offset >= skippableFrameHeaderSize)
        return location.offset - skippableFrameHeaderSize;
    return location.offset;
}

} // namespace PackageSignatures
