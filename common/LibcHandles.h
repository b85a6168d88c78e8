#pragma once

// Owning handles for the C library's own resources: streams, directory
// streams, and memory that other C libraries hand over to be released with
// free().

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>

#include "common/OwningHandle.h"

namespace Common::Libc {

using FileHandle = Owned<FILE, fclose>;
using DirHandle = Owned<DIR, closedir>;
template <typename T>
using MallocHandle = Owned<T, ::free>;
using CStringHandle = MallocHandle<char>;

} // namespace Common::Libc
