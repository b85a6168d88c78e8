#pragma once

#include "common/UniqueFd.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace Validator {

// The extraction root of one package, held open while its files are
// checked, and the one way to reach a file below it.
//
// The links of a package are the package's own: an absolute target
// /usr/share/x means the package's /usr/share/x once installed, and ".."
// never climbs above "/". So every path is resolved as if the root were
// "/", links included (openat2's RESOLVE_IN_ROOT), and no packaged link
// can lead to a file of the machine that runs the validator: a target
// outside the package names a file the package does not have.
//
// Paths are package paths: "/usr/bin/app", or relative to the root.
class UnpackedTree {
public:
    // A tree without a root: nothing can be reached in it.
    UnpackedTree() = default;
    // Opens `root` once; when that fails, the tree is one without a root.
    explicit UnpackedTree(const std::string& root);

    bool hasRoot() const { return static_cast<bool>(m_root); }
    const std::string& root() const { return m_rootPath; }

    // A descriptor, opened with `flags` (O_CLOEXEC added), for what `path`
    // leads to. Invalid, with errno set, when it cannot be reached.
    Common::UniqueFd open(std::string_view path, int flags) const;

    // What `path` leads to, links followed; nullopt, with errno set, when
    // it cannot be reached. The file itself is not opened.
    std::optional<struct stat> status(std::string_view path) const;

    // The package path `path` leads to once every link on the way is
    // resolved: "/" for the root itself. nullopt, with errno set, when it
    // cannot be reached.
    std::optional<std::string> resolve(std::string_view path) const;

private:
    Common::UniqueFd m_root;
    std::string m_rootPath;
    // The root as the kernel names it, which resolve() takes off the names
    // of what it reached.
    std::string m_kernelRootPath;
};

// The resolution of UnpackedTree::open walked one component at a time,
// each opened with O_NOFOLLOW and every link read and followed here, for
// kernels without openat2. Exposed so that both ways can be tested alike.
Common::UniqueFd openInRootByWalking(int rootFd, std::string_view path, int flags);

} // namespace Validator
