#include "resources/StringTable.h"

#include <algorithm>
#include <iterator>

namespace {
struct Entry
{
    quint32 id;
    const char16_t* text;
};

// Kept sorted by identifier: LoadString searches it by halves.
constexpr Entry kStrings[] = {
    {101, u"&About Tervalaproui..."},
    {102, u"Please provide your e-mail address for providing assitance."},
    {103, u"Provide a unique nickname to identify yourself in the network. Also select the session "
          u"for this network with a expiry time."},
    {104, u"Invitation Files(*.Tervalapro)|*.Tervalapro||"},
    {105, u"Please enter a nickname for the session"},
    {106, u"Select the network invitation file...."},
    {107, u"Software\\Quornix\\Tervala Pro"},
    {108, u"uilog.txt"},
    {109, u"Network invitation file is created successfully."},
    {110, u"Successfully connected to the %s network."},
    {112, u"Select a valid session name"},
    {115, u"Provide a valid session name"},
    {116, u"Provide valid port values separated by comma."},
    {117, u"Already a session with this name exists. Please provide a unique session name."},
    {118, u"Application Exe Files(*.exe)|*.exe||"},
    {119, u"Select the application filepath..."},
    {120, u"Executable"},
    {121, u"Advanced >>"},
    {122, u"Advanced <<"},
    {123, u"Connecting to the network server...."},
    {124, u"Tervala Pro"},
    {125, u"Tervala Pro Peer-To-Peer infrastructure initialized successfully"},
    {126, u"Tervala Pro active"},
    {127, u"Tervala Pro Peer-To-Peer infrastructure failed to start or stopped working"},
    {128, u"Tervala Pro inactive"},
    {129, u"Add Network"},
    {130, u"Resolving network server name..."},
    {131, u"Join Network"},
    {132, u"Show Existing"},
    {133, u"All network invitations are expired or no invitation is created."},
    {134, u"Network Invitation authentication"},
    {135, u"Provide a unique nickname to identify yourself in the network & the password "
          u"associated with the invitation file."},
    {136, u"Save the network invitation File...."},
    {137, u"Tervalapro"},
    {138, u"Existing network invitations"},
    {139, u"Please select a valid path for the invitation File"},
    {140, u"Please enter a valid password"},
    {141, u"Displays the existing networks created previously. Select a invitation to delete or "
          u"click next to create a new network invitation."},
    {142, u"Password doesn't match"},
    {143, u"Saving the network invitation"},
    {144, u"Provide the location where you like to save the password protected network invitation "
          u"file."},
    {145, u"Error report is successfully sent to the support."},
    {146, u"Network Session Selection"},
    {147, u"Sending error report failed. Please check your internet connection or firewall & then "
          u"try again."},
    {148, u"departmentid=1&name=%hs&email=%hs&subject=%hs&message=%hs&email_send=Submit"},
    {149, u"<Give a small brief about the issue here. Our support team will get back to you for "
          u"further assistance in the provided E-mail address>"},
    {150, u"Password should be at least six (6) characters long."},
    {10001, u"File creation failed for writing"},
    {10002, u"Failed to open file"},
    {10003, u"Invalid password or corrupted invitation file"},
    {10005, u"Unable to establish connection with the service"},
    {10006, u"Failed to read/write to the service"},
    {10012, u"Failed to export certificate "},
    {10013, u"Failed to import certificate"},
    {10015, u"Failed to get subject name for the certificate"},
    {10019, u"Netmeeting"},
    {10020, u"Remote Assistance"},
    {10021,
     u"<?xml version=\"1.0\" encoding=\"Unicode\" ?><UPLOADINFO TYPE=\"Escalated\"><UPLOADDATA "
     u"USERNAME=\"Tervala Meeting\" RCTICKET=\"%s\" RCTICKETENCRYPTED=\"0\" DtStart=\"%s\" "
     u"DtLength=\"300\" PassStub=\"\" L=\"0\" /></UPLOADINFO>"},
    {10022, u"Failed to create Remote Assistance ticket"},
    {10023, u"<?xml version=\"1.0\" ?><UPLOADINFO TYPE=\"Escalated\"><UPLOADDATA "
            u"USERNAME=\"Tervala Meeting\" RCTICKET=\"%s"},
    {10024, u"Streaming Session (MP3,AVI,WebCAM)"},
    {10025, u"Remote Desktop Access (RDP)"},
    {10201, u"Tervala Pro service is not running"},
    {10202, u"The Tervala Pro service stopped or cannot be reached. Tervala Pro keeps trying to "
            u"connect to it."},
    {10203, u"The connection to the Tervala Pro service was lost before the network was joined. "
            u"Try again once the service runs."},
    {10204, u"The connection to the Tervala Pro service was lost before the network invitation "
            u"file was created. Try again once the service runs."},
    {10205, u"the service socket belongs to a process of another user (uid %1); only root or "
            u"this user may serve it"},
    {32772, u"Add Network"},
    {32774, u"Join Network"},
    {32775, u"Exit"},
    {32778, u"Existing Networks"},
    {32779, u"Show Tervala Pro"},
    {32780, u"Exit"},
    {32784, u"Contact Support"},
    {32785, u"About"},
    {32787, u"Refresh"},
    {32789, u"Close Server"},
    {57344, u"Tervala Pro"},
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
    return e ? QString::fromUtf16(e->text) : QString();
}

bool HasString(quint32 id)
{
    return find(id) != nullptr;
}
