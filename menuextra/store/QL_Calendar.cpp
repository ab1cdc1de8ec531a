#include "menuextra/store/QL_Calendar.h"

#include "menuextra/store/QL_CalendarStore.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/Log.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFileInfo>

#include <new>

namespace {

// Calendars are read one at a time on the main thread. Their bytes and text go into
// buffers kept from one to the next: a fresh pair of buffers for every calendar
// would have the kernel supply and zero new pages for each, and that cost more than
// scanning the text.
struct ReadBuffers {
    QByteArray bytes;
    QString text;
};

ReadBuffers& readBuffers() {
    static ReadBuffers buffers;
    return buffers;
}

} // namespace

QL_Calendar::QL_Calendar(Text key, Text sourceKey, Text title, Text notes, Text type,
                         std::optional<QColor> color) {
    setKey(std::move(key));
    setSourceKey(std::move(sourceKey));
    setTitle(std::move(title));
    setNotes(std::move(notes));
    setType(std::move(type));
    setColor(color);
}

QString QL_Calendar::description() const {
    const QString null = QStringLiteral("(null)");
    return QStringLiteral("Name: %1\rDescription: %2\rColor: %3\rType:%4")
        .arg(m_title.value_or(null), m_notes.value_or(null),
             m_color ? m_color->name(QColor::HexArgb) : null, m_type.value_or(null));
}

QString QL_Calendar::applicationSupportFolder() {
    return ql::applicationSupportFolder();
}

bool QL_Calendar::isFolder() const {
    return m_type && *m_type == ql::folderCalendarType;
}

namespace {

void logUnreadable() {
    platform::NSLog(QStringLiteral("Quillo Error :: parseForToDos :: theCalendarContents is nil"));
}

// The item files of a folder, in name order: regular files with the extension, not
// hidden (sync tools write their temporary files hidden or under another extension),
// and no link that leads out of the folder.
QStringList itemFiles(const QString& folder, const QString& extension) {
    QDir dir(folder);
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || !dir.exists())
        return {};
    QStringList files;
    const QFileInfoList entries = dir.entryInfoList({QLatin1Char('*') + extension},
                                                    QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName().startsWith(QLatin1Char('.')))
            continue;
        if (entry.isSymLink() && QFileInfo(entry.canonicalFilePath()).absolutePath() != canonical) {
            platform::NSLog(QStringLiteral("Quillo :: parseForToDos :: item %1 leads out of its "
                                           "folder, skipped")
                                .arg(entry.fileName()));
            continue;
        }
        files.append(folder + QLatin1Char('/') + entry.fileName());
    }
    return files;
}

} // namespace

bool QL_Calendar::parseFolder() {
    const QString folder = ql::calendarItemsPath(*m_sourceKey);
    if (!QFileInfo(folder).isDir()) {
        logUnreadable();
        return false;
    }
    ReadBuffers& buffers = readBuffers();
    const ql::CalendarOfToDos calendar{m_sourceKey, m_title, m_color};
    try {
        for (const QString& file : itemFiles(folder, m_itemExtension)) {
            if (!platform::readUtf8File(file, buffers.bytes, buffers.text)) {
                platform::NSLog(
                    QStringLiteral("Quillo :: parseForToDos :: item %1 could not be read, skipped")
                        .arg(QFileInfo(file).fileName()));
                continue;
            }
            const size_t first = m_theArrayOfToDos.size();
            ql::appendToDos(ql::normalizeLineEndings(buffers.text), calendar, m_theArrayOfToDos);
            for (size_t i = first; i < m_theArrayOfToDos.size(); ++i)
                m_theArrayOfToDos[i]->setSourceFile(file);
        }
    } catch (const std::bad_alloc&) {
        m_theArrayOfToDos.clear();
        buffers = ReadBuffers();
        logUnreadable();
        return false;
    }
    return true;
}

bool QL_Calendar::parseForToDos() {
    m_theArrayOfToDos.clear();
    if (m_type && *m_type == ql::subscribedCalendarType && ql::hidesSubscribedCalendars())
        return true;
    if (isFolder()) {
        if (!m_sourceKey || !ql::isSafeSourceKey(*m_sourceKey)) {
            logUnreadable();
            return false;
        }
        return parseFolder();
    }

    // A source key that would lead outside the store is never read.
    ReadBuffers& buffers = readBuffers();
    if (!m_sourceKey || !ql::isSafeSourceKey(*m_sourceKey) ||
        !platform::readUtf8File(ql::calendarDataPath(*m_sourceKey), buffers.bytes, buffers.text)) {
        platform::NSLog(
            QStringLiteral("Quillo Error :: parseForToDos :: theCalendarContents is nil"));
        return false;
    }
    try {
        // A copy that shares the buffer: normalising returns it untouched when every line
        // already ends with CR LF, and a new text otherwise.
        const QString text = ql::normalizeLineEndings(buffers.text);
        ql::appendToDos(text, {m_sourceKey, m_title, m_color}, m_theArrayOfToDos);
    } catch (const std::bad_alloc&) {
        // Nothing leaves the reader: a calendar too large for memory is unreadable.
        m_theArrayOfToDos.clear();
        buffers = ReadBuffers();
        platform::NSLog(
            QStringLiteral("Quillo Error :: parseForToDos :: theCalendarContents is nil"));
        return false;
    }
    return true;
}
