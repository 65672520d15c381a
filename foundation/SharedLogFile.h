#pragma once

#include <QString>

#include <cstddef>
#include <mutex>
#include <sys/types.h>

// A UTF-16LE log file (FF FE mark first) in the machine-wide log folder,
// which every local user may write into. The folder is therefore not
// trusted:
// - the file is opened without following a link and without waiting on a
//   FIFO, and only a regular file is used;
// - a file owned by another user (root aside) is refused, since that user
//   could read what is written; so is one with more than one name, which
//   could be another file of ours under a second name;
// - it keeps its 1 MiB limit while it is written: a line that would carry it
//   past the limit first drops the old log whole, back to its mark, which is
//   what opening an oversized log does.
//
// Lines may be appended from any thread.
class CSharedLogFile
{
public:
    static constexpr off_t kMaxBytes = 1048576;

    enum class Refusal
    {
        None,
        CannotOpen, // includes a link in the file's place
        NotRegular,
        OtherOwner,
        ExtraLinks
    };

    CSharedLogFile() = default;
    ~CSharedLogFile();
    CSharedLogFile(const CSharedLogFile&) = delete;
    CSharedLogFile& operator=(const CSharedLogFile&) = delete;

    // Opens (or creates with `mode`) path for appending, rewrites the mark and
    // drops an oversized log. Refusal::None when the file is open.
    Refusal Open(const QString& path, mode_t mode);
    void Close();
    bool IsOpen() const;

    // Writes bytes with one call at the end of the file. Failures are
    // ignored: the log is best effort.
    void Append(const void* data, std::size_t bytes);

    // "<path> is owned by another user" and so on; empty for None.
    static QString RefusalText(Refusal refusal, const QString& path, int error = 0);
    // errno of the last failed Open (for CannotOpen).
    int OpenError() const { return m_openError; }

private:
    mutable std::mutex m_mutex;
    int m_fd = -1;
    int m_openError = 0;
};
