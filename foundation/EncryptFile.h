#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// RC4 (ARCFOUR) stream cipher, key schedule and output as published.
class CRc4
{
public:
    CRc4(const std::uint8_t* key, std::size_t keyLength);
    void Apply(std::uint8_t* data, std::size_t length);

private:
    // Byte values held in words: the loop avoids partial-register stalls and
    // runs noticeably faster than over a byte array.
    std::uint32_t m_s[256];
    std::uint8_t m_i = 0, m_j = 0;
};

// The enciphered container of invitation files and stored invitations:
// a 38-byte enciphered header "Encrypt.header.1.0\0" (UTF-16LE) and an
// enciphered body running to the end of the file.
class CEncryptFile
{
public:
    static constexpr int kHeaderBytes = 38;
    // No invitation comes near this; a larger body is refused, not read.
    static constexpr qint64 kMaxBodyBytes = 16 * 1024 * 1024;

    CEncryptFile();
    ~CEncryptFile();
    CEncryptFile(const CEncryptFile&) = delete;
    CEncryptFile& operator=(const CEncryptFile&) = delete;

    // Creates or truncates the file (mode 0600), remembers key (cut to 259
    // characters), writes the header. An empty key is refused before the file
    // is touched; a header that cannot be written fails the call.
    bool Create(const QString& path, const QString& key);
    // Opens for reading and checks the header with the fixed key "qz".
    bool Open(const QString& path);
    // Opens for reading and checks the header with the given key (invitation
    // files keyed by their password).
    bool OpenWithKey(const QString& path, const QString& key);
    // En/deciphers in place with a fresh keystream of the remembered key.
    void Crypt(void* data, std::size_t length) const;

    // Body helpers: the text's UTF-16LE units plus the terminating zero,
    // enciphered and written with one write / read whole, deciphered and cut
    // at the first zero unit. ReadBody refuses bodies above kMaxBodyBytes.
    bool WriteBody(const QString& text);
    bool ReadBody(QString& text);

    int Handle() const { return m_fd; }
    const QString& ErrorText() const { return m_errorText; }
    static QString FixedKey() { return QStringLiteral("qz"); }

private:
    bool OpenImpl(const QString& path, const QString& key);
    void Close();

    QString m_errorText;
    int m_fd = -1;
    QString m_key;
};
