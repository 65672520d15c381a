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

    // Empty when absent or not plain text (a list or a typed number is not a
    // nickname); ends at a zero character; at most 259 characters.
    QString GetNickName() const;
    void SetNickName(const QString& text); // an empty nickname is not written

    // Remote Assistance policy switches have no counterpart here: 0, nothing done.
    std::uint32_t EnableGetHelp();
    std::uint32_t EnableUnsolicitedHelp();

    // Machine-wide values.
    static std::uint32_t ReadLogTraceLevel(); // 0 when absent or not a number
    static QString SupportHost();             // "host" or "host:port", may be empty
    static QString SupportEmail();
    // Program and arguments; %s in an argument is the address. Written as a
    // list (RemoteDesktopCommand=xfreerdp, /v:%s) it is taken item by item;
    // written as one text it is split like a shell command line (blanks
    // separate, double quotes group), without running a shell.
    static QStringList RemoteDesktopCommand();
    // TrayIconStyle: "monochrome" for the one-colour tray icon that reads on
    // dark and light panels alike, anything else the coloured one. The user's
    // own value wins over the machine-wide one.
    static bool MonochromeTrayIcon();
};
