// Notices through org.freedesktop.Notifications.
#include "app/inbox/desktop_notifications.h"

#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QTimer>
#include <QVariantMap>
#include <memory>
#include <utility>

#include "app/inbox/dbus_answer.h"

namespace vindrel {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

}  // namespace

QString EscapeMarkup(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&': out += QStringLiteral("&amp;"); break;
        case u'<': out += QStringLiteral("&lt;"); break;
        case u'>': out += QStringLiteral("&gt;"); break;
        default: out += c;
        }
    }
    return out;
}

DesktopNotifications::DesktopNotifications(QObject* parent)
    : QObject(parent),
      bus_(QDBusConnection::sessionBus()),
      watcher_(new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForOwnerChange,
                                       this))
{
    if (!bus_.isConnected()) return;
    // Only the service's owner is heard: another program on the bus cannot
    // act on these notices.
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(OnActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(OnClosed(uint, uint)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationReplied"), this,
                 SLOT(OnReplied(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActivationToken"), this,
                 SLOT(OnActivationToken(uint, QString)));
    bus_.connect(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                 QStringLiteral("PropertiesChanged"), this,
                 SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList)));
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& old_owner, const QString& new_owner) {
                // Another service may read markup differently.
                capabilities_.reset();
                inhibited_ = false;
                if (!old_owner.isEmpty()) emit serviceGone();
                if (new_owner.isEmpty()) return;
                ReadInhibited();
                emit serviceBack();
            });
    ReadInhibited();
}

void DesktopNotifications::ReadInhibited()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << kInterface << QStringLiteral("Inhibited");
    // Most services have no such property: the error leaves it false.
    OnAnswer(this, bus_.asyncCall(call, kCallTimeoutMs), [this](const QDBusMessage& reply) {
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            inhibited_ = reply.arguments().first().value<QDBusVariant>().variant().toBool();
    });
}

void DesktopNotifications::OnPropertiesChanged(const QString& interface,
                                               const QVariantMap& changed, const QStringList&)
{
    if (interface == kInterface && changed.contains(QStringLiteral("Inhibited")))
        inhibited_ = changed.value(QStringLiteral("Inhibited")).toBool();
}

void DesktopNotifications::WithCapabilities(std::function<void()> then)
{
    if (capabilities_) {
        then();
        return;
    }
    waiting_.push_back(std::move(then));
    if (waiting_.size() > 1) return;
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                             QStringLiteral("GetCapabilities"));
    OnAnswer(this, bus_.asyncCall(call, kCallTimeoutMs), [this](const QDBusMessage& reply) {
        // An error leaves them unknown: the next notice asks again.
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            capabilities_ = reply.arguments().first().toStringList();
        for (auto& next : std::exchange(waiting_, {})) next();
    });
}

void DesktopNotifications::Show(const Notice& notice, std::function<void(quint32)> done)
{
    if (!bus_.isConnected()) {
        done(0);
        return;
    }
    WithCapabilities([this, notice, done = std::move(done)]() mutable {
        if (!capabilities_) {
            done(0);
            return;
        }
        Notify(notice, std::move(done));
    });
}

void DesktopNotifications::Notify(const Notice& notice, std::function<void(quint32)> done)
{
    const bool markup = capabilities_->contains(QStringLiteral("body-markup"));
    QStringList actions{QStringLiteral("default"), QStringLiteral("Show")};
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("vindrel-inbox")},
                      {QStringLiteral("category"), QStringLiteral("im.received")}};
    if (notice.reply) {
        actions << QStringLiteral("reply") << QStringLiteral("Reply");
        if (capabilities_->contains(QStringLiteral("inline-reply"))) {
            actions << QStringLiteral("inline-reply") << QStringLiteral("Quick reply");
            hints.insert(QStringLiteral("x-kde-reply-placeholder-text"), notice.reply_placeholder);
        }
    }
    if (notice.mute) actions << QStringLiteral("mute") << QStringLiteral("Mute sender");
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("Vindrel") << notice.replaces << QStringLiteral("vindrel-inbox")
         << notice.summary << (markup ? EscapeMarkup(notice.body) : notice.body) << actions
         << hints << 0;
    // Our own deadline for the caller; the call itself waits longer, so a
    // late answer's notice can be taken back rather than left with buttons
    // that nothing listens to.
    auto told = std::make_shared<bool>(false);
    auto tell = std::make_shared<std::function<void(quint32)>>(std::move(done));
    auto* deadline = new QTimer(this);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [told, tell, deadline] {
        deadline->deleteLater();
        if (std::exchange(*told, true)) return;
        qWarning("vindrel-inbox: the notification service did not answer in %d ms",
                 kCallTimeoutMs);
        (*tell)(0);
    });
    deadline->start(kCallTimeoutMs);
    OnAnswer(this, bus_.asyncCall(call, kLateAnswerMs),
             [this, told, tell, deadline](const QDBusMessage& reply) {
                 const QVariant id = reply.type() == QDBusMessage::ReplyMessage &&
                                             !reply.arguments().isEmpty()
                                         ? reply.arguments().first()
                                         : QVariant();
                 const quint32 shown = id.typeId() == QMetaType::UInt ? id.toUInt() : 0;
                 if (std::exchange(*told, true)) {
                     Close(shown);  // the caller has shown it otherwise
                     return;
                 }
                 deadline->stop();
                 deadline->deleteLater();
                 (*tell)(shown);
             });
}

void DesktopNotifications::Close(quint32 id)
{
    if (!bus_.isConnected() || id == 0) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("CloseNotification"));
    call << id;
    bus_.asyncCall(call, kCallTimeoutMs);
}

void DesktopNotifications::CloseNow(const QList<quint32>& ids)
{
    if (!bus_.isConnected()) return;
    QElapsedTimer spent;
    spent.start();
    for (const quint32 id : ids) {
        const qint64 left = kCallTimeoutMs - spent.elapsed();
        if (id == 0) continue;
        if (left <= 0) break;
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                           QStringLiteral("CloseNotification"));
        call << id;
        bus_.call(call, QDBus::Block, static_cast<int>(left));
    }
}

void DesktopNotifications::OnActionInvoked(uint id, const QString& action)
{
    emit actionInvoked(id, action);
}

void DesktopNotifications::OnActivationToken(uint id, const QString& token)
{
    // Sent just before the action it belongs to; one kept per notice.
    tokens_.insert(id, token);
}

void DesktopNotifications::OnClosed(uint id, uint reason)
{
    tokens_.remove(id);
    emit closed(id, reason);
}

void DesktopNotifications::OnReplied(uint id, const QString& text)
{
    emit replied(id, text);
}

}  // namespace vindrel
