#include "sessions/SharedSection.h"

#include "foundation/Paths.h"

#include <QFile>
#include <QtEndian>

#include <atomic>
#include <condition_variable>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SharedNames {
QString Prefix()
{
    return QStringLiteral("Global\\{65AFFDA5-0BE5-4d6a-85C9-997A691FDF1F}");
}

QString SectionName()
{
    return QStringLiteral("%1.%2").arg(Prefix(), QStringLiteral("SessionList"));
}

QString SectionLockName()
{
    return QStringLiteral("%1.Lock").arg(SectionName());
}

QString PeerNotifyName()
{
    return QStringLiteral("%1.LSP.Notify").arg(Prefix());
}

QString EntryPath(const QString& globalName)
{
    QString entry = globalName;
    const QString global = QStringLiteral("Global\\");
    if (entry.startsWith(global))
        entry.remove(0, global.size());
    return Paths::RuntimeEntry(entry);
}
} // namespace SharedNames

QString DecodeTextField(const void* field, quint32 units)
{
    const auto* bytes = static_cast<const unsigned char*>(field);
    quint32 length = 0;
    while (length < units && (bytes[2 * length] | bytes[2 * length + 1]) != 0)
        ++length;
    QString text(static_cast<qsizetype>(length), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (quint32 i = 0; i < length; ++i)
        out[i] = qFromLittleEndian<quint16>(bytes + 2 * i);
    return text;
}

void EncodeTextField(const QString& text, void* field, quint32 units)
{
    auto* bytes = static_cast<unsigned char*>(field);
    std::memset(bytes, 0, std::size_t(units) * 2);
    if (units == 0)
        return;
    qsizetype length = qMin<qsizetype>(text.size(), units - 1);
    // Cutting between the halves of a surrogate pair would leave half a
    // character behind.
    if (length > 0 && length < text.size() && text.at(length - 1).isHighSurrogate())
        --length;
    for (qsizetype i = 0; i < length; ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), bytes + 2 * i);
}

// ---------------------------------------------------------------------------
// Named lock

struct SectionLockState
{
    int fd = -1;
    std::mutex mutex;
    std::condition_variable released;
    std::thread::id owner;
    int depth = 0;

    ~SectionLockState()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

namespace {
std::mutex g_lockRegistryMutex;
std::map<QString, std::weak_ptr<SectionLockState>>& LockRegistry()
{
    static std::map<QString, std::weak_ptr<SectionLockState>> registry;
    return registry;
}

// Keeps a descriptor only when it names a regular file. Anyone who may write
// the runtime folder can put a FIFO, a device or a socket under one of our
// names; such an entry counts as an object that could not be opened.
int RequireRegular(int fd, int& error)
{
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        error = errno;
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        error = EINVAL;
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens an existing shared-object file, or creates it readable and writable
// by everyone: the creator's umask must not lock other users out.
// O_NONBLOCK keeps a FIFO planted under the name from blocking the open (it
// is then refused as not regular); O_NOFOLLOW keeps a planted link from
// sending us to another file, since these are entries we create ourselves.
int OpenOrCreateShared(const QByteArray& path, int& error)
{
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::open(path.constData(), kFlags);
        if (fd >= 0)
            return RequireRegular(fd, error);
        if (errno != ENOENT) {
            error = errno;
            return -1;
        }
        fd = ::open(path.constData(), kFlags | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            ::fchmod(fd, 0666);
            return RequireRegular(fd, error);
        }
        if (errno != EEXIST) {
            error = errno;
            return -1;
        }
        // Someone else created it between the two opens: open theirs.
    }
    error = EEXIST;
    return -1;
}
} // namespace

CNamedLock::~CNamedLock()
{
    Close();
}

bool CNamedLock::Open(const QString& path)
{
    Close();
    std::lock_guard<std::mutex> guard(g_lockRegistryMutex);
    auto& registry = LockRegistry();
    auto it = registry.find(path);
    if (it != registry.end()) {
        if (auto existing = it->second.lock()) {
            m_state = existing;
            return true;
        }
    }
    int error = 0;
    const int fd = OpenOrCreateShared(QFile::encodeName(path), error);
    if (fd < 0)
        return false;
    auto state = std::make_shared<SectionLockState>();
    state->fd = fd;
    registry[path] = state;
    m_state = state;
    return true;
}

void CNamedLock::Close()
{
    if (!m_state)
        return;
    std::lock_guard<std::mutex> guard(g_lockRegistryMutex);
    m_state.reset();
}

bool CNamedLock::Lock()
{
    if (!m_state)
        return false;
    SectionLockState& state = *m_state;
    const auto self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(state.mutex);
    if (state.depth > 0 && state.owner == self) {
        ++state.depth;
        return true;
    }
    state.released.wait(guard, [&] { return state.depth == 0; });
    state.owner = self;
    state.depth = 1;
    guard.unlock();
    // Other threads of this process now queue on the condition variable;
    // only this one waits for the other processes.
    int result;
    do {
        result = ::flock(state.fd, LOCK_EX);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return true;
    guard.lock();
    state.owner = {};
    state.depth = 0;
    state.released.notify_one();
    return false;
}

CNamedLock::Attempt CNamedLock::TryLock()
{
    if (!m_state)
        return Attempt::Failed;
    SectionLockState& state = *m_state;
    const auto self = std::this_thread::get_id();
    std::lock_guard<std::mutex> guard(state.mutex);
    if (state.depth > 0) {
        if (state.owner != self)
            return Attempt::Busy;
        ++state.depth;
        return Attempt::Taken;
    }
    int result;
    do {
        result = ::flock(state.fd, LOCK_EX | LOCK_NB);
    } while (result < 0 && errno == EINTR);
    if (result != 0)
        return errno == EWOULDBLOCK ? Attempt::Busy : Attempt::Failed;
    state.owner = self;
    state.depth = 1;
    return Attempt::Taken;
}

void CNamedLock::Unlock()
{
    if (!m_state)
        return;
    SectionLockState& state = *m_state;
    std::lock_guard<std::mutex> guard(state.mutex);
    if (state.depth == 0 || state.owner != std::this_thread::get_id())
        return;
    if (--state.depth == 0) {
        ::flock(state.fd, LOCK_UN);
        state.owner = {};
        state.released.notify_one();
    }
}

// ---------------------------------------------------------------------------
// Copies out of the mapping that survive the file being truncated under it.
//
// Truncation by a misbehaving writer turns every access to the lost pages
// into SIGBUS. Each copy from the view therefore runs under a recovery point:
// a SIGBUS raised inside it returns to that point and the copy reports
// failure. A SIGBUS anywhere else goes to whatever handled it before.

namespace {
thread_local sigjmp_buf* t_recovery = nullptr;
struct sigaction g_previousBusAction;
std::once_flag g_busHandlerOnce;

void OnBusError(int signal, siginfo_t* info, void* context)
{
    if (sigjmp_buf* recovery = t_recovery) {
        t_recovery = nullptr;
        siglongjmp(*recovery, 1);
    }
    const struct sigaction& previous = g_previousBusAction;
    if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction) {
            previous.sa_sigaction(signal, info, context);
            return;
        }
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    // Default action: returning re-runs the faulting access, which now
    // ends the process as it would have without us.
    ::signal(SIGBUS, SIG_DFL);
}

void InstallBusHandler()
{
    std::call_once(g_busHandlerOnce, [] {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_sigaction = OnBusError;
        // SA_NODEFER: leaving the handler by siglongjmp must not leave
        // SIGBUS blocked on this thread.
        action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previousBusAction);
    });
}

bool GuardedCopy(void* destination, const void* source, std::size_t bytes)
{
    sigjmp_buf recovery;
    if (sigsetjmp(recovery, 0) != 0)
        return false;
    t_recovery = &recovery;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(destination, source, bytes);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    t_recovery = nullptr;
    return true;
}
} // namespace

// ---------------------------------------------------------------------------
// Section

CSharedSection::CSharedSection()
    : m_sectionName(SharedNames::SectionName()), m_lockName(SharedNames::SectionLockName())
{
    m_lock.Open(SharedNames::EntryPath(m_lockName));
}

CSharedSection::CSharedSection(WriteTag, quint32 capacity)
    : m_reading(false), m_sectionName(SharedNames::SectionName()),
      m_lockName(SharedNames::SectionLockName())
{
    m_lock.Open(SharedNames::EntryPath(m_lockName));
    m_image = QByteArray(qsizetype(SectionLayout::kUsedLengthBytes) + capacity, '\0');
    m_base = reinterpret_cast<unsigned char*>(m_image.data());
    m_capacity = capacity;
}

CSharedSection::~CSharedSection()
{
    Close();
}

bool CSharedSection::Open()
{
    if (!m_reading)
        return false;
    if (m_base) {
        ::munmap(m_base, m_mappedBytes);
        m_base = nullptr;
        m_mappedBytes = 0;
    }
    m_capacity = 0;
    m_cursor = 0;
    m_faulted = false;

    const QByteArray path = QFile::encodeName(SharedNames::EntryPath(m_sectionName));
    // Non-blocking: a FIFO under the section's name must not hold the
    // reader in open(); it is refused below as not a regular file.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < qint64(SectionLayout::kUsedLengthBytes)) {
        ::close(fd);
        return false;
    }
    // Only what the file holds now is mapped, so no access of ours lies past
    // its end unless someone truncates it later (see GuardedCopy).
    const quint64 maxBytes = quint64(SectionLayout::kUsedLengthBytes) + 0xFFFFFFFFull;
    const std::size_t bytes = std::size_t(qMin<quint64>(quint64(info.st_size), maxBytes));
    void* view = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (view == MAP_FAILED)
        return false;
    InstallBusHandler();
    m_base = static_cast<unsigned char*>(view);
    m_mappedBytes = bytes;
    m_capacity = bytes - SectionLayout::kUsedLengthBytes;
    return true;
}

void CSharedSection::Close()
{
    if (m_reading && m_base)
        ::munmap(m_base, m_mappedBytes);
    if (m_reading) {
        m_base = nullptr;
        m_mappedBytes = 0;
        m_capacity = 0;
        m_cursor = 0;
    }
    m_lock.Close();
}

bool CSharedSection::Read(void* destination, quint32 bytes)
{
    if (!m_base || m_faulted || m_cursor + bytes > m_capacity)
        return false;
    const unsigned char* source = m_base + SectionLayout::kUsedLengthBytes + m_cursor;
    if (m_reading) {
        if (!GuardedCopy(destination, source, bytes)) {
            m_faulted = true;
            return false;
        }
    } else {
        std::memcpy(destination, source, bytes);
    }
    m_cursor += bytes;
    return true;
}

bool CSharedSection::Write(const void* source, quint32 bytes)
{
    if (m_reading || !m_base || m_cursor + bytes > m_capacity) {
        m_overflowed = true;
        return false;
    }
    std::memcpy(m_base + SectionLayout::kUsedLengthBytes + m_cursor, source, bytes);
    m_cursor += bytes;
    qToLittleEndian<quint32>(quint32(m_cursor), m_base);
    return true;
}

bool CSharedSection::Skip(quint32 bytes)
{
    if (!m_base || m_faulted || m_cursor + bytes > m_capacity)
        return false;
    m_cursor += bytes;
    return true;
}

quint64 CSharedSection::UsedLength() const
{
    if (!m_base || m_faulted)
        return 0;
    unsigned char raw[4];
    if (m_reading) {
        if (!GuardedCopy(raw, m_base, sizeof raw))
            return 0;
    } else {
        std::memcpy(raw, m_base, sizeof raw);
    }
    return qMin<quint64>(qFromLittleEndian<quint32>(raw), m_capacity);
}

void CSharedSection::Rewind()
{
    m_cursor = 0;
    if (!m_reading) {
        m_overflowed = false;
        if (m_base)
            qToLittleEndian<quint32>(0, m_base);
    }
}

// ---------------------------------------------------------------------------
// Peer-change event

CPeerChangeEvent::~CPeerChangeEvent()
{
    Close();
}

bool CPeerChangeEvent::Open()
{
    return Open(SharedNames::EntryPath(SharedNames::PeerNotifyName()));
}

bool CPeerChangeEvent::Open(const QString& path)
{
    Close();
    m_error.clear();
    const QByteArray native = QFile::encodeName(path);
    int error = 0;
    m_file = OpenOrCreateShared(native, error);
    if (m_file < 0) {
        m_error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(error)));
        return false;
    }
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // The watch goes on the file just opened and checked, through its
    // descriptor's name: watching the path could meet another entry put
    // there in between.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_file);
    if (m_inotify >= 0 && ::inotify_add_watch(m_inotify, self.constData(), IN_MODIFY) >= 0)
        return true;
    if (m_inotify < 0 ||
        ::inotify_add_watch(m_inotify, native.constData(), IN_MODIFY | IN_DONT_FOLLOW) < 0) {
        m_error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        Close();
        return false;
    }
    return true;
}

void CPeerChangeEvent::Close()
{
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_file >= 0)
        ::close(m_file);
    m_inotify = -1;
    m_file = -1;
}

int CPeerChangeEvent::Consume()
{
    if (m_inotify < 0)
        return 0;
    int modifications = 0;
    alignas(struct inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_inotify, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t offset = 0; offset + ssize_t(sizeof(struct inotify_event)) <= got;) {
            struct inotify_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            if (event.mask & IN_MODIFY)
                ++modifications;
            offset += ssize_t(sizeof event) + event.len;
        }
    }
    return modifications;
}
