// The tray menu over com.canonical.dbusmenu (version 3).
#include "app/inbox/dbus_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QEvent>
#include <QMenu>
#include <QTimer>

namespace vindrel {

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayout& layout)
{
    argument.beginStructure();
    argument << layout.id << layout.properties;
    argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const DBusMenuLayout& child : layout.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayout& layout)
{
    argument.beginStructure();
    argument >> layout.id >> layout.properties;
    layout.children.clear();
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        layout.children.append(qdbus_cast<DBusMenuLayout>(child.variant()));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

namespace {

// dbusmenu marks the mnemonic with '_' where Qt uses '&'.
QString Label(const QString& text)
{
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('_')) {
            label += QStringLiteral("__");
        } else if (c == QLatin1Char('&') && i + 1 < text.size()) {
            label += text.at(i + 1) == QLatin1Char('&') ? QStringLiteral("&") : QStringLiteral("_");
            if (text.at(i + 1) == QLatin1Char('&')) ++i;
        } else {
            label += c;
        }
    }
    return label;
}

}  // namespace

DBusMenu::DBusMenu(QMenu* menu, const QDBusConnection& bus, const QString& path, QObject* parent)
    : QObject(parent), menu_(menu)
{
    qDBusRegisterMetaType<DBusMenuLayout>();
    qDBusRegisterMetaType<DBusMenuItem>();
    qDBusRegisterMetaType<QList<DBusMenuItem>>();
    Watch(menu);
    QDBusConnection connection = bus;
    if (!connection.registerObject(path, this, QDBusConnection::ExportScriptableContents))
        qWarning("vindrel-inbox: the tray menu could not be offered at %s: %s", qPrintable(path),
                 qPrintable(connection.lastError().message()));
}

void DBusMenu::Watch(QMenu* menu)
{
    // Entries added or taken away, and each entry's words or tick.
    menu->installEventFilter(this);
    for (QAction* action : menu->actions()) {
        IdOf(action);
        connect(action, &QAction::changed, this, &DBusMenu::Changed, Qt::UniqueConnection);
        if (action->menu()) Watch(action->menu());
    }
}

bool DBusMenu::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved) {
        if (event->type() == QEvent::ActionAdded) Watch(static_cast<QMenu*>(watched));
        Changed();
    }
    return false;
}

void DBusMenu::Changed()
{
    // One signal for a burst of changes, such as every tick set at once.
    if (update_queued_) return;
    update_queued_ = true;
    QTimer::singleShot(0, this, [this] {
        update_queued_ = false;
        ++revision_;
        emit LayoutUpdated(revision_, 0);
    });
}

int DBusMenu::IdOf(QAction* action)
{
    if (const auto known = ids_.constFind(action); known != ids_.cend()) return *known;
    const int id = next_id_++;
    ids_.insert(action, id);
    actions_.insert(id, action);
    connect(action, &QObject::destroyed, this, [this, action, id] {
        ids_.remove(action);
        actions_.remove(id);
    });
    return id;
}

QMenu* DBusMenu::MenuOf(int id) const
{
    if (id == 0) return menu_;
    const QAction* action = actions_.value(id);
    return action ? action->menu() : nullptr;
}

QVariantMap DBusMenu::Properties(int id, const QStringList& names) const
{
    QVariantMap properties;
    if (id == 0) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (const QAction* action = actions_.value(id)) {
        // Only what differs from the defaults (enabled, visible, a plain entry).
        if (action->isSeparator()) {
            properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            properties.insert(QStringLiteral("label"), Label(action->text()));
        }
        if (!action->isEnabled()) properties.insert(QStringLiteral("enabled"), false);
        if (!action->isVisible()) properties.insert(QStringLiteral("visible"), false);
        if (action->isCheckable()) {
            const bool radio = action->actionGroup() && action->actionGroup()->isExclusive();
            properties.insert(QStringLiteral("toggle-type"),
                              radio ? QStringLiteral("radio") : QStringLiteral("checkmark"));
            properties.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
        }
        if (action->menu())
            properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    }
    // An empty name asks for nothing in particular (dbus-send cannot send an empty list).
    QStringList wanted = names;
    wanted.removeAll(QString());
    if (wanted.isEmpty()) return properties;
    QVariantMap chosen;
    for (const QString& name : wanted)
        if (properties.contains(name)) chosen.insert(name, properties.value(name));
    return chosen;
}

DBusMenuLayout DBusMenu::Layout(int id, int depth, const QStringList& names)
{
    DBusMenuLayout layout{id, Properties(id, names), {}};
    const QMenu* menu = MenuOf(id);
    if (!menu || depth == 0) return layout;
    for (QAction* action : menu->actions())
        layout.children.append(Layout(IdOf(action), depth < 0 ? depth : depth - 1, names));
    return layout;
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                         DBusMenuLayout& layout)
{
    if (!Known(parentId)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no menu entry %1").arg(parentId));
        return 0;
    }
    layout = Layout(parentId, recursionDepth, propertyNames);
    return revision_;
}

QList<DBusMenuItem> DBusMenu::GetGroupProperties(const QList<int>& ids,
                                                 const QStringList& propertyNames)
{
    QList<DBusMenuItem> items;
    for (int id : ids)
        if (Known(id)) items.append({id, Properties(id, propertyNames)});
    return items;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name)
{
    const QVariantMap properties = Properties(id, {name});
    if (!properties.contains(name)) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("no property %1 on menu entry %2").arg(name).arg(id));
        return QDBusVariant(QVariant(0));
    }
    return QDBusVariant(properties.value(name));
}

void DBusMenu::Event(int id, const QString& eventId, const QDBusVariant& /*data*/,
                     uint /*timestamp*/)
{
    if (eventId != QLatin1String("clicked")) return;
    QPointer<QAction> action = actions_.value(id);
    if (!action || !action->isEnabled() || action->menu()) return;
    // After the answer has gone: the entry may be Quit.
    QTimer::singleShot(0, this, [action] {
        if (action) action->trigger();
    });
}

bool DBusMenu::AboutToShow(int id)
{
    QMenu* menu = MenuOf(id);
    if (!menu) return false;
    // The menu's own handlers set its ticks, as they do before Qt shows it.
    emit menu->aboutToShow();
    return update_queued_;
}

}  // namespace vindrel
