#include "checks/icon/Icon.h"

#include "checks/icon/IconMessages.h"
#include "checks/icon/PngSize.h"
#include "package/PackagedFile.h"

namespace Validator {

Icon::Icon(ValidationContext context) : IValidator(std::move(context))
{
    if (!config().checksIcons())
        return;
    for (const std::int32_t size : config().iconSizes())
        m_outstanding.insert(expectedPath(size));
}

std::string Icon::expectedPath(std::int32_t size) const
{
    const std::string pixels = std::to_string(size);
    return config().iconsDir() + pixels + "x" + pixels + "/apps/" + meta().name() + ".png";
}

bool Icon::accepts(const std::string& path, const std::string&)
{
    return config().checksIcons() && m_outstanding.erase(path) != 0;
}

void Icon::validate(const std::string& path, const std::string& fullPath)
{
    m_path = path;
    m_fullPath = fullPath;
    for (const std::int32_t size : config().iconSizes()) {
        if (expectedPath(size) != m_path)
            continue;
        const auto pixels = static_cast<std::uint32_t>(size);
        std::optional<PackagedFile> file = PackagedFile::open(unpackedTree(), m_path);
        if (size <= 0 || !file || !isPngOfSize(*file, pixels, pixels))
            logger().add(IconMessage::IconMissingOrWrongSize, {m_path});
        return;
    }
}

void Icon::finish()
{
    if (!config().checksIcons())
        return;
    // In the order of the sizes, so that the report reads the same on every
    // run.
    for (const std::int32_t size : config().iconSizes()) {
        const std::string path = expectedPath(size);
        if (m_outstanding.count(path))
            logger().add(IconMessage::IconMissingOrWrongSize, {path});
    }
}

} // namespace Validator
