#include "support/URLEncode.h"

#include <cstring>

namespace {
constexpr char kHex[] = "0123456789ABCDEF";
static_assert(sizeof CURLEncode::kUnsafe - 1 == 21);

bool mustEncode(unsigned char c)
{
    // Bytes from 128 up are part of a multi-byte character: they fall in the
    // "above 122" range and are always encoded.
    if (c < 33 || c > 122)
        return true;
    return std::memchr(CURLEncode::kUnsafe, c, sizeof CURLEncode::kUnsafe - 1) != nullptr;
}
} // namespace

CURLEncode::~CURLEncode() = default;

QByteArray CURLEncode::Encode(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (mustEncode(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}
