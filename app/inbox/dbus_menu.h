// A QMenu offered over D-Bus (com.canonical.dbusmenu), for a tray host that
// draws the menu of a StatusNotifierItem itself: the entries' words, ticks
// and submenus as they are, and a click on one triggers its QAction here.
#pragma once

#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusVariant>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

class QAction;
class QMenu;

namespace vindrel {

// An entry and, to the depth asked for, its children: (ia{sv}av).
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayout> children;
};

// An entry's properties alone: (ia{sv}).
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item);

class DBusMenu : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    // Offers `menu` at `path` on `bus`; a failure is logged once.
    DBusMenu(QMenu* menu, const QDBusConnection& bus, const QString& path,
             QObject* parent = nullptr);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

    // Callers on the bus. The root is entry 0, the menu itself.
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                vindrel::DBusMenuLayout& layout);
    Q_SCRIPTABLE QList<vindrel::DBusMenuItem> GetGroupProperties(const QList<int>& ids,
                                                                 const QStringList& propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
    Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data,
                            uint timestamp);
    // The menu brings its ticks up to date; true when the layout changed.
    Q_SCRIPTABLE bool AboutToShow(int id);

signals:
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int IdOf(QAction* action);
    // The entry's menu, or null where it has none.
    QMenu* MenuOf(int id) const;
    bool Known(int id) const { return id == 0 || actions_.contains(id); }
    DBusMenuLayout Layout(int id, int depth, const QStringList& names);
    QVariantMap Properties(int id, const QStringList& names) const;
    void Watch(QMenu* menu);
    void Changed();

    QPointer<QMenu> menu_;
    QHash<int, QPointer<QAction>> actions_;
    QHash<QAction*, int> ids_;
    int next_id_ = 1;
    uint revision_ = 1;
    bool update_queued_ = false;
};

}  // namespace vindrel

Q_DECLARE_METATYPE(vindrel::DBusMenuLayout)
Q_DECLARE_METATYPE(vindrel::DBusMenuItem)
