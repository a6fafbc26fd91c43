// Registering the login name with vindreld.
#include "app/inbox/name_registration.h"

#include <QFileInfo>
#include <string>
#include <utility>

#include "app/inbox/lan_text.h"
#include "receive/registration_protocol.h"

namespace vindrel {
namespace {

using registration::kMaxLine;
using registration::Verb;

QString FromLatin1(const std::string& text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
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
    if (!registration::CanRegister(login_.toStdString())) {
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
    const std::string line = registration::Format({Verb::kRegister, login_.toStdString(), {}, {}});
    socket_.write(line.data(), static_cast<qint64>(line.size()));
}

void NameRegistration::ReadLines()
{
    while (socket_.canReadLine()) {
        const QByteArray line = socket_.readLine(kMaxLine + 1);
        if (!line.endsWith('\n')) break;
        OnLine(line.chopped(1));
    }
    // A line longer than any the service writes: not the service.
    if (socket_.bytesAvailable() > static_cast<qint64>(kMaxLine)) {
        qWarning("vindrel-inbox: the messenger service's socket sent a line too long; closing it");
        socket_.abort();
    }
}

void NameRegistration::OnLine(const QByteArray& line)
{
    const auto said = registration::Parse(std::string_view(line.constData(), line.size()));
    if (!said || said->verb == Verb::kRegister) return;
    answered_ = true;
    QString name = FromLatin1(said->name);
    switch (said->verb) {
    case Verb::kClaiming: return Set(State::kClaiming, std::move(name));
    case Verb::kClaimed: return Set(State::kClaimed, std::move(name));
    case Verb::kReleased: return Set(State::kReleased, std::move(name));
    case Verb::kRefused:
        if (!said->owner.empty())
            return Set(State::kRefused, std::move(name), FromLatin1(said->owner));
        return Set(State::kRefused, std::move(name), {},
                   VisibleControls(QString::fromStdString(said->reason)));
    case Verb::kRegister: return;
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
