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
    if (args.value(1) == QStringLiteral("ctl"))
        return ControlChannel::runClient(args.mid(2));
    if (args.value(1) == QStringLiteral("write-invitation"))
        return runWriteInvitation(args);
    if (args.size() > 1 && args.value(1) != QStringLiteral("--wait-ready")) {
        std::fprintf(stderr, "usage: tervala-standin [ctl <command> [arguments...]]\n");
        return 2;
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
