// tervala-standin: the service's side of the channel on one machine.
//   tervala-standin                 listen; prints "ready" once listening
//   tervala-standin ctl <command>   drive a running stand-in
#include "standin/ControlChannel.h"
#include "standin/DefaultSessionTypes.h"
#include "standin/InvitationAuthority.h"
#include "standin/SessionPublisher.h"
#include "standin/StandinCommands.h"
#include "standin/StandinService.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};

// Kept in step with the manual page, tervala-standin(1); a test compares the
// options of the two.
const char kHelpText[] =
    "Usage: tervala-standin\n"
    "       tervala-standin ctl COMMAND [ARGUMENT...]\n"
    "       tervala-standin write-invitation --path P --password W [--nickname N]\n"
    "                       [--session-type T] [--expiry-days D] [--appdata-file F]\n"
    "\n"
    "Stand-in for the Tervala service on one machine. Without arguments it listens\n"
    "on the service socket of the runtime folder ($TERVALA_RUNTIME_DIR, default\n"
    "/run/tervala), prints \"ready\" and serves until SIGTERM, SIGINT or \"ctl quit\".\n"
    "\n"
    "  ctl COMMAND         send one command to the running stand-in and print the\n"
    "                      reply (\"ctl help\" lists the commands)\n"
    "  write-invitation    write an invitation file and its stored twin without a\n"
    "                      running service:\n"
    "    --path P            where to write the invitation file\n"
    "    --password W        the invitation's password\n"
    "    --nickname N        the inviter's nickname (default \"Inviter\")\n"
    "    --session-type T    the network's session name (default \"Demo network\")\n"
    "    --expiry-days D     days until the network expires (default 30)\n"
    "    --appdata-file F    a file whose bytes travel with the invitation\n"
    "  --help              show this text and exit\n"
    "  --version           show the version and exit\n";

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QStringLiteral("--help")) {
        std::fputs(kHelpText, stdout);
        return 0;
    }
    if (args.value(1) == QStringLiteral("--version")) {
        std::fputs("tervala-standin " TERVALA_VERSION "\n", stdout);
        return 0;
    }
    if (args.value(1) == QStringLiteral("ctl"))
        return ControlChannel::runClient(args.mid(2));
    if (args.value(1) == QStringLiteral("write-invitation"))
        return runWriteInvitation(args);
    if (args.size() > 1 && args.value(1) != QStringLiteral("--wait-ready")) {
        std::fprintf(stderr, "usage: tervala-standin [ctl <command> [arguments...]]\n"
                             "(tervala-standin --help tells more)\n");
        return 2;
    }

    // Nothing of a running service may be touched (its session list, its
    // control socket) by a copy that is going to refuse to start.
    QString claimError;
    if (!StandinService::claimRuntimeFolder(&claimError)) {
        std::fprintf(stderr, "tervala-standin: %s\n", qPrintable(claimError));
        return 1;
    }

    StandinService service;
    ControlChannel control;
    registerServiceCommands(service, control);
    registerSessionCommands(service, control);
    registerInvitationCommands(service, control);

    QString error;
    if (!service.start(&error)) {
        std::fprintf(stderr, "tervala-standin: %s\n", qPrintable(error));
        return 1;
    }
    if (!control.start(&error)) {
        std::fprintf(stderr, "tervala-standin: control channel: %s\n", qPrintable(error));
        return 1;
    }
    QString written;
    DefaultSessionTypes::WriteIfMissing(&written);
    service.log(written);
    QObject::connect(&control, &ControlChannel::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    // SIGTERM / SIGINT end the loop, so the socket entries are removed.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
    }

    std::printf("ready\n");
    std::fflush(stdout);
    const int code = app.exec();
    service.log(QStringLiteral("service stopped"));
    service.stop();
    control.stop();
    return code;
}
