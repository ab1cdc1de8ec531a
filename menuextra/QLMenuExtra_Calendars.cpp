// Calendar discovery: the node list, each calendar's description, the data files.
#include "menuextra/QLMenuExtra.h"

#include "menuextra/store/QL_CalendarStore.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QRegularExpression>
#include <QTimer>

namespace {

std::function<void(const QString&)>& afterDataFileCheckHook() {
    static std::function<void(const QString&)> hook;
    return hook;
}

const QString sourceNodeType = QStringLiteral("CALSourceNode");
const QString groupNodeType = QStringLiteral("CALNamedGroupNode");

// A string value of a property-list dictionary; absent when missing or of another type.
std::optional<QString> stringValue(const QVariantMap& map, const QString& key) {
    const auto it = map.constFind(key);
    if (it == map.constEnd() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

bool isNumber(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

// A node the user has unticked: its "Selection" is a number equal to 0.
bool isHidden(const QVariantMap& node) {
    const auto it = node.constFind(QStringLiteral("Selection"));
    return it != node.constEnd() && isNumber(*it) && it->toDouble() == 0.0;
}

// An item extension such as ".ics": a dot and a few letters or digits, so that it can
// only ever select files by their ending.
bool isPlainExtension(const QString& extension) {
    static const QRegularExpression plain(QStringLiteral("^\\.[A-Za-z0-9]{1,16}$"));
    return plain.match(extension).hasMatch();
}

void logWalk(const QString& message) {
    platform::NSLog(QStringLiteral("Quillo :: loadiCalCalendarsWithList :: ") + message);
}

// A calendar application may save by deleting the data file and creating it anew. A
// load that runs in between finds no file, so the calendar's folder (or, when that is
// gone too, the store's Sources folder) is watched until the file is back, and then
// the store is read again. One watch lives as long as its menu extra; each load
// gives it the folders anew.
class MissingDataWatch {
public:
    explicit MissingDataWatch(QLMenuExtra* menuExtra) : m_menuExtra(menuExtra) {
        QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_watcher,
                         [this] { check(); });
    }

    void clear() {
        m_dataPaths.clear();
        m_lookedFor.clear();
        const QStringList folders = m_watcher.directories();
        if (!folders.isEmpty())
            m_watcher.removePaths(folders);
    }

    void add(const QString& dataPath) {
        m_dataPaths.append(dataPath);
        QString folder = QFileInfo(dataPath).absolutePath();
        if (!QFileInfo(folder).isDir())
            folder = QFileInfo(folder).absolutePath();
        if (QFileInfo(folder).isDir() && !m_watcher.directories().contains(folder))
            m_watcher.addPath(folder);
    }

    // A data file the load looked for and did not find.
    void addMissing(const QString& dataPath) {
        m_lookedFor.append(dataPath);
        add(dataPath);
    }

    // Once the folders are watched: a file created again between the load's look and
    // that watch (a delete and a create with no pause between) made no event the watch
    // could see, so it is looked for once more.
    void recheck() {
        for (const QString& path : std::as_const(m_lookedFor)) {
            if (QFileInfo(path).isFile()) {
                refreshLater();
                return;
            }
        }
    }

private:
    void check() {
        for (const QString& path : std::as_const(m_dataPaths)) {
            if (QFileInfo(path).isFile()) {
                refreshLater();
                return;
            }
        }
        // The folder came back without its file: watch it from now on.
        const QStringList paths = m_dataPaths;
        clear();
        for (const QString& path : paths)
            add(path);
    }

    void refreshLater() {
        // From the event loop: the load gives this watch new folders.
        QTimer::singleShot(0, &m_watcher, [menuExtra = m_menuExtra] { menuExtra->refreshMenu(); });
        m_dataPaths.clear();
        m_lookedFor.clear();
    }

    QLMenuExtra* m_menuExtra;
    QFileSystemWatcher m_watcher;
    QStringList m_dataPaths;
    QStringList m_lookedFor;
};

// Folder calendars change by files appearing, going and being replaced in their
// folders; a sync brings many at once, so the menu is rebuilt once they have settled.
class FolderWatch {
public:
    explicit FolderWatch(QLMenuExtra* menuExtra) {
        m_settle.setSingleShot(true);
        m_settle.setInterval(150);
        QObject::connect(&m_settle, &QTimer::timeout, &m_watcher,
                         [menuExtra] { menuExtra->refreshMenu(); });
        QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_watcher,
                         [this] { m_settle.start(); });
    }

    void clear() {
        const QStringList folders = m_watcher.directories();
        if (!folders.isEmpty())
            m_watcher.removePaths(folders);
    }

    void add(const QString& itemsLink) {
        const QFileInfo link(itemsLink);
        QString folder = link.isSymLink() ? link.symLinkTarget() : link.absoluteFilePath();
        // A folder that is gone comes back inside one that exists.
        while (!folder.isEmpty() && !QFileInfo(folder).isDir() && folder != u"/")
            folder = QFileInfo(folder).absolutePath();
        if (!folder.isEmpty() && !m_watcher.directories().contains(folder))
            m_watcher.addPath(folder);
    }

private:
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
};

} // namespace

void QLMenuExtra::watchFolder(const QString& itemsLink) {
    if (!m_theFolderWatch)
        m_theFolderWatch = std::make_shared<FolderWatch>(this);
    static_cast<FolderWatch*>(m_theFolderWatch.get())->add(itemsLink);
    m_theWatchedPaths.append(itemsLink);
}

bool QLMenuExtra::loadiCalCalendars() {
    m_validCalendars = 0;
    m_theWatchedPaths.clear();
    if (!m_theMissingDataWatch)
        m_theMissingDataWatch = std::make_shared<MissingDataWatch>(this);
    static_cast<MissingDataWatch*>(m_theMissingDataWatch.get())->clear();
    if (m_theFolderWatch)
        static_cast<FolderWatch*>(m_theFolderWatch.get())->clear();
    // Each load starts a new watcher; the walk adds every calendar's data file to it.
    if (m_theQueue)
        replaceQueue();

    const std::optional<QVariantMap> nodes =
        platform::PropertyList::dictionaryFromFile(ql::nodesPath());
    if (!nodes) {
        platform::NSLog(
            QStringLiteral("Quillo :: loadiCalCalendars :: iCal Nodes file is missing"));
        return false;
    }
    m_theCalendars = loadiCalCalendarsWithList(nodes->value(QStringLiteral("List")).toList());
    static_cast<MissingDataWatch*>(m_theMissingDataWatch.get())->recheck();
    if (!m_theCalendars) {
        platform::NSLog(QStringLiteral(
            "Quillo :: loadiCalCalendars :: Unable to parse through iCal Nodes file"));
        return false;
    }
    return true;
}

std::optional<QL_CalendarMap> QLMenuExtra::loadiCalCalendarsWithList(const QVariantList& list) {
    QL_CalendarMap result;
    for (const QVariant& entry : list) {
        if (entry.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap node = entry.toMap();
        const std::optional<QString> type = stringValue(node, QStringLiteral("Type"));
        const bool isFolder = type == ql::folderCalendarType;
        if (type == sourceNodeType || isFolder) {
            const std::optional<QString> sourceKey = stringValue(node, QStringLiteral("SourceKey"));
            // The source key becomes part of paths that are read and written.
            if (!sourceKey || !ql::isSafeSourceKey(*sourceKey)) {
                logWalk(QStringLiteral("unsafe SourceKey, calendar skipped"));
                continue;
            }
            const QColor color = ql::colorFromRGBAHex(
                stringValue(node, QStringLiteral("ThemeColor")).value_or(QString()));

            const std::optional<QVariantMap> info =
                platform::PropertyList::dictionaryFromFile(ql::calendarInfoPath(*sourceKey));
            if (!info) {
                if (m_theMissingDataWatch)
                    static_cast<MissingDataWatch*>(m_theMissingDataWatch.get())
                        ->add(ql::calendarDataPath(*sourceKey));
                logWalk(QStringLiteral("infoDict is nil"));
                return std::nullopt;
            }
            const std::optional<QString> calendarType = stringValue(*info, QStringLiteral("Type"));
            const std::optional<QString> title = stringValue(*info, QStringLiteral("Title"));

            if (isFolder) {
                // A folder calendar whose folder is gone stays, unreadable, until the
                // folder is back; its link is what makes it one.
                const QString items = ql::calendarItemsPath(*sourceKey);
                if (!QFileInfo(items).isSymLink() && !QFileInfo(items).isDir())
                    continue;
                watchFolder(items);
            } else {
                const QString dataPath = ql::calendarDataPath(*sourceKey);
                const bool present = QFileInfo::exists(dataPath);
                if (afterDataFileCheckHook())
                    afterDataFileCheckHook()(dataPath);
                if (!present) {
                    if (m_theMissingDataWatch)
                        static_cast<MissingDataWatch*>(m_theMissingDataWatch.get())
                            ->addMissing(dataPath);
                    continue;
                }
                watchPath(dataPath);
                // Deleted between the look and the watch: the watch found nothing to
                // follow, so the folder is watched for its return.
                if (!QFileInfo::exists(dataPath) && m_theMissingDataWatch)
                    static_cast<MissingDataWatch*>(m_theMissingDataWatch.get())
                        ->addMissing(dataPath);
            }

            // Whatever the description says, the node decides the kind of calendar.
            auto calendar = std::make_shared<QL_Calendar>(
                stringValue(*info, QStringLiteral("Key")), sourceKey, title,
                stringValue(*info, QStringLiteral("Notes")),
                isFolder ? std::optional<QString>(ql::folderCalendarType.toString())
                         : (calendarType == ql::folderCalendarType ? std::nullopt : calendarType),
                color);
            if (isFolder)
                if (const std::optional<QString> extension =
                        stringValue(*info, QStringLiteral("FileExtension"));
                    extension && isPlainExtension(*extension))
                    calendar->setItemExtension(*extension);
            if (calendarType != ql::subscribedCalendarType)
                ++m_validCalendars;
            const bool hidden = isHidden(node);
            if (!title) {
                logWalk(QStringLiteral("aCalendar is nil"));
                return std::nullopt;
            }
            if (hidden)
                continue;
            result.insert_or_assign(*title, std::move(calendar));
        } else if (type == groupNodeType) {
            std::optional<QL_CalendarMap> group =
                loadiCalCalendarsWithList(node.value(QStringLiteral("Subnodes")).toList());
            if (!group)
                continue;
            for (auto& [title, calendar] : *group)
                result.insert_or_assign(title, std::move(calendar));
        }
    }
    return result;
}

void QLMenuExtra::setAfterDataFileCheckHook(std::function<void(const QString&)> hook) {
    afterDataFileCheckHook() = std::move(hook);
}

void QLMenuExtra::watchPath(const QString& path) {
    if (m_theQueue)
        m_theQueue->addPath(path);
    m_theWatchedPaths.append(path);
}
