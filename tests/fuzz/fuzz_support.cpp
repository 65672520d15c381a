// The support form's body: what the user typed and the tail of the
// service's log (a file of the shared log folder) encoded for the help
// centre.
//
// Input: one control byte, then the payload.
// - bit 0 clear: the payload is the form: up to four fields (name, e-mail,
//   subject, message) separated by 0x01 bytes, as UTF-8, or with bit 1 set
//   as UTF-16LE units (so that lone surrogates occur).
// - bit 0 set: the payload is the service's log file. With bit 1 set it
//   follows kWindowBytes + (second byte - 128) bytes of older log text, so
//   that the window's start falls on either side of the limit.
//
// Properties:
// - every encoded field is printable ASCII without a character the form
//   handler treats specially, "%" always starts an upper-case hex pair, and
//   decoding gives back the field's UTF-8;
// - the body splits into the form's six fields in their order, and each
//   decodes to what was typed ("NotEntered" for an empty one), the log tail
//   following the message;
// - the tail is text of the last window of the log, starting on a character
//   boundary, ending at the file's end or its first zero character; there is
//   a tail exactly when there is text.
#include "foundation/Paths.h"
#include "foundation/TraceLog.h"
#include "support/ServiceLogTail.h"
#include "support/SupportReport.h"
#include "support/URLEncode.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QList>

#include <cstdint>
#include <cstring>

namespace {

TestEnvironment* g_environment = nullptr;

void CheckEncoded(const QString& text)
{
    const QByteArray encoded = CURLEncode::Encode(text);
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded.at(i);
        FUZZ_CHECK(c > 32 && c < 123, Fuzz::Hex(encoded));
        if (c == '%') {
            FUZZ_CHECK(i + 2 < encoded.size(), Fuzz::Hex(encoded));
            const QByteArray pair = encoded.mid(i + 1, 2);
            FUZZ_CHECK(pair.size() == 2 && pair == pair.toUpper() &&
                           QByteArray::fromHex(pair).toHex().toUpper() == pair,
                       Fuzz::Hex(encoded));
            i += 2;
            continue;
        }
        FUZZ_CHECK(std::strchr(CURLEncode::kUnsafe, c) == nullptr, Fuzz::Hex(encoded));
    }
    FUZZ_CHECK(QByteArray::fromPercentEncoding(encoded) == text.toUtf8(),
               Fuzz::Hex(text.toUtf8()) + QStringLiteral(" -> ") + QString::fromLatin1(encoded));
}

void CheckBody(const SupportForm& form, const QString& logText)
{
    const QByteArray body = SupportReport::BuildBody(form, logText);
    const QList<QByteArray> pairs = body.split('&');
    const char* keys[] = {"departmentid", "name", "email", "subject", "message", "email_send"};
    FUZZ_CHECK(pairs.size() == 6, QString::fromLatin1(body.left(300)));
    const QString typed[] = {QString(), form.name, form.email, form.subject,
                             form.message + logText};
    for (int i = 0; i < 6; ++i) {
        const QByteArray& pair = pairs.at(i);
        const qsizetype equals = pair.indexOf('=');
        FUZZ_CHECK(equals > 0 && pair.left(equals) == keys[i], QString::fromLatin1(pair.left(80)));
        if (i == 0 || i == 5)
            continue;
        const QByteArray value = QByteArray::fromPercentEncoding(pair.mid(equals + 1));
        const QByteArray expected =
            typed[i].isEmpty() ? QByteArray(SupportReport::kNotEntered) : typed[i].toUtf8();
        FUZZ_CHECK(value == expected,
                   QStringLiteral("%1: %2 instead of %3")
                       .arg(QLatin1String(keys[i]), Fuzz::Hex(value), Fuzz::Hex(expected)));
    }
}

void Form(const QString& text)
{
    const QStringList parts = text.split(QChar(1));
    SupportForm form;
    form.name = parts.value(0);
    form.email = parts.value(1);
    form.subject = parts.value(2);
    form.message = parts.mid(3).join(QChar(1));
    for (const QString& field : {form.name, form.email, form.subject, form.message})
        CheckEncoded(field);
    CheckBody(form, QString());
    CheckEncoded(SupportReport::WithCrLf(form.message));
}

QByteArray Utf16(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

void Log(const QByteArray& file)
{
    const QString path = ServiceLogPath();
    {
        QFile out(path);
        FUZZ_CHECK(out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                       out.write(file) == file.size(),
                   path);
    }
    const ServiceLogTail tail = ReadServiceLogTail(path);
    FUZZ_CHECK(tail.status == ServiceLogTail::Status::Attached ||
                   tail.status == ServiceLogTail::Status::TooShort,
               tail.reason);
    FUZZ_CHECK((tail.status == ServiceLogTail::Status::Attached) == !tail.text.isEmpty(),
               tail.reason);
    FUZZ_CHECK(!tail.reason.isEmpty() || tail.status == ServiceLogTail::Status::Attached,
               QString());
    if (tail.text.isEmpty())
        return;

    // Where the text must lie: an even offset at the start of the last
    // window, or past the file's first four bytes when it fits the window.
    // The file is read into a zero-filled buffer, so a lone last byte is a
    // character of its own.
    const QByteArray units = Utf16(tail.text);
    FUZZ_CHECK(!tail.text.contains(QChar(0)), QString());
    const QByteArray read = file.size() % 2 ? file + '\0' : file;
    const qint64 windowStart = file.size() > ServiceLogTail::kWindowBytes
                                   ? file.size() - ServiceLogTail::kWindowBytes
                                   : ServiceLogTail::kFirstByte;
    qsizetype at = read.indexOf(units, windowStart);
    while (at >= 0 && at % 2 != 0)
        at = read.indexOf(units, at + 1);
    FUZZ_CHECK(at >= 0 && at <= windowStart + 1,
               QStringLiteral("tail of %1 units not found at the window's start (%2) of %3 bytes")
                   .arg(tail.text.size())
                   .arg(windowStart)
                   .arg(file.size()));
    const qsizetype end = at + units.size();
    const bool atEnd = end >= read.size() || end + 2 > at + ServiceLogTail::kMaxReadBytes;
    FUZZ_CHECK(atEnd || (read.at(end) == 0 && read.at(end + 1) == 0),
               QStringLiteral("tail stops at %1 of %2 bytes before a non-zero character")
                   .arg(end)
                   .arg(file.size()));

    SupportForm form;
    form.message = QStringLiteral("It stopped.\r\n");
    CheckBody(form, tail.text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_environment = new TestEnvironment;
    if (!g_environment->isValid() || !Paths::MakePath(GetLogFolder()))
        Fuzz::Fail(__FILE__, __LINE__, "temporary folders", QString());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t control = data[0];
    const QByteArray payload(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (control & 1) {
        QByteArray file;
        if ((control & 2) && size >= 2) {
            const qsizetype older = ServiceLogTail::kWindowBytes + int(data[1]) - 128;
            file = Utf16(QStringLiteral("older line\r\n")).repeated(older / 24 + 1).left(older);
        }
        Log(file + payload);
        return 0;
    }
    QString text;
    if (control & 2)
        text = QString(reinterpret_cast<const QChar*>(payload.constData()), payload.size() / 2);
    else
        text = QString::fromUtf8(payload);
    Form(text);
    return 0;
}
