#include "support/ServiceLogTail.h"

#include "foundation/TraceLog.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Closes the descriptor on every way out.
struct Fd
{
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

ServiceLogTail withoutTail(ServiceLogTail tail, ServiceLogTail::Status status,
                           const QString& reason)
{
    tail.status = status;
    tail.reason = reason;
    tail.text.clear();
    return tail;
}

QString systemText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}
} // namespace

QString ServiceLogPath()
{
    return GetLogFolder() + QStringLiteral("servicelog.txt");
}

ServiceLogTail ReadServiceLogTail(const QString& path)
{
    ServiceLogTail tail;
    tail.path = path;
    using Status = ServiceLogTail::Status;

    Fd file;
    // Non-blocking so that a FIFO planted in place of the log cannot hang the
    // window; the checks below refuse it anyway.
    file.fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return withoutTail(
                tail, Status::Missing,
                QCoreApplication::translate("ServiceLogTail", "the file does not exist"));
        if (err == ELOOP)
            return withoutTail(
                tail, Status::Refused,
                QCoreApplication::translate("ServiceLogTail", "it is a symbolic link"));
        return withoutTail(tail, Status::Unreadable, systemText(err));
    }

    struct stat st;
    if (::fstat(file.fd, &st) != 0)
        return withoutTail(tail, Status::Unreadable, systemText(errno));
    if (!S_ISREG(st.st_mode))
        return withoutTail(
            tail, Status::Refused,
            QCoreApplication::translate("ServiceLogTail", "it is not a regular file"));
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return withoutTail(
            tail, Status::Refused,
            QCoreApplication::translate("ServiceLogTail", "it belongs to another user"));
    if (st.st_nlink != 1)
        return withoutTail(
            tail, Status::Refused,
            QCoreApplication::translate("ServiceLogTail", "it has more than one link"));

    const std::int64_t size = st.st_size;
    std::int64_t start = size > ServiceLogTail::kWindowBytes ? size - ServiceLogTail::kWindowBytes
                                                             : ServiceLogTail::kFirstByte;
    // The log is UTF-16: starting on an odd byte would pair the halves of two
    // neighbouring characters and turn the whole tail into nonsense. An odd
    // length only happens while the service is half-way through a write.
    if (start % 2 != 0)
        ++start;

    // Zero-filled: whatever is not read ends the text.
    std::vector<char> buffer(static_cast<std::size_t>(ServiceLogTail::kWindowBytes), 0);
    std::int64_t got = 0;
    while (got < ServiceLogTail::kMaxReadBytes) {
        const ssize_t n = ::pread(file.fd, buffer.data() + got,
                                  static_cast<std::size_t>(ServiceLogTail::kMaxReadBytes - got),
                                  static_cast<off_t>(start + got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return withoutTail(tail, Status::Unreadable, systemText(errno));
        }
        if (n == 0)
            break;
        got += n;
    }
    tail.bytesRead = got;
    if (got < 4)
        return withoutTail(
            tail, Status::TooShort,
            QCoreApplication::translate("ServiceLogTail", "it holds no log lines yet"));

    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    QString text;
    text.reserve(static_cast<qsizetype>(got / 2 + 1));
    for (std::int64_t i = 0; i + 1 < ServiceLogTail::kWindowBytes; i += 2) {
        const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0)
            break;
        text += QChar(unit);
    }
    if (text.isEmpty())
        return withoutTail(
            tail, Status::TooShort,
            QCoreApplication::translate("ServiceLogTail", "it holds no log lines yet"));
    tail.status = Status::Attached;
    tail.text = text;
    return tail;
}
