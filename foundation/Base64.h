#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// RFC 4648 Base64 with a lenient decoder (whitespace skipped, stray characters
// folded into the bytes rather than rejected).
//
// Buffers grow to the requested size rounded up to the next multiple of 4,096
// above it and are zero beyond their used part after every preparation.
// Text whose length (without whitespace) is not a multiple of four has its
// 1 to 3 leftover characters decoded the usual way: 2 give one byte, 3 give
// two (one if the third is padding), a lone one gives none.
class CBase64
{
public:
    CBase64();
    virtual ~CBase64();
    CBase64(const CBase64&) = delete;
    CBase64& operator=(const CBase64&) = delete;

    virtual void Encode(const void* bytes, std::uint32_t length);
    virtual void Decode(const QString& text, std::uint32_t& length);
    // 8-bit entry point used by the wide one (Base64 text is ASCII).
    void DecodeAscii(const char* text, std::uint32_t length, std::uint32_t& outLength);
    virtual const std::uint8_t* GetBytes() const;
    virtual QString GetText() const;
    const char* GetTextAscii() const;
    std::uint32_t TextLength() const { return m_textLength; }
    std::uint32_t ByteCount() const { return m_byteCount; }
    std::uint32_t TextCapacity() const { return m_textCapacity; }
    std::uint32_t ByteCapacity() const { return m_byteCapacity; }

    // Convenience wrappers.
    static QString EncodeToString(const QByteArray& bytes);
    static QByteArray DecodeString(const QString& text);

protected:
    virtual void PrepareText(std::uint32_t size);
    virtual void PrepareBytes(std::uint32_t size);
    virtual void SetText(const char* text, std::uint32_t length);
    virtual void SetBytes(const void* bytes, std::uint32_t length);

private:
    // Grows buf to hold size bytes and leaves it all zero, clearing only what
    // earlier use made dirty. The first keep bytes are about to be overwritten
    // and are left to the caller: the result is how many of them may still be
    // non-zero, which the caller must clear beyond what it writes.
    static std::uint32_t Prepare(void** buf, std::uint32_t& capacity, std::uint32_t& dirty,
                                 std::uint32_t size, std::uint32_t keep);
    // Copies the text without the skipped characters into the text buffer;
    // exactly one of narrow and wide is given.
    void FilterText(const std::uint8_t* narrow, const char16_t* wide, std::uint32_t length);
    void EncodeAll();
    void DecodeAll(std::uint32_t staleBytes);

    std::uint8_t* m_bytes = nullptr;
    char* m_text = nullptr;
    std::uint32_t m_byteCapacity = 0;
    std::uint32_t m_textCapacity = 0;
    std::uint32_t m_byteCount = 0;
    std::uint32_t m_textLength = 0;
    // How far each buffer may hold non-zero bytes.
    std::uint32_t m_bytesDirty = 0;
    std::uint32_t m_textDirty = 0;
};
