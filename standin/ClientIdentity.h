#pragma once

#include <sys/types.h>

#include <vector>

// Who a client of the service socket is, as the kernel saw it connect.
struct ClientIdentity
{
    bool known = false;
    uid_t uid = uid_t(-1);
    gid_t gid = gid_t(-1);
    std::vector<gid_t> groups; // supplementary groups

    // This process's own identity (the command-line modes act for the user
    // who runs them).
    static ClientIdentity Self();
    // SO_PEERCRED and SO_PEERGROUPS of a connected socket; not known when
    // the kernel does not say.
    static ClientIdentity OfPeer(int socketFd);
};

// The service opens, creates and deletes paths that a client names with that
// client's rights, never with its own: a client of a service that runs as
// root could otherwise write into any folder or learn what a folder it may
// not read holds. While this object lives, file access by the calling thread
// (and only that thread: file-system identity and groups are per thread on
// Linux, so the rest of the service keeps its rights) is checked against the
// client's uid, gid and groups; a service running as root also loses its
// file-access capabilities meanwhile.
class ClientFileAccess
{
public:
    explicit ClientFileAccess(const ClientIdentity& client);
    ~ClientFileAccess();
    ClientFileAccess(const ClientFileAccess&) = delete;
    ClientFileAccess& operator=(const ClientFileAccess&) = delete;

    // False when the client's identity could not be taken (an unknown peer,
    // or another user's client of a service that is not root): then nothing
    // may be done for it.
    bool Granted() const { return m_granted; }

private:
    void restore();

    bool m_granted = false;
    bool m_switched = false;
    std::vector<gid_t> m_savedGroups;
};
