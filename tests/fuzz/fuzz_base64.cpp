// Base64 as read from invitation files and service messages.
//
// Input: one control byte, then the data. The data is decoded as 8-bit text
// and as wide text (bit 0 set: its bytes taken as UTF-16LE units) and
// encoded, all with one codec object that is reused from step to step, the
// way the reader of a document reuses it.
//
// Properties:
// - the 8-bit and the wide decoder give the same bytes for the same text
//   (a wide unit beyond Latin-1 counts as '?');
// - text made only of the alphabet, whitespace and final padding decodes to
//   what Qt's independent decoder makes of it;
// - encoding gives Qt's text, and decoding that text gives the bytes back;
// - after every step each buffer is zero beyond its used part (the text is
//   handed out as a zero-terminated string).
#include "foundation/Base64.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

QByteArray Bytes(const CBase64& codec)
{
    return QByteArray(reinterpret_cast<const char*>(codec.GetBytes()),
                      static_cast<qsizetype>(codec.ByteCount()));
}

// The first non-zero byte of [from, to), or to. The scan covers whole
// buffers after every step: it compares blocks rather than bytes so that it
// does not take most of the fuzzer's time.
std::uint32_t FirstNonZero(const void* buffer, std::uint32_t from, std::uint32_t to)
{
    static const unsigned char zeros[4096] = {};
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (from < to) {
        const std::uint32_t block = std::min<std::uint32_t>(to - from, sizeof zeros);
        if (std::memcmp(bytes + from, zeros, block) != 0) {
            while (bytes[from] == 0)
                ++from;
            return from;
        }
        from += block;
    }
    return to;
}

void CheckZeroTails(const CBase64& codec, const char* step)
{
    if (codec.GetBytes()) {
        const std::uint32_t at =
            FirstNonZero(codec.GetBytes(), codec.ByteCount(), codec.ByteCapacity());
        FUZZ_CHECK(at == codec.ByteCapacity(), QStringLiteral("%1: byte %2 of %3 beyond count %4")
                                                   .arg(QLatin1String(step))
                                                   .arg(at)
                                                   .arg(codec.ByteCapacity())
                                                   .arg(codec.ByteCount()));
    }
    const std::uint32_t at =
        FirstNonZero(codec.GetTextAscii(), codec.TextLength(), codec.TextCapacity());
    FUZZ_CHECK(at == codec.TextCapacity(), QStringLiteral("%1: text byte %2 of %3 beyond length %4")
                                               .arg(QLatin1String(step))
                                               .arg(at)
                                               .arg(codec.TextCapacity())
                                               .arg(codec.TextLength()));
}

bool IsSkipped(char16_t c)
{
    return (c >= 7 && c <= 13) || c == 32;
}

bool IsAlphabet(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
           c == u'+' || c == u'/';
}

// The text without whitespace when it is plain Base64 (alphabet, then at
// most two '=' that complete a group of four); empty otherwise.
bool PlainBase64(const QString& text, QByteArray& plain)
{
    plain.clear();
    // The decoders read a unit beyond Latin-1 as '?' and one with the high
    // bit set as the same character without it.
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (!IsSkipped(u))
            plain.append(u > 0xFF ? '?' : static_cast<char>(u & 0x7F));
    }
    qsizetype end = plain.size();
    int padding = 0;
    while (end > 0 && plain.at(end - 1) == '=' && padding < 2) {
        --end;
        ++padding;
    }
    for (qsizetype i = 0; i < end; ++i) {
        if (!IsAlphabet(static_cast<unsigned char>(plain.at(i))))
            return false;
    }
    if (padding > 0 && plain.size() % 4 != 0)
        return false;
    // A lone character in the last group carries no whole byte.
    return end % 4 != 1;
}

// Both decoders on one text; returns what they agreed on.
QByteArray DecodeBoth(CBase64& codec, const QString& wide)
{
    QByteArray narrow;
    narrow.reserve(wide.size());
    for (QChar c : wide)
        narrow.append(c.unicode() > 0xFF ? '?' : static_cast<char>(c.unicode()));

    std::uint32_t wideLength = 0;
    codec.Decode(wide, wideLength);
    CheckZeroTails(codec, "Decode");
    const QByteArray fromWide = Bytes(codec);
    FUZZ_CHECK(wideLength == codec.ByteCount(), QString());

    std::uint32_t narrowLength = 0;
    codec.DecodeAscii(narrow.constData(), static_cast<std::uint32_t>(narrow.size()), narrowLength);
    CheckZeroTails(codec, "DecodeAscii");
    const QByteArray fromNarrow = Bytes(codec);
    FUZZ_CHECK(narrowLength == codec.ByteCount(), QString());
    FUZZ_CHECK(fromWide == fromNarrow,
               QStringLiteral("text %1\n  wide %2\n  8-bit %3")
                   .arg(Fuzz::Hex(narrow), Fuzz::Hex(fromWide), Fuzz::Hex(fromNarrow)));

    // A fresh codec must agree with the reused one.
    FUZZ_CHECK(CBase64::DecodeString(wide) == fromWide, Fuzz::Hex(narrow));

    QByteArray plain;
    if (PlainBase64(wide, plain)) {
        const auto reference =
            QByteArray::fromBase64Encoding(plain, QByteArray::AbortOnBase64DecodingErrors);
        if (reference)
            FUZZ_CHECK(
                *reference == fromWide,
                QStringLiteral("text %1\n  ours %2\n  Qt's %3")
                    .arg(QString::fromLatin1(plain), Fuzz::Hex(fromWide), Fuzz::Hex(*reference)));
    }
    return fromWide;
}

void RoundTrip(CBase64& codec, const QByteArray& bytes)
{
    codec.Encode(bytes.constData(), static_cast<std::uint32_t>(bytes.size()));
    CheckZeroTails(codec, "Encode");
    const QString text = codec.GetText();
    FUZZ_CHECK(text == QString::fromLatin1(bytes.toBase64()), Fuzz::Hex(bytes));
    FUZZ_CHECK(std::strlen(codec.GetTextAscii()) == codec.TextLength(), Fuzz::Hex(bytes));
    FUZZ_CHECK(CBase64::EncodeToString(bytes) == text, Fuzz::Hex(bytes));

    std::uint32_t length = 0;
    codec.Decode(text, length);
    CheckZeroTails(codec, "Decode of encoded");
    FUZZ_CHECK(Bytes(codec) == bytes, QStringLiteral("bytes %1\n  came back as %2")
                                          .arg(Fuzz::Hex(bytes), Fuzz::Hex(Bytes(codec))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t control = data[0];
    const QByteArray input(reinterpret_cast<const char*>(data + 1),
                           static_cast<qsizetype>(size - 1));

    QString wide;
    if (control & 1) {
        wide.resize(input.size() / 2);
        for (qsizetype i = 0; i < wide.size(); ++i)
            wide[i] = QChar(
                static_cast<char16_t>(static_cast<unsigned char>(input.at(2 * i)) |
                                      (static_cast<unsigned char>(input.at(2 * i + 1)) << 8)));
    } else {
        wide = QString::fromLatin1(input);
    }

    // Steps of different sizes on the same codec leave stale bytes of
    // different lengths behind for the next step to clear.
    CBase64 codec;
    const qsizetype split = wide.size() * (control >> 2) / 63;
    const QByteArray first = DecodeBoth(codec, wide.left(split));
    const QByteArray whole = DecodeBoth(codec, wide);
    RoundTrip(codec, (control & 2) ? whole : input);
    DecodeBoth(codec, wide.mid(split));
    RoundTrip(codec, first);
    return 0;
}
