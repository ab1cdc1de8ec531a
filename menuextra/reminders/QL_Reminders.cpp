#include "menuextra/reminders/QL_Reminders.h"

#include "menuextra/store/QL_ToDoEdit.h"
#include "menuextra/store/QL_ToDoLines.h"
#include "platform/Clock.h"
#include "platform/DateStyles.h"
#include "platform/DesktopNotifications.h"
#include "platform/LocalZone.h"
#include "platform/Log.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace ql {

namespace {

// Nine digits at most: no product of them with a week's seconds overflows.
constexpr qsizetype maxDigits = 9;

// The unfolded lines of the alarm's own level (not those of a block inside it).
QStringList alarmLines(QStringView alarm) {
    QStringList lines;
    for (QStringView line : alarm.split(u"\r\n")) {
        if (isFoldedContinuation(line)) {
            if (!lines.isEmpty())
                lines.back().append(line.sliced(1));
            continue;
        }
        lines.append(line.toString());
    }
    QStringList own;
    int depth = 0;
    for (const QString& line : std::as_const(lines)) {
        if (startsWithKeyword(QStringView(line), u"BEGIN:")) {
            ++depth;
            continue;
        }
        if (startsWithKeyword(QStringView(line), u"END:")) {
            --depth;
            continue;
        }
        if (depth == 1)
            own.append(line);
    }
    return own;
}

std::optional<QDateTime> dateOf(const QL_ToDo::Text& value, const QL_ToDo::Text& namePart) {
    if (!value)
        return std::nullopt;
    return instantOfDateValue(QStringView(*value).trimmed(),
                              namePart ? QStringView(*namePart) : QStringView());
}

bool isDone(const QL_ToDo& toDo) {
    if (toDo.isComplete())
        return true;
    const QString status = toDo.theStatus().value_or(QString()).trimmed();
    return status.compare(u"COMPLETED", Qt::CaseInsensitive) == 0 ||
           status.compare(u"CANCELLED", Qt::CaseInsensitive) == 0;
}

} // namespace

std::optional<qint64> durationSeconds(QStringView text) {
    text = text.trimmed();
    qsizetype i = 0;
    int sign = 1;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        sign = text[i++] == u'-' ? -1 : 1;
    if (i >= text.size() || text[i].toUpper() != u'P')
        return std::nullopt;
    ++i;
    // Each part is digits and its letter, in the order of the units; the time's
    // parts follow a T.
    struct Unit {
        char16_t letter;
        qint64 seconds;
        bool timePart;
    };
    static constexpr Unit units[] = {{u'W', 604800, false},
                                     {u'D', 86400, false},
                                     {u'H', 3600, true},
                                     {u'M', 60, true},
                                     {u'S', 1, true}};
    qint64 total = 0;
    size_t next = 0;
    bool inTime = false;
    bool anyPart = false;
    bool anyTimePart = false;
    bool weeks = false;
    while (i < text.size()) {
        if (text[i].toUpper() == u'T') {
            if (inTime || weeks)
                return std::nullopt;
            inTime = true;
            next = std::max<size_t>(next, 2);
            ++i;
            continue;
        }
        const qsizetype from = i;
        while (i < text.size() && text[i] >= u'0' && text[i] <= u'9')
            ++i;
        if (i == from || i - from > maxDigits || i >= text.size())
            return std::nullopt;
        const qint64 number = text.sliced(from, i - from).toLongLong();
        const char16_t letter = text[i].toUpper().unicode();
        ++i;
        size_t u = next;
        while (u < std::size(units) && units[u].letter != letter)
            ++u;
        // A unit out of its order, a time unit without T, a date unit after it, or a
        // week beside any other unit.
        if (u == std::size(units) || units[u].timePart != inTime || weeks ||
            (letter == u'W' && anyPart))
            return std::nullopt;
        weeks = letter == u'W';
        total += number * units[u].seconds;
        next = u + 1;
        anyPart = true;
        anyTimePart = anyTimePart || inTime;
    }
    if (!anyPart || (inTime && !anyTimePart))
        return std::nullopt;
    return sign * total;
}

std::optional<QDateTime> alarmInstant(const QL_ToDo& toDo) {
    if (!toDo.theVAlarm() || isDone(toDo))
        return std::nullopt;
    for (const QString& line : alarmLines(*toDo.theVAlarm())) {
        const std::optional<QStringView> namePart = namePartOf(line);
        if (!namePart || propertyNameOf(*namePart).compare(u"TRIGGER", Qt::CaseInsensitive) != 0)
            continue;
        const QStringView value =
            QStringView(line).sliced(namePart->end() - line.constBegin() + 1).trimmed();
        const QString type = parameterValue(*namePart, u"VALUE").trimmed();
        if (type.compare(u"DATE-TIME", Qt::CaseInsensitive) == 0) {
            // A time of day is required: a date alone is not a trigger.
            if (value.size() < 15)
                return std::nullopt;
            return instantOfDateValue(value, *namePart);
        }
        if (!type.isEmpty() && type.compare(u"DURATION", Qt::CaseInsensitive) != 0)
            return std::nullopt;
        const std::optional<qint64> offset = durationSeconds(value);
        if (!offset)
            return std::nullopt;
        const QString related = parameterValue(*namePart, u"RELATED").trimmed();
        const bool toStart = related.compare(u"START", Qt::CaseInsensitive) == 0;
        if (!related.isEmpty() && !toStart && related.compare(u"END", Qt::CaseInsensitive) != 0)
            return std::nullopt;
        std::optional<QDateTime> base;
        if (toStart || (related.isEmpty() && toDo.theCreationDate()))
            base = dateOf(toDo.theCreationDate(), toDo.theCreationDateHeader());
        else
            base = dateOf(toDo.theDueDate(), toDo.theDueDateHeader());
        if (!base)
            return std::nullopt;
        const QDateTime at = base->addSecs(*offset);
        return at.isValid() ? std::optional(at) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace ql

namespace {

const QString completeAction = QStringLiteral("complete");
const QString snoozeAction = QStringLiteral("snooze");

// Who a to-do is across readings of the store: its calendar, its file and its UID (its
// text when it has none).
QString identityOf(const QL_ToDo& toDo) {
    const QChar separator(0x1F);
    return toDo.theCalendarID().value_or(QString()) + separator +
           toDo.theSourceFile().value_or(QString()) + separator +
           (toDo.theUID() ? *toDo.theUID() : toDo.theRawData().value_or(QString()));
}

// The due date as the menu writes it, with its time of day when it has one.
QString dueText(const QL_ToDo& toDo) {
    const std::optional<QDateTime> due =
        toDo.theDueDate()
            ? ql::instantOfDateValue(QStringView(*toDo.theDueDate()).trimmed(),
                                     toDo.theDueDateHeader() ? QStringView(*toDo.theDueDateHeader())
                                                             : QStringView())
            : std::nullopt;
    if (!due)
        return QString();
    const QDateTime local = platform::LocalZone::toLocal(*due);
    QString text = platform::stringFromDate(local, platform::NSDateFormatterLongStyle);
    if (QStringView(*toDo.theDueDate()).trimmed().size() > 8)
        text += QLatin1Char(' ') + QLocale::system().toString(local.time(), QLocale::ShortFormat);
    return text;
}

} // namespace

QL_Reminders::QL_Reminders(TextLookup text, Completion complete)
    : m_text(std::move(text)), m_complete(std::move(complete)) {
    m_timer.setSingleShot(true);
    // A coarse timer may be late by a twentieth of its interval: minutes for a
    // reminder an hour away.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &QL_Reminders::showDue);
}

QL_Reminders::~QL_Reminders() = default;

void QL_Reminders::schedule(const std::vector<std::shared_ptr<QL_ToDo>>& toDos) {
    m_alarms.clear();
    for (const std::shared_ptr<QL_ToDo>& toDo : toDos) {
        if (!toDo)
            continue;
        const std::optional<QDateTime> at = ql::alarmInstant(*toDo);
        if (!at)
            continue;
        Alarm alarm;
        alarm.identity = identityOf(*toDo);
        alarm.at = at->toMSecsSinceEpoch();
        alarm.key = alarm.identity + QChar(0x1F) + QString::number(alarm.at);
        alarm.toDo = toDo;
        m_alarms.push_back(std::move(alarm));
    }
    // A reminder still on screen whose alarm went (its to-do done or removed elsewhere,
    // its date moved, its calendar hidden) is taken back: answering it would act on a
    // to-do that no longer waits for it.
    QSet<QString> keys;
    for (const Alarm& alarm : m_alarms)
        keys.insert(alarm.key);
    for (auto it = m_open.begin(); it != m_open.end();) {
        if (keys.contains(it->key)) {
            ++it;
            continue;
        }
        if (m_notifications)
            m_notifications->close(it.key());
        it = m_open.erase(it);
    }
    arm();
}

void QL_Reminders::stop() {
    m_alarms.clear();
    m_timer.stop();
}

std::optional<QDateTime> QL_Reminders::nextReminder() const {
    if (!m_timer.isActive())
        return std::nullopt;
    const QDateTime now = platform::Clock::now();
    const std::optional<qint64> next = nextShowAt(now.toMSecsSinceEpoch());
    if (!next)
        return std::nullopt;
    return now.addMSecs(*next - now.toMSecsSinceEpoch());
}

std::optional<qint64> QL_Reminders::showAt(const Alarm& alarm, qint64 now) const {
    if (const auto it = m_snoozedUntil.constFind(alarm.key); it != m_snoozedUntil.constEnd())
        return *it;
    if (m_shown.contains(alarm.key) || now - alarm.at >= lateSeconds * 1000)
        return std::nullopt;
    return alarm.at;
}

std::optional<qint64> QL_Reminders::nextShowAt(qint64 now) const {
    std::optional<qint64> next;
    for (const Alarm& alarm : m_alarms)
        if (const std::optional<qint64> at = showAt(alarm, now); at && (!next || *at < *next))
            next = at;
    return next;
}

void QL_Reminders::arm() {
    const qint64 now = platform::Clock::now().toMSecsSinceEpoch();
    const std::optional<qint64> next = nextShowAt(now);
    if (!next) {
        m_timer.stop();
        return;
    }
    // A timer holds an int of milliseconds; one far ahead is armed again when it ends.
    constexpr qint64 longest = qint64(std::numeric_limits<int>::max() / 2);
    // Shown from the event loop even when due now: a rebuild of the menu is not the
    // place for a bus call and its answer.
    m_timer.start(int(std::clamp<qint64>(*next - now, 0, longest)));
}

void QL_Reminders::showDue() {
    const qint64 now = platform::Clock::now().toMSecsSinceEpoch();
    // Copied first: showing may reach back into this object.
    const std::vector<Alarm> alarms = m_alarms;
    for (const Alarm& alarm : alarms) {
        const std::optional<qint64> at = showAt(alarm, now);
        if (!at || *at > now)
            continue;
        m_snoozedUntil.remove(alarm.key);
        m_shown.insert(alarm.key);
        show(alarm);
    }
    arm();
}

platform::DesktopNotifications& QL_Reminders::notifications() {
    if (!m_notifications) {
        m_notifications = std::make_unique<platform::DesktopNotifications>();
        connect(m_notifications.get(), &platform::DesktopNotifications::actionInvoked, this,
                &QL_Reminders::actionInvoked);
        connect(m_notifications.get(), &platform::DesktopNotifications::notificationClosed, this,
                [this](quint32 id, quint32) { m_open.remove(id); });
    }
    return *m_notifications;
}

void QL_Reminders::show(const Alarm& alarm) {
    const QL_ToDo& toDo = *alarm.toDo;
    platform::DesktopNotifications::Notification note;
    note.appName = m_text(QStringLiteral("PRODUCT_NAME"));
    note.summary = toDo.theSummary().value_or(QString());
    if (const QString due = dueText(toDo); !due.isEmpty())
        note.body = m_text(QStringLiteral("DUE_DATE_TOOLTIP")) + QStringLiteral(": ") + due;
    note.actions = {{completeAction, m_text(QStringLiteral("COMPLETE_TO_DO"))},
                    {snoozeAction, m_text(QStringLiteral("REMINDER_SNOOZE"))}};
    // The server finds the name and icon of the application menu's entry by it.
    note.hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quillo"));
    // A reminder stays until the user answers it.
    note.expireTimeout = 0;
    const Shown shown{alarm.identity, alarm.key};
    notifications().notify(note, [this, shown](const platform::DesktopNotifications::Result& r) {
        if (r.id) {
            m_failureLogged = false;
            m_open.insert(*r.id, shown);
            return;
        }
        if (m_failureLogged)
            return;
        m_failureLogged = true;
        platform::NSLog(QStringLiteral("Quillo :: reminders :: a reminder could not be shown (") +
                        r.error + QLatin1Char(')'));
    });
}

void QL_Reminders::actionInvoked(quint32 id, const QString& actionKey) {
    const auto open = m_open.constFind(id);
    if (open == m_open.constEnd())
        return;
    const Shown shown = *open;
    if (actionKey == snoozeAction) {
        m_snoozedUntil.insert(shown.key,
                              platform::Clock::now().toMSecsSinceEpoch() + snoozeSeconds * 1000);
        arm();
        return;
    }
    if (actionKey != completeAction)
        return;
    // The to-do as the store was read last; one gone or done since is left alone.
    for (const Alarm& alarm : m_alarms) {
        if (alarm.identity != shown.identity)
            continue;
        const std::shared_ptr<QL_ToDo> toDo = alarm.toDo;
        if (m_complete && !toDo->isComplete())
            m_complete(*toDo);
        return;
    }
}
