#pragma once

#include "TestKit.h"

#include <string>

namespace TestKit {

// An application package that passes every check built so far: a main
// executable compiled here (exporting main, with a run path into the
// package), its data directory and files, and its launcher icons. Tests of
// one rule start from it and change one thing. Built for the machine's
// architecture.
Package validApplication(const std::string& name, const std::string& workDir);

// The main executable of validApplication: a C program linked with the
// given extra flags.
std::string compileMainBinary(const std::string& name, const std::string& workDir,
                              const std::vector<std::string>& extraFlags = {});

} // namespace TestKit
