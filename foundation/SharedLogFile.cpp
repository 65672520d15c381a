#include "foundation/SharedLogFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr unsigned char kMark[2] = {0xFF, 0xFE};

// What the log folder may hold for us: a regular file of our own (or root's,
// which only root and those root let in can write anyway) with one name.
CSharedLogFile::Refusal Check(const struct stat& info)
{
    if (!S_ISREG(info.st_mode))
        return CSharedLogFile::Refusal::NotRegular;
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return CSharedLogFile::Refusal::OtherOwner;
    if (info.st_nlink > 1)
        return CSharedLogFile::Refusal::ExtraLinks;
    return CSharedLogFile::Refusal::None;
}
} // namespace

CSharedLogFile::~CSharedLogFile()
{
    Close();
}

CSharedLogFile::Refusal CSharedLogFile::Open(const QString& path, mode_t mode)
{
    Close();
    const QByteArray native = QFile::encodeName(path);
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode);
    if (fd < 0) {
        m_openError = errno;
        // A FIFO without a reader (ENXIO) or a folder in the file's place.
        if (m_openError == ENXIO || m_openError == EISDIR)
            return Refusal::NotRegular;
        return Refusal::CannotOpen;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        m_openError = errno;
        ::close(fd);
        return Refusal::CannotOpen;
    }
    const Refusal refusal = Check(info);
    if (refusal != Refusal::None) {
        ::close(fd);
        return refusal;
    }
    // The mark is rewritten in place; an existing log keeps its lines unless
    // it has grown past the limit, in which case it is dropped whole.
    [[maybe_unused]] ssize_t w = ::pwrite(fd, kMark, sizeof kMark, 0);
    if (::fstat(fd, &info) == 0 && info.st_size > kMaxBytes) [[maybe_unused]]
        int r = ::ftruncate(fd, sizeof kMark);
    // Appending keeps lines of concurrent writers from overwriting each
    // other; the descriptor blocks again for the writes themselves.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, (flags | O_APPEND) & ~O_NONBLOCK);
    std::lock_guard<std::mutex> guard(m_mutex);
    m_fd = fd;
    return Refusal::None;
}

void CSharedLogFile::Close()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool CSharedLogFile::IsOpen() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_fd >= 0;
}

void CSharedLogFile::Append(const void* data, std::size_t bytes)
{
    // One lock for the size check and the write, so that two threads cannot
    // both find room for their line and together pass the limit.
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_fd < 0)
        return;
    // The size is asked of the file each time: another process (a later
    // launch of the program) may append to the same log.
    struct stat info;
    if (::fstat(m_fd, &info) == 0 && info.st_size + off_t(bytes) > kMaxBytes) [[maybe_unused]]
        int r = ::ftruncate(m_fd, sizeof kMark);
    [[maybe_unused]] ssize_t written = ::write(m_fd, data, bytes);
}

QString CSharedLogFile::RefusalText(Refusal refusal, const QString& path, int error)
{
    switch (refusal) {
    case Refusal::None:
        return {};
    case Refusal::CannotOpen:
        if (error == ELOOP)
            return QStringLiteral("%1 is a symbolic link").arg(path);
        return QStringLiteral("%1 cannot be opened: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(error)));
    case Refusal::NotRegular:
        return QStringLiteral("%1 is not a regular file").arg(path);
    case Refusal::OtherOwner:
        return QStringLiteral("%1 belongs to another user").arg(path);
    case Refusal::ExtraLinks:
        return QStringLiteral("%1 has more than one name (hard links)").arg(path);
    }
    return {};
}
