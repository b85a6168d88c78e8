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
    for (const Case& c : cases) {
        EXPECT_EQ(Common::visibleText(c.input), c.shown) << c.shown;
        // What was shown reads back to the bytes, but where they held a
        // backslash sequence of their own.
        if (c.input.find('\\') == std::string::npos) {
            EXPECT_EQ(Common::fromVisibleText(c.shown), c.input) << c.shown;
        }
    }
}

TEST(VisibleText, ReadingBackTurnsEscapesIntoBytesAndLeavesEverythingElse)
{
    // Here `shown` is what the input reads back as.
    const Case cases[] = {
        {"a\\x1bb", "a\x1b" "b"},
        {"\\x1B\\xFF", "\x1b\xff"},  // either case of hexadecimal digits
        {"\\X1B", "\\X1B"},
        {"\\n\\r\\t", "\n\r\t"},
        {"back\\slash", "back\\slash"},
        {"\\x1", "\\x1"},          // too short for an escape
        {"\\xg0", "\\xg0"},
        {"end\\", "end\\"},
        // Shown alike, read back alike: a text that held "\\n" itself comes
        // back as a line break, never as what it was.
        {Common::visibleText("C:\\new"), "C:\new"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Common::fromVisibleText(c.input), c.shown) << c.input;
}

} // namespace
