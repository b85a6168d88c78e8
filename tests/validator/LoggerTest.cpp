#include "core/Logger.h"
#include "core/PackageMessages.h"

#include "Findings.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

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

} // namespace
} // namespace Validator
