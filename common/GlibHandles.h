#pragma once

// Owning handles for GLib and GObject objects. Each deleter is an empty
// struct, so a handle is exactly one pointer wide.

#include <memory>

#include <glib-object.h>

namespace Common::Glib {

template <auto FreeFunction>
struct Deleter {
    template <typename T>
    void operator()(T* object) const noexcept { FreeFunction(object); }
};

template <typename T, auto FreeFunction>
using Owned = std::unique_ptr<T, Deleter<FreeFunction>>;

// Any GObject-derived instance (JsonParser, ...).
template <typename T>
using ObjectHandle = Owned<T, g_object_unref>;
using ErrorHandle = Owned<GError, g_error_free>;

} // namespace Common::Glib
