#include "checks/icon/IconMessages.h"

namespace Validator {

namespace {

constexpr MessageSpec kIconMessages[] = {
    {LogLevel::Error, "[{0}] Icon not found or file resolution is incorrect"},
};
static_assert(std::size(kIconMessages) == static_cast<std::size_t>(IconMessage::IconMissingOrWrongSize) + 1);

constexpr MessageGroup kGroup("icon", kIconMessages);

} // namespace

const MessageGroup& messageGroupOf(IconMessage)
{
    return kGroup;
}

} // namespace Validator
