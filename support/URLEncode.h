#pragma once

#include <QByteArray>
#include <QString>

// Percent-encoding of one field of the support form's body. The text is
// taken as UTF-8 and every byte of a character outside printable ASCII is
// written as "%XX", so the body is plain ASCII whatever the user typed.
class CURLEncode
{
public:
    virtual ~CURLEncode();

    // Characters below 33 or above 122 and the 21 below are written as "%XX"
    // (upper-case hex); everything else stands for itself.
    static QByteArray Encode(const QString& text);

    // Always encoded, in the order the help centre's form handler was written
    // against.
    static constexpr char kUnsafe[] = "\"<>%\\^[]`+$,@:;/!#?=&";
};
