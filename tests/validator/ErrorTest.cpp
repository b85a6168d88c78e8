// The validator's error type: the codes shared with the platform's
// package-management services, their names and standard messages.

#include "package/Error.h"

#include <gtest/gtest.h>

namespace {

TEST(ErrorType, CodesMessagesAndCategory)
{
    const auto& category = Common::errorCategory();
    EXPECT_STREQ(category.name(), "Common::ErrorCategory");
    EXPECT_EQ(category.message(4), "Internal error occurred");
    EXPECT_EQ(category.message(99), "Internal error occurred");
    EXPECT_EQ(category.message(34), "The package has a developer signature with a disallowed subgroup");
    Common::Error error(Common::ErrorCode::BadPackageFileFormat, "Couldn't read rpm package");
    EXPECT_STREQ(error.what(), "Couldn't read rpm package");
    EXPECT_STREQ(error.standardMessage(), "Failed to parse the package or read the required package data");
    EXPECT_EQ(error.code(), Common::makeErrorCode(Common::ErrorCode::BadPackageFileFormat));
    EXPECT_STREQ(Common::errorName(Common::ErrorCode::MissingDeveloperSignature),
                 "org.brevane.KVD.Error.MissingDeveloperSignature");
}

} // namespace
