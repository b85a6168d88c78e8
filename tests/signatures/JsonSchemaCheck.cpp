#include "JsonSchemaCheck.h"

#include <set>

#include <TestKit.h>

namespace SignatureFixtures {

namespace {

namespace json = boost::json;

const std::set<std::string> knownKeywords = {
    "$schema", "$id", "$defs", "$ref", "title", "description", "type", "enum", "required", "properties",
    "additionalProperties", "items", "minimum",
};

class Checker {
public:
    explicit Checker(const json::value& root) : m_root(root) {}

    void check(const json::value& schema, const json::value& value, const std::string& at)
    {
        if (!schema.is_object()) {
            fail(at, "the schema here is not an object");
            return;
        }
        const json::object& rules = schema.as_object();
        for (const auto& [keyword, rule] : rules) {
            if (!knownKeywords.contains(std::string(keyword)))
                fail(at, "the schema uses the keyword " + std::string(keyword) + ", which this checker does not know");
        }
        if (const json::value* reference = rules.if_contains("$ref")) {
            checkReference(*reference, value, at);
            return;
        }
        if (const json::value* type = rules.if_contains("type"); type != nullptr && !typeMatches(*type, value)) {
            fail(at, "has the type " + typeName(value) + ", not " + json::serialize(*type));
            return;
        }
        if (const json::value* allowed = rules.if_contains("enum")) {
            bool found = false;
            for (const json::value& candidate : allowed->as_array())
                found = found || candidate == value;
            if (!found)
                fail(at, json::serialize(value) + " is none of " + json::serialize(*allowed));
        }
        if (const json::value* minimum = rules.if_contains("minimum"); minimum != nullptr && value.is_number()
                                                                         && value.to_number<double>()
                                                                                < minimum->to_number<double>())
            fail(at, json::serialize(value) + " is below the minimum " + json::serialize(*minimum));
        if (value.is_object())
            checkObject(rules, value.as_object(), at);
        if (const json::value* items = rules.if_contains("items"); items != nullptr && value.is_array()) {
            const json::array& array = value.as_array();
            for (size_t i = 0; i < array.size(); ++i)
                check(*items, array[i], at + "/" + std::to_string(i));
        }
    }

    std::vector<std::string> violations;

private:
    void fail(const std::string& at, const std::string& what) { violations.push_back((at.empty() ? "/" : at) + ": " + what); }

    void checkReference(const json::value& reference, const json::value& value, const std::string& at)
    {
        static const std::string prefix = "#/$defs/";
        const std::string target = reference.is_string() ? std::string(reference.as_string()) : std::string();
        const json::value* definitions = m_root.as_object().if_contains("$defs");
        const json::value* definition = target.rfind(prefix, 0) == 0 && definitions != nullptr
                                            ? definitions->as_object().if_contains(target.substr(prefix.size()))
                                            : nullptr;
        if (definition == nullptr) {
            fail(at, "the schema refers to " + target + ", which it does not define");
            return;
        }
        // Every $ref here leads to a smaller part of the document, so this
        // ends with the document.
        check(*definition, value, at);
    }

    void checkObject(const json::object& rules, const json::object& object, const std::string& at)
    {
        if (const json::value* required = rules.if_contains("required")) {
            for (const json::value& name : required->as_array()) {
                if (!object.contains(name.as_string()))
                    fail(at, "lacks the required member " + std::string(name.as_string()));
            }
        }
        const json::value* properties = rules.if_contains("properties");
        const json::value* additional = rules.if_contains("additionalProperties");
        for (const auto& [name, member] : object) {
            const json::value* property =
                properties != nullptr ? properties->as_object().if_contains(name) : nullptr;
            if (property != nullptr)
                check(*property, member, at + "/" + std::string(name));
            else if (additional != nullptr && additional->is_bool() && !additional->as_bool())
                fail(at, "has the member " + std::string(name) + ", which the schema does not allow");
        }
    }

    static std::string typeName(const json::value& value)
    {
        switch (value.kind()) {
        case json::kind::null: return "null";
        case json::kind::bool_: return "boolean";
        case json::kind::int64:
        case json::kind::uint64: return "integer";
        case json::kind::double_: {
            const double number = value.as_double();
            return number == static_cast<double>(static_cast<long long>(number)) ? "integer" : "number";
        }
        case json::kind::string: return "string";
        case json::kind::array: return "array";
        case json::kind::object: return "object";
        }
        return "unknown";
    }

    static bool typeMatches(const json::value& type, const json::value& value)
    {
        const std::string actual = typeName(value);
        const auto matches = [&](const json::value& name) {
            const std::string wanted(name.as_string());
            return wanted == actual || (wanted == "number" && actual == "integer");
        };
        if (type.is_string())
            return matches(type);
        for (const json::value& name : type.as_array()) {
            if (matches(name))
                return true;
        }
        return false;
    }

    const json::value& m_root;
};

} // namespace

std::vector<std::string> schemaViolations(const json::value& schema, const json::value& document)
{
    Checker checker(schema);
    checker.check(schema, document, "");
    return checker.violations;
}

std::vector<std::string> schemaViolations(const std::string& schemaPath, const std::string& documentText)
{
    boost::system::error_code error;
    const json::value document = json::parse(documentText, error);
    if (error)
        return {"the document is not JSON: " + error.message()};
    return schemaViolations(json::parse(TestKit::readFile(schemaPath)), document);
}

} // namespace SignatureFixtures
