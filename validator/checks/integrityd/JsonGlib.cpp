#include "checks/integrityd/JsonGlib.h"

#include <dlfcn.h>

#include <stdexcept>

namespace Validator {

namespace {

// The soname the build linked against before; the package depends on it.
constexpr const char* kLibrary = "libjson-glib-1.0.so.0";

template <typename Call>
void resolve(void* library, Call& call, const char* name)
{
    call = reinterpret_cast<Call>(::dlsym(library, name));
    if (!call)
        throw std::runtime_error(std::string("json-glib lacks ") + name);
}

JsonGlib load()
{
    // Never closed: see JsonGlib.
    void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = ::dlerror();
        throw std::runtime_error(std::string("cannot load ") + kLibrary + ": " + (reason ? reason : "unknown error"));
    }
    JsonGlib calls {};
    resolve(library, calls.parserNew, "json_parser_new");
    resolve(library, calls.parserLoadFromData, "json_parser_load_from_data");
    resolve(library, calls.parserGetRoot, "json_parser_get_root");
    resolve(library, calls.nodeGetNodeType, "json_node_get_node_type");
    resolve(library, calls.nodeGetObject, "json_node_get_object");
    resolve(library, calls.nodeGetArray, "json_node_get_array");
    resolve(library, calls.nodeGetValueType, "json_node_get_value_type");
    resolve(library, calls.nodeGetString, "json_node_get_string");
    resolve(library, calls.objectGetMember, "json_object_get_member");
    resolve(library, calls.arrayGetLength, "json_array_get_length");
    resolve(library, calls.arrayGetElement, "json_array_get_element");
    return calls;
}

} // namespace

const JsonGlib& JsonGlib::get()
{
    // Set once, then only read; a failed load throws and is tried again by
    // the next call.
    static const JsonGlib calls = load();
    return calls;
}

} // namespace Validator
