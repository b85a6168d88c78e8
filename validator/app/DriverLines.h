#pragma once

#include "core/FindingSink.h"

#include <string>

namespace Validator {

// The lines the driver prints about each package, through the validator's
// one channel for its own lines (package/Log.h).

// "Processing PACKAGE..." on standard output, before anything else of it.
void printProgress(const std::string& package);

// A package that could not be validated at all: its line on standard error,
// and the reason in the report (`sink`, when there is one). Returns true, a
// failed package.
bool notValidated(FindingSink* sink, const std::string& package, const std::string& reason);

} // namespace Validator
