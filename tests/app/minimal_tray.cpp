// The smallest Qt program with a tray icon: the yardstick the tray program's
// start-up time and memory are measured against (tools/bench_tray_startup.sh).
#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QSystemTrayIcon icon(QIcon(QStringLiteral("icons/trayicon.ico")));
    icon.setToolTip(QStringLiteral("minimal"));
    icon.show();
    return QApplication::exec();
}
