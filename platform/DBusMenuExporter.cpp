#include "platform/DBusMenuExporter.h"

#include <QActionGroup>
#include <QBuffer>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPixmap>

#include <limits>
#include <mutex>

namespace platform::dbusmenu {

// (ia{sv}av): an entry, its properties, its children (each a variant holding one).
struct LayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<LayoutItem> children;
};
// (ia{sv})
struct Item {
    int id = 0;
    QVariantMap properties;
};
using ItemList = QList<Item>;
// (ias)
struct ItemKeys {
    int id = 0;
    QStringList properties;
};
using ItemKeysList = QList<ItemKeys>;
// (isvu)
struct Event {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using EventList = QList<Event>;

} // namespace platform::dbusmenu

Q_DECLARE_METATYPE(platform::dbusmenu::LayoutItem)
Q_DECLARE_METATYPE(platform::dbusmenu::Item)
Q_DECLARE_METATYPE(platform::dbusmenu::ItemKeys)
Q_DECLARE_METATYPE(platform::dbusmenu::Event)

namespace platform::dbusmenu {

QDBusArgument& operator<<(QDBusArgument& argument, const LayoutItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(qMetaTypeId<QDBusVariant>());
    for (const LayoutItem& child : item.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, LayoutItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children << qdbus_cast<LayoutItem>(child.variant());
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const Item& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Item& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const ItemKeys& keys) {
    argument.beginStructure();
    argument << keys.id << keys.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ItemKeys& keys) {
    argument.beginStructure();
    argument >> keys.id >> keys.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const Event& event) {
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Event& event) {
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

void registerTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<LayoutItem>();
        qDBusRegisterMetaType<Item>();
        qDBusRegisterMetaType<ItemList>();
        qDBusRegisterMetaType<ItemKeys>();
        qDBusRegisterMetaType<ItemKeysList>();
        qDBusRegisterMetaType<Event>();
        qDBusRegisterMetaType<EventList>();
    });
}

} // namespace platform::dbusmenu

using namespace platform::dbusmenu;

namespace platform {

namespace {

// The dbusmenu markup of a Qt title: the first lone "&" becomes "_", "&&" a literal "&",
// and later lone ones go (Qt shows them as nothing). Underscores are doubled already.
QString dbusLabel(const QString& text) {
    QString out;
    out.reserve(text.size());
    bool marked = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('&')) {
            out += c;
            continue;
        }
        if (i + 1 == text.size()) {
            out += c; // a lone "&" at the end marks nothing
        } else if (text.at(i + 1) == QLatin1Char('&')) {
            out += c;
            ++i;
        } else if (!marked) {
            out += QLatin1Char('_');
            marked = true;
        }
    }
    return out;
}

} // namespace

// com.canonical.dbusmenu on the exporter's path.
class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)
public:
    explicit DBusMenuAdaptor(DBusMenuExporter* exporter)
        : QDBusAbstractAdaptor(exporter), m_exporter(*exporter) {
        setAutoRelaySignals(false);
        connect(exporter, &DBusMenuExporter::layoutUpdated, this, &DBusMenuAdaptor::LayoutUpdated);
    }

    uint version() const { return 3; }
    QString textDirection() const {
        return QGuiApplication::isRightToLeft() ? QStringLiteral("rtl") : QStringLiteral("ltr");
    }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   platform::dbusmenu::LayoutItem& layout) {
        layout.id = parentId;
        if (parentId == 0) {
            layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
            fillChildren(layout, &m_exporter.menu(), recursionDepth, propertyNames);
        } else if (QAction* action = m_exporter.actionOf(parentId)) {
            layout.properties = m_exporter.properties(action, propertyNames);
            if (action->menu())
                fillChildren(layout, action->menu(), recursionDepth, propertyNames);
        }
        return m_exporter.revision();
    }

    platform::dbusmenu::ItemList GetGroupProperties(const QList<int>& ids,
                                                    const QStringList& propertyNames) {
        ItemList items;
        for (const int id : ids)
            if (QAction* action = m_exporter.actionOf(id))
                items << Item{id, m_exporter.properties(action, propertyNames)};
        return items;
    }

    QDBusVariant GetProperty(int id, const QString& name) {
        QAction* action = m_exporter.actionOf(id);
        return QDBusVariant(action ? m_exporter.properties(action, {name}).value(name)
                                   : QVariant(QString()));
    }

    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp) {
        (void)data;
        (void)timestamp;
        m_exporter.entryEvent(id, eventId);
    }

    QList<int> EventGroup(const platform::dbusmenu::EventList& events) {
        QList<int> unknown;
        for (const platform::dbusmenu::Event& event : events) {
            if (event.id != 0 && !m_exporter.actionOf(event.id))
                unknown << event.id;
            else
                m_exporter.entryEvent(event.id, event.eventId);
        }
        return unknown;
    }

    bool AboutToShow(int id) {
        // Sub-menus are built with the menu; only the menu itself is built on request.
        return id == 0 && m_exporter.prepareToShow();
    }

    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        QList<int> updates;
        for (const int id : ids) {
            if (id != 0 && !m_exporter.actionOf(id))
                idErrors << id;
            else if (id == 0 && m_exporter.prepareToShow())
                updates << id;
        }
        return updates;
    }

signals:
    void ItemsPropertiesUpdated(const platform::dbusmenu::ItemList& updatedProps,
                                const platform::dbusmenu::ItemKeysList& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    void fillChildren(LayoutItem& into, QMenu* menu, int depth, const QStringList& names) {
        if (depth == 0)
            return;
        const QList<QAction*> actions = menu->actions();
        into.children.reserve(actions.size());
        for (QAction* action : actions) {
            LayoutItem child;
            child.id = m_exporter.idOf(action);
            child.properties = m_exporter.properties(action, names);
            if (action->menu())
                fillChildren(child, action->menu(), depth < 0 ? depth : depth - 1, names);
            into.children << std::move(child);
        }
    }

    DBusMenuExporter& m_exporter;
};

DBusMenuExporter::DBusMenuExporter(QMenu& menu, const QDBusConnection& bus, const QString& path,
                                   QObject* parent)
    : QObject(parent), m_menu(menu), m_path(path), m_connectionName(bus.name()) {
    registerTypes();
    new DBusMenuAdaptor(this);
    QDBusConnection connection(bus);
    m_exported = connection.isConnected() &&
                 connection.registerObject(path, this, QDBusConnection::ExportAdaptors);
}

DBusMenuExporter::~DBusMenuExporter() {
    if (m_exported)
        QDBusConnection(m_connectionName).unregisterObject(m_path);
}

qreal DBusMenuExporter::devicePixelRatio() const {
    return m_ratio > 0 ? m_ratio : qApp->devicePixelRatio();
}

void DBusMenuExporter::menuRebuilt() {
    m_actions.clear();
    m_ids.clear();
    ++m_revision;
    emit layoutUpdated(m_revision, 0);
}

QAction* DBusMenuExporter::actionOf(int id) const {
    return m_actions.value(id).data();
}

int DBusMenuExporter::idOf(QAction* action) {
    const auto it = m_ids.constFind(action);
    if (it != m_ids.constEnd() && m_actions.value(*it) == action)
        return *it;
    // Numbers are never used twice, so that a host's choice from an old layout finds
    // nothing rather than whatever took its place.
    if (m_nextId == std::numeric_limits<int>::max())
        m_nextId = 1;
    const int id = m_nextId++;
    m_ids.insert(action, id);
    m_actions.insert(id, action);
    return id;
}

QVariantMap DBusMenuExporter::properties(QAction* action, const QStringList& names) {
    QVariantMap out;
    const auto wanted = [&names](const char* name) {
        return names.isEmpty() || names.contains(QLatin1String(name));
    };
    if (action->isSeparator()) {
        if (wanted("type"))
            out.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        if (wanted("label"))
            out.insert(QStringLiteral("label"), dbusLabel(action->text()));
        if (wanted("enabled"))
            out.insert(QStringLiteral("enabled"), action->isEnabled());
        if (action->menu() && wanted("children-display"))
            out.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        if (action->isCheckable()) {
            const bool radio = action->actionGroup() && action->actionGroup()->isExclusive();
            if (wanted("toggle-type"))
                out.insert(QStringLiteral("toggle-type"),
                           radio ? QStringLiteral("radio") : QStringLiteral("checkmark"));
            if (wanted("toggle-state"))
                out.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
        }
        const QIcon icon = action->icon();
        if (!icon.isNull()) {
            if (!icon.name().isEmpty() && wanted("icon-name"))
                out.insert(QStringLiteral("icon-name"), icon.name());
            else if (icon.name().isEmpty() && wanted("icon-data"))
                out.insert(QStringLiteral("icon-data"), iconData(icon));
        }
    }
    if (wanted("visible"))
        out.insert(QStringLiteral("visible"), action->isVisible());
    return out;
}

QByteArray DBusMenuExporter::iconData(const QIcon& icon) {
    const qreal ratio = devicePixelRatio();
    const int pixels = qRound(16 * ratio);
    const QPair<qint64, int> key(icon.cacheKey(), pixels);
    const auto it = m_iconData.constFind(key);
    if (it != m_iconData.constEnd())
        return *it;
    if (m_iconData.size() > 1024) // icons come and go with the calendars
        m_iconData.clear();
    QImage image = icon.pixmap(QSize(16, 16), ratio).toImage();
    if (image.width() != pixels)
        image = image.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return *m_iconData.insert(key, buffer.data());
}

bool DBusMenuExporter::prepareToShow() {
    const unsigned before = m_revision;
    m_askedBeforeOpen = true;
    emit aboutToShow();
    return m_revision != before;
}

void DBusMenuExporter::entryEvent(int id, const QString& event) {
    if (id == 0) {
        // A host that does not ask before it opens the menu: built now (a host that asked
        // has just had it built).
        if (event == QLatin1String("opened")) {
            if (!m_askedBeforeOpen)
                prepareToShow();
            m_askedBeforeOpen = false;
        } else if (event == QLatin1String("closed")) {
            m_askedBeforeOpen = false;
        }
        return;
    }
    QAction* action = actionOf(id);
    if (!action || event != QLatin1String("clicked") || action->menu() || !action->isEnabled() ||
        action->isSeparator())
        return;
    // After the answer: what the action does may take a while, or rebuild the menu.
    QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
}

} // namespace platform

#include "DBusMenuExporter.moc"
