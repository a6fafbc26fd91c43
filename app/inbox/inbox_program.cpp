// vindrel-inbox's command line and its one instance per user:
//   vindrel-inbox [--spool DIR] [--service-socket PATH] [--history]
//   vindrel-inbox --list [--json] [--spool DIR]
// Started again while running, it opens the running one's history window.
#include "app/inbox/inbox_program.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/common/production.h"
#include "app/inbox/inbox_app.h"
#include "app/inbox/instance_dir.h"
#include "app/inbox/list_command.h"
#include "receive/spool_dir.h"
#include "vindrel_version.h"

namespace {

constexpr char kUsage[] =
    "usage: vindrel-inbox [--spool DIR] [--service-socket PATH] [--history]\n"
    "       vindrel-inbox --list [--json] [--spool DIR]\n";
constexpr char kDefaultServiceSocket[] = "/run/vindrel/vindreld.sock";
// A request from a second start: "history", an activation token, a line end.
constexpr qint64 kMaxRequestLine = 512;

QString StateFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/vindrel/inbox-state");
}

}  // namespace

int vindrel::RunInbox(int argc, char* argv[], InboxObserver* observer)
{
    std::string spool = vindrel::spool::kDefaultSpool;
    QString service_socket = QString::fromLatin1(kDefaultServiceSocket);
    bool list = false, json = false, history = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--list") == 0) {
            list = true;
        } else if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--history") == 0) {
            history = true;
        } else if (std::strcmp(argv[i], "--spool") == 0 && i + 1 < argc) {
            spool = argv[++i];
        } else if (std::strcmp(argv[i], "--service-socket") == 0 && i + 1 < argc) {
            service_socket = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vindrel-inbox %s\n", VINDREL_VERSION_FULL);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (json && !list) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // Scripts need no window system.
    if (list)
        return vindrel::ListMessages(
            spool, StateFile(), json ? vindrel::ListFormat::kJson : vindrel::ListFormat::kPlain,
            stdout, stderr);

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vindrel-inbox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VINDREL_VERSION_FULL));
    QGuiApplication::setDesktopFileName(QStringLiteral("vindrel-inbox"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vindrel-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/vindrel-32.png"), QSize(32, 32));
    QApplication::setWindowIcon(icon);
    // Pop-ups come and go; the program runs until the session ends.
    QApplication::setQuitOnLastWindowClosed(false);

    // One per user: the lock and the socket live in a directory of this
    // user's alone.
    QString why;
    const std::optional<QString> dir = vindrel::InstanceDir(
        qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath(),
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation), why);
    if (!dir) {
        std::fprintf(stderr, "vindrel-inbox: no private place for its lock: %s\n",
                     qPrintable(why));
        return 1;
    }
    QLockFile lock(*dir + QStringLiteral("/vindrel-inbox.lock"));
    const QString socket = *dir + QStringLiteral("/vindrel-inbox.socket");
    if (!lock.tryLock(100)) {
        QLocalSocket running;
        running.connectToServer(socket);
        if (running.waitForConnected(1000)) {
            // The launcher's activation token, so that Wayland lets the
            // running one raise its window.
            running.write("history " + qgetenv("XDG_ACTIVATION_TOKEN") + "\n");
            running.waitForBytesWritten(1000);
        }
        std::fprintf(stderr, "vindrel-inbox: already running; its history window is shown\n");
        return 0;
    }
    vindrel::InboxApp inbox(QString::fromStdString(spool), StateFile(),
                            vindrel::ProductionBindings());
    inbox.RegisterWith(service_socket);
    inbox.SetObserver(observer);

    QLocalServer server;
    QLocalServer::removeServer(socket);
    server.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&server, &QLocalServer::newConnection, &inbox, [&] {
        while (QLocalSocket* peer = server.nextPendingConnection()) {
            // "history [TOKEN]": the line, or what came of it within a
            // second, then the window; a peer that says nothing still
            // gets it.
            auto answer = [peer, &inbox] {
                if (peer->property("answered").toBool()) return;
                peer->setProperty("answered", true);
                const QByteArray line = peer->readLine(kMaxRequestLine).trimmed();
                const QByteArray token = line.startsWith("history ") ? line.mid(8) : QByteArray();
                inbox.ShowHistory(true, QString::fromUtf8(token));
                peer->disconnectFromServer();
                peer->deleteLater();
            };
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [peer, answer] {
                if (peer->canReadLine() || peer->bytesAvailable() >= kMaxRequestLine) answer();
            });
            QObject::connect(peer, &QLocalSocket::disconnected, peer, answer);
            QTimer::singleShot(1000, peer, answer);
        }
    });
    server.listen(socket);

    inbox.Start();
    if (history) inbox.ShowHistory();
    return app.exec();
}
