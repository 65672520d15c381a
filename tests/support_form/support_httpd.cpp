// The loopback help centre of the end-to-end check: answers every request
// with the given status and appends what it received to a file.
//
//   support_httpd <record file> [status | silent]
//
// Prints "port <n>" once it listens on 127.0.0.1.
#include "LoopbackHttpServer.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: support_httpd <record file> [status | silent]\n");
        return 2;
    }
    LoopbackHttpServer server;
    LoopbackHttpServer::Answer answer;
    if (args.size() > 2 && args[2] == QLatin1String("silent")) {
        answer.mode = LoopbackHttpServer::Answer::Mode::Silent;
    } else if (args.size() > 2) {
        answer.status = args[2].toInt();
        answer.reason = answer.status < 300 ? "OK" : "Failed";
    }
    server.setDefaultAnswer(answer);
    if (!server.listen())
        return 1;
    const QString record = args[1];
    QObject::connect(&server, &LoopbackHttpServer::requestReceived, &server, [&] {
        const LoopbackHttpServer::Request& r = server.requests().last();
        QFile f(record);
        if (!f.open(QIODevice::Append))
            return;
        QByteArray out = r.requestLine + '\n';
        for (const auto& [key, value] : r.headers)
            out += key + ": " + value + '\n';
        out += "\n" + r.body + "\n----\n";
        f.write(out);
    });
    std::printf("port %u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
