#include "foundation/EncryptFile.h"

#include "foundation/TraceLog.h"
#include "resources/StringTable.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char16_t kHeaderText[] = u"Encrypt.header.1.0";
constexpr int kMaxKeyChars = 259;

// The header as it is enciphered: the text and its zero, UTF-16LE.
void headerBytes(std::uint8_t (&out)[CEncryptFile::kHeaderBytes])
{
    static_assert(sizeof kHeaderText == CEncryptFile::kHeaderBytes);
    for (int i = 0; i < CEncryptFile::kHeaderBytes / 2; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(kHeaderText[i] & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>(kHeaderText[i] >> 8);
    }
}

QByteArray keyBytes(const QString& key)
{
    QByteArray bytes;
    bytes.reserve(key.size() * 2);
    for (QChar c : key) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until length bytes or the end of the file; -1 on a read error.
ssize_t readAll(int fd, std::uint8_t* data, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(fd, data + done, length - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}
} // namespace

CRc4::CRc4(const std::uint8_t* key, std::size_t keyLength)
{
    for (std::uint32_t i = 0; i < 256; ++i)
        m_s[i] = i;
    // An empty key would leave nothing to mix in (and no length to wrap at).
    if (keyLength == 0)
        return;
    std::uint8_t j = 0;
    std::size_t k = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<std::uint8_t>(j + m_s[i] + key[k]);
        std::swap(m_s[i], m_s[j]);
        if (++k == keyLength)
            k = 0;
    }
}

void CRc4::Apply(std::uint8_t* data, std::size_t length)
{
    std::uint32_t* const s = m_s;
    std::uint8_t i = m_i, j = m_j;
    for (std::size_t n = 0; n < length; ++n) {
        i = static_cast<std::uint8_t>(i + 1);
        const std::uint32_t si = s[i];
        j = static_cast<std::uint8_t>(j + si);
        const std::uint32_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        data[n] ^= static_cast<std::uint8_t>(s[static_cast<std::uint8_t>(si + sj)]);
    }
    m_i = i;
    m_j = j;
}

CEncryptFile::CEncryptFile() = default;

CEncryptFile::~CEncryptFile()
{
    Close();
}

void CEncryptFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CEncryptFile::Crypt(void* data, std::size_t length) const
{
    const QByteArray key = keyBytes(m_key);
    CRc4 rc4(reinterpret_cast<const std::uint8_t*>(key.constData()),
             static_cast<std::size_t>(key.size()));
    rc4.Apply(static_cast<std::uint8_t*>(data), length);
}

bool CEncryptFile::Create(const QString& path, const QString& key)
{
    Close();
    m_errorText.clear();
    // Refused before the file is touched: an empty key would encipher nothing.
    if (key.isEmpty()) {
        FormatErrorText(ErrorCode::System(EINVAL), m_errorText, 10001);
        return false;
    }
    const QByteArray native = QFile::encodeName(path);
    // Owner-only: stored invitations carry the network's certificate.
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int err = errno;
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::TraceF(" CEncryptFile::Create not create file (error %d)", err);
        FormatErrorText(ErrorCode::System(err), m_errorText, 10001);
        return false;
    }
    m_fd = fd;
    m_key = key.left(kMaxKeyChars);

    std::uint8_t header[kHeaderBytes];
    headerBytes(header);
    Crypt(header, sizeof header);
    // A header that did not reach the disk makes a file nobody can open.
    if (!writeAll(m_fd, header, sizeof header)) {
        FormatErrorText(ErrorCode::System(errno), m_errorText, 10001);
        Close();
        return false;
    }
    return true;
}

bool CEncryptFile::Open(const QString& path)
{
    return OpenImpl(path, FixedKey());
}

bool CEncryptFile::OpenWithKey(const QString& path, const QString& key)
{
    return OpenImpl(path, key);
}

bool CEncryptFile::OpenImpl(const QString& path, const QString& key)
{
    Close();
    m_errorText.clear();
    const QByteArray native = QFile::encodeName(path);
    // Non-blocking so that a FIFO in place of the file cannot hang the open.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    int err = fd < 0 ? errno : 0;
    struct stat st;
    if (fd >= 0) {
        if (::fstat(fd, &st) != 0)
            err = errno;
        else if (S_ISDIR(st.st_mode))
            err = EISDIR;
        else if (!S_ISREG(st.st_mode))
            err = EINVAL;
        if (err != 0)
            ::close(fd);
    }
    if (err != 0) {
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::TraceF(" CEncryptFile::Open not create file (error %d)\n", err);
        FormatErrorText(ErrorCode::System(err), m_errorText, 10002);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    m_key = key.left(kMaxKeyChars);

    std::uint8_t header[kHeaderBytes] = {};
    const ssize_t got = readAll(m_fd, header, sizeof header);
    if (got < 0) {
        FormatErrorText(ErrorCode::System(errno), m_errorText, 10002);
        return false;
    }
    if (got == 0)
        return false;
    Crypt(header, sizeof header);

    std::size_t units = 0;
    char16_t text[kHeaderBytes / 2];
    for (; units < kHeaderBytes / 2; ++units) {
        text[units] = static_cast<char16_t>(header[2 * units] | (header[2 * units + 1] << 8));
        if (text[units] == 0)
            break;
    }
    const QString found = QString::fromUtf16(text, static_cast<qsizetype>(units));
    if (found.compare(QString::fromUtf16(kHeaderText), Qt::CaseInsensitive) == 0)
        return true;
    m_errorText = LoadString(10003);
    return false;
}

bool CEncryptFile::WriteBody(const QString& text)
{
    if (m_fd < 0)
        return false;
    const std::size_t bytes = (static_cast<std::size_t>(text.size()) + 1) * 2;
    // A body this reader would refuse must not be written in the first place.
    if (bytes > static_cast<std::size_t>(kMaxBodyBytes)) {
        FormatErrorText(ErrorCode::System(EFBIG), m_errorText, 10001);
        return false;
    }
    std::vector<std::uint8_t> body(bytes, 0);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        body[2 * i] = static_cast<std::uint8_t>(u & 0xFF);
        body[2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
    }
    Crypt(body.data(), body.size());
    if (!writeAll(m_fd, body.data(), body.size())) {
        FormatErrorText(ErrorCode::System(errno), m_errorText, 10001);
        return false;
    }
    return true;
}

bool CEncryptFile::ReadBody(QString& text)
{
    if (m_fd < 0)
        return false;
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        FormatErrorText(ErrorCode::System(errno), m_errorText, 10002);
        return false;
    }
    const qint64 length = st.st_size > kHeaderBytes ? st.st_size - kHeaderBytes : 0;
    if (length > kMaxBodyBytes) {
        FormatErrorText(ErrorCode::System(EFBIG), m_errorText, 10002);
        return false;
    }
    std::vector<std::uint8_t> body(static_cast<std::size_t>(length));
    if (::lseek(m_fd, kHeaderBytes, SEEK_SET) < 0) {
        FormatErrorText(ErrorCode::System(errno), m_errorText, 10002);
        return false;
    }
    const ssize_t got = readAll(m_fd, body.data(), body.size());
    if (got < 0) {
        FormatErrorText(ErrorCode::System(errno), m_errorText, 10002);
        return false;
    }
    body.resize(static_cast<std::size_t>(got));
    Crypt(body.data(), body.size());
    QString result;
    const std::size_t units = body.size() / 2;
    result.reserve(static_cast<qsizetype>(units));
    for (std::size_t i = 0; i < units; ++i) {
        const auto u = static_cast<char16_t>(body[2 * i] | (body[2 * i + 1] << 8));
        if (u == 0)
            break;
        result.append(QChar(u));
    }
    text = result;
    return true;
}
