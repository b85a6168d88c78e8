#include "app/DriverLines.h"

#include "common/VisibleText.h"
#include "package/Log.h"

#include <iostream>

namespace Validator {

void printProgress(const std::string& package)
{
    std::cout << "Processing " << Common::visibleText(package) << "..." << std::endl;
}

bool notValidated(FindingSink* sink, const std::string& package, const std::string& reason)
{
    printError(package + ": " + reason);
    if (sink)
        sink->notValidated(reason);
    return true;
}

} // namespace Validator
