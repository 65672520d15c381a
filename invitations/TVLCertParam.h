#pragma once

#include "foundation/XmlSerializer.h"
#include "invitations/Certificate.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// The certificate-parameter document carried by stored invitations and
// invitation files: root element TVLCertParam, one child per named value,
// the value X held by the attribute X of the child X. The object lives for one
// read or write of one document.
class CTVLCertParam
{
public:
    static constexpr const char* kRootName = "TVLCertParam";

    CTVLCertParam();
    // Keeps its own reference to certificate.
    explicit CTVLCertParam(const CCertificate& certificate);
    ~CTVLCertParam();
    CTVLCertParam(const CTVLCertParam&) = delete;
    CTVLCertParam& operator=(const CTVLCertParam&) = delete;

    bool AddString(const QString& name, const QString& value);
    // The bytes as Base64 (AddChild, SetAttributeBinary, EndChild).
    bool AddBinary(const QString& name, const QByteArray& value);
    // Missing element or attribute: the empty text.
    QString GetString(const QString& name);
    // Copies at most size bytes of the decoded value into buffer and sets size
    // to the full decoded length, which the caller must compare with what it
    // offered. Missing or empty value: false, buffer and size unchanged.
    bool GetBinary(const QString& name, void* buffer, std::uint32_t& size);
    // The whole decoded value; false when missing or empty.
    bool GetBinary(const QString& name, QByteArray& value);

    // PKCS #12 image of certificate with its private key under password
    // (OpenSSL 3 defaults). Empty on failure, with string 10012 and the reason.
    QByteArray ExportCertificate(const CCertificate& certificate, const QString& password);
    // Reads a PKCS #12 image in the current or the older 3DES/RC2 forms; the
    // result is also kept as this object's certificate. Null on failure, with
    // string 10013 and the reason.
    CCertificate ImportCertificate(const QByteArray& pfx, const QString& password);
    // The certificate's simple display name; empty with string 10015 when
    // there is no certificate.
    QString GetSubjectName();

    // Writes the container keyed by password: the document plus CertData (the
    // certificate under the same password).
    bool SaveInvitation(const QString& path, const QString& password);
    // Reads a stored invitation (the fixed key) and imports its certificate.
    bool LoadInvitation(const QString& path);
    // Same for an invitation file keyed by its password.
    bool LoadInvitation(const QString& path, const QString& password);

    const CCertificate& Certificate() const { return m_certificate; }
    const QString& ErrorText() const { return m_errorText; }
    QString GetXml() const;

private:
    bool EnterValue(const QString& name);
    bool LoadImpl(const QString& path, const QString& key, bool fixedKey);
    void SetError(quint32 stringId, unsigned long opensslError);

    QString m_errorText;
    CXmlSerializer m_document;
    CCertificate m_certificate;
};

// Makes sure the providers that read every PKCS #12 form we accept (default
// and legacy) are loaded in the default library context. Idempotent.
void EnsurePkcs12Providers();
