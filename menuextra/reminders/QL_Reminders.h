#pragma once

// Reminders from the to-dos' alarms: when the first alarm of an open to-do comes due,
// a desktop notification shows its title and due date, with a choice to complete it or
// to be reminded again ten minutes later.
#include "menuextra/store/QL_ToDo.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringView>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class DesktopNotifications;
}

namespace ql {

// The signed length in seconds of an iCalendar duration ("-PT15M", "P1DT2H", "-P1W",
// "PT0S"); nothing for any other text.
std::optional<qint64> durationSeconds(QStringView text);

// The instant the first alarm of the to-do comes due: its TRIGGER as a time (UTC, or
// local in a TZID), or as a duration from DTSTART (RELATED=START) or DUE
// (RELATED=END); a trigger without RELATED counts from DTSTART when the to-do has one,
// from DUE otherwise. A DUE or DTSTART that is a date counts from the start of that
// day in local time. Nothing for a to-do that is completed or cancelled, that has no
// alarm, or whose alarm cannot be read or relates to a date it lacks.
std::optional<QDateTime> alarmInstant(const QL_ToDo& toDo);

} // namespace ql

// The alarms of the store's to-dos while the menu extra lives: armed anew from each
// reading of the store, with one timer for the next; what was shown and what was
// snoozed is remembered in memory only. Lives on the main thread.
class QL_Reminders : public QObject {
    Q_OBJECT
public:
    // The text of a key of the table "Quillo".
    using TextLookup = std::function<QString(const QString&)>;
    // Completes an open to-do in its calendar, as the menu's toggle does.
    using Completion = std::function<void(const QL_ToDo&)>;

    // How much later a snoozed reminder comes back; how old an alarm may be and still
    // be shown (one that came due while nothing ran).
    static constexpr qint64 snoozeSeconds = 10 * 60;
    static constexpr qint64 lateSeconds = 24 * 60 * 60;

    QL_Reminders(TextLookup text, Completion complete);
    ~QL_Reminders() override;

    // The to-dos that may remind (those of shown calendars that are not subscriptions),
    // as just read from the store: the timer is armed for the next alarm to show. An
    // alarm is shown once; one that came due less than a day ago is shown at once.
    void schedule(const std::vector<std::shared_ptr<QL_ToDo>>& toDos);
    // Reminders switched off: nothing is armed. What was shown stays remembered.
    void stop();

    // When the timer comes due next; nothing when it is not armed.
    std::optional<QDateTime> nextReminder() const;

private:
    struct Alarm {
        QString identity; // the to-do's
        QString key;      // the to-do's and the alarm instant's
        qint64 at = 0;    // milliseconds since the epoch
        std::shared_ptr<QL_ToDo> toDo;
    };
    struct Shown {
        QString identity;
        QString key;
    };

    // When an alarm is to be shown (again); nothing when it is not.
    std::optional<qint64> showAt(const Alarm& alarm, qint64 now) const;
    // The earliest of them.
    std::optional<qint64> nextShowAt(qint64 now) const;
    void arm();
    void showDue();
    void show(const Alarm& alarm);
    void actionInvoked(quint32 id, const QString& actionKey);
    platform::DesktopNotifications& notifications();

    TextLookup m_text;
    Completion m_complete;
    std::vector<Alarm> m_alarms;
    QSet<QString> m_shown;
    QHash<QString, qint64> m_snoozedUntil;
    QHash<quint32, Shown> m_open;
    QTimer m_timer;
    std::unique_ptr<platform::DesktopNotifications> m_notifications;
    // A failure is logged once until a notification is shown again.
    bool m_failureLogged = false;
};
