#include "foundation/Base64.h"

#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint64_t kGranule = 4096;

// Value of each 8-bit character: 0xFE outside the alphabet, 0xFF padding. A
// character with its high bit set counts as the same character without it.
constexpr std::array<std::uint8_t, 256> makeValues()
{
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t)
        v = 0xFE;
    for (int i = 0; i < 64; ++i) {
        const auto c = static_cast<unsigned char>(kAlphabet[i]);
        t[c] = static_cast<std::uint8_t>(i);
        t[c + 128] = static_cast<std::uint8_t>(i);
    }
    t[0x3D] = 0xFF;
    t[0xBD] = 0xFF;
    return t;
}
constexpr auto kValues = makeValues();

// One table per place in a group, already shifted into a 24-bit word. The
// places are ORed, never added: a stray value's excess high bits then land in
// the neighbouring byte exactly as the 8-bit regrouping puts them.
// Padding in the third and fourth place counts as 0.
// Above the bits any value can reach (0xFF << 18 ends at bit 25).
constexpr std::uint32_t kPadInThird = 1u << 30;
constexpr std::uint32_t kPadInFourth = 1u << 31;
constexpr std::uint32_t kPadBits = kPadInThird | kPadInFourth;

struct DecodeTables
{
    std::uint32_t place[4][256];
    std::uint8_t pad[256]; // 1 for a padding character
};

constexpr DecodeTables makeDecodeTables()
{
    DecodeTables t{};
    for (int c = 0; c < 256; ++c) {
        const std::uint32_t v = kValues[c];
        const std::uint32_t late = v == 0xFF ? 0 : v;
        t.place[0][c] = v << 18;
        t.place[1][c] = v << 12;
        t.place[2][c] = (late << 6) | (v == 0xFF ? kPadInThird : 0);
        t.place[3][c] = late | (v == 0xFF ? kPadInFourth : 0);
        t.pad[c] = v == 0xFF ? 1 : 0;
    }
    return t;
}
constexpr DecodeTables kDecode = makeDecodeTables();

// Two output characters for every 12 input bits.
constexpr std::array<std::uint16_t, 4096> makePairs()
{
    std::array<std::uint16_t, 4096> t{};
    for (int i = 0; i < 4096; ++i) {
        const auto hi = static_cast<std::uint16_t>(static_cast<unsigned char>(kAlphabet[i >> 6]));
        const auto lo = static_cast<std::uint16_t>(static_cast<unsigned char>(kAlphabet[i & 63]));
        // Stored in memory order: first character at the lower address.
        if constexpr (std::endian::native == std::endian::little)
            t[i] = static_cast<std::uint16_t>(hi | (lo << 8));
        else
            t[i] = static_cast<std::uint16_t>((hi << 8) | lo);
    }
    return t;
}
constexpr auto kPairs = makePairs();

// Characters 7 to 13 and the blank.
constexpr bool isSkipped(unsigned char c)
{
    return (c >= 7 && c <= 13) || c == 32;
}

// Any byte of the word below 33 (the skipped characters all are).
inline bool mayHoldSkipped(std::uint64_t w)
{
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    return ((w - ones * 33) & ~w & (ones * 0x80)) != 0;
}

// Base64 is ASCII: a wide character beyond Latin-1 is a stray '?'.
inline std::uint8_t narrowChar(char16_t c)
{
    return c > 0xFF ? '?' : static_cast<std::uint8_t>(c);
}

// The low bytes of four little-endian 16-bit units whose high bytes are zero.
inline std::uint64_t pack4(std::uint64_t x)
{
    x = (x | (x >> 8)) & 0x0000FFFF0000FFFFULL;
    x = (x | (x >> 16)) & 0x00000000FFFFFFFFULL;
    return x;
}

inline std::uint64_t loadBigEndian64(const std::uint8_t* p)
{
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::little)
        w = __builtin_bswap64(w);
    return w;
}

// Eight characters from the top 48 bits of w.
inline void storeChars(std::uint8_t* o, std::uint64_t w)
{
    const std::uint16_t parts[4] = {kPairs[w >> 52], kPairs[(w >> 40) & 0xFFF],
                                    kPairs[(w >> 28) & 0xFFF], kPairs[(w >> 16) & 0xFFF]};
    std::memcpy(o, parts, 8);
}

// Writes the three bytes of w and a zero after them, which the next group
// overwrites.
inline void store4(std::uint8_t* out, std::uint32_t w)
{
    std::uint32_t v = w << 8;
    if constexpr (std::endian::native == std::endian::little)
        v = __builtin_bswap32(v);
    std::memcpy(out, &v, 4);
}

inline void store3(std::uint8_t* out, std::uint32_t w)
{
    out[0] = static_cast<std::uint8_t>(w >> 16);
    out[1] = static_cast<std::uint8_t>(w >> 8);
    out[2] = static_cast<std::uint8_t>(w);
}

// The group's 24-bit word, with the padding flags above it.
inline std::uint32_t join(const std::uint8_t* s)
{
    return kDecode.place[0][s[0]] | kDecode.place[1][s[1]] | kDecode.place[2][s[2]] |
           kDecode.place[3][s[3]];
}
} // namespace

CBase64::CBase64() = default;

CBase64::~CBase64()
{
    std::free(m_bytes);
    std::free(m_text);
}

std::uint32_t CBase64::Prepare(void** buf, std::uint32_t& capacity, std::uint32_t& dirty,
                               std::uint32_t size, std::uint32_t keep)
{
    if (size > capacity || *buf == nullptr) {
        const std::uint64_t rounded = (static_cast<std::uint64_t>(size) / kGranule + 1) * kGranule;
        if (rounded > UINT32_MAX)
            throw std::bad_alloc();
        // Fresh pages from calloc are already zero.
        void* fresh = std::calloc(rounded, 1);
        if (!fresh)
            throw std::bad_alloc();
        std::free(*buf);
        *buf = fresh;
        capacity = static_cast<std::uint32_t>(rounded);
        dirty = 0;
        return 0;
    }
    if (dirty > keep)
        std::memset(static_cast<char*>(*buf) + keep, 0, dirty - keep);
    const std::uint32_t stale = dirty < keep ? dirty : keep;
    dirty = 0;
    return stale;
}

void CBase64::PrepareText(std::uint32_t size)
{
    Prepare(reinterpret_cast<void**>(&m_text), m_textCapacity, m_textDirty, size, 0);
    m_textLength = 0;
}

void CBase64::PrepareBytes(std::uint32_t size)
{
    Prepare(reinterpret_cast<void**>(&m_bytes), m_byteCapacity, m_bytesDirty, size, 0);
    m_byteCount = 0;
}

void CBase64::SetBytes(const void* bytes, std::uint32_t length)
{
    // The copy overwrites the front at once, so only the rest is cleared.
    Prepare(reinterpret_cast<void**>(&m_bytes), m_byteCapacity, m_bytesDirty, length, length);
    if (length)
        std::memcpy(m_bytes, bytes, length);
    m_byteCount = length;
    m_bytesDirty = length;
}

void CBase64::SetText(const char* text, std::uint32_t length)
{
    FilterText(reinterpret_cast<const std::uint8_t*>(text), nullptr, length);
}

void CBase64::FilterText(const std::uint8_t* narrow, const char16_t* wide, std::uint32_t length)
{
    const std::uint32_t stale =
        Prepare(reinterpret_cast<void**>(&m_text), m_textCapacity, m_textDirty, length, length);
    auto* out = reinterpret_cast<std::uint8_t*>(m_text);
    std::uint32_t i = 0, n = 0;
    auto slow = [&](std::uint32_t stop) {
        for (; i < stop; ++i) {
            const std::uint8_t c = wide ? narrowChar(wide[i]) : narrow[i];
            out[n] = c;
            n += isSkipped(c) ? 0 : 1;
        }
    };
#if defined(__SSE2__)
    // Sixteen characters at a time: narrow them (saturation never happens,
    // units beyond Latin-1 go the slow way), then copy unless one of them is
    // 32 or below.
    const __m128i blank = _mm_set1_epi8(32);
    while (i + 16 <= length) {
        __m128i v;
        bool clean = true;
        if (wide) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wide + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wide + i + 8));
            const __m128i high = _mm_srli_epi16(_mm_or_si128(a, b), 8);
            clean = _mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF;
            v = _mm_packus_epi16(a, b);
        } else {
            v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(narrow + i));
        }
        if (clean && _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, blank), v)) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), v);
            i += 16;
            n += 16;
        } else {
            slow(i + 16);
        }
    }
#endif
    // Base64 text rarely holds whitespace: copy eight characters at a time
    // while none of them can be one. Wide text is narrowed on the way; a
    // character beyond Latin-1 becomes a stray '?'.
    while (i + 8 <= length) {
        std::uint64_t w = 0;
        bool clean = true;
        if (wide) {
            std::uint64_t a, b;
            std::memcpy(&a, wide + i, 8);
            std::memcpy(&b, wide + i + 4, 8);
            constexpr std::uint64_t high = 0xFF00FF00FF00FF00ULL;
            // The packing assumes little-endian units; anything else, and any
            // unit beyond Latin-1, takes the slow path below.
            clean = std::endian::native == std::endian::little && ((a | b) & high) == 0;
            if (clean)
                w = pack4(a) | (pack4(b) << 32);
        } else {
            std::memcpy(&w, narrow + i, 8);
        }
        if (clean && !mayHoldSkipped(w)) {
            std::memcpy(out + n, &w, 8);
            i += 8;
            n += 8;
            continue;
        }
        slow(i + 8);
    }
    slow(length);
    // Skipped characters were stored past the text, and an earlier text may
    // still be there.
    const std::uint32_t end = stale > n + 1 ? stale : n + 1;
    if (n < length)
        std::memset(out + n, 0, (end < length ? end : length) - n);
    m_textLength = n;
    m_textDirty = n;
}

void CBase64::Encode(const void* bytes, std::uint32_t length)
{
    SetBytes(bytes, length);
    const std::uint64_t want = static_cast<std::uint64_t>(length) * 2;
    if (want > UINT32_MAX)
        throw std::bad_alloc();
    const std::uint32_t textLength =
        static_cast<std::uint32_t>((want / 6 + (length % 3 ? 1 : 0)) * 4);
    Prepare(reinterpret_cast<void**>(&m_text), m_textCapacity, m_textDirty,
            static_cast<std::uint32_t>(want), textLength);
    m_textLength = 0;
    EncodeAll();
    m_textDirty = m_textLength;
}

void CBase64::EncodeAll()
{
    const std::uint8_t* in = m_bytes;
    const std::uint32_t length = m_byteCount;
    auto* out = reinterpret_cast<std::uint8_t*>(m_text);
    std::uint32_t i = 0;
    std::uint8_t* o = out;
    // Twelve bytes make sixteen characters: two big-endian loads, eight
    // pair lookups, two stores.
    for (; i + 14 <= length; i += 12) {
        const std::uint64_t a = loadBigEndian64(in + i);
        const std::uint64_t b = loadBigEndian64(in + i + 6);
        storeChars(o, a);
        storeChars(o + 8, b);
        o += 16;
    }
    for (; i + 8 <= length; i += 6) {
        storeChars(o, loadBigEndian64(in + i));
        o += 8;
    }
    for (; i + 3 <= length; i += 3) {
        const std::uint32_t w =
            (std::uint32_t(in[i]) << 16) | (std::uint32_t(in[i + 1]) << 8) | in[i + 2];
        const std::uint16_t a = kPairs[w >> 12], b = kPairs[w & 0xFFF];
        std::memcpy(o, &a, 2);
        std::memcpy(o + 2, &b, 2);
        o += 4;
    }
    const std::uint32_t rest = length - i;
    if (rest) {
        const std::uint32_t b0 = in[i], b1 = rest == 2 ? in[i + 1] : 0;
        const std::uint32_t w = (b0 << 16) | (b1 << 8);
        o[0] = static_cast<std::uint8_t>(kAlphabet[(w >> 18) & 63]);
        o[1] = static_cast<std::uint8_t>(kAlphabet[(w >> 12) & 63]);
        o[2] = rest == 2 ? static_cast<std::uint8_t>(kAlphabet[(w >> 6) & 63]) : '=';
        o[3] = '=';
        o += 4;
    }
    m_textLength = static_cast<std::uint32_t>(o - out);
}

void CBase64::DecodeAscii(const char* text, std::uint32_t length, std::uint32_t& outLength)
{
    SetText(text, length);
    const std::uint32_t stale =
        Prepare(reinterpret_cast<void**>(&m_bytes), m_byteCapacity, m_bytesDirty, length, length);
    m_byteCount = 0;
    DecodeAll(stale);
    outLength = m_byteCount;
}

void CBase64::DecodeAll(std::uint32_t staleBytes)
{
    const auto* s = reinterpret_cast<const std::uint8_t*>(m_text);
    const std::uint32_t groups = m_textLength / 4;
    std::uint8_t* out = m_bytes;
    std::uint32_t count = 0;
    std::uint32_t written = 0;
    std::uint32_t g = 0;
    // "==" adds one byte, a single "=" two, otherwise three.
    auto oneGroup = [&](const std::uint8_t* group) {
        store3(out + count, join(group));
        written = count + 3;
        const std::uint32_t p3 = kDecode.pad[group[2]], p4 = kDecode.pad[group[3]];
        count += 3 - p4 - (p3 & p4);
    };
    // Four groups at a time: without padding among them the offsets are fixed
    // and the groups do not wait on each other.
    for (; g + 4 <= groups; g += 4, s += 16) {
        const std::uint32_t w0 = join(s), w1 = join(s + 4), w2 = join(s + 8), w3 = join(s + 12);
        if (((w0 | w1 | w2 | w3) & kPadBits) == 0) {
            store4(out + count, w0);
            store4(out + count + 3, w1);
            store4(out + count + 6, w2);
            store4(out + count + 9, w3);
            count += 12;
            written = count;
        } else {
            for (int k = 0; k < 16; k += 4)
                oneGroup(s + k);
        }
    }
    for (; g < groups; ++g, s += 4)
        oneGroup(s);
    const std::uint32_t rest = m_textLength % 4;
    if (rest >= 2) {
        std::uint8_t last[4] = {s[0], s[1], rest == 3 ? s[2] : std::uint8_t('A'), 'A'};
        store3(out + count, join(last));
        written = count + 3;
        count += rest == 3 && !kDecode.pad[s[2]] ? 2 : 1;
    }
    m_byteCount = count;
    // Bytes a padded group wrote past the count are not part of the result,
    // nor is what an earlier use left there.
    const std::uint32_t end = written > staleBytes ? written : staleBytes;
    if (end > count)
        std::memset(out + count, 0, end - count);
    m_bytesDirty = count;
}

void CBase64::Decode(const QString& text, std::uint32_t& length)
{
    if (static_cast<std::uint64_t>(text.size()) > UINT32_MAX)
        throw std::bad_alloc();
    const auto size = static_cast<std::uint32_t>(text.size());
    FilterText(nullptr, reinterpret_cast<const char16_t*>(text.utf16()), size);
    const std::uint32_t stale =
        Prepare(reinterpret_cast<void**>(&m_bytes), m_byteCapacity, m_bytesDirty, size, size);
    m_byteCount = 0;
    DecodeAll(stale);
    length = m_byteCount;
}

const std::uint8_t* CBase64::GetBytes() const
{
    return m_bytes;
}

QString CBase64::GetText() const
{
    return QString::fromLatin1(m_text, static_cast<qsizetype>(m_textLength));
}

const char* CBase64::GetTextAscii() const
{
    return m_text ? m_text : "";
}

QString CBase64::EncodeToString(const QByteArray& bytes)
{
    CBase64 codec;
    codec.Encode(bytes.constData(), static_cast<std::uint32_t>(bytes.size()));
    return codec.GetText();
}

QByteArray CBase64::DecodeString(const QString& text)
{
    CBase64 codec;
    std::uint32_t length = 0;
    codec.Decode(text, length);
    return QByteArray(reinterpret_cast<const char*>(codec.GetBytes()), length);
}
