// vindrel-inbox: shows the messages that arrive in the spool, one instance
// per user, started at login.
//   vindrel-inbox [--spool DIR] [--history]
//   vindrel-inbox --list [--spool DIR]
// Started again while running, it opens the running one's history window.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/common/production.h"
#include "app/inbox/inbox_app.h"
#include "app/inbox/list_command.h"
#include "app/spool/spool_dir.h"
#include "vindrel_version.h"

int main(int argc, char* argv[])
{
    std::string spool = vindrel::spool::kDefaultSpool;
    bool list = false, history = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--list") == 0) {
            list = true;
        } else if (std::strcmp(argv[i], "--history") == 0) {
            history = true;
        } else if (std::strcmp(argv[i], "--spool") == 0 && i + 1 < argc) {
            spool = argv[++i];
        } else {
            std::fprintf(stderr, "usage: vindrel-inbox [--spool DIR] [--history]\n"
                                 "       vindrel-inbox --list [--spool DIR]\n");
            return 2;
        }
    }
    // Scripts need no window system.
    if (list) return vindrel::ListMessages(spool, stdout, stderr);

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vindrel-inbox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VINDREL_VERSION_TEXT));
    QGuiApplication::setDesktopFileName(QStringLiteral("vindrel-inbox"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vindrel-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/vindrel-32.png"), QSize(32, 32));
    QApplication::setWindowIcon(icon);
    // Pop-ups come and go; the program runs until the session ends.
    QApplication::setQuitOnLastWindowClosed(false);

    // One per user: the lock and the socket live in the user's runtime dir.
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) runtime = QDir::tempPath();
    QLockFile lock(runtime + QStringLiteral("/vindrel-inbox.lock"));
    const QString socket = runtime + QStringLiteral("/vindrel-inbox.socket");
    if (!lock.tryLock(100)) {
        QLocalSocket running;
        running.connectToServer(socket);
        if (running.waitForConnected(1000)) {
            running.write("history\n");
            running.waitForBytesWritten(1000);
        }
        std::fprintf(stderr, "vindrel-inbox: already running; its history window is shown\n");
        return 0;
    }
    const QString state = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                          QStringLiteral("/vindrel/inbox-state");
    vindrel::InboxApp inbox(QString::fromStdString(spool), state, vindrel::ProductionBindings());

    QLocalServer server;
    QLocalServer::removeServer(socket);
    server.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&server, &QLocalServer::newConnection, &inbox, [&] {
        while (QLocalSocket* peer = server.nextPendingConnection()) {
            peer->deleteLater();
            inbox.ShowHistory();
        }
    });
    server.listen(socket);

    inbox.Start();
    if (history) inbox.ShowHistory();
    return app.exec();
}
