#pragma once

#include <QString>

#include <cstdint>

// The end of the service's log, appended to a support message so the support
// team sees what the service was doing.
struct ServiceLogTail
{
    enum class Status
    {
        Attached,   // text holds the tail
        Missing,    // no log file
        TooShort,   // fewer than 4 bytes to take, or no text before a zero
        Unreadable, // the file exists but cannot be opened or read
        Refused,    // not a plain file of this user or of root (see below)
    };

    // Bytes of the read buffer; the tail is taken from at most this many
    // bytes before the end of the file.
    static constexpr std::int64_t kWindowBytes = 25600;
    // A log that fits in the window is read from here on.
    static constexpr std::int64_t kFirstByte = 4;
    // The last two bytes of the buffer always stay zero, which ends the text.
    static constexpr std::int64_t kMaxReadBytes = kWindowBytes - 2;

    Status status = Status::Missing;
    QString path;
    QString text;   // UTF-16LE text up to the first zero unit
    QString reason; // why there is no tail, for the user
    std::int64_t bytesRead = 0;
};

// <appdata>/quornix/log/servicelog.txt
QString ServiceLogPath();

// Reads the tail of the log at path. The log folder is shared by every user
// of the machine, so the file is read only when it is a regular file owned by
// this user or by root with a single link: a link planted in its place must
// not make the user send one of their own files to the support team.
ServiceLogTail ReadServiceLogTail(const QString& path);
