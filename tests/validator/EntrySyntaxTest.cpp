// The desktop-entry grammars are matched by hand in one pass; here every
// short text over the characters that matter is matched both by hand and by
// the regular expression the grammar is written as, groups included.

#include "checks/desktop/EntrySyntax.h"

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace Validator {
namespace {

// Every concatenation of up to `length` pieces.
void forEachText(const std::vector<std::string>& pieces, int length, const std::function<void(const std::string&)>& visit)
{
    std::vector<std::string> level = {""};
    visit("");
    for (int i = 0; i < length; ++i) {
        std::vector<std::string> next;
        for (const std::string& prefix : level) {
            for (const std::string& piece : pieces) {
                next.push_back(prefix + piece);
                visit(next.back());
            }
        }
        level = std::move(next);
    }
}

// The expression as a reference. Its "." is written as ECMAScript means it
// (no line feed, no carriage return), and a bracket that Boost will not
// parse ("0-9-_") lists the same characters in another order.
std::optional<boost::smatch> reference(const std::string& expression, const std::string& text)
{
    const boost::regex regex(expression, boost::regex::ECMAScript);
    boost::smatch match;
    if (!boost::regex_match(text, match, regex))
        return std::nullopt;
    return match;
}

TEST(EntrySyntaxTest, IntentMatchesItsExpression)
{
    const std::string expression =
        "^((?:(?!X-)[A-Z][A-Za-z0-9-]+)|(?:X-[A-Z][A-Za-z0-9-]+))(\\/[A-Za-z][A-Za-z0-9-]+)?(:[^\\n\\r]*$)?";
    int matched = 0;
    forEachText({"X", "-", "a", "1", "/", ":", "|", "\n", "X-"}, 5, [&](const std::string& text) {
        const auto expected = reference(expression, text);
        const auto actual = parseIntent(text);
        ASSERT_EQ(actual.has_value(), expected.has_value()) << text;
        if (!actual)
            return;
        ++matched;
        EXPECT_EQ(actual->name, (*expected)[1].str()) << text;
        EXPECT_EQ(actual->qualifier, (*expected)[2].str()) << text;
        ASSERT_EQ(actual->flags.has_value(), (*expected)[3].matched) << text;
        if (actual->flags) {
            EXPECT_EQ(":" + std::string(*actual->flags), (*expected)[3].str()) << text;
        }
    });
    EXPECT_GT(matched, 1000);
}

TEST(EntrySyntaxTest, TaskGroupNameMatchesItsExpression)
{
    const std::string expression = "^(?:X-Task|X-Service) +([A-Za-z][A-Za-z0-9]+)$";
    int matched = 0;
    forEachText({"X-Task", "X-Service", " ", "A", "z", "1", "_", "X-Tas"}, 6, [&](const std::string& text) {
        const bool expected = reference(expression, text).has_value();
        ASSERT_EQ(isTaskGroupName(text), expected) << text;
        matched += expected;
    });
    EXPECT_GT(matched, 100);
}

TEST(EntrySyntaxTest, ConditionMatchesItsExpression)
{
    const std::string expression = "^([a-z][a-z0-9-]+)(?::([a-z][a-z0-9-]+))?$";
    int matched = 0;
    forEachText({"a", "z", "1", "-", ":", "A", "\n"}, 6, [&](const std::string& text) {
        const auto expected = reference(expression, text);
        const auto actual = parseCondition(text);
        ASSERT_EQ(actual.has_value(), expected.has_value()) << text;
        if (!actual)
            return;
        ++matched;
        EXPECT_EQ(actual->name, (*expected)[1].str()) << text;
        ASSERT_EQ(actual->subtype.has_value(), (*expected)[2].matched) << text;
        if (actual->subtype) {
            EXPECT_EQ(*actual->subtype, (*expected)[2].str()) << text;
        }
    });
    EXPECT_GT(matched, 1000);
}

TEST(EntrySyntaxTest, ExecutableSuffixMatchesItsExpression)
{
    const std::string expression = "^([A-Za-z][A-Za-z0-9_-]+)$";
    int matched = 0;
    forEachText({"a", "Z", "0", "9", "-", "_", ".", " ", "^"}, 5, [&](const std::string& text) {
        const bool expected = reference(expression, text).has_value();
        ASSERT_EQ(isExecutableSuffix(text), expected) << text;
        matched += expected;
    });
    EXPECT_GT(matched, 1000);
}

TEST(EntrySyntaxTest, LongTextsTakeOnePass)
{
    const std::string letters(1 << 22, 'a');
    EXPECT_TRUE(parseIntent("A" + letters + "/" + letters + ":" + letters));
    EXPECT_FALSE(parseIntent("A" + letters + "!"));
    EXPECT_TRUE(isTaskGroupName("X-Task" + std::string(1 << 22, ' ') + "A" + letters));
    EXPECT_TRUE(parseCondition(letters + ":" + letters));
    EXPECT_TRUE(isExecutableSuffix("a" + letters));
}

} // namespace
} // namespace Validator
