#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// What the user wrote in the Contact Support form.
struct SupportForm
{
    QString name;
    QString email;
    QString subject;
    QString message;
};

namespace SupportReport {
// The help centre's form handler on the support web server.
inline constexpr char kPathAndQuery[] = "/chat/module.php?module=HelpCenter";
inline constexpr char kContentType[] = "application/x-www-form-urlencoded";
// Sent for a field the user left empty.
inline constexpr char kNotEntered[] = "NotEntered";

// An address the support team can answer: not empty and with an "@".
bool EmailAcceptable(const QString& email);

// Line breaks as the web form sends them (CR LF), however the text was typed.
QString WithCrLf(const QString& text);

// The four fields, each encoded or replaced by "NotEntered" when empty, in
// the body string with its %hs slots filled in order name, e-mail, subject,
// message. logText is appended to the message as it is.
QByteArray BuildBody(const SupportForm& form, const QString& logText);

// Where the report goes, from the machine-wide SupportHost value ("host" or
// "host:port"; an IPv6 address in brackets when a port follows).
struct Endpoint
{
    QUrl url;          // valid when the setting is usable
    QString errorText; // otherwise: what is wrong and where to fix it
};
Endpoint EndpointFromSetting(const QString& supportHost, const QString& settingsFile);

// The machine-wide settings file that SupportHost and SupportEmail are read
// from, for messages that tell the user where to look.
QString MachineSettingsFile();
} // namespace SupportReport
