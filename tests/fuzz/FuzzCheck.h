#pragma once

// What a fuzz target does when a property of the code under test does not
// hold: say which one, with the input's size, and abort so that libFuzzer
// keeps the input as a finding.

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace Fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  %s\n", detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

inline QString Hex(const QByteArray& bytes, qsizetype limit = 96)
{
    QString text = QString::fromLatin1(bytes.left(limit).toHex(' '));
    if (bytes.size() > limit)
        text += QStringLiteral(" ... (%1 bytes)").arg(bytes.size());
    return text;
}

} // namespace Fuzz

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::Fuzz::Fail(__FILE__, __LINE__, #condition, (detail));                                \
    } while (0)
