// The table of rules: every message of every group has a stable name and an
// explanation, the names are those of the checked-in list, and what the
// explanations list as accepted is what the checks read.

#include "checks/Executable.h"
#include "checks/MessageGroups.h"
#include "checks/RuleCatalog.h"
#include "checks/desktop/DesktopTables.h"
#include "core/Config.h"
#include "core/Profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace Validator {
namespace {

bool isKebabCase(std::string_view name)
{
    if (name.empty() || name.front() == '-' || name.back() == '-' || name.find("--") != std::string_view::npos)
        return false;
    for (char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    }
    return true;
}

// The highest "{N}" of a message text plus one: how many arguments it uses.
std::size_t argumentsUsed(std::string_view text)
{
    std::size_t used = 0;
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        if (text[i] == '{' && text[i + 2] == '}' && text[i + 1] >= '0' && text[i + 1] <= '9')
            used = std::max<std::size_t>(used, static_cast<std::size_t>(text[i + 1] - '0') + 1);
    }
    return used;
}

// Whether `word` stands in `text` as an item of a list: after a blank or a
// colon, before a comma, a colon, a blank or the end.
bool listsWord(std::string_view text, std::string_view word)
{
    for (std::size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
        const std::size_t end = at + word.size();
        const bool before = at == 0 || text[at - 1] == ' ' || text[at - 1] == ':';
        const bool after = end == text.size() || text[end] == ',' || text[end] == ':' || text[end] == ' ';
        if (before && after)
            return true;
    }
    return false;
}

std::string explanationOf(std::string_view name)
{
    const Rule* rule = findRule(name);
    return rule ? explanation(*rule) : std::string();
}

// The explanation with its lines joined again, as the words were before
// wrapping.
std::string unwrapped(std::string_view text)
{
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == '\n' || c == ' ') {
            space = true;
            continue;
        }
        if (space && !out.empty())
            out += ' ';
        space = false;
        out += c;
    }
    return out;
}

TEST(RuleTableTest, EveryRuleHasAUniqueNameAnExplanationAndAPathArgumentItsTextUses)
{
    std::set<std::string_view> names;
    std::size_t rules = 0;
    for (const Rule& rule : allRules()) {
        const MessageSpec& spec = rule.spec();
        const std::string where = std::string(rule.group->name()) + " " + std::to_string(rule.code);
        EXPECT_TRUE(isKebabCase(spec.rule)) << where << ": \"" << spec.rule << "\"";
        EXPECT_TRUE(names.insert(spec.rule).second) << where << ": " << spec.rule << " is used twice";
        EXPECT_GE(spec.explanation.size(), 60u) << spec.rule;
        EXPECT_EQ(spec.explanation.back(), '.') << spec.rule;
        if (spec.path != PathArgument::None) {
            EXPECT_LT(static_cast<std::size_t>(spec.path), argumentsUsed(spec.text)) << spec.rule;
        }
        if (spec.accepted) {
            EXPECT_FALSE(spec.accepted().empty()) << spec.rule;
        }
        // The explanation names the rule, says where it belongs and quotes
        // the finding.
        const std::string text = explanation(rule);
        EXPECT_TRUE(text.starts_with(std::string(spec.rule) + "\n")) << text;
        EXPECT_NE(text.find("\"" + std::string(rule.group->name()) + "\", code " + std::to_string(rule.code)),
                  std::string::npos)
            << text;
        EXPECT_EQ(findRule(spec.rule), &rule);
        ++rules;
    }
    std::size_t messages = 1;  // the stand-in for a message that could not be built
    for (const MessageGroup* group : allMessageGroups())
        messages += group->size();
    EXPECT_EQ(rules, messages);
    EXPECT_EQ(findRule("no-such-rule"), nullptr);
}

// A rename is a change users see: their baselines, --ignore options and
// scripts name rules. The list is checked in, so that one shows in review.
TEST(RuleTableTest, RuleNamesAreTheCheckedInList)
{
    std::ostringstream table;
    for (const Rule& rule : allRules())
        table << rule.group->name() << '\t' << rule.code << '\t' << rule.name() << '\n';
    const std::filesystem::path golden = std::filesystem::path(RULE_NAMES_FILE);
    std::ifstream in(golden);
    ASSERT_TRUE(in) << golden;
    std::ostringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(table.str(), expected.str()) << "the rule names differ from " << golden
                                           << "; a released name never changes";
}

// What an explanation lists is read from the data its check reads: change
// the data, and the explanation follows.
TEST(RuleTableTest, AcceptedValuesComeFromTheChecksData)
{
    const std::string permissions = unwrapped(explanationOf("sandbox-permission-not-allowed"));
    const std::string icons = unwrapped(explanationOf("icon-missing-or-wrong-size"));
    const std::string locations = unwrapped(explanationOf("install-location-not-allowed"));
    for (int code = 0; code <= 7; ++code) {
        const Config config(static_cast<Profile>(code), Config::DeveloperMode::Ignored);
        const std::string profile = profileName(static_cast<Profile>(code));
        for (const std::string& permission : config.allowedPermissions().sortedNames())
            EXPECT_TRUE(listsWord(permissions, permission)) << profile << ": " << permission;
        for (const std::string& path : config.extraInstallPaths().sortedNames())
            EXPECT_NE(locations.find(path), std::string::npos) << profile << ": " << path;
        for (const std::string& expression : config.extraInstallPaths().expressionPatterns())
            EXPECT_NE(locations.find(expression), std::string::npos) << profile << ": " << expression;
        // Profiles that check no icons have no line among the accepted.
        const std::string_view iconLines = std::string_view(icons).substr(icons.find("Accepted:"));
        EXPECT_EQ(listsWord(iconLines, profile), config.checksIcons()) << profile;
        for (const std::int32_t size : config.iconSizes()) {
            const std::string file = config.iconsDir() + std::to_string(size) + "x" + std::to_string(size) + "/apps/N.png";
            EXPECT_TRUE(listsWord(iconLines, file)) << profile << ": " << file;
        }
    }
    for (const char* rule : {"rpath-empty", "rpath-not-allowed", "rpath-missing"}) {
        const std::string text = unwrapped(explanationOf(rule));
        for (const std::string& element : Executable::allowedRunPaths("N"))
            EXPECT_TRUE(listsWord(text, element)) << rule << ": " << element;
    }
    const std::string types = unwrapped(explanationOf("desktop-application-type-missing"));
    EXPECT_NE(types.find(std::string(DesktopTables::kVarnelApplicationType) + ": no finding"), std::string::npos);
    for (std::string_view type : DesktopTables::kOtherApplicationTypes)
        EXPECT_TRUE(listsWord(types, type)) << type;
}

TEST(RuleTableTest, ProfilesThatDoNotRunACheckSayNotChecked)
{
    struct Case {
        const char* rule;
        Profile profile;
        bool checked;
    };
    const Case cases[] = {
        {"icon-missing-or-wrong-size", Profile::Regular, true},
        {"icon-missing-or-wrong-size", Profile::Extended, false},
        {"desktop-file-missing", Profile::Mdm, false},
        {"desktop-file-missing-unchecked", Profile::Mdm, true},
        {"desktop-file-missing-unchecked", Profile::Regular, false},
        {"main-binary-missing", Profile::Pwa, false},
        {"main-binary-missing", Profile::Market, true},
        {"sandbox-system-service-user", Profile::Mdm, true},
        {"sandbox-system-service-user", Profile::Regular, false},
        {"provides-marker-missing", Profile::Mdm, true},
        {"provides-marker-missing", Profile::Auth, false},
        {"file-group-or-world-writable", Profile::Auth, false},
        {"file-group-or-world-writable-tolerated", Profile::Auth, true},
        {"scripts-not-allowed", Profile::Pwa, true},
    };
    for (const Case& c : cases) {
        const Rule* rule = findRule(c.rule);
        ASSERT_NE(rule, nullptr) << c.rule;
        EXPECT_EQ(checkedUnder(*rule, Config(c.profile, Config::DeveloperMode::Ignored)), c.checked)
            << c.rule << " under " << profileName(c.profile);
    }
}

TEST(RuleTableTest, WrappingKeepsEveryWordOnLinesOfTheWidth)
{
    const std::string text = "one two three four five six seven eight nine ten";
    EXPECT_EQ(wrapped(text, "  ", 16), "  one two three\n  four five six\n  seven eight\n  nine ten\n");
    EXPECT_EQ(wrapped("a-word-longer-than-the-line b", "  ", 10), "  a-word-longer-than-the-line\n  b\n");
    EXPECT_EQ(wrapped("", "  "), "");
}

} // namespace
} // namespace Validator
