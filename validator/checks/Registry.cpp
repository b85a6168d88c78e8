#include "checks/Executable.h"
#include "checks/desktop/Desktop.h"
#include "checks/Path.h"
#include "checks/configuration/ConfigurationParameterFile.h"
#include "checks/icon/Icon.h"
#include "checks/integrityd/Integrityd.h"
#include "checks/manifest/Manifest.h"
#include "checks/qml/QmlImports.h"

namespace Validator {

std::map<int, std::shared_ptr<IValidator>> makeValidators(const ValidationContext& context)
{
    return {
        {0, std::make_shared<Desktop>(context)},
        {1, std::make_shared<Executable>(context)},
        {2, std::make_shared<QmlImports>(context)},
        {3, std::make_shared<Icon>(context)},
        {4, std::make_shared<Integrityd>(context)},
        {5, std::make_shared<Manifest>(context)},
        {6, std::make_shared<Path>(context)},
        {7, std::make_shared<ConfigurationParameterFile>(context)},
    };
}

} // namespace Validator
