#pragma once

#include "menuextra/store/QL_ToDo.h"
#include "menuextra/store/QL_ToDoReader.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Small helpers shared by the writer's suites.
namespace writertest {

using ToDos = std::vector<std::shared_ptr<QL_ToDo>>;

inline QString crlfLines(const QStringList& lines) {
    return lines.join(QStringLiteral("\r\n"));
}

inline QByteArray fileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline bool putFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// The escaped form of a text without folding: what a setter must be given so that
// the record holds exactly that text.
inline QString escapedForSetter(QString text) {
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char(';'), QLatin1String("\\;"));
    text.replace(QLatin1Char(','), QLatin1String("\\,"));
    return text;
}

// The to-dos of a calendar text, as a menu refresh would read them.
inline ToDos readToDos(const QString& text) {
    ToDos out;
    ql::appendToDos(ql::normalizeLineEndings(text),
                    {QStringLiteral("cal"), QStringLiteral("Cal"), std::nullopt}, out);
    return out;
}

inline ToDos readToDosOfFile(const QString& path) {
    return readToDos(QString::fromUtf8(fileBytes(path)));
}

// Every field the reader fills, for comparing records as a whole.
inline QStringList fieldsOf(const QL_ToDo& t) {
    auto text = [](const QL_ToDo::Text& v) {
        return v ? QStringLiteral("'%1'").arg(*v) : QStringLiteral("<absent>");
    };
    return {QStringLiteral("summary ") + text(t.theSummary()),
            QStringLiteral("uid ") + text(t.theUID()),
            QStringLiteral("stamp ") + text(t.theDateStamp()),
            QStringLiteral("start ") + text(t.theCreationDateHeader()) + text(t.theCreationDate()),
            QStringLiteral("sequence ") +
                (t.theSequence() ? QString::number(*t.theSequence()) : QStringLiteral("<absent>")),
            QStringLiteral("description ") + text(t.theDescription()),
            QStringLiteral("url ") + text(t.theURL()),
            QStringLiteral("status ") + text(t.theStatus()),
            QStringLiteral("priority ") +
                (t.thePriority() ? QString::number(*t.thePriority()) : QStringLiteral("<absent>")),
            QStringLiteral("completed ") + text(t.theCompletedDate()),
            QStringLiteral("due ") + text(t.theDueDate()),
            QStringLiteral("alarm ") + text(t.theVAlarm())};
}

} // namespace writertest
