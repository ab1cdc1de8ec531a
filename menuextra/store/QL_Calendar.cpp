#include "menuextra/store/QL_Calendar.h"

#include "menuextra/store/QL_CalendarStore.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/Log.h"
#include "platform/TextFile.h"

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

bool QL_Calendar::parseForToDos() {
    m_theArrayOfToDos.clear();
    if (m_type && *m_type == ql::subscribedCalendarType && ql::hidesSubscribedCalendars())
        return true;

    // A source key that would lead outside the store is never read.
    std::optional<QString> contents;
    if (m_sourceKey && ql::isSafeSourceKey(*m_sourceKey))
        contents = platform::readUtf8File(ql::calendarDataPath(*m_sourceKey));
    if (!contents) {
        platform::NSLog(
            QStringLiteral("Quillo Error :: parseForToDos :: theCalendarContents is nil"));
        return false;
    }
    const QString text = ql::normalizeLineEndings(std::move(*contents));
    ql::appendToDos(text, {m_sourceKey, m_title, m_color}, m_theArrayOfToDos);
    return true;
}
