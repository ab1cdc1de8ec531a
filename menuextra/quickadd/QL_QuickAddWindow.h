#pragma once

#include "menuextra/quickadd/QL_QuickAdd.h"
#include "menuextra/store/QL_Calendar.h"

#include <QDialog>

class QLabel;
class QLineEdit;

// The one-line entry window of quick add: shows what the line means while it is typed;
// Enter adds the to-do to its calendar and closes, Escape closes. A line that cannot be
// added (no title, an unknown or ambiguous #calendar, no calendar at all) keeps the
// window open with a hint. At most one is open; it frees itself when it closes.
class QL_QuickAddWindow : public QDialog {
    Q_OBJECT

public:
    // Opens the window over the store's calendars, or raises the one already open.
    static QL_QuickAddWindow* present();
    // The window open now; null when none is.
    static QL_QuickAddWindow* current();

    QLineEdit* lineField() const { return m_line; }
    QLabel* understoodLabel() const { return m_understood; }
    QLabel* hintLabel() const { return m_hint; }

    // Reads the line and shows what it means.
    void updateUnderstood();
    // Enter: adds the to-do and closes, or shows why it cannot.
    void addToDo();

private:
    explicit QL_QuickAddWindow(QL_CalendarMap calendars);
    QL_QuickAddResult understood() const;
    // The hint for a line that cannot be added; empty when it can.
    QString hintFor(const QL_QuickAddResult& result) const;
    std::shared_ptr<QL_Calendar> calendarFor(const QL_QuickAddResult& result) const;

    // The calendars that can take a to-do, by title.
    QL_CalendarMap m_calendars;
    QLineEdit* m_line = nullptr;
    QLabel* m_understood = nullptr;
    QLabel* m_hint = nullptr;
    bool m_hintWanted = false;
};
