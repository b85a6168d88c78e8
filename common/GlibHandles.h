#pragma once

// Owning handles for what GLib and GObject return with its ownership
// (transfer full).

#include <glib-object.h>

#include "common/OwningHandle.h"

namespace Common::Glib {

using KeyFileHandle = Owned<GKeyFile, g_key_file_free>;
// A string (gchar*) released with g_free.
using StringHandle = Owned<gchar, g_free>;
// A null-terminated array of strings, each released with the array.
using StrvHandle = Owned<gchar*, g_strfreev>;
using ByteArrayHandle = Owned<GByteArray, g_byte_array_unref>;
using ErrorHandle = Owned<GError, g_error_free>;
// Any GObject-derived instance (JsonParser, ...).
template <typename T>
using ObjectHandle = Owned<T, g_object_unref>;

} // namespace Common::Glib
