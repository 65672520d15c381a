#include "resources/StringTable.h"

#include <QCoreApplication>

#include <algorithm>
#include <iterator>

namespace {
struct Entry
{
    quint32 id;
    const char* text; // UTF-8
    // Texts that are data rather than words for the user (file names,
    // registry paths, wire templates, default extensions, and the session-type
    // names, which invitations carry between computers and the program
    // compares) never go through translation.
    bool translatable = true;
};

constexpr char kContext[] = "StringTable";

// Kept sorted by identifier: LoadString searches it by halves.
constexpr Entry kStrings[] = {
    {101, QT_TRANSLATE_NOOP("StringTable", "&About Tervalaproui...")},
    {102, QT_TRANSLATE_NOOP("StringTable",
                            "Please provide your e-mail address for providing assitance.")},
    {103,
     QT_TRANSLATE_NOOP(
         "StringTable",
         "Provide a unique nickname to identify yourself in the network. Also select the session "
         "for this network with a expiry time.")},
    {104, QT_TRANSLATE_NOOP("StringTable", "Invitation Files(*.Tervalapro)|*.Tervalapro||")},
    {105, QT_TRANSLATE_NOOP("StringTable", "Please enter a nickname for the session")},
    {106, QT_TRANSLATE_NOOP("StringTable", "Select the network invitation file....")},
    {107, "Software\\Quornix\\Tervala Pro", false},
    {108, "uilog.txt", false},
    {109, QT_TRANSLATE_NOOP("StringTable", "Network invitation file is created successfully.")},
    {110, QT_TRANSLATE_NOOP("StringTable", "Successfully connected to the %s network.")},
    {112, QT_TRANSLATE_NOOP("StringTable", "Select a valid session name")},
    {115, QT_TRANSLATE_NOOP("StringTable", "Provide a valid session name")},
    {116, QT_TRANSLATE_NOOP("StringTable", "Provide valid port values separated by comma.")},
    {117, QT_TRANSLATE_NOOP(
              "StringTable",
              "Already a session with this name exists. Please provide a unique session name.")},
    {118, QT_TRANSLATE_NOOP("StringTable", "Application Exe Files(*.exe)|*.exe||")},
    {119, QT_TRANSLATE_NOOP("StringTable", "Select the application filepath...")},
    {120, "Executable", false},
    {121, QT_TRANSLATE_NOOP("StringTable", "Advanced >>")},
    {122, QT_TRANSLATE_NOOP("StringTable", "Advanced <<")},
    {123, QT_TRANSLATE_NOOP("StringTable", "Connecting to the network server....")},
    {124, QT_TRANSLATE_NOOP("StringTable", "Tervala Pro")},
    {125, QT_TRANSLATE_NOOP("StringTable",
                            "Tervala Pro Peer-To-Peer infrastructure initialized successfully")},
    {126, QT_TRANSLATE_NOOP("StringTable", "Tervala Pro active")},
    {127, QT_TRANSLATE_NOOP(
              "StringTable",
              "Tervala Pro Peer-To-Peer infrastructure failed to start or stopped working")},
    {128, QT_TRANSLATE_NOOP("StringTable", "Tervala Pro inactive")},
    {129, QT_TRANSLATE_NOOP("StringTable", "Add Network")},
    {130, QT_TRANSLATE_NOOP("StringTable", "Resolving network server name...")},
    {131, QT_TRANSLATE_NOOP("StringTable", "Join Network")},
    {132, QT_TRANSLATE_NOOP("StringTable", "Show Existing")},
    {133, QT_TRANSLATE_NOOP("StringTable",
                            "All network invitations are expired or no invitation is created.")},
    {134, QT_TRANSLATE_NOOP("StringTable", "Network Invitation authentication")},
    {135, QT_TRANSLATE_NOOP(
              "StringTable",
              "Provide a unique nickname to identify yourself in the network & the password "
              "associated with the invitation file.")},
    {136, QT_TRANSLATE_NOOP("StringTable", "Save the network invitation File....")},
    {137, "Tervalapro", false},
    {138, QT_TRANSLATE_NOOP("StringTable", "Existing network invitations")},
    {139, QT_TRANSLATE_NOOP("StringTable", "Please select a valid path for the invitation File")},
    {140, QT_TRANSLATE_NOOP("StringTable", "Please enter a valid password")},
    {141, QT_TRANSLATE_NOOP(
              "StringTable",
              "Displays the existing networks created previously. Select a invitation to delete or "
              "click next to create a new network invitation.")},
    {142, QT_TRANSLATE_NOOP("StringTable", "Password doesn't match")},
    {143, QT_TRANSLATE_NOOP("StringTable", "Saving the network invitation")},
    {144,
     QT_TRANSLATE_NOOP(
         "StringTable",
         "Provide the location where you like to save the password protected network invitation "
         "file.")},
    {145, QT_TRANSLATE_NOOP("StringTable", "Error report is successfully sent to the support.")},
    {146, QT_TRANSLATE_NOOP("StringTable", "Network Session Selection")},
    {147,
     QT_TRANSLATE_NOOP(
         "StringTable",
         "Sending error report failed. Please check your internet connection or firewall & then "
         "try again.")},
    {148, "departmentid=1&name=%hs&email=%hs&subject=%hs&message=%hs&email_send=Submit", false},
    {149, QT_TRANSLATE_NOOP(
              "StringTable",
              "<Give a small brief about the issue here. Our support team will get back to you for "
              "further assistance in the provided E-mail address>")},
    {150, QT_TRANSLATE_NOOP("StringTable", "Password should be at least six (6) characters long.")},
    {170, QT_TRANSLATE_NOOP(
              "StringTable",
              "No session type is defined yet. Use Add New Session to add one, then press Next.")},
    {171, QT_TRANSLATE_NOOP("StringTable",
                            "The network could not be created; the service gave no reason.")},
    {10001, QT_TRANSLATE_NOOP("StringTable", "File creation failed for writing")},
    {10002, QT_TRANSLATE_NOOP("StringTable", "Failed to open file")},
    {10003, QT_TRANSLATE_NOOP("StringTable", "Invalid password or corrupted invitation file")},
    {10005, QT_TRANSLATE_NOOP("StringTable", "Unable to establish connection with the service")},
    {10006, QT_TRANSLATE_NOOP("StringTable", "Failed to read/write to the service")},
    {10012, QT_TRANSLATE_NOOP("StringTable", "Failed to export certificate ")},
    {10013, QT_TRANSLATE_NOOP("StringTable", "Failed to import certificate")},
    {10015, QT_TRANSLATE_NOOP("StringTable", "Failed to get subject name for the certificate")},
    {10019, "Netmeeting", false},
    {10020, "Remote Assistance", false},
    {10021,
     "<?xml version=\"1.0\" encoding=\"Unicode\" ?><UPLOADINFO TYPE=\"Escalated\"><UPLOADDATA "
     "USERNAME=\"Tervala Meeting\" RCTICKET=\"%s\" RCTICKETENCRYPTED=\"0\" DtStart=\"%s\" "
     "DtLength=\"300\" PassStub=\"\" L=\"0\" /></UPLOADINFO>",
     false},
    {10022, QT_TRANSLATE_NOOP("StringTable", "Failed to create Remote Assistance ticket")},
    {10023,
     "<?xml version=\"1.0\" ?><UPLOADINFO TYPE=\"Escalated\"><UPLOADDATA "
     "USERNAME=\"Tervala Meeting\" RCTICKET=\"%s",
     false},
    {10024, "Streaming Session (MP3,AVI,WebCAM)", false},
    {10025, "Remote Desktop Access (RDP)", false},
    {10201, QT_TRANSLATE_NOOP("StringTable", "Tervala Pro service is not running")},
    {10202, QT_TRANSLATE_NOOP(
                "StringTable",
                "The Tervala Pro service stopped or cannot be reached. Tervala Pro keeps trying to "
                "connect to it.")},
    {10203, QT_TRANSLATE_NOOP(
                "StringTable",
                "The connection to the Tervala Pro service was lost before the network was joined. "
                "Try again once the service runs.")},
    {10204, QT_TRANSLATE_NOOP(
                "StringTable",
                "The connection to the Tervala Pro service was lost before the network invitation "
                "file was created. Try again once the service runs.")},
    {10205, QT_TRANSLATE_NOOP(
                "StringTable",
                "the service socket belongs to a process of another user (uid %1); only root or "
                "this user may serve it")},
    {20101, QT_TRANSLATE_NOOP(
                "StringTable",
                "These stored network invitations could not be read. They were left as they are:")},
    {20102, QT_TRANSLATE_NOOP("StringTable", "Reading the stored network invitations...")},
    {20103, QT_TRANSLATE_NOOP("StringTable", "expires in %1")},
    {20104, QT_TRANSLATE_NOOP("StringTable", "has expired")},
    {20105, QT_TRANSLATE_NOOP("StringTable", "less than a minute")},
    {20106, QT_TRANSLATE_NOOP("StringTable", "1 minute")},
    {20107, QT_TRANSLATE_NOOP("StringTable", "%1 minutes")},
    {20108, QT_TRANSLATE_NOOP("StringTable", "1 hour")},
    {20109, QT_TRANSLATE_NOOP("StringTable", "%1 hours")},
    {20110, QT_TRANSLATE_NOOP("StringTable", "%1 days")},
    {20111, QT_TRANSLATE_NOOP("StringTable", "Expires within 24 hours")},
    {20112, QT_TRANSLATE_NOOP("StringTable", "Network expiring soon")},
    {20113,
     QT_TRANSLATE_NOOP(
         "StringTable",
         "The network %1 %2 (%3). Use Existing Networks to invite people again while it lasts.")},
    {20114, QT_TRANSLATE_NOOP("StringTable", "%1 networks expire within 24 hours: %2. Use Existing "
                                             "Networks to invite people again while they last.")},
    {20115, QT_TRANSLATE_NOOP("StringTable", "... and %1 more")},
    {20116, QT_TRANSLATE_NOOP("StringTable",
                              "The stored invitation of the network %1 could not be deleted.")},
    {20117, QT_TRANSLATE_NOOP(
                "StringTable",
                "The network %1 has expired in the meantime. No invitation file was written.")},
    {32772, QT_TRANSLATE_NOOP("StringTable", "Add Network")},
    {32774, QT_TRANSLATE_NOOP("StringTable", "Join Network")},
    {32775, QT_TRANSLATE_NOOP("StringTable", "Exit")},
    {32778, QT_TRANSLATE_NOOP("StringTable", "Existing Networks")},
    {32779, QT_TRANSLATE_NOOP("StringTable", "Show Tervala Pro")},
    {32780, QT_TRANSLATE_NOOP("StringTable", "Exit")},
    {32784, QT_TRANSLATE_NOOP("StringTable", "Contact Support")},
    {32785, QT_TRANSLATE_NOOP("StringTable", "About")},
    {32787, QT_TRANSLATE_NOOP("StringTable", "Refresh")},
    {32789, QT_TRANSLATE_NOOP("StringTable", "Close Server")},
    {57344, QT_TRANSLATE_NOOP("StringTable", "Tervala Pro")},
};

constexpr bool isSorted()
{
    for (std::size_t i = 1; i < std::size(kStrings); ++i) {
        if (kStrings[i - 1].id >= kStrings[i].id)
            return false;
    }
    return true;
}
static_assert(isSorted(), "the string table must stay sorted by identifier, without duplicates");

const Entry* find(quint32 id)
{
    const auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                     [](const Entry& e, quint32 key) { return e.id < key; });
    return (it != std::end(kStrings) && it->id == id) ? it : nullptr;
}
} // namespace

QString LoadString(quint32 id)
{
    const Entry* e = find(id);
    if (!e)
        return QString();
    return e->translatable ? QCoreApplication::translate(kContext, e->text)
                           : QString::fromUtf8(e->text);
}

QString LoadSourceString(quint32 id)
{
    const Entry* e = find(id);
    return e ? QString::fromUtf8(e->text) : QString();
}

bool IsTranslatableString(quint32 id)
{
    const Entry* e = find(id);
    return e && e->translatable;
}

QList<quint32> StringIds()
{
    QList<quint32> ids;
    ids.reserve(static_cast<qsizetype>(std::size(kStrings)));
    for (const Entry& e : kStrings)
        ids.append(e.id);
    return ids;
}

bool HasString(quint32 id)
{
    return find(id) != nullptr;
}
