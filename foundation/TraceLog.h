#pragma once

#include <QString>

#include <cstdint>

constexpr std::uint32_t TRACE_ERROR = 0x1;
constexpr std::uint32_t TRACE_IPC = 0x4;

// The process-wide trace level; 0 before OpenTraceLog and whenever the log
// cannot be opened. Callers test their family's bit before tracing.
std::uint32_t TraceLevel();

// Reads LogTraceLevel from the machine-wide store and opens
// <log folder>/uilog.txt. Silent on every failure.
void OpenTraceLog();
// Closes the log (also done at process exit).
void CloseTraceLog();

class CTraceLog
{
public:
    // Writes "<thread id> : <message>\r\n" (UTF-16LE) when the level is not 0.
    // The message is written unchanged, never interpreted as a format.
    static void Trace(const QString& message);
    // printf-style: %s takes UTF-8 char*, %d/%ld/%lu/%X take numbers.
    static void TraceF(const char* format, ...) __attribute__((format(printf, 1, 2)));
};

// The log folder with its trailing slash: <appdata>/quornix/log/
QString GetLogFolder();

// Where an error code comes from.
enum class ErrorSource
{
    System,
    OpenSsl
};
struct ErrorCode
{
    ErrorSource source = ErrorSource::System;
    unsigned long value = 0; // errno, or an OpenSSL error code (ERR_get_error)
    static ErrorCode System(int err)
    {
        return {ErrorSource::System, static_cast<unsigned long>(err)};
    }
    static ErrorCode OpenSsl(unsigned long err) { return {ErrorSource::OpenSsl, err}; }
};

// prefix (string prefixId) + ". Reason: " + the system's message for code, or
// "<prefix>. Reason: n0x<HEX>" when there is none.
void FormatErrorText(ErrorCode code, QString& text, quint32 prefixId);
