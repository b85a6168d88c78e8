#pragma once

// A checker of JSON documents against a JSON Schema (draft 2020-12), for
// the subset of keywords the report schema uses: $ref to "#/$defs/...",
// oneOf, type, const, enum, properties, required, additionalProperties
// (false), items and minimum. Annotations ($schema, $id, $defs, title,
// description) are skipped; any other keyword is an error of its own, so
// that a schema never passes a document on a rule the checker ignored.

#include <boost/json/value.hpp>

#include <string>
#include <vector>

namespace TestKit {

// Empty when `instance` satisfies `schema`; otherwise what does not, each
// with the JSON pointer of the value concerned.
std::vector<std::string> schemaErrors(const boost::json::value& schema, const boost::json::value& instance);

} // namespace TestKit
