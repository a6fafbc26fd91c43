// The inbox's own tray item (org.kde.StatusNotifierItem) for desktops whose
// panel hosts such items (KDE Plasma, GNOME with the AppIndicator
// extension): Qt 6.4's item cannot name the program "Vindrel", call it a
// communications program, nor ask for attention while messages are unread.
// Offered only where a StatusNotifierWatcher with a host is on the session
// bus, and offered again whenever the watcher comes back.
#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>

class QDBusServiceWatcher;
class QMenu;

namespace vindrel {

// One size of an icon as ARGB32 in network byte order: (iiay).
struct StatusNotifierPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using StatusNotifierPixmaps = QList<StatusNotifierPixmap>;

// (sa(iiay)ss): icon name, icon, title, text.
struct StatusNotifierToolTip {
    QString icon_name;
    StatusNotifierPixmaps icon;
    QString title;
    QString text;
};

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierToolTip& tip);

class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(vindrel::StatusNotifierPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ overlayIconName)
    Q_PROPERTY(vindrel::StatusNotifierPixmaps OverlayIconPixmap READ overlayIconPixmap)
    Q_PROPERTY(QString AttentionIconName READ attentionIconName)
    Q_PROPERTY(vindrel::StatusNotifierPixmaps AttentionIconPixmap READ attentionIconPixmap)
    Q_PROPERTY(vindrel::StatusNotifierToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    // `menu` is shown by the host; it must outlive this item. `icon` is
    // the picture for hosts without the theme's "vindrel-inbox".
    StatusNotifierItem(QMenu* menu, const QIcon& icon, QObject* parent = nullptr);

    // True while a watcher has the item.
    bool Shown() const { return shown_; }
    // The tooltip's words under the title "Vindrel".
    void SetToolTip(const QString& text);
    // Asks for attention, with `icon` (the unread count drawn on it) for
    // hosts that show one; or stops asking.
    void SetNeedsAttention(bool needs, const QIcon& icon);

    QString category() const { return QStringLiteral("Communications"); }
    QString id() const { return QStringLiteral("vindrel-inbox"); }
    QString title() const { return QStringLiteral("Vindrel"); }
    QString status() const;
    int windowId() const { return 0; }
    QString iconName() const { return QStringLiteral("vindrel-inbox"); }
    StatusNotifierPixmaps iconPixmap() const { return icon_; }
    QString overlayIconName() const { return {}; }
    StatusNotifierPixmaps overlayIconPixmap() const { return {}; }
    QString attentionIconName() const { return {}; }
    StatusNotifierPixmaps attentionIconPixmap() const { return attention_icon_; }
    StatusNotifierToolTip toolTip() const;
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const;

    // Callers on the bus.
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);
    // The token of the click that will call Activate (Wayland).
    Q_SCRIPTABLE void ProvideXdgActivationToken(const QString& token);

signals:
    Q_SCRIPTABLE void NewStatus(const QString& status);
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewAttentionIcon();
    Q_SCRIPTABLE void NewTitle();
    Q_SCRIPTABLE void NewIcon();

    // The user clicked the item; `token` raises a window on Wayland.
    void activated(const QString& token);
    // A watcher took the item, or none is there to take it.
    void shownChanged(bool shown);

private slots:
    void LookForHost();

private:
    void Register();
    void SetShown(bool shown);

    QDBusConnection bus_;
    QMenu* menu_;
    QDBusServiceWatcher* watcher_;
    StatusNotifierPixmaps icon_;
    StatusNotifierPixmaps attention_icon_;
    QString tip_;
    QString token_;
    bool needs_attention_ = false;
    bool shown_ = false;
};

}  // namespace vindrel

Q_DECLARE_METATYPE(vindrel::StatusNotifierPixmap)
Q_DECLARE_METATYPE(vindrel::StatusNotifierToolTip)
