#pragma once

#include "menuextra/store/QL_CalendarStore.h"
#include "menuextra/store/QL_ToDo.h"

#include <QColor>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

// One calendar of the store and the to-dos last read from its data file.
class QL_Calendar {
public:
    using Text = std::optional<QString>;
    using ToDoList = std::vector<std::shared_ptr<QL_ToDo>>;

    QL_Calendar(Text key, Text sourceKey, Text title, Text notes, Text type,
                std::optional<QColor> color);

    const Text& key() const { return m_key; }
    void setKey(Text value) { m_key = std::move(value); }
    const Text& sourceKey() const { return m_sourceKey; }
    void setSourceKey(Text value) { m_sourceKey = std::move(value); }
    const Text& title() const { return m_title; }
    void setTitle(Text value) { m_title = std::move(value); }
    const Text& notes() const { return m_notes; }
    void setNotes(Text value) { m_notes = std::move(value); }
    const Text& type() const { return m_type; }
    void setType(Text value) { m_type = std::move(value); }
    const std::optional<QColor>& color() const { return m_color; }
    void setColor(std::optional<QColor> value) { m_color = value; }

    // A folder calendar reads every item file of its folder, not a data file.
    [[nodiscard]] bool isFolder() const;
    // The extension of a folder calendar's item files (".ics" unless its description
    // names another).
    const QString& itemExtension() const { return m_itemExtension; }
    void setItemExtension(QString value) { m_itemExtension = std::move(value); }

    // The live list, in file order; the menu enumerates it.
    ToDoList& arrayOfToDos() { return m_theArrayOfToDos; }
    const ToDoList& arrayOfToDos() const { return m_theArrayOfToDos; }

    [[nodiscard]] QString description() const;

    // Reads the calendar's data file (or every item file of its folder) into
    // arrayOfToDos(), replacing what was there. False (with a log line) when the file
    // or the folder cannot be read; the list is then empty. An item file that cannot be
    // read is left out with a log line of its own.
    [[nodiscard]] bool parseForToDos();

    static QString applicationSupportFolder();

private:
    Text m_key;
    Text m_sourceKey;
    Text m_title;
    Text m_notes;
    Text m_type;
    std::optional<QColor> m_color;
    QString m_itemExtension = ql::defaultItemExtension.toString();
    ToDoList m_theArrayOfToDos;

    bool parseFolder();
};

// The calendars by title. The map's order (titles compared by UTF-16 code units) is
// the order in which callers enumerate calendars.
using QL_CalendarMap = std::map<QString, std::shared_ptr<QL_Calendar>>;
