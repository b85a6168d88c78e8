#pragma once

#include "TestKit.h"

#include <string>
#include <vector>

namespace TestKit {

struct VetrikResult {
    int exitCode = -1;
    std::vector<std::string> out;       // standard output, line by line
    std::vector<std::string> findings;  // standard error, line by line, without cpio's block count
    std::string rawErr;
    RunResult run;
};

// Runs the built vetrik with a platform root of its own (KVD_ROOT_FS) that
// holds a developer-mode file, so that only the lines of the run itself
// appear. Extra options go through `options`.
class Vetrik {
public:
    Vetrik();

    // The platform root handed to vetrik.
    const std::string& root() const { return m_root.path(); }
    // Replaces the developer-mode file (empty: none at all).
    void setDeveloperModeFile(const std::string& content);
    // Replaces etc/os-release of the platform root (empty: none at all).
    void setOsRelease(const std::string& content);

    VetrikResult operator()(const std::vector<std::string>& arguments, RunOptions options = {}) const;

    static std::string path();

private:
    TempDir m_root;
};

std::vector<std::string> lines(const std::string& text);

} // namespace TestKit
