#include "checks/integrityd/IntegritydMessages.h"

#include <iterator>

namespace Validator {

namespace {

constexpr MessageSpec kIntegritydMessages[] = {
    {LogLevel::Error, "[integrityd] integrityd configuration file mismatching package content",
     "integrityd-watch-list-mismatch", PathArgument::None,
     "The integrity daemon's watch list /etc/integrityd/config.d/N.json names a file the package does not install; "
     "the daemon would watch, and report, a file that is not there. List only paths of the package in its \"watch\" "
     "array, each optionally prefixed with file: or elf:."},
    {LogLevel::Error, "[integrityd] integrityd configuration file contains invalid JSON", "integrityd-invalid-json",
     PathArgument::None,
     "The watch list /etc/integrityd/config.d/N.json is not valid JSON (or is larger than 1 MiB, or nested deeper "
     "than 64 levels), so the integrity daemon cannot read it. Write it as a JSON object with a \"watch\" array of "
     "path strings."},
};
static_assert(coversEveryCode(kIntegritydMessages, IntegritydMessage::InvalidJson));

constexpr MessageGroup kGroup("integrity daemon", kIntegritydMessages);

} // namespace

const MessageGroup& messageGroupOf(IntegritydMessage)
{
    return kGroup;
}

} // namespace Validator
