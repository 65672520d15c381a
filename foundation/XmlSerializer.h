#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// Cursor-style XML writer and reader. Data lives in attributes only; attributes
// keep the order they were set in and the text has no indentation.
class CXmlSerializer
{
public:
    CXmlSerializer();
    virtual ~CXmlSerializer();
    CXmlSerializer(const CXmlSerializer&) = delete;
    CXmlSerializer& operator=(const CXmlSerializer&) = delete;

    // Writer
    bool CreateDocument(const QString& rootName);
    bool AddChild(const QString& name);
    bool SetAttribute(const QString& name, const QString& value);
    bool SetAttributeLong(const QString& name, long value); // "%ld" (32-bit)
    bool SetAttributeBool(const QString& name, bool value); // "true"/"false"
    bool SetAttributeBinary(const QString& name, const void* data, quint32 length);
    bool EndChild();
    QString GetXml() const;

    // Reader
    // Parses text up to its first zero character; fails (leaving the object
    // empty) on malformed XML, a repeated attribute or another root element.
    bool LoadXml(const QString& text, const QString& rootName);
    bool NextChild(const QString& name);
    bool LeaveChild();
    bool GetAttribute(const QString& name, QString& value) const;
    bool GetAttributeLong(const QString& name, long& value) const; // _wtol rules, 0 on failure
    // Fails when the attribute is missing or decodes to no bytes.
    bool GetAttributeBinary(const QString& name, QByteArray& data) const;

    int Depth() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// _wtol semantics on a 32-bit long: leading blanks and a sign, digits up to the
// first non-digit, no digits gives 0; out-of-range saturates.
long WtoL(const QString& text);
