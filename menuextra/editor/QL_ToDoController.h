#pragma once

#include "menuextra/store/QL_Calendar.h"
#include "menuextra/store/QL_ToDo.h"

#include <QObject>
#include <QString>
#include <QVariantList>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QWidget;

// The window that edits one to-do, or fills in a new one, and writes it into the
// calendar file on OK. Every opening makes a controller with a window of its own; the
// window owns its controller, and both are freed when the window closes. Main thread.
class QL_ToDoController : public QObject {
    Q_OBJECT

public:
    // Opens a window for an existing record. The record is changed (in place) only by
    // a save that reached the file. The controller lives as long as its window.
    static QL_ToDoController* initWithToDo(std::shared_ptr<QL_ToDo> toDo);
    // Opens a window for a new to-do in the first calendar that is not a subscription.
    static QL_ToDoController* initWithNewToDo();

    ~QL_ToDoController() override;

    // The calendars of a node list by title, walked on its own (hidden calendars
    // included). A calendar without a title ends the walk with a log line; the table
    // built so far is the result.
    static QL_CalendarMap getCalendars(const QVariantList& nodes);

    // Texts of a new to-do, from the current instant: the start date (today, local,
    // "T000000"), the start line's name with the local time zone's full name, and the
    // date stamp (UTC, ending in Z).
    static QString newCreationDate();
    static QString newCreationDateHeader();
    static QString newDateStamp();
    // The completed date of a to-do completed now: today's local date followed by
    // "T000000Z" (the menu's toggle writes the same).
    static QString completionStamp();

    // Fills the window from the record and shows it; called once the window is loaded.
    void awakeFromNib();

    // The window's actions.
    void dueDateCheckBoxPressed();
    void openURLButtonPressed();
    void cancelButtonPressed();
    void OKButtonPressed();

    const QL_CalendarMap& theCalendars() const { return m_theCalendars; }
    const std::shared_ptr<QL_ToDo>& theToDo() const { return m_theToDo; }

    // The window's controls.
    QComboBox* calendarPopup() const { return m_calendarPopup; }
    QComboBox* statusPopup() const { return m_statusPopup; }
    QCheckBox* dueDateCheckbox() const { return m_dueDateCheckbox; }
    QDateEdit* dueDateDateField() const { return m_dueDateDateField; }
    QPlainTextEdit* notesField() const { return m_notesField; }
    QComboBox* priorityPopup() const { return m_priorityPopup; }
    QLineEdit* summaryField() const { return m_summaryField; }
    QLineEdit* urlField() const { return m_urlField; }
    QLabel* statusField() const { return m_statusField; }
    QLabel* valarmFlag() const { return m_valarmFlag; }
    QDialog* theWindow() const { return m_theWindow; }
    QPushButton* okButton() const { return m_okButton; }

private:
    QL_ToDoController(QL_CalendarMap calendars, std::shared_ptr<QL_ToDo> toDo);
    static QL_CalendarMap calendarsOfStore();
    void loadWindow(const QString& titleKey);
    std::shared_ptr<QL_Calendar> selectedCalendar() const;
    void updateOKButton();
    // The edited copy written to the calendar file; true when it got there.
    bool save(const QL_ToDo& edited);

    QComboBox* m_calendarPopup = nullptr;
    QComboBox* m_statusPopup = nullptr;
    QCheckBox* m_dueDateCheckbox = nullptr;
    QDateEdit* m_dueDateDateField = nullptr;
    QPlainTextEdit* m_notesField = nullptr;
    QComboBox* m_priorityPopup = nullptr;
    QLineEdit* m_summaryField = nullptr;
    QLineEdit* m_urlField = nullptr;
    QLabel* m_statusField = nullptr;
    QLabel* m_valarmFlag = nullptr;
    QDialog* m_theWindow = nullptr;
    QPushButton* m_okButton = nullptr;
    QL_CalendarMap m_theCalendars;
    std::shared_ptr<QL_ToDo> m_theToDo;

    // What the controls showed when the window opened: a control left as it was leaves
    // its field of an existing to-do as it was read.
    struct Shown {
        QString summary;
        int priority = -1;
        int status = -1;
        bool due = false;
        QDate dueDate;
        QString url;
        QString notes;
    } m_shown;
};

// A new UUID: 36 characters, upper-case hexadecimal digits, hyphens after the 8th,
// 12th, 16th and 20th digit.
QString GetUUID();
