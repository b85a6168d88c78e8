#include "core/Logger.h"
#include "core/PackageMessages.h"

#include "Findings.h"

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <sstream>
#include <vector>

namespace Validator {
namespace {

using TestKit::StderrCapture;

enum class TestMessage : std::size_t { Plain, WithArgument, Critical, TwoArguments, Informative, Warning };

constexpr MessageSpec kTestMessages[] = {
    {LogLevel::Error, "[x] plain"},
    {LogLevel::Error, "[{0}] with argument"},
    {LogLevel::Critical, "[scripts] critical"},
    {LogLevel::Error, "[{0}] two {1}"},
    {LogLevel::Info, "[{0}] informative"},
    {LogLevel::Warning, "[{0}] informative"},
};
constexpr MessageGroup kTestGroup("test", kTestMessages);
const MessageGroup& messageGroupOf(TestMessage) { return kTestGroup; }

// Rules as the real tables write them: a name, and a path argument or none.
enum class RuleMessage : std::size_t { PathFirst, PathSecond, NoPath, Critical };
constexpr MessageSpec kRuleMessages[] = {
    {LogLevel::Error, "[{0}] first is a path", "first-is-path", PathArgument::First, "x."},
    {LogLevel::Warning, "[{0}] second is a path: {1}", "second-is-path", PathArgument::Second, "x."},
    {LogLevel::Error, "[{0}] no path", "no-path", PathArgument::None, "x."},
    {LogLevel::Critical, "[{0}] critical", "critical-rule", PathArgument::None, "x."},
};
constexpr MessageGroup kRuleGroup("rules", kRuleMessages);
const MessageGroup& messageGroupOf(RuleMessage) { return kRuleGroup; }

// What a sink is handed, kept after the call.
struct Kept {
    std::string group;
    std::size_t code;
    std::string rule;
    Message message;
    std::vector<std::string> arguments;
    std::optional<std::string> path;
    AcceptedBy acceptedBy;
};

class KeepingSink final : public FindingSink {
public:
    void found(const RecordedFinding& finding) override
    {
        kept.push_back({std::string(finding.group), finding.code, std::string(finding.rule), finding.message,
                        std::vector<std::string>(finding.arguments.begin(), finding.arguments.end()),
                        finding.path ? std::optional<std::string>(*finding.path) : std::nullopt,
                        finding.acceptedBy});
    }
    void notValidated(std::string_view) override {}
    std::vector<Kept> kept;
};

class LoggerTest : public ::testing::Test {
protected:
    void TearDown() override { Logger::setColor(false); }
    Logger logger;
};

TEST_F(LoggerTest, RepeatIsPrintedOnceButMarksEveryStep)
{
    StderrCapture capture;
    logger.add(TestMessage::Plain);
    EXPECT_TRUE(logger.takeStepVerdict(true));
    logger.add(TestMessage::Plain);
    EXPECT_TRUE(logger.errorSeen());
    EXPECT_TRUE(logger.takeStepVerdict(true));
    EXPECT_FALSE(logger.takeStepVerdict(true));
    EXPECT_EQ(capture.text(), "(ERROR)\t\t[x] plain\n");
}

TEST_F(LoggerTest, VerdictDependsOnLevelAndFullChecks)
{
    StderrCapture capture;
    logger.add(TestMessage::Informative, {"a"});
    logger.add(TestMessage::Warning, {"a"});
    EXPECT_FALSE(logger.takeStepVerdict(true));
    logger.add(TestMessage::WithArgument, {"e"});
    EXPECT_FALSE(logger.takeStepVerdict(false)) << "errors do not fail a step under --critical-only";
    logger.add(TestMessage::Critical);
    EXPECT_TRUE(logger.takeStepVerdict(false));
    // Same text, different levels: both printed.
    EXPECT_EQ(capture.text(),
              "(INFO)\t\t[a] informative\n(WARNING)\t[a] informative\n(ERROR)\t\t[e] with argument\n"
              "(CRITICAL)\t[scripts] critical\n");
}

TEST_F(LoggerTest, ColourWrapsOnlyTheTag)
{
    StderrCapture capture;
    Logger::setColor(true);
    logger.add(TestMessage::TwoArguments, {"/usr/bin/a", "file"});
    logger.add(TestMessage::Warning, {"w"});
    EXPECT_EQ(capture.text(), "\033[31m(ERROR)\t\t\033[m[/usr/bin/a] two file\n"
                              "\033[33m(WARNING)\t\033[m[w] informative\n");
}

TEST_F(LoggerTest, MissingArgumentBecomesInfoMessage)
{
    StderrCapture capture;
    logger.add(TestMessage::TwoArguments, {"only-one"});
    EXPECT_FALSE(logger.errorSeen());
    EXPECT_EQ(capture.text(), "(INFO)\t\t[validator] Error while construct message\n");
}

TEST_F(LoggerTest, FlagsKnowOnlyTheirKeys)
{
    StderrCapture capture;
    for (std::uint32_t key = 0; key <= 13; ++key)
        EXPECT_FALSE(logger.getFlag(key));
    logger.setFlag(Flag::QmlOnlyApp, true);
    EXPECT_TRUE(logger.getFlag(1u));
    logger.setFlag(14u, true);
    EXPECT_FALSE(logger.getFlag(14u));
    EXPECT_EQ(capture.text(), "[validator] Unable to set flag with key: \"14\"\n"
                              "[validator] Unable to get flag with key: \"14\"\n");
}

TEST_F(LoggerTest, PackageGroupTexts)
{
    StderrCapture capture;
    logger.add(PackageMessage::InstallationNotAllowed, {"/opt/x"});
    logger.add(PackageMessage::QmlOnlyShouldBeNoarch);
    logger.add(PackageMessage::DebugContent);
    logger.add(PackageMessage::OwnsUsrBin);
    logger.add(PackageMessage::HardcodedPath, {"/usr/share/a/b"});
    EXPECT_EQ(capture.text(), "(ERROR)\t\t[/opt/x] Installation not allowed in this location\n"
                              "(WARNING)\t[arch] QML-only RPMs should be noarch\n"
                              "(ERROR)\t\t[debug] Debug symbols or sources must not be included\n"
                              "(ERROR)\t\t[/usr/bin] Direct package ownership of /usr/bin is disallowed\n"
                              "(ERROR)\t\t[/usr/share/a/b] Hardcoded path found\n");
}

TEST_F(LoggerTest, SinkGetsEachFindingAsDataWithItsPackagedPath)
{
    StderrCapture capture;
    KeepingSink sink;
    logger.setSink(&sink);
    logger.add(RuleMessage::PathFirst, {"/usr/share/a/\x1b"});
    logger.setCurrentFile("/usr/bin/app");
    logger.add(RuleMessage::PathSecond, {"k", "/usr/share/a/b"});
    logger.add(RuleMessage::NoPath, {"libx.so"});
    logger.add(RuleMessage::NoPath, {"libx.so"});  // a repeat reaches no sink
    logger.clearCurrentFile();
    logger.add(RuleMessage::NoPath, {"liby.so"});
    logger.add(TestMessage::TwoArguments, {"only-one"});

    struct Expected {
        std::string rule;
        std::vector<std::string> arguments;
        std::optional<std::string> path;
    };
    const Expected expected[] = {
        {"first-is-path", {"/usr/share/a/\x1b"}, "/usr/share/a/\x1b"},  // raw, escaped only in the text
        {"second-is-path", {"k", "/usr/share/a/b"}, "/usr/share/a/b"},  // the message's own path wins
        {"no-path", {"libx.so"}, "/usr/bin/app"},                        // the file being validated
        {"no-path", {"liby.so"}, std::nullopt},                          // between files: none
        {"validator-message-broken", {}, std::nullopt},
    };
    ASSERT_EQ(sink.kept.size(), std::size(expected)) << capture.text();
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(sink.kept[i].rule, expected[i].rule) << i;
        EXPECT_EQ(sink.kept[i].arguments, expected[i].arguments) << i;
        EXPECT_EQ(sink.kept[i].path, expected[i].path) << i;
        EXPECT_EQ(sink.kept[i].acceptedBy, AcceptedBy::None) << i;
    }
    EXPECT_EQ(sink.kept[0].group, "rules");
    EXPECT_EQ(sink.kept[1].code, 1u);
    EXPECT_EQ(sink.kept[0].message.text, "[/usr/share/a/\\x1b] first is a path");
    EXPECT_EQ(sink.kept[4].group, "validator");
}

TEST_F(LoggerTest, AcceptedFindingsAreNeitherPrintedNorFailingButReachTheSink)
{
    StderrCapture capture;
    KeepingSink sink;
    logger.setSink(&sink);
    FindingAcceptance acceptance;
    acceptance.ignore("no-path");
    const std::vector<std::string> arguments = {"/a\nb"};
    acceptance.acceptFromBaseline("org.example.app", "first-is-path", arguments);
    // Every critical finding of a baseline and of --ignore is asked about in vain.
    const std::vector<std::string> critical = {"c"};
    acceptance.acceptFromBaseline("org.example.app", "critical-rule", critical);
    acceptance.ignore("critical-rule");
    logger.setRecording({&acceptance, false}, "org.example.app");

    logger.add(RuleMessage::NoPath, {"x"});
    logger.add(RuleMessage::PathFirst, {"/a\nb"});
    EXPECT_FALSE(logger.takeStepVerdict(true)) << "accepted errors fail no step";
    logger.add(RuleMessage::PathFirst, {"/a\\nb"});  // prints like the accepted one, but is not it
    EXPECT_TRUE(logger.takeStepVerdict(true));
    logger.add(RuleMessage::Critical, {"c"});
    EXPECT_TRUE(logger.takeStepVerdict(false)) << "a critical finding is never accepted";

    EXPECT_EQ(capture.text(), "(ERROR)\t\t[/a\\nb] first is a path\n(CRITICAL)\t[c] critical\n");
    ASSERT_EQ(sink.kept.size(), 4u);
    EXPECT_EQ(sink.kept[0].acceptedBy, AcceptedBy::Ignore);
    EXPECT_EQ(sink.kept[1].acceptedBy, AcceptedBy::Baseline);
    EXPECT_EQ(sink.kept[2].acceptedBy, AcceptedBy::None);
    EXPECT_EQ(sink.kept[3].acceptedBy, AcceptedBy::None);

    // The baseline is per package: another package's finding is its own.
    Logger other;
    other.setRecording({&acceptance, false}, "org.example.other");
    other.add(RuleMessage::PathFirst, {"/a\nb"});
    EXPECT_TRUE(other.takeStepVerdict(true));
}

TEST_F(LoggerTest, RuleNamesEndTheLinesOnlyWhenAsked)
{
    StderrCapture capture;
    logger.add(RuleMessage::NoPath, {"a"});
    logger.setRecording({nullptr, true}, "p");
    logger.add(RuleMessage::NoPath, {"b"});
    Logger::setColor(true);
    logger.add(RuleMessage::PathSecond, {"c", "d"});
    EXPECT_EQ(capture.text(), "(ERROR)\t\t[a] no path\n(ERROR)\t\t[b] no path [no-path]\n"
                              "\033[33m(WARNING)\t\033[m[c] second is a path: d [second-is-path]\n");
}

} // namespace
} // namespace Validator
