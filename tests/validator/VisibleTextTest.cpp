#include "common/VisibleText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    std::string input;
    std::string shown;
};

TEST(VisibleText, ControlsAndInvalidBytesAreEscapedEverythingElseIsKept)
{
    const Case cases[] = {
        {"org.example.app", "org.example.app"},
        {"Evil\x1b[2K\r(INFO)\t\tall good", "Evil\\x1b[2K\\r(INFO)\\t\\tall good"},
        {"two\nlines", "two\\nlines"},
        {std::string("nul\0byte", 8), "nul\\x00byte"},
        {"del\x7f", "del\\x7f"},
        {"back\\slash", "back\\slash"},
        {"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82"},
        {"\xf0\x9f\x93\xa6 box", "\xf0\x9f\x93\xa6 box"},
        {"csi\xc2\x9b" "2J", "csi\\xc2\\x9b2J"},        // C1 control in UTF-8
        {"raw\x9b" "2J", "raw\\x9b2J"},                  // a lone continuation byte
        {"latin1 \xe9t\xe9", "latin1 \\xe9t\\xe9"},      // not UTF-8
        {"cut \xe2\x82", "cut \\xe2\\x82"},              // truncated sequence
        {"overlong \xc0\xaf", "overlong \\xc0\\xaf"},
        {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
        {"nbsp\xc2\xa0", "nbsp\xc2\xa0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Common::visibleText(c.input), c.shown) << c.shown;
}

} // namespace
