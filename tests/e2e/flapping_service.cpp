// A service that accepts every connection on the service socket and closes it
// at once, as a crashing or hostile service would. It keeps the number of
// connections accepted so far in a file, so that a measurement can read the
// rate over any window. Used by tools/measure-lost-service.sh.
//
//   flapping_service <count file>
// Socket: $TERVALA_RUNTIME_DIR/{3FAB0660-208D-4898-AA25-14D0DD1B5E3B}.TervalaIPC
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
volatile sig_atomic_t g_stop = 0;
void onSignal(int)
{
    g_stop = 1;
}
} // namespace

int main(int argc, char* argv[])
{
    const char* runtime = std::getenv("TERVALA_RUNTIME_DIR");
    if (argc != 2 || !runtime) {
        std::fprintf(stderr, "usage: TERVALA_RUNTIME_DIR=... flapping_service <count file>\n");
        return 2;
    }
    const std::string path =
        std::string(runtime) + "/{3FAB0660-208D-4898-AA25-14D0DD1B5E3B}.TervalaIPC";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return 2;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 128) != 0) {
        std::perror("flapping_service");
        return 1;
    }
    const int counter = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (counter < 0) {
        std::perror("flapping_service");
        return 1;
    }
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);

    unsigned long accepted = 0;
    while (!g_stop) {
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, 200) != 1)
            continue;
        const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ::close(client);
        ++accepted;
        char text[32];
        const int n = std::snprintf(text, sizeof text, "%lu\n", accepted);
        [[maybe_unused]] ssize_t w = ::pwrite(counter, text, static_cast<size_t>(n), 0);
    }
    ::unlink(path.c_str());
    return 0;
}
