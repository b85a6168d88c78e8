#pragma once

#include "TestKit.h"

#include <string>

namespace TestKit {

// An application package that passes every check built so far: a main
// executable compiled here (exporting main, with a run path into the
// package), its desktop file, its data directory and files, and its launcher
// icons. Tests of one rule start from it and change one thing. Built for the
// machine's architecture.
Package validApplication(const std::string& name, const std::string& workDir);

// The desktop file of validApplication: the package name read as
// organisation and application name (org.example.app: org.example and app),
// and `exec` to start it (by default /usr/bin/ + name).
std::string validDesktopFile(const std::string& name, const std::string& exec = "");
inline std::string desktopPath(const std::string& name) { return "/usr/share/applications/" + name + ".desktop"; }
// Replaces (or adds) the package's desktop file.
void setDesktopFile(Package& package, const std::string& content);
// The command every web application's desktop file starts.
inline const std::string browserCommand = "/usr/bin/org.brevane.browserstandalone";

// The main executable of validApplication: a C program linked with the
// given extra flags.
std::string compileMainBinary(const std::string& name, const std::string& workDir,
                              const std::vector<std::string>& extraFlags = {});

} // namespace TestKit
