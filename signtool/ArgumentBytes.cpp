#include "ArgumentBytes.h"

#include <string_view>

#include <QFile>
#include <QTextCodec>

#include "common/VisibleText.h"

namespace SignTool {

namespace {

constexpr char16_t escapeBase = 0xdc00;

class ByteExactUtf8Codec final : public QTextCodec {
public:
    QByteArray name() const override { return "x-torvel-utf-8-surrogate-escape"; }
    // Not an IANA number: no one asks for this codec by number.
    int mibEnum() const override { return -7460; }

protected:
    // The state is not used: a decoder fed in pieces that split a character
    // sees its bytes as escapes, which still encode back to the same bytes.
    QString convertToUnicode(const char* in, int length, ConverterState*) const override
    {
        const std::string_view bytes(in, size_t(length > 0 ? length : 0));
        QString text;
        text.reserve(int(bytes.size()));
        for (size_t i = 0; i < bytes.size();) {
            const size_t sequence = Common::utf8SequenceLength(bytes, i);
            const auto byte = [&](size_t k) { return char32_t(static_cast<unsigned char>(bytes[i + k])); };
            char32_t codePoint;
            switch (sequence) {
            case 1: codePoint = byte(0); break;
            case 2: codePoint = (byte(0) & 0x1f) << 6 | (byte(1) & 0x3f); break;
            case 3: codePoint = (byte(0) & 0x0f) << 12 | (byte(1) & 0x3f) << 6 | (byte(2) & 0x3f); break;
            case 4:
                codePoint = (byte(0) & 0x07) << 18 | (byte(1) & 0x3f) << 12 | (byte(2) & 0x3f) << 6 | (byte(3) & 0x3f);
                break;
            default:
                // Only bytes 0x80..0xff are ever invalid, so the escapes
                // stay within U+DC80..U+DCFF.
                text += QChar(char16_t(escapeBase + byte(0)));
                ++i;
                continue;
            }
            if (QChar::requiresSurrogates(codePoint)) {
                text += QChar(QChar::highSurrogate(codePoint));
                text += QChar(QChar::lowSurrogate(codePoint));
            } else {
                text += QChar(char16_t(codePoint));
            }
            i += sequence;
        }
        return text;
    }

    QByteArray convertFromUnicode(const QChar* in, int length, ConverterState* state) const override
    {
        QByteArray bytes;
        bytes.reserve(length > 0 ? length : 0);
        const auto append = [&bytes](unsigned value) { bytes += char(static_cast<unsigned char>(value)); };
        for (int i = 0; i < length; ++i) {
            const char16_t unit = in[i].unicode();
            if (unit < 0x80) {
                append(unit);
            } else if (unit < 0x800) {
                append(0xc0 | unit >> 6);
                append(0x80 | (unit & 0x3f));
            } else if (QChar::isHighSurrogate(unit) && i + 1 < length && in[i + 1].isLowSurrogate()) {
                const char32_t codePoint = QChar::surrogateToUcs4(unit, in[i + 1].unicode());
                ++i;
                append(0xf0 | codePoint >> 18);
                append(0x80 | (codePoint >> 12 & 0x3f));
                append(0x80 | (codePoint >> 6 & 0x3f));
                append(0x80 | (codePoint & 0x3f));
            } else if (unit >= escapeBase + 0x80 && unit <= escapeBase + 0xff) {
                // A lone escape, which only the decoder above makes: a low
                // surrogate that follows a high one is half of a character.
                append(unit - escapeBase);
            } else if (QChar::isSurrogate(unit)) {
                // Text that never came from bytes; Qt's UTF-8 codec does the same.
                if (state != nullptr)
                    ++state->invalidChars;
                append(state != nullptr && (state->flags & ConvertInvalidToNull) ? 0 : '?');
            } else {
                append(0xe0 | unit >> 12);
                append(0x80 | (unit >> 6 & 0x3f));
                append(0x80 | (unit & 0x3f));
            }
        }
        return bytes;
    }
};

} // namespace

void installByteExactLocaleCodec()
{
    // QTextCodec's constructor hands the codec to Qt, which deletes every
    // codec it knows at exit.
    QTextCodec::setCodecForLocale(new ByteExactUtf8Codec);
}

QByteArray argumentBytes(const QString& argument)
{
    return QFile::encodeName(argument);
}

QString argumentFromBytes(const QByteArray& bytes)
{
    return QFile::decodeName(bytes);
}

} // namespace SignTool
