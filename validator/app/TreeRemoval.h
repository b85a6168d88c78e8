#pragma once

#include <string>

namespace Validator {

// Removes the directory `path` with everything below it, holding at most
// two descriptors at once whatever the depth of the tree, so that a process
// short of descriptors (many packages in flight under a low limit, or an
// interrupt that comes then) still removes a deep tree. Symbolic links are
// removed, never followed; a directory the package left without write or
// search permission is given it back first, since the tree is this
// process's own. True when nothing of it is left. Meant for quiet trees:
// nothing may write into it meanwhile.
bool removeTree(const std::string& path);

} // namespace Validator
