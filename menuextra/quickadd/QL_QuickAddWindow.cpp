#include "menuextra/quickadd/QL_QuickAddWindow.h"

#include "menuextra/editor/QL_ToDoController.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "platform/Clock.h"
#include "platform/DateStyles.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "shared/QL_PanePath.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QPointer<QL_QuickAddWindow> theOpenWindow;

QString text(const char* key) {
    return QL_LocalizedString(QString::fromLatin1(key));
}

QString priorityText(int priority) {
    if (priority == 1)
        return text("VERY_IMPORTANT");
    if (priority == 5)
        return text("IMPORTANT");
    if (priority == 9)
        return text("NOT_IMPORTANT");
    return QString::number(priority);
}

// The record's setters unescape what they are given; doubled backslashes keep the
// title as typed (the editor does the same).
QString keptAsTyped(QString typed) {
    typed.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return typed;
}

// The store's calendars that can take a to-do (hidden ones included, as in the editor).
QL_CalendarMap writableCalendars() {
    const std::optional<QVariantMap> nodes =
        platform::PropertyList::dictionaryFromFile(ql::nodesPath());
    if (!nodes)
        return {};
    QL_CalendarMap all =
        QL_ToDoController::getCalendars(nodes->value(QStringLiteral("List")).toList());
    QL_CalendarMap writable;
    for (auto& [title, calendar] : all)
        if (calendar->type() != ql::subscribedCalendarType && calendar->sourceKey())
            writable.insert_or_assign(title, calendar);
    return writable;
}

} // namespace

QL_QuickAddWindow* QL_QuickAddWindow::present() {
    if (!theOpenWindow) {
        theOpenWindow = new QL_QuickAddWindow(writableCalendars());
        theOpenWindow->adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            theOpenWindow->move(screen->availableGeometry().center() -
                                theOpenWindow->rect().center());
    }
    theOpenWindow->show();
    theOpenWindow->raise();
    theOpenWindow->activateWindow();
    theOpenWindow->m_line->setFocus();
    return theOpenWindow;
}

QL_QuickAddWindow* QL_QuickAddWindow::current() {
    return theOpenWindow;
}

QL_QuickAddWindow::QL_QuickAddWindow(QL_CalendarMap calendars) : m_calendars(std::move(calendars)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(text("QUICK_ADD_WINDOW_TITLE"));
    auto* layout = new QVBoxLayout(this);
    m_line = new QLineEdit(this);
    m_line->setPlaceholderText(text("QUICK_ADD_PLACEHOLDER"));
    m_line->setMinimumWidth(420);
    m_understood = new QLabel(this);
    m_understood->setTextFormat(Qt::PlainText);
    m_hint = new QLabel(this);
    m_hint->setTextFormat(Qt::PlainText);
    layout->addWidget(m_line);
    layout->addWidget(m_understood);
    layout->addWidget(m_hint);
    // Escape rejects the dialog; it is freed however it closes.
    connect(this, &QDialog::finished, this, &QObject::deleteLater);
    connect(m_line, &QLineEdit::textChanged, this, [this] {
        m_hintWanted = false;
        updateUnderstood();
    });
    connect(m_line, &QLineEdit::returnPressed, this, &QL_QuickAddWindow::addToDo);
    updateUnderstood();
}

QL_QuickAddResult QL_QuickAddWindow::understood() const {
    QStringList titles;
    for (const auto& [title, calendar] : m_calendars)
        titles.append(title);
    return ql::parseQuickAdd(m_line->text(), platform::Clock::now(), titles);
}

std::shared_ptr<QL_Calendar> QL_QuickAddWindow::calendarFor(const QL_QuickAddResult& result) const {
    // A #name that found no calendar never falls back to the first one.
    if (m_calendars.empty() || (!result.calendarName.isEmpty() && !result.calendar))
        return nullptr;
    // Without #name the first calendar, as for a new to-do of the editor.
    if (!result.calendar)
        return m_calendars.begin()->second;
    const auto it = m_calendars.find(*result.calendar);
    return it == m_calendars.end() ? nullptr : it->second;
}

QString QL_QuickAddWindow::hintFor(const QL_QuickAddResult& result) const {
    switch (result.hint) {
    case QL_QuickAddResult::Hint::UnknownCalendar:
        return text("QUICK_ADD_UNKNOWN_CALENDAR_HINT").arg(result.calendarName);
    case QL_QuickAddResult::Hint::AmbiguousCalendar:
        return text("QUICK_ADD_AMBIGUOUS_CALENDAR_HINT").arg(result.calendarName);
    case QL_QuickAddResult::Hint::EmptyTitle:
        return text("QUICK_ADD_NO_TITLE_HINT");
    case QL_QuickAddResult::Hint::None:
        break;
    }
    if (!calendarFor(result))
        return text("QUICK_ADD_NO_CALENDAR_HINT");
    return {};
}

void QL_QuickAddWindow::updateUnderstood() {
    const QL_QuickAddResult result = understood();
    QStringList lines;
    lines << QStringLiteral("%1: %2").arg(text("QUICK_ADD_TITLE_LABEL"), result.title);
    if (result.due)
        lines << QStringLiteral("%1: %2").arg(
            text("DUE_DATE_TOOLTIP"), platform::stringFromDate(QDateTime(*result.due, QTime(12, 0)),
                                                               platform::NSDateFormatterLongStyle));
    if (result.priority)
        lines << QStringLiteral("%1: %2").arg(text("PRIORITY_TOOLTIP"),
                                              priorityText(*result.priority));
    if (const std::shared_ptr<QL_Calendar> calendar = calendarFor(result))
        lines << QStringLiteral("%1: %2").arg(text("CALENDAR_TOOLTIP"),
                                              calendar->title().value_or(QString()));
    m_understood->setText(lines.join(u'\n'));
    // A hint for an unfinished line only after Enter: "#Wo" is on its way to "#Work".
    const QString hint = hintFor(result);
    m_hint->setText(m_hintWanted && !hint.isEmpty() ? hint : text("QUICK_ADD_ENTER_HINT"));
}

void QL_QuickAddWindow::addToDo() {
    const QL_QuickAddResult result = understood();
    const std::shared_ptr<QL_Calendar> calendar = calendarFor(result);
    if (!hintFor(result).isEmpty() || !calendar || !calendar->sourceKey() ||
        !ql::isSafeSourceKey(*calendar->sourceKey())) {
        m_hintWanted = true;
        updateUnderstood();
        return;
    }
    // A new to-do as the editor writes one (its sequence included), with what the line
    // said.
    QL_ToDo toDo(GetUUID(), keptAsTyped(result.title), QL_ToDoController::newDateStamp(),
                 QL_ToDoController::newCreationDate(), QL_ToDoController::newCreationDateHeader(),
                 2.0, calendar->sourceKey(), calendar->title(), calendar->color(), std::nullopt);
    toDo.setPriority(result.priority);
    if (result.due)
        toDo.setDueDate(result.due->toString(u"yyyyMMdd"));
    // A failed write has been reported by the writer; the line stays for another try.
    if (!toDo.writeToCalendar(ql::calendarAddPath(*calendar->sourceKey()), QLWriteActionAdd))
        return;
    close();
}
