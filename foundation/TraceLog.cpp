#include "foundation/TraceLog.h"

#include "foundation/Paths.h"
#include "foundation/RegOperations.h"
#include "foundation/SharedLogFile.h"
#include "resources/StringTable.h"

#include <QFile>
#include <QStringDecoder>
#include <QtEndian>

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <cerrno>
#include <unistd.h>

namespace {
constexpr int kLineChars = 1024; // each formatting buffer; 1,023 characters + zero

std::atomic<std::uint32_t> g_level{0};
std::atomic<bool> g_open{false};

// Never destroyed: a static destructor elsewhere may still trace.
CSharedLogFile& Log()
{
    static auto* log = new CSharedLogFile;
    return *log;
}

// Closes the log at process exit, after every other user has gone.
struct ExitCloser
{
    ~ExitCloser() { CloseTraceLog(); }
} g_exitCloser;

std::size_t appendDecimal(char16_t* out, unsigned long value)
{
    char16_t digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = digits[n - 1 - i];
    return n;
}

// Builds "%lu : %s\r\n" in a fixed buffer, cut to 1,023 characters, and
// writes it with one call. No heap memory is touched.
void writeLine(const char16_t* message, std::size_t length)
{
    const bool open = g_open.load(std::memory_order_relaxed);
    if (length > kLineChars - 1)
        length = kLineChars - 1;

    char16_t line[kLineChars + 32];
    std::size_t n = appendDecimal(line, static_cast<unsigned long>(gettid()));
    line[n++] = u' ';
    line[n++] = u':';
    line[n++] = u' ';
    std::size_t room = kLineChars - 1 - n;
    const std::size_t take = length < room ? length : room;
    std::memcpy(line + n, message, take * sizeof(char16_t));
    n += take;
    for (char16_t c : {u'\r', u'\n'}) {
        if (n < kLineChars - 1)
            line[n++] = c;
    }
    if (!open)
        return;
    for (std::size_t i = 0; i < n; ++i)
        line[i] = qToLittleEndian(line[i]);
    // The log is best effort: a failed write is not reported anywhere.
    Log().Append(line, n * sizeof(char16_t));
}

QString systemReason(ErrorCode code)
{
    if (code.source == ErrorSource::OpenSsl) {
        // The reason texts are loaded on demand; a no-op once done.
        OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
        const char* reason = ERR_reason_error_string(code.value);
        return reason ? QString::fromUtf8(reason) : QString();
    }
    if (code.value > static_cast<unsigned long>(INT32_MAX))
        return QString();
    // Unlike strerror this gives no text for an unknown code, which is what
    // selects the hexadecimal form.
    const char* desc = strerrordesc_np(static_cast<int>(code.value));
    return desc ? QString::fromUtf8(desc) : QString();
}
} // namespace

std::uint32_t TraceLevel()
{
    return g_level.load(std::memory_order_relaxed);
}

QString GetLogFolder()
{
    return Paths::LogFolder();
}

void CloseTraceLog()
{
    g_open.store(false);
    Log().Close();
}

void OpenTraceLog()
{
    CloseTraceLog();
    g_level.store(CRegOperations::ReadLogTraceLevel(), std::memory_order_relaxed);

    const QString folder = GetLogFolder();
    Paths::MakePath(folder);
    const QString path = folder + LoadString(108);
    // Only this user reads the trace: it follows what the user does.
    const CSharedLogFile::Refusal refusal = Log().Open(path, 0600);
    if (refusal != CSharedLogFile::Refusal::None) {
        g_level.store(0, std::memory_order_relaxed);
        // A missing folder or a log this user may not write is the ordinary
        // silent case; anything planted in the log's place is worth a word.
        const int error = Log().OpenError();
        if (refusal != CSharedLogFile::Refusal::CannotOpen || error == ELOOP) {
            const QString text = QStringLiteral("%1: no trace log: %2\n")
                                     .arg(QString::fromLocal8Bit(program_invocation_short_name),
                                          CSharedLogFile::RefusalText(refusal, path, error));
            std::fputs(text.toLocal8Bit().constData(), stderr);
        }
        return;
    }
    g_open.store(true);
}

void CTraceLog::Trace(const QString& message)
{
    if (TraceLevel() == 0)
        return;
    writeLine(reinterpret_cast<const char16_t*>(message.utf16()),
              static_cast<std::size_t>(message.size()));
}

void CTraceLog::TraceF(const char* format, ...)
{
    if (TraceLevel() == 0)
        return;
    // Room for 1,023 characters of any script in UTF-8.
    char utf8[kLineChars * 4];
    va_list args;
    va_start(args, format);
    int len = std::vsnprintf(utf8, sizeof utf8, format, args);
    va_end(args);
    if (len < 0)
        len = 0;
    if (static_cast<std::size_t>(len) >= sizeof utf8)
        len = sizeof utf8 - 1;

    QChar wide[kLineChars * 4 + 8];
    QStringDecoder toUtf16(QStringConverter::Utf8);
    const QChar* end = toUtf16.appendToBuffer(wide, QByteArrayView(utf8, len));
    writeLine(reinterpret_cast<const char16_t*>(wide), static_cast<std::size_t>(end - wide));
}

void FormatErrorText(ErrorCode code, QString& text, quint32 prefixId)
{
    const QString prefix = LoadString(prefixId);
    unsigned long value = code.value;
    // A component-library code that wraps a system error code carries it in
    // its low 16 bits.
    if (code.source == ErrorSource::System && (value & 0x1FFF0000UL) == 0x00080000UL)
        value &= 0xFFFFUL;
    const QString reason = systemReason({code.source, value});
    if (!reason.isEmpty()) {
        text = prefix + QStringLiteral(". Reason: ") + reason;
        return;
    }
    text = prefix + QStringLiteral(". Reason: n0x") + QString::number(value, 16).toUpper();
}
