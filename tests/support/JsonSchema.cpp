#include "JsonSchema.h"

#include <boost/json.hpp>

#include <algorithm>
#include <set>

namespace TestKit {

namespace {

namespace json = boost::json;

class Checker {
public:
    explicit Checker(const json::value& root) : m_root(root) {}

    void check(const json::value& schema, const json::value& instance, const std::string& where,
               std::vector<std::string>& errors) const
    {
        const json::object* rules = schema.if_object();
        if (!rules) {
            errors.push_back(where + ": the schema is no object");
            return;
        }
        for (const auto& [keyword, value] : *rules) {
            const std::string key(keyword);
            if (key == "$schema" || key == "$id" || key == "$defs" || key == "title" || key == "description")
                continue;
            if (key == "$ref")
                check(resolve(value, where, errors), instance, where, errors);
            else if (key == "oneOf")
                oneOf(value.as_array(), instance, where, errors);
            else if (key == "type")
                type(value, instance, where, errors);
            else if (key == "const" && instance != value)
                errors.push_back(where + ": not " + json::serialize(value));
            else if (key == "enum" && !contains(value.as_array(), instance))
                errors.push_back(where + ": " + json::serialize(instance) + " is not one of " + json::serialize(value));
            else if (key == "properties" || key == "required" || key == "additionalProperties")
                object(key, value, *rules, instance, where, errors);
            else if (key == "items")
                items(value, instance, where, errors);
            else if (key == "minimum")
                minimum(value, instance, where, errors);
            else if (key != "const" && key != "enum")
                errors.push_back(where + ": the checker does not know the keyword " + key);
        }
    }

private:
    static bool contains(const json::array& values, const json::value& instance)
    {
        for (const json::value& value : values) {
            if (value == instance)
                return true;
        }
        return false;
    }

    const json::value& resolve(const json::value& reference, const std::string& where,
                               std::vector<std::string>& errors) const
    {
        static const json::value nothing = json::object();
        const std::string text(reference.as_string());
        const std::string prefix = "#/$defs/";
        const json::value* found = nullptr;
        if (text.starts_with(prefix)) {
            if (const json::object* defs = m_root.as_object().at("$defs").if_object())
                found = defs->if_contains(text.substr(prefix.size()));
        }
        if (!found) {
            errors.push_back(where + ": cannot resolve " + text);
            return nothing;
        }
        return *found;
    }

    void oneOf(const json::array& options, const json::value& instance, const std::string& where,
               std::vector<std::string>& errors) const
    {
        std::size_t matching = 0;
        std::vector<std::string> why;
        for (const json::value& option : options) {
            std::vector<std::string> optionErrors;
            check(option, instance, where, optionErrors);
            if (optionErrors.empty())
                ++matching;
            else
                why.insert(why.end(), optionErrors.begin(), optionErrors.end());
        }
        if (matching == 1)
            return;
        errors.push_back(where + ": matches " + std::to_string(matching) + " of the oneOf options");
        if (matching == 0)
            errors.insert(errors.end(), why.begin(), why.end());
    }

    static bool hasType(const json::value& instance, std::string_view name)
    {
        if (name == "object")
            return instance.is_object();
        if (name == "array")
            return instance.is_array();
        if (name == "string")
            return instance.is_string();
        if (name == "boolean")
            return instance.is_bool();
        if (name == "null")
            return instance.is_null();
        if (name == "integer")
            return instance.is_int64() || instance.is_uint64();
        if (name == "number")
            return instance.is_number();
        return false;
    }

    static void type(const json::value& names, const json::value& instance, const std::string& where,
                     std::vector<std::string>& errors)
    {
        if (names.is_string() ? hasType(instance, names.as_string())
                              : std::any_of(names.as_array().begin(), names.as_array().end(), [&](const json::value& n) {
                                    return hasType(instance, n.as_string());
                                }))
            return;
        errors.push_back(where + ": " + json::serialize(instance) + " is not of type " + json::serialize(names));
    }

    void object(const std::string& key, const json::value& value, const json::object& rules,
                const json::value& instance, const std::string& where, std::vector<std::string>& errors) const
    {
        const json::object* members = instance.if_object();
        if (!members)
            return;
        if (key == "properties") {
            for (const auto& [name, schema] : value.as_object()) {
                if (const json::value* member = members->if_contains(name))
                    check(schema, *member, where + "/" + std::string(name), errors);
            }
        } else if (key == "required") {
            for (const json::value& name : value.as_array()) {
                if (!members->contains(name.as_string()))
                    errors.push_back(where + ": no member " + json::serialize(name));
            }
        } else if (value.is_bool() && !value.as_bool()) {
            const json::object* known = rules.contains("properties") ? rules.at("properties").if_object() : nullptr;
            for (const auto& [name, member] : *members) {
                if (!known || !known->contains(name))
                    errors.push_back(where + ": member \"" + std::string(name) + "\" is not allowed");
            }
        } else if (!value.is_bool()) {
            errors.push_back(where + ": the checker knows additionalProperties only as a boolean");
        }
    }

    void items(const json::value& schema, const json::value& instance, const std::string& where,
               std::vector<std::string>& errors) const
    {
        const json::array* elements = instance.if_array();
        if (!elements)
            return;
        for (std::size_t i = 0; i < elements->size(); ++i)
            check(schema, (*elements)[i], where + "/" + std::to_string(i), errors);
    }

    static void minimum(const json::value& bound, const json::value& instance, const std::string& where,
                        std::vector<std::string>& errors)
    {
        if (instance.is_number() && instance.to_number<double>() < bound.to_number<double>())
            errors.push_back(where + ": " + json::serialize(instance) + " is below " + json::serialize(bound));
    }

    const json::value& m_root;
};

} // namespace

std::vector<std::string> schemaErrors(const boost::json::value& schema, const boost::json::value& instance)
{
    std::vector<std::string> errors;
    Checker(schema).check(schema, instance, "", errors);
    return errors;
}

} // namespace TestKit
