#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

// Byte layout of the session list that the service publishes. Every size is
// fixed and shared with the service byte for byte; nothing is padded.
namespace SectionLayout {
constexpr quint32 kTextFieldBytes = 520; // 260 UTF-16 units, NUL-terminated
constexpr quint32 kTextFieldUnits = kTextFieldBytes / 2;
constexpr quint32 kUsedLengthBytes = 4;
constexpr quint32 kCountBytes = 4;
constexpr quint32 kPeerHeaderBytes = 16;
constexpr quint32 kPeerRecordBytes = 1068;
constexpr quint32 kTunnelRecordBytes = 536;
// Offsets inside a peer record.
constexpr quint32 kPeerFlagOffset = 0; // 0 = not a peer
constexpr quint32 kPeerNameOffset = 22;
constexpr quint32 kPeerSecondTextOffset = 548;
} // namespace SectionLayout

// Windows-style names of the three shared objects and the runtime-folder
// entries that stand for them ("Global\" dropped).
namespace SharedNames {
QString Prefix();                             // Global\{65AFFDA5-0BE5-4d6a-85C9-997A691FDF1F}
QString SectionName();                        // <prefix>.SessionList
QString SectionLockName();                    // <prefix>.SessionList.Lock
QString PeerNotifyName();                     // <prefix>.LSP.Notify
QString EntryPath(const QString& globalName); // runtime-folder path of a name
} // namespace SharedNames

// A UTF-16LE text field of at most `units` units as stored in the section:
// decoding stops at the first NUL or at the end of the field, never beyond.
QString DecodeTextField(const void* field, quint32 units = SectionLayout::kTextFieldUnits);
// Writes `text` into a zero-filled field of `units` units, keeping at most
// units - 1 characters (a surrogate pair is never split) and the terminator.
void EncodeTextField(const QString& text, void* field,
                     quint32 units = SectionLayout::kTextFieldUnits);

struct SectionLockState;

// Process-wide view of one flock-based named lock. Every handle on the same
// name shares one open descriptor, so the owning thread may take it again
// (counted in-process) while other threads of this process and other
// processes wait. The kernel drops the lock when its holder dies.
class CNamedLock
{
public:
    CNamedLock() = default;
    ~CNamedLock();
    CNamedLock(const CNamedLock&) = delete;
    CNamedLock& operator=(const CNamedLock&) = delete;

    // Opens the lock file, or creates it with mode 0666 whatever the umask.
    // False (and an empty handle) when neither is possible, and when the
    // entry is not a regular file (a FIFO, a link, a device).
    bool Open(const QString& path);
    void Close();
    bool IsValid() const { return m_state != nullptr; }

    // Waits without time-out. False at once on an empty handle: the caller
    // goes on unguarded.
    bool Lock();
    // One attempt that never waits: for a thread that must stay able to give
    // up (the lock file is open to every user, so a holder may never let go).
    enum class Attempt
    {
        Taken,
        Busy,  // held by another process or another thread of this one
        Failed // empty handle or an error: go on unguarded, as with Lock()
    };
    Attempt TryLock();
    void Unlock();

private:
    std::shared_ptr<SectionLockState> m_state;
};

// Scoped hold of a CNamedLock; releases only what it took.
class CNamedLockGuard
{
public:
    explicit CNamedLockGuard(CNamedLock& lock) : m_lock(lock), m_held(lock.Lock()) {}
    ~CNamedLockGuard()
    {
        if (m_held)
            m_lock.Unlock();
    }
    CNamedLockGuard(const CNamedLockGuard&) = delete;
    CNamedLockGuard& operator=(const CNamedLockGuard&) = delete;
    bool held() const { return m_held; }

private:
    CNamedLock& m_lock;
    bool m_held;
};

// One view of the session-list section. The program only ever reads it; the
// writing direction fills an in-memory image that the stand-in service then
// publishes.
class CSharedSection
{
public:
    // Reading: builds the names and opens (or creates) the lock.
    CSharedSection();
    // Writing: an in-memory image of 4 + capacity zero bytes, same lock.
    struct WriteTag
    {
    };
    CSharedSection(WriteTag, quint32 capacity);
    ~CSharedSection();
    CSharedSection(const CSharedSection&) = delete;
    CSharedSection& operator=(const CSharedSection&) = delete;

    // Maps the section file read-only: only the bytes the file holds now.
    // False when the file is missing, shorter than 4 bytes or not mappable.
    bool Open();
    // Unmaps the view and releases the lock handle.
    void Close();

    bool IsReading() const { return m_reading; }
    bool IsOpen() const { return m_base != nullptr; }

    // Copies the next `bytes` bytes and advances the cursor, only when they
    // lie entirely within the capacity; otherwise nothing happens (false).
    // Also false once the mapped file has been truncated under the view.
    bool Read(void* destination, quint32 bytes);
    // Writing direction: appends at the cursor when it fits into the
    // capacity and moves the used length to the new cursor.
    bool Write(const void* source, quint32 bytes);
    // Moves the cursor without copying (same capacity rule as Read).
    bool Skip(quint32 bytes);

    // The used length read live from the view, held to the capacity.
    quint64 UsedLength() const;
    quint64 Capacity() const { return m_capacity; }
    quint64 Cursor() const { return m_cursor; }
    // Back to the start; the writing direction also empties the image.
    void Rewind();
    // Writing direction: something did not fit and was left out.
    bool Overflowed() const { return m_overflowed; }
    // Reading direction: the file shrank under the view; nothing more is read.
    bool Faulted() const { return m_faulted; }

    CNamedLock& Lock() { return m_lock; }

    // Writing direction: the whole image (used length + payload).
    QByteArray Image() const { return m_image; }

    QString SectionName() const { return m_sectionName; }
    QString LockName() const { return m_lockName; }

private:
    bool m_reading = true;
    QString m_sectionName;
    QString m_lockName;
    CNamedLock m_lock;
    // Reading: the mapping. Writing: points into m_image.
    unsigned char* m_base = nullptr;
    std::size_t m_mappedBytes = 0;
    bool m_faulted = false;
    bool m_overflowed = false;
    QByteArray m_image;
    quint64 m_capacity = 0;
    quint64 m_cursor = 0;
};

// The peer-change event: a file in the runtime folder that writers signal by
// writing to it. Opening (or creating, mode 0666) it starts an inotify watch,
// whose descriptor becomes readable after each write by anyone. The program
// never writes the file.
class CPeerChangeEvent
{
public:
    CPeerChangeEvent() = default;
    ~CPeerChangeEvent();
    CPeerChangeEvent(const CPeerChangeEvent&) = delete;
    CPeerChangeEvent& operator=(const CPeerChangeEvent&) = delete;

    bool Open();
    bool Open(const QString& path);
    void Close();
    bool IsOpen() const { return m_inotify >= 0; }

    // Pollable descriptor (POLLIN when signalled); -1 when not open.
    int Descriptor() const { return m_inotify; }
    // Drains what is pending without blocking; returns the number of
    // modifications seen (writes in a burst may be reported as one).
    int Consume();
    QString ErrorText() const { return m_error; }

private:
    int m_inotify = -1;
    int m_file = -1;
    QString m_error;
};
