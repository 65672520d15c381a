#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// The product's settings: the per-user nickname and the machine-wide values.
// Made for one use and destroyed right after, like the registry keys it
// replaces.
class CRegOperations
{
public:
    CRegOperations();
    virtual ~CRegOperations();

    QString GetNickName() const;           // empty when absent or not text
    void SetNickName(const QString& text); // an empty nickname is not written

    // Remote Assistance policy switches have no counterpart here: 0, nothing done.
    std::uint32_t EnableGetHelp();
    std::uint32_t EnableUnsolicitedHelp();

    // Machine-wide values.
    static std::uint32_t ReadLogTraceLevel(); // 0 when absent or not a number
    static QString SupportHost();             // "host" or "host:port", may be empty
    static QString SupportEmail();
    static QStringList RemoteDesktopCommand(); // program and arguments; %s = address
};
