#pragma once

// The one owning handle of the repository: a std::unique_ptr whose deleter
// calls the C library's own free function. The deleter is an empty struct
// named by the function, so a handle is exactly one pointer wide and two
// handles of one type with different free functions are different types.
// The per-library headers beside this one (RpmHandles.h, OpenSslHandles.h,
// GlibHandles.h, SqliteHandles.h, LibcHandles.h), and libtorvel's own
// signatures/handles/TorvelHandles.h, only name aliases of it, each after
// the type it owns.
//
// A handle is for what the caller must free (OpenSSL's new/get1 results,
// GLib's transfer-full returns); borrowed pointers (get0 results) stay plain
// pointers, so a borrowed object can never be freed by mistake.

#include <memory>

namespace Common {

template <auto FreeFunction>
struct FreeWith {
    // std::unique_ptr never passes null to its deleter.
    template <typename T>
    void operator()(T* object) const noexcept { FreeFunction(object); }
};

template <typename T, auto FreeFunction>
using Owned = std::unique_ptr<T, FreeWith<FreeFunction>>;

} // namespace Common
