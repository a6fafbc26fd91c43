// The tray item over org.kde.StatusNotifierItem, its menu over dbusmenu.
#include "app/inbox/status_notifier_item.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QImage>
#include <QMenu>
#include <QPoint>
#include <QtEndian>
#include <utility>

#include "app/inbox/dbus_answer.h"
#include "app/inbox/dbus_menu.h"

namespace vindrel {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
// A panel that does not answer within this is taken to have no host.
constexpr int kCallTimeoutMs = 5000;

StatusNotifierPixmaps Pixmaps(const QIcon& icon)
{
    StatusNotifierPixmaps pixmaps;
    for (const QSize size : icon.availableSizes()) {
        const QImage image =
            icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        StatusNotifierPixmap pixmap{image.width(), image.height(), {}};
        pixmap.argb.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<uchar*>(pixmap.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4) qToBigEndian(line[x], out);
        }
        pixmaps.append(pixmap);
    }
    return pixmaps;
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierPixmap& pixmap)
{
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.argb;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap)
{
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.argb;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierToolTip& tip)
{
    argument.beginStructure();
    argument << tip.icon_name << tip.icon << tip.title << tip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierToolTip& tip)
{
    argument.beginStructure();
    argument >> tip.icon_name >> tip.icon >> tip.title >> tip.text;
    argument.endStructure();
    return argument;
}

StatusNotifierItem::StatusNotifierItem(QMenu* menu, const QIcon& icon, QObject* parent)
    : QObject(parent),
      bus_(QDBusConnection::sessionBus()),
      menu_(menu),
      watcher_(new QDBusServiceWatcher(kWatcher, bus_, QDBusServiceWatcher::WatchForOwnerChange,
                                       this)),
      icon_(Pixmaps(icon))
{
    qDBusRegisterMetaType<StatusNotifierPixmap>();
    qDBusRegisterMetaType<StatusNotifierPixmaps>();
    qDBusRegisterMetaType<StatusNotifierToolTip>();
    new DBusMenu(menu, bus_, kMenuPath, this);
    if (!bus_.registerObject(kItemPath, this,
                             QDBusConnection::ExportScriptableContents)) {
        qWarning("vindrel-inbox: the tray item could not be offered: %s",
                 qPrintable(bus_.lastError().message()));
        QMetaObject::invokeMethod(this, [this] { emit shownChanged(false); },
                                  Qt::QueuedConnection);
        return;
    }
    // A panel restarted, or started after the inbox.
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                shown_ = false;
                if (!owner.isEmpty()) LookForHost();
            });
    bus_.connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierHostRegistered"),
                 this, SLOT(LookForHost()));
    LookForHost();
}

void StatusNotifierItem::LookForHost()
{
    if (shown_) return;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    get.setAutoStartService(false);
    OnAnswer(this, bus_.asyncCall(get, kCallTimeoutMs), [this](const QDBusMessage& reply) {
        const bool host = reply.type() == QDBusMessage::ReplyMessage &&
                          !reply.arguments().isEmpty() &&
                          reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
        if (host) {
            Register();
        } else {
            SetShown(false);
        }
    });
}

void StatusNotifierItem::Register()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcher, kWatcherPath, kWatcher, QStringLiteral("RegisterStatusNotifierItem"));
    // The unique name: the watcher then finds the item at /StatusNotifierItem.
    call << bus_.baseService();
    OnAnswer(this, bus_.asyncCall(call, kCallTimeoutMs), [this](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage)
            qWarning("vindrel-inbox: the panel's StatusNotifierWatcher did not take the tray "
                     "item: %s",
                     qPrintable(reply.errorMessage()));
        SetShown(reply.type() == QDBusMessage::ReplyMessage);
    });
}

void StatusNotifierItem::SetShown(bool shown)
{
    shown_ = shown;
    emit shownChanged(shown);
}

QString StatusNotifierItem::status() const
{
    return needs_attention_ ? QStringLiteral("NeedsAttention") : QStringLiteral("Active");
}

StatusNotifierToolTip StatusNotifierItem::toolTip() const
{
    return {QString(), {}, title(), tip_};
}

QDBusObjectPath StatusNotifierItem::menu() const
{
    return QDBusObjectPath(kMenuPath);
}

void StatusNotifierItem::SetToolTip(const QString& text)
{
    if (text == tip_) return;
    tip_ = text;
    emit NewToolTip();
}

void StatusNotifierItem::SetNeedsAttention(bool needs, const QIcon& icon)
{
    if (!needs && !needs_attention_) return;
    // The count on it may have changed even while still asking.
    attention_icon_ = needs ? Pixmaps(icon) : StatusNotifierPixmaps();
    emit NewAttentionIcon();
    if (needs == needs_attention_) return;
    needs_attention_ = needs;
    emit NewStatus(status());
}

void StatusNotifierItem::Activate(int, int)
{
    emit activated(std::exchange(token_, QString()));
}

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::ContextMenu(int x, int y)
{
    // For hosts that do not draw the exported menu themselves.
    menu_->popup(QPoint(x, y));
}

void StatusNotifierItem::Scroll(int, const QString&) {}

void StatusNotifierItem::ProvideXdgActivationToken(const QString& token)
{
    token_ = token;
}

}  // namespace vindrel
