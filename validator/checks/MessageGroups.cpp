#include "checks/MessageGroups.h"

#include "checks/BinaryMessages.h"
#include "checks/PackageContentMessages.h"
#include "checks/qml/QmlImportsMessages.h"
#include "checks/configuration/ManagedConfigurationMessages.h"
#include "checks/desktop/DesktopMessages.h"
#include "checks/icon/IconMessages.h"
#include "checks/integrityd/IntegritydMessages.h"
#include "checks/manifest/ManifestMessages.h"
#include "core/PackageMessages.h"

#include <array>

namespace Validator {

std::span<const MessageGroup* const> allMessageGroups()
{
    static const std::array<const MessageGroup*, 13> groups = {
        &messageGroupOf(DesktopMessage {}),
        &messageGroupOf(SandboxMessage {}),
        &messageGroupOf(IntentsMessage {}),
        &messageGroupOf(AttestationMessage {}),
        &messageGroupOf(CapabilitiesMessage {}),
        &messageGroupOf(ManifestMessage {}),
        &messageGroupOf(QmlImportsMessage {}),
        &messageGroupOf(IconMessage {}),
        &messageGroupOf(PackageMessage {}),
        &messageGroupOf(PackageContentMessage {}),
        &messageGroupOf(BinaryMessage {}),
        &messageGroupOf(IntegritydMessage {}),
        &messageGroupOf(ManagedConfigurationMessage {}),
    };
    return groups;
}

} // namespace Validator
