#pragma once

#include <QColor>
#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

namespace ql {
class ToDoRecordBuilder;
}

// What writeToCalendar does to the calendar file.
enum QLCalendarWriteAction : int {
    QLWriteActionReplace = 0,
    QLWriteActionAdd = 1,
    QLWriteActionRemove = -1,
};

// One to-do of one calendar: the VTODO text as last read, its properties as stored
// text (summary and description unescaped; a URL is a URI and has no escapes), and the
// facts the menu derives.
// Every field may be absent. Records are created, read and changed on the main thread.
class QL_ToDo {
public:
    using Text = std::optional<QString>;

    // The plain initialiser: every field absent.
    QL_ToDo() = default;
    // The designated initialiser; stores through the setters in this order, so the
    // summary is unescaped on the way in.
    QL_ToDo(Text uid, Text summary, Text dateStamp, Text creationDate, Text creationDateHeader,
            std::optional<double> sequence, Text calendarID, Text calendarName,
            std::optional<QColor> calendarColor, Text rawData);

    [[nodiscard]] std::shared_ptr<QL_ToDo> copyToDo() const;
    [[nodiscard]] QString description() const;

    // Accessors. The setters of summary and description unescape.
    const Text& theRawData() const { return toDo_RawData; }
    void setRawData(Text value) { toDo_RawData = std::move(value); }
    const Text& theVAlarm() const { return toDo_VAlarm; }
    void setVAlarm(Text value) { toDo_VAlarm = std::move(value); }
    const Text& theSummary() const { return toDo_Summary; }
    void setSummary(const Text& value) { toDo_Summary = convertFromEscapedString(value); }
    const Text& theUID() const { return toDo_UID; }
    void setUID(Text value) { toDo_UID = std::move(value); }
    const Text& theDateStamp() const { return toDo_DateStamp; }
    void setDateStamp(Text value) { toDo_DateStamp = std::move(value); }
    const Text& theCreationDate() const { return toDo_CreationDate; }
    void setCreationDate(Text value) { toDo_CreationDate = std::move(value); }
    const Text& theCreationDateHeader() const { return toDo_CreationDateHeader; }
    void setCreationDateHeader(Text value) { toDo_CreationDateHeader = std::move(value); }
    const std::optional<double>& theSequence() const { return toDo_Sequence; }
    void setSequence(std::optional<double> value) { toDo_Sequence = value; }
    const Text& theCalendarID() const { return calendar_ID; }
    void setCalendarID(Text value) { calendar_ID = std::move(value); }
    const Text& theCalendarName() const { return calendar_Name; }
    void setCalendarName(Text value) { calendar_Name = std::move(value); }
    const std::optional<QColor>& theCalendarColor() const { return calendar_Color; }
    void setCalendarColor(std::optional<QColor> value) { calendar_Color = value; }
    const Text& theDescription() const { return toDo_Description; }
    void setDescription(const Text& value) { toDo_Description = convertFromEscapedString(value); }
    const Text& theURL() const { return toDo_URL; }
    void setURL(Text value) { toDo_URL = std::move(value); }
    const Text& theStatus() const { return toDo_Status; }
    void setStatus(Text value) { toDo_Status = std::move(value); }
    const std::optional<int>& thePriority() const { return toDo_Priority; }
    void setPriority(std::optional<int> value) { toDo_Priority = value; }
    const Text& theCompletedDate() const { return toDo_CompletedDate; }
    void setCompletedDate(Text value) { toDo_CompletedDate = std::move(value); }
    const Text& theDueDate() const { return toDo_DueDate; }
    void setDueDate(Text value) { toDo_DueDate = std::move(value); }
    // The name parts the due and completed dates were read with ("DUE;TZID=…"), so that
    // a rewrite keeps their parameters.
    const Text& theDueDateHeader() const { return toDo_DueDateHeader; }
    void setDueDateHeader(Text value) { toDo_DueDateHeader = std::move(value); }
    const Text& theCompletedDateHeader() const { return toDo_CompletedDateHeader; }
    void setCompletedDateHeader(Text value) { toDo_CompletedDateHeader = std::move(value); }
    // The item file of a folder calendar the to-do was read from; absent for a to-do
    // of a calendar's data file, or a new one.
    const Text& theSourceFile() const { return toDo_SourceFile; }
    void setSourceFile(Text value) { toDo_SourceFile = std::move(value); }

    // Date views: 00:00 local time of the day the stored text names: the day it starts
    // with ("%Y%m%d"), in the to-do's own zone; a UTC time ("…T150000Z") is the local
    // day of that instant.
    [[nodiscard]] std::optional<QDateTime> theDueDateAsDate() const;
    [[nodiscard]] std::optional<QDateTime> theCreationDateAsDate() const;
    [[nodiscard]] std::optional<QDateTime> theCompletedDateAsDate() const;

    // Derived facts, measured against platform::Clock.
    [[nodiscard]] bool isExpired() const;
    [[nodiscard]] bool isComplete() const;
    [[nodiscard]] int daysDue() const;      // -999999 when there is no readable due date
    [[nodiscard]] int daysComplete() const; // -1 when not complete

    // Reading and writing the iCalendar text form.
    [[nodiscard]] static Text convertFromEscapedString(const Text& text);
    [[nodiscard]] static Text convertToEscapedString(const Text& text);
    [[nodiscard]] QString vToDoFormatted() const;
    // Applies the action to the calendar data file at path; false when the change
    // did not reach the file (the failure has then been reported to the user).
    bool writeToCalendar(const QString& path, int action) const;

private:
    // The reader fills a record field by field from texts it has already unescaped,
    // so that each field costs at most one allocation.
    friend class ql::ToDoRecordBuilder;
    [[nodiscard]] static QString unescaped(QStringView text);

    Text toDo_RawData;
    Text toDo_Summary;
    Text toDo_UID;
    Text toDo_DateStamp;
    Text toDo_CreationDateHeader;
    Text toDo_CreationDate;
    std::optional<double> toDo_Sequence;
    Text calendar_ID;
    Text calendar_Name;
    std::optional<QColor> calendar_Color;
    Text toDo_Description;
    Text toDo_URL;
    Text toDo_Status;
    std::optional<int> toDo_Priority;
    Text toDo_CompletedDate;
    Text toDo_DueDate;
    Text toDo_DueDateHeader;
    Text toDo_CompletedDateHeader;
    Text toDo_SourceFile;
    Text toDo_VAlarm;
};
