#pragma once

#include <json-glib/json-glib.h>

#include <string>

namespace Validator {

// The calls of json-glib that reading a watch list makes.
//
// json-glib is loaded the first time a watch list is read, not when vetrik
// starts: it brings GIO and five more libraries (libmount, libblkid,
// libselinux, ...) whose loading and symbol binding cost every run some
// two milliseconds, while few packages carry a watch list. Once loaded it
// stays for the rest of the process (its types are registered with GObject
// and cannot be unloaded).
struct JsonGlib {
    decltype(&json_parser_new) parserNew;
    decltype(&json_parser_load_from_data) parserLoadFromData;
    decltype(&json_parser_get_root) parserGetRoot;
    decltype(&json_node_get_node_type) nodeGetNodeType;
    decltype(&json_node_get_object) nodeGetObject;
    decltype(&json_node_get_array) nodeGetArray;
    decltype(&json_node_get_value_type) nodeGetValueType;
    decltype(&json_node_get_string) nodeGetString;
    decltype(&json_object_get_member) objectGetMember;
    decltype(&json_array_get_length) arrayGetLength;
    decltype(&json_array_get_element) arrayGetElement;

    // json-glib's calls, loading it on the first call (safe from several
    // threads). Throws std::runtime_error, saying why, when the library or
    // one of its calls cannot be found.
    static const JsonGlib& get();
};

} // namespace Validator
