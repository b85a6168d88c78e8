#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Common {

// Length of the valid UTF-8 sequence that starts at text[i], or 0 when the
// bytes there are not one: overlong forms, UTF-16 surrogates and code points
// past U+10FFFF are not valid.
inline std::size_t utf8SequenceLength(std::string_view text, std::size_t i)
{
    const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf)
        length = 2;
    else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0)
            low = 0xa0;
        else if (lead == 0xed)
            high = 0x9f;  // no UTF-16 surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0)
            low = 0x90;
        else if (lead == 0xf4)
            high = 0x8f;
    } else
        return 0;
    if (i + length > text.size())
        return 0;
    if (byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf)
            return 0;
    }
    return length;
}

// Text taken from a package or a signed file, made safe to print as part of
// one line: control characters (C0, DEL and the C1 range encoded in UTF-8)
// and bytes that are not part of valid UTF-8 are written as escapes
// (\n, \r, \t, else \xHH per byte), so a hostile name can neither end the
// line nor drive the terminal, and the reader still sees what it holds.
// Everything else, including valid multi-byte UTF-8, passes unchanged.
inline std::string visibleText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escapeByte = [&out](unsigned char byte) {
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0f];
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (byte == '\n')
                out += "\\n";
            else if (byte == '\r')
                out += "\\r";
            else if (byte == '\t')
                out += "\\t";
            else if (byte < 0x20 || byte == 0x7f)
                escapeByte(byte);
            else
                out += static_cast<char>(byte);
            ++i;
            continue;
        }
        const std::size_t length = utf8SequenceLength(text, i);
        // U+0080..U+009F are the C1 controls (CSI among them).
        const bool c1Control = length == 2 && byte == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0;
        if (length == 0 || c1Control) {
            const std::size_t count = length == 0 ? 1 : length;
            for (std::size_t k = 0; k < count; ++k)
                escapeByte(static_cast<unsigned char>(text[i + k]));
            i += count;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

// The value of one hexadecimal digit of either case; -1 for any other byte.
inline int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes visibleText() was given, read back from its output: \n, \r, \t
// and \xHH become the bytes they stand for, everything else stays. The
// escaping leaves a backslash as it is, so a text that held such a sequence
// itself (a backslash and an "n") reads back as the byte it looks like, not
// as it was: that one text does not come back, every other one does.
inline std::string fromVisibleText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[i + 1];
        if (next == 'n' || next == 'r' || next == 't') {
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : '\t';
            ++i;
        } else if (next == 'x' && i + 3 < text.size() && hexDigitValue(text[i + 2]) >= 0 && hexDigitValue(text[i + 3]) >= 0) {
            out += static_cast<char>(hexDigitValue(text[i + 2]) * 16 + hexDigitValue(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace Common
