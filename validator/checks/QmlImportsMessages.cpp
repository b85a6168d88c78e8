#include "checks/QmlImportsMessages.h"

namespace Validator {

namespace {

constexpr MessageSpec kQmlImportsMessages[] = {
    {LogLevel::Error, "[{0}] Import is not allowed"},
    {LogLevel::Warning, "[{0}] Import is unstable or deprecated"},
    {LogLevel::Info, "[{0}] Beware only allowed imports can be used"},
    {LogLevel::Warning, "[desktop] X-Olvex-Application-Type should be varnel-qt5 for apps importing Pelora.Varnel in QML"},
};

constexpr MessageGroup kGroup("QML imports", kQmlImportsMessages);

} // namespace

const MessageGroup& messageGroupOf(QmlImportsMessage)
{
    return kGroup;
}

} // namespace Validator
