// Registering the login name with vindreld.
#include "app/inbox/name_registration.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <utility>

#include "app/inbox/lan_text.h"

namespace vindrel {
namespace {

// A NetBIOS name as the service writes it: at most 15 characters, no space.
bool IsName(const QByteArray& word)
{
    return !word.isEmpty() && word.size() <= 15 && !word.contains(' ');
}

bool IsIpv4(const QByteArray& word)
{
    static const QRegularExpression dotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    return dotted.match(QString::fromLatin1(word)).hasMatch() &&
           QHostAddress(QString::fromLatin1(word)).protocol() == QAbstractSocket::IPv4Protocol;
}

}  // namespace

NameRegistration::NameRegistration(QString socket_path, QString login, QObject* parent)
    : QObject(parent), socket_path_(std::move(socket_path)), login_(std::move(login))
{
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &NameRegistration::Connect);
    connect(&socket_, &QLocalSocket::connected, this, &NameRegistration::OnConnected);
    connect(&socket_, &QLocalSocket::readyRead, this, &NameRegistration::ReadLines);
    connect(&socket_, &QLocalSocket::disconnected, this, [this] { Lost(kSoonMs); });
    connect(&socket_, &QLocalSocket::errorOccurred, this, [this] {
        if (socket_.state() == QLocalSocket::UnconnectedState) Lost(kSoonMs);
    });
    // A service started later makes its socket here: no need to wait.
    connect(&directory_, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (socket_.state() == QLocalSocket::UnconnectedState &&
            QFileInfo::exists(socket_path_))
            Connect();
    });
}

NameRegistration::~NameRegistration()
{
    // Closing the socket on the way out is no loss to report.
    socket_.disconnect(this);
}

void NameRegistration::Start()
{
    // A login the protocol cannot carry is not sent at all.
    const QByteArray login = login_.toUtf8();
    if (login.isEmpty() || login.size() > kMaxLineBytes - 10 || login.contains(' ') ||
        login.contains('\n')) {
        qWarning("vindrel-inbox: the login name cannot be registered with the messenger service");
        return;
    }
    Connect();
}

void NameRegistration::Connect()
{
    retry_.stop();
    if (socket_.state() != QLocalSocket::UnconnectedState) return;
    const QString directory = QFileInfo(socket_path_).absolutePath();
    if (!directory_.directories().contains(directory)) directory_.addPath(directory);
    answered_ = false;
    socket_.connectToServer(socket_path_, QIODevice::ReadWrite);
}

void NameRegistration::OnConnected()
{
    socket_.write("REGISTER " + login_.toUtf8() + "\n");
}

void NameRegistration::ReadLines()
{
    while (socket_.canReadLine()) {
        const QByteArray line = socket_.readLine(kMaxLineBytes + 1);
        if (!line.endsWith('\n')) break;
        OnLine(line.chopped(1));
    }
    // A line longer than any the service writes: not the service.
    if (socket_.bytesAvailable() > kMaxLineBytes) {
        qWarning("vindrel-inbox: the messenger service's socket sent a line too long; closing it");
        socket_.abort();
    }
}

void NameRegistration::OnLine(const QByteArray& line)
{
    const QList<QByteArray> words = line.split(' ');
    const QByteArray& verb = words.first();
    if (words.size() < 2 || !IsName(words[1])) return;
    QString name = QString::fromLatin1(words[1]);
    answered_ = true;
    if (verb == "CLAIMING" && words.size() == 2) {
        Set(State::kClaiming, std::move(name));
    } else if (verb == "CLAIMED" && words.size() == 2) {
        Set(State::kClaimed, std::move(name));
    } else if (verb == "RELEASED" && words.size() == 2) {
        Set(State::kReleased, std::move(name));
    } else if (verb == "REFUSED" && words.size() == 4 && words[2] == "owner" && IsIpv4(words[3])) {
        Set(State::kRefused, std::move(name), QString::fromLatin1(words[3]));
    } else if (verb == "REFUSED" && words.size() > 2) {
        const QByteArray why = line.mid(verb.size() + words[1].size() + 2);
        Set(State::kRefused, std::move(name), {}, VisibleControls(QString::fromUtf8(why)));
    }
}

void NameRegistration::Lost(int retry_ms)
{
    // A connection that never answered was not a service that restarts.
    if (!answered_) retry_ms = kRetryMs;
    answered_ = false;
    Set(State::kNoService, {});
    if (!retry_.isActive()) retry_.start(retry_ms);
}

void NameRegistration::Set(State state, QString name, QString owner, QString reason)
{
    if (state == state_ && name == name_ && owner == owner_ && reason == reason_) return;
    state_ = state;
    name_ = std::move(name);
    owner_ = std::move(owner);
    reason_ = std::move(reason);
    emit changed();
}

QString NameRegistration::StatusText() const
{
    const QString name = IsolatedName(name_);
    switch (state_) {
    case State::kNoService: return {};
    case State::kClaiming: return QStringLiteral("Registering %1 on the network\u2026").arg(name);
    case State::kClaimed: return QStringLiteral("Messages to %1 reach this computer.").arg(name);
    case State::kReleased:
        return QStringLiteral("The messenger service is stopping: %1 is no longer registered.")
            .arg(name);
    case State::kRefused:
        if (!owner_.isEmpty())
            return QStringLiteral("%1 is already taken by the computer at %2: messages to %1 "
                                  "go there, not here.")
                .arg(name, owner_);
        return QStringLiteral("%1 could not be registered: %2.").arg(name, IsolatedName(reason_));
    }
    return {};
}

}  // namespace vindrel
