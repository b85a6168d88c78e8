// The executable validator's final step for QML-only applications. The flag
// that marks them is set by the desktop checks; here it is set directly.

#include "checks/Executable.h"
#include "core/Config.h"
#include "core/Logger.h"
#include "package/RpmMeta.h"

#include "Findings.h"
#include "TestKit.h"

#include <gtest/gtest.h>

namespace Validator {
namespace {

class ExecutableFinishTest : public ::testing::Test {
protected:
    ExecutableFinishTest()
    {
        TestKit::Package package;
        package.name = "org.example.qml";
        meta = std::make_shared<const RpmMeta>(TestKit::buildRpm(package, work.path()));
    }

    std::string finishWith(std::initializer_list<Flag> flags, Profile profile = Profile::Regular)
    {
        auto logger = std::make_shared<Logger>();
        for (Flag flag : flags)
            logger->setFlag(flag, true);
        Executable executable({std::make_shared<const Config>(profile), meta, logger});
        TestKit::StderrCapture capture;
        executable.finish();
        return capture.text();
    }

    TestKit::TempDir work{"executable-finish"};
    std::shared_ptr<const RpmMeta> meta;
};

TEST_F(ExecutableFinishTest, QmlOnlyApplicationNeedsNoMainBinary)
{
    EXPECT_EQ(finishWith({Flag::QmlOnlyApp}), "");
}

TEST_F(ExecutableFinishTest, QmlOnlyApplicationMustNotShipOne)
{
    // A main binary that links and exports what it should, with a run path.
    EXPECT_EQ(finishWith({Flag::QmlOnlyApp, Flag::MainBinaryExamined, Flag::LinksLibcStartMain, Flag::ExportsMain,
                          Flag::HasRpath, Flag::RpathAllowed, Flag::ExecutableInBinDir}),
              TestKit::error("[binary] Main binary must not exist. Desktop file uses pelora-qml") + "\n");
}

TEST_F(ExecutableFinishTest, OrdinaryApplicationWithoutAnything)
{
    EXPECT_EQ(finishWith({}), TestKit::error("[binary] Main binary must exist, but it is not found") + "\n"
                                  + TestKit::error("[binary] Main binary must be an executable") + "\n"
                                  + TestKit::warning("[rpath] The rpath in binary is empty") + "\n");
    EXPECT_EQ(finishWith({}, Profile::Pwa), "");
}

} // namespace
} // namespace Validator
