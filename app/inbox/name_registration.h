// This user's login name registered with the messenger service (vindreld)
// over its local socket, for as long as the inbox runs: while the
// connection stays open the service answers for the name on the LAN, and
// says whether it could claim it. Without a service (the Samba route) the
// inbox carries on quietly and looks again now and then, or as soon as the
// socket appears.
#pragma once

#include <QFileSystemWatcher>
#include <QLocalSocket>
#include <QObject>
#include <QString>
#include <QTimer>

namespace vindrel {

class NameRegistration : public QObject {
    Q_OBJECT

public:
    enum class State {
        kNoService,  // nothing to say: no service, or it has not answered yet
        kClaiming,
        kClaimed,
        kRefused,    // see Owner() or Reason()
        kReleased,   // the service is stopping
    };

    NameRegistration(QString socket_path, QString login, QObject* parent = nullptr);
    ~NameRegistration() override;

    // Connects now, and again whenever the connection is lost.
    void Start();

    State state() const { return state_; }
    // The name as the service registered it, upper case.
    const QString& Name() const { return name_; }
    // For kRefused: the address of the host that owns the name, if that is why.
    const QString& Owner() const { return owner_; }
    const QString& Reason() const { return reason_; }
    // One line for the tray and the history; empty when there is nothing to say.
    QString StatusText() const;

    // How long to wait before looking for the service again: soon after it
    // went away (a restart), then now and then.
    static constexpr int kSoonMs = 1000;
    static constexpr int kRetryMs = 30'000;

signals:
    void changed();

private:
    void Connect();
    void OnConnected();
    void OnLine(const QByteArray& line);
    void ReadLines();
    void Lost(int retry_ms);
    void Set(State state, QString name, QString owner = {}, QString reason = {});

    QString socket_path_;
    QString login_;
    QLocalSocket socket_;
    QFileSystemWatcher directory_;
    QTimer retry_;
    bool answered_ = false;  // the current connection has said something
    State state_ = State::kNoService;
    QString name_, owner_, reason_;
};

}  // namespace vindrel
