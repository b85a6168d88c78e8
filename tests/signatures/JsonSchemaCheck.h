#pragma once

// A validator for the part of JSON Schema (2020-12) that torvel's schemas
// use: type (one name or a list), enum, const-free objects with properties,
// required and additionalProperties: false, arrays with items, minimum, and
// $ref to "#/$defs/NAME". Any other keyword in a schema is an error of its
// own, so a schema cannot quietly use more than this checks.

#include <string>
#include <vector>

#include <boost/json.hpp>

namespace SignatureFixtures {

// Every place where the document breaks the schema, as "JSON pointer: what";
// empty when it conforms.
std::vector<std::string> schemaViolations(const boost::json::value& schema, const boost::json::value& document);

// The same for a schema file and a document text (a text that is no JSON
// is one violation).
std::vector<std::string> schemaViolations(const std::string& schemaPath, const std::string& documentText);

} // namespace SignatureFixtures
