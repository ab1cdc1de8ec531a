#pragma once

#include "common/TestEnv.h"
#include "store/StoreTestSupport.h"

#include "menuextra/store/QL_Calendar.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "platform/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>
#include <optional>

// Calendar stores made for the editor's and the menu actions' suites, under the
// isolated $XDG_DATA_HOME, and the to-dos read back from them as a menu refresh reads.
namespace editortest {

inline const QString plainType = QStringLiteral("com.apple.ical.sources.naivereadwrite");
inline const QString subscribedType = QStringLiteral("com.apple.ical.sources.urlsubscribesource");

struct Calendar {
    Calendar(QString key, std::optional<QString> name, QStringList components = {},
             QString calendarType = plainType, QString groupName = {}, bool isHidden = false)
        : sourceKey(std::move(key)), title(std::move(name)), toDos(std::move(components)),
          type(std::move(calendarType)), group(std::move(groupName)), hidden(isHidden) {}

    QString sourceKey;
    std::optional<QString> title;
    QStringList toDos; // VTODO components, lines ended by CR LF, no break after END:VTODO
    QString type;
    QString group; // the name of a group node that holds it; empty: top level
    bool hidden;
};

inline QString vtodo(const QStringList& lines) {
    return QStringLiteral("BEGIN:VTODO\r\n") + lines.join(QStringLiteral("\r\n")) +
           QStringLiteral("\r\nEND:VTODO");
}

inline QString calendarText(const QStringList& toDos) {
    QString text =
        QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Quillo Tests//EN\r\n");
    for (const QString& toDo : toDos)
        text += toDo + QStringLiteral("\r\n");
    return text + QStringLiteral("END:VCALENDAR\r\n");
}

inline QString dataPath(const QString& sourceKey) {
    return ql::calendarDataPath(sourceKey);
}

inline QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the store by one with these calendars, in this order in the node list.
inline bool writeStore(const QList<Calendar>& calendars) {
    storetest::removeStore();
    QVariantList list;
    QMap<QString, QVariantList> groups;
    QStringList groupOrder;
    for (const Calendar& c : calendars) {
        QVariantMap node{
            {"Type", "CALSourceNode"}, {"SourceKey", c.sourceKey}, {"ThemeColor", "#3366CCFF"}};
        if (c.hidden)
            node.insert("Selection", 0);
        if (c.group.isEmpty()) {
            list.append(node);
        } else {
            if (!groups.contains(c.group))
                groupOrder.append(c.group);
            groups[c.group].append(node);
        }
        QVariantMap info{{"Key", "K-" + c.sourceKey}, {"Type", c.type}};
        if (c.title)
            info.insert("Title", *c.title);
        const std::optional<QByteArray> plist = platform::PropertyList::toData(info);
        if (!plist || !storetest::writeFile(ql::calendarInfoPath(c.sourceKey), *plist) ||
            !storetest::writeFile(dataPath(c.sourceKey), calendarText(c.toDos).toUtf8()))
            return false;
    }
    for (const QString& name : groupOrder)
        list.append(QVariantMap{
            {"Type", "CALNamedGroupNode"}, {"Name", name}, {"Subnodes", groups.value(name)}});
    const std::optional<QByteArray> nodes =
        platform::PropertyList::toData(QVariantMap{{"List", list}});
    return nodes && storetest::writeFile(ql::nodesPath(), *nodes);
}

// The to-dos of a calendar's file, read as the menu reads them.
inline QL_Calendar::ToDoList readToDos(const QString& sourceKey, const QString& title) {
    QL_Calendar calendar("K-" + sourceKey, sourceKey, title, std::nullopt, plainType,
                         ql::colorFromRGBAHex(u"#3366CCFF"));
    if (!calendar.parseForToDos())
        return {};
    return calendar.arrayOfToDos();
}

inline std::shared_ptr<QL_ToDo> readToDo(const QString& sourceKey, const QString& title,
                                         const QString& uid) {
    for (const auto& toDo : readToDos(sourceKey, title))
        if (toDo->theUID() == uid)
            return toDo;
    return nullptr;
}

// Makes a folder unwritable for this process; false when the file system cannot.
inline bool makeUnwritable(const QString& folder) {
    if (::geteuid() == 0)
        return testenv::setImmutable(folder, true);
    return QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
}

inline void makeWritable(const QString& folder) {
    if (::geteuid() == 0)
        (void)testenv::setImmutable(folder, false);
    else
        (void)QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner);
}

// Lets the texts come from the pane the build lays out.
inline bool linkPane() {
    const QString panes = testenv::dataHome() + QStringLiteral("/PreferencePanes");
    return QDir().mkpath(panes) &&
           (QFile::exists(panes + QStringLiteral("/Quillo.prefPane")) ||
            QFile::link(QStringLiteral(QUILLO_BUILD_DIR) + QStringLiteral("/Quillo.prefPane"),
                        panes + QStringLiteral("/Quillo.prefPane")));
}

} // namespace editortest
