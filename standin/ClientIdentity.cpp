#include "standin/ClientIdentity.h"

#include <cerrno>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// The raw system calls: the C library's setgroups changes every thread of
// the process, the kernel's only the caller.
bool SetThreadGroups(const std::vector<gid_t>& groups)
{
    return ::syscall(SYS_setgroups, groups.size(), groups.data()) == 0;
}

std::vector<gid_t> ThreadGroups()
{
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? std::size_t(count) : 0);
    if (count > 0 && ::getgroups(count, groups.data()) != count)
        groups.clear();
    return groups;
}
} // namespace

ClientIdentity ClientIdentity::Self()
{
    ClientIdentity self;
    self.known = true;
    self.uid = ::geteuid();
    self.gid = ::getegid();
    self.groups = ThreadGroups();
    return self;
}

ClientIdentity ClientIdentity::OfPeer(int socketFd)
{
    ClientIdentity peer;
    struct ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials)
        return peer;
    peer.uid = credentials.uid;
    peer.gid = credentials.gid;
    std::vector<gid_t> groups(16);
    for (int attempt = 0; attempt < 4; ++attempt) {
        socklen_t bytes = socklen_t(groups.size() * sizeof(gid_t));
        if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &bytes) == 0) {
            groups.resize(bytes / sizeof(gid_t));
            peer.groups = groups;
            break;
        }
        if (errno != ERANGE)
            break; // an older kernel: the primary group only, fewer rights
        groups.resize(bytes / sizeof(gid_t) + 1);
    }
    peer.known = true;
    return peer;
}

ClientFileAccess::ClientFileAccess(const ClientIdentity& client)
{
    if (!client.known)
        return;
    // A client of our own user may do what we may do.
    if (client.uid == ::geteuid()) {
        m_granted = true;
        return;
    }
    m_savedGroups = ThreadGroups();
    m_switched = true;
    std::vector<gid_t> groups = client.groups;
    if (groups.empty())
        groups.push_back(client.gid);
    // Groups first, user last: the service still holds the rights to change
    // the groups until its file-system user is the client's.
    if (!SetThreadGroups(groups)) {
        restore();
        return;
    }
    ::setfsgid(client.gid);
    ::setfsuid(client.uid);
    // Both calls return the previous value; asking again with an invalid id
    // tells whether they took effect.
    m_granted =
        ::setfsuid(uid_t(-1)) == int(client.uid) && ::setfsgid(gid_t(-1)) == int(client.gid);
    if (!m_granted)
        restore();
}

ClientFileAccess::~ClientFileAccess()
{
    restore();
}

void ClientFileAccess::restore()
{
    if (!m_switched)
        return;
    m_switched = false;
    // The user first: back to root, the capabilities return with it.
    ::setfsuid(::geteuid());
    ::setfsgid(::getegid());
    SetThreadGroups(m_savedGroups);
}
