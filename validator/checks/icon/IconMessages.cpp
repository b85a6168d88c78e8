#include "checks/icon/IconMessages.h"

#include "core/RuleText.h"

#include <iterator>

namespace Validator {

namespace {

std::string iconFiles(const Config& config)
{
    if (!config.checksIcons())
        return {};
    std::string text;
    for (const std::int32_t size : config.iconSizes()) {
        const std::string pixels = std::to_string(size);
        text += (text.empty() ? "" : ", ") + config.iconsDir() + pixels + "x" + pixels + "/apps/N.png";
    }
    return text;
}

std::string iconSizes()
{
    return RuleText::perProfile(iconFiles) + "(N is the package name; each a PNG of exactly SxS pixels)\n";
}

bool checksIcons(const Config& config)
{
    return config.checksIcons();
}

constexpr MessageSpec kIconMessages[] = {
    {LogLevel::Error, "[{0}] Icon not found or file resolution is incorrect", "icon-missing-or-wrong-size",
     PathArgument::First,
     "The launcher needs one icon per screen density: a PNG image of exactly SxS pixels at "
     "/usr/share/icons/hicolor/SxS/apps/N.png for every size S the profile asks for. The file named in the finding "
     "is either not in the package, or not a PNG of exactly that width and height (another format under a .png "
     "name counts as wrong). Install a square PNG of that size under that name for each size below.",
     iconSizes, checksIcons},
};
static_assert(coversEveryCode(kIconMessages, IconMessage::IconMissingOrWrongSize));

constexpr MessageGroup kGroup("icon", kIconMessages);

} // namespace

const MessageGroup& messageGroupOf(IconMessage)
{
    return kGroup;
}

} // namespace Validator
