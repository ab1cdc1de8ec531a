#include "menuextra/editor/QL_ToDoController.h"

#include "ui_ToDo.h"

#include "menuextra/store/QL_CalendarStore.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/URLConnection.h"
#include "platform/Workspace.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardItemModel>
#include <QStyle>
#include <QTextDocument>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>

#include <cmath>
#include <exception>

namespace {

const QString sourceNodeType = QStringLiteral("CALSourceNode");
const QString groupNodeType = QStringLiteral("CALNamedGroupNode");
const QString completedStatus = QStringLiteral("COMPLETED");

// Indices of the status list; 1 and 3 are separators.
enum StatusIndex {
    StatusNone = 0,
    StatusCompleted = 2,
    StatusCancelled = 4,
    StatusInProcess = 5,
    StatusNeedsAction = 6
};
// Indices of the priority list; 1 is a separator.
enum PriorityIndex { PriorityNone = 0, PriorityHigh = 2, PriorityMedium = 3, PriorityLow = 4 };

std::optional<QString> stringValue(const QVariantMap& map, const QString& key) {
    const auto it = map.constFind(key);
    if (it == map.constEnd() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

// The record's setters unescape what they are given; doubling each backslash makes
// them store exactly the text the user typed.
QString keptAsTyped(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return out;
}

// Line breaks as the reader hands them to the record (CR), so that a saved note reads
// back as it was typed; and as the text view wants them (LF).
QString withRecordLineBreaks(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
    text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    return text;
}

QString withViewLineBreaks(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// The view's text without the conversions of toPlainText (which turns no-break spaces
// into spaces): paragraph and line separators become line breaks, nothing else changes.
QString typedNotes(const QPlainTextEdit* view) {
    QString text = view->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\r'));
    text.replace(QChar::LineSeparator, QLatin1Char('\r'));
    return withRecordLineBreaks(text);
}

// Spaces and tabs at both ends go; other white space is part of what was typed.
QString trimmedOfSpacesAndTabs(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

// The entry of the priority list for a stored priority; -1 for one the list does not
// hold as such (2, 7, 12), which the window then shows as it is.
int priorityIndexFor(const std::optional<int>& priority) {
    if (!priority || *priority == 0)
        return PriorityNone;
    if (*priority == 1)
        return PriorityHigh;
    if (*priority == 5)
        return PriorityMedium;
    if (*priority == 9)
        return PriorityLow;
    return -1;
}

// The entry of the status list for a stored status (names ignore letter case, as in
// iCalendar); -1 for one the list does not hold.
int statusIndexFor(const QString& status) {
    const QString word = status.trimmed();
    if (word.compare(u"CANCELLED", Qt::CaseInsensitive) == 0)
        return StatusCancelled;
    if (word.compare(u"IN-PROCESS", Qt::CaseInsensitive) == 0)
        return StatusInProcess;
    if (word.compare(u"NEEDS-ACTION", Qt::CaseInsensitive) == 0)
        return StatusNeedsAction;
    if (word.compare(completedStatus, Qt::CaseInsensitive) == 0)
        return StatusCompleted;
    return -1;
}

// Selects the list's entry, or an entry added at its end that names the stored value.
void showValue(QComboBox* list, int index, const QString& stored) {
    if (index >= 0) {
        list->setCurrentIndex(index);
        return;
    }
    list->addItem(stored);
    list->setCurrentIndex(list->count() - 1);
}

// A due date moved to another day keeps the time of day and the zone it had: a local
// time keeps its TZID, a UTC time stays the same local time on the new day.
QString movedDueDate(const std::optional<QString>& stored, const QDate& day) {
    const QString date = day.toString(u"yyyyMMdd");
    if (!stored)
        return date;
    const QString value = stored->trimmed();
    static const QRegularExpression local(QStringLiteral("^\\d{8}[Tt](\\d{6})$"));
    static const QRegularExpression utc(QStringLiteral("^\\d{8}[Tt](\\d{6})[Zz]$"));
    if (const QRegularExpressionMatch m = local.match(value); m.hasMatch())
        return date + u'T' + m.captured(1);
    if (utc.match(value).hasMatch()) {
        QDateTime instant = QDateTime::fromString(value.left(15).toUpper(), u"yyyyMMdd'T'HHmmss");
        instant.setTimeSpec(Qt::UTC);
        const QDateTime moved(day, instant.toLocalTime().time());
        if (instant.isValid() && moved.isValid())
            return moved.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'");
    }
    return date;
}

// A time-zone name that fits inside a property's name part: no character that ends
// or splits it.
bool isPlainZoneName(const QByteArray& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_+\\-/]+$"));
    return plain.match(QString::fromLatin1(name)).hasMatch();
}

// Every text of the window is a key of the table "Quillo"; an item "-" of a list is a
// separator that keeps its index.
bool isTextKey(const QString& text) {
    static const QRegularExpression key(QStringLiteral("^[A-Z][A-Z0-9_]+$"));
    return key.match(text).hasMatch();
}

void localizeWindow(QWidget* window) {
    const std::optional<QString> pane = pathToPreferencePane();
    auto localized = [&](const QString& text) {
        return isTextKey(text) ? QL_LocalizedString(text, pane) : text;
    };
    window->setWindowTitle(localized(window->windowTitle()));
    for (QLabel* label : window->findChildren<QLabel*>())
        label->setText(localized(label->text()));
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        button->setText(localized(button->text()));
    for (QComboBox* list : window->findChildren<QComboBox*>()) {
        for (int i = 0; i < list->count(); ++i) {
            if (list->itemText(i) == u"-") {
                const int selected = list->currentIndex();
                list->removeItem(i);
                list->insertSeparator(i);
                list->setCurrentIndex(selected);
            } else {
                list->setItemText(i, localized(list->itemText(i)));
            }
        }
    }
}

void setItemEnabled(QComboBox* list, int index, bool enabled) {
    if (auto* model = qobject_cast<QStandardItemModel*>(list->model()))
        if (QStandardItem* item = model->item(index))
            item->setEnabled(enabled);
}

bool isItemEnabled(const QComboBox* list, int index) {
    if (index < 0 || index >= list->count())
        return false;
    if (auto* model = qobject_cast<const QStandardItemModel*>(list->model()))
        if (const QStandardItem* item = model->item(index))
            return item->isEnabled();
    return true;
}

void logGetCalendars(const QString& message) {
    platform::NSLog(QStringLiteral("Quillo :: getCalendars :: ") + message);
}

// One calendar file written, or the failure logged when its path would leave the store.
// A to-do read earlier goes back to the file it came from; a new one to its calendar
// (a new item file of a folder calendar).
bool writeTo(const QL_ToDo& toDo, const std::optional<QString>& sourceKey, int action) {
    if (!sourceKey || !ql::isSafeSourceKey(*sourceKey)) {
        platform::NSLog(
            QStringLiteral("Quillo :: OKButtonPressed :: No calendar file to write to"));
        return false;
    }
    const bool sameCalendar = toDo.theCalendarID() == sourceKey;
    return toDo.writeToCalendar(action == QLWriteActionAdd ? ql::calendarAddPath(*sourceKey)
                                : sameCalendar ? ql::toDoWritePath(toDo.theSourceFile(), *sourceKey)
                                               : ql::calendarDataPath(*sourceKey),
                                action);
}

} // namespace

QString GetUUID() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QL_ToDoController::QL_ToDoController(QL_CalendarMap calendars, std::shared_ptr<QL_ToDo> toDo)
    : m_theCalendars(std::move(calendars)), m_theToDo(std::move(toDo)) {}

QL_ToDoController::~QL_ToDoController() = default;

QL_CalendarMap QL_ToDoController::calendarsOfStore() {
    const std::optional<QVariantMap> nodes =
        platform::PropertyList::dictionaryFromFile(ql::nodesPath());
    if (!nodes)
        return {};
    return getCalendars(nodes->value(QStringLiteral("List")).toList());
}

QL_ToDoController* QL_ToDoController::initWithToDo(std::shared_ptr<QL_ToDo> toDo) {
    if (!toDo)
        return nullptr;
    auto* controller = new QL_ToDoController(calendarsOfStore(), std::move(toDo));
    controller->loadWindow(QStringLiteral("EDIT_TO_DO_TITLE"));
    return controller;
}

QL_ToDoController* QL_ToDoController::initWithNewToDo() {
    QL_CalendarMap calendars = calendarsOfStore();
    std::shared_ptr<QL_Calendar> home;
    for (const auto& [title, calendar] : calendars) {
        if (calendar->type() != ql::subscribedCalendarType) {
            home = calendar;
            break;
        }
    }
    auto toDo = std::make_shared<QL_ToDo>(
        GetUUID(), keptAsTyped(QL_LocalizedString(QStringLiteral("NEW_TO_DO_LABEL"))),
        newDateStamp(), newCreationDate(), newCreationDateHeader(), 1.0,
        home ? home->sourceKey() : std::nullopt, home ? home->title() : std::nullopt,
        home ? home->color() : std::nullopt, std::nullopt);
    auto* controller = new QL_ToDoController(std::move(calendars), std::move(toDo));
    controller->loadWindow(QStringLiteral("NEW_TO_DO_TITLE"));
    return controller;
}

QL_CalendarMap QL_ToDoController::getCalendars(const QVariantList& nodes) {
    QL_CalendarMap table;
    try {
        for (const QVariant& entry : nodes) {
            if (entry.typeId() != QMetaType::QVariantMap)
                continue;
            const QVariantMap node = entry.toMap();
            const std::optional<QString> type = stringValue(node, QStringLiteral("Type"));
            const bool isFolder = type == ql::folderCalendarType;
            if (type == sourceNodeType || isFolder) {
                const std::optional<QString> sourceKey =
                    stringValue(node, QStringLiteral("SourceKey"));
                // The key becomes part of paths that are read and written.
                if (!sourceKey || !ql::isSafeSourceKey(*sourceKey)) {
                    logGetCalendars(QStringLiteral("unsafe SourceKey, calendar skipped"));
                    continue;
                }
                const QColor color = ql::colorFromRGBAHex(
                    stringValue(node, QStringLiteral("ThemeColor")).value_or(QString()));
                const std::optional<QVariantMap> info =
                    platform::PropertyList::dictionaryFromFile(ql::calendarInfoPath(*sourceKey));
                const QVariantMap description = info.value_or(QVariantMap());
                const std::optional<QString> title =
                    stringValue(description, QStringLiteral("Title"));
                if (isFolder ? !QFileInfo(ql::calendarItemsPath(*sourceKey)).isDir()
                             : !QFileInfo::exists(ql::calendarDataPath(*sourceKey)))
                    continue;
                // The node decides the kind of calendar, whatever the description says.
                std::optional<QString> calendarType =
                    stringValue(description, QStringLiteral("Type"));
                if (isFolder)
                    calendarType = ql::folderCalendarType.toString();
                else if (calendarType == ql::folderCalendarType)
                    calendarType.reset();
                auto calendar = std::make_shared<QL_Calendar>(
                    stringValue(description, QStringLiteral("Key")), sourceKey, title,
                    stringValue(description, QStringLiteral("Notes")), calendarType, color);
                if (!title) {
                    logGetCalendars(QStringLiteral("tempCalendar is nil, exception:\r") +
                                    calendar->description());
                    return table;
                }
                table.insert_or_assign(*title, std::move(calendar));
            } else if (type == groupNodeType) {
                for (auto& [title, calendar] :
                     getCalendars(node.value(QStringLiteral("Subnodes")).toList()))
                    table.insert_or_assign(title, std::move(calendar));
            }
        }
    } catch (const std::exception& e) {
        logGetCalendars(QStringLiteral("Exception encountered:\r") + QString::fromUtf8(e.what()));
    }
    return table;
}

QString QL_ToDoController::newCreationDate() {
    return platform::Clock::now().toString(u"yyyyMMdd") + QStringLiteral("T000000");
}

QString QL_ToDoController::newCreationDateHeader() {
    // The full name (Europe/Berlin) is what other calendar programs understand; a zone
    // without one that fits the line leaves the start date in floating local time.
    const QByteArray zone = QTimeZone::systemTimeZoneId();
    if (zone.isEmpty() || !isPlainZoneName(zone))
        return QStringLiteral("DTSTART");
    return QStringLiteral("DTSTART;TZID=") + QString::fromLatin1(zone);
}

QString QL_ToDoController::completionStamp() {
    return platform::Clock::today().toString(u"yyyyMMdd") + QStringLiteral("T000000Z");
}

QString QL_ToDoController::newDateStamp() {
    return platform::Clock::now().toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'");
}

void QL_ToDoController::loadWindow(const QString& titleKey) {
    m_theWindow = new QDialog;
    m_theWindow->setAttribute(Qt::WA_DeleteOnClose);
    // The window owns its controller: closing one frees both.
    setParent(m_theWindow);
    Ui_ToDo ui;
    ui.setupUi(m_theWindow);
    localizeWindow(m_theWindow);

    m_calendarPopup = ui.calendarPopup;
    m_statusPopup = ui.statusPopup;
    m_dueDateCheckbox = ui.dueDateCheckbox;
    m_dueDateDateField = ui.dueDateDateField;
    m_notesField = ui.notesField;
    m_priorityPopup = ui.priorityPopup;
    m_summaryField = ui.summaryField;
    m_urlField = ui.urlField;
    m_statusField = ui.statusField;
    m_valarmFlag = ui.valarmFlag;
    m_okButton = ui.okButton;

    connect(ui.dueDateCheckbox, &QCheckBox::toggled, this,
            &QL_ToDoController::dueDateCheckBoxPressed);
    connect(ui.openURLButton, &QPushButton::clicked, this,
            &QL_ToDoController::openURLButtonPressed);
    connect(ui.cancelButton, &QPushButton::clicked, this, &QL_ToDoController::cancelButtonPressed);
    connect(ui.okButton, &QPushButton::clicked, this, &QL_ToDoController::OKButtonPressed);
    // Escape and the window's close control end in the dialog's rejection.
    connect(m_theWindow, &QDialog::finished, m_theWindow, &QObject::deleteLater);

    awakeFromNib();
    m_theWindow->setWindowTitle(QL_LocalizedString(titleKey));
}

void QL_ToDoController::awakeFromNib() {
    const QL_ToDo& toDo = *m_theToDo;
    m_summaryField->setText(toDo.theSummary().value_or(QString()));
    showValue(m_priorityPopup, priorityIndexFor(toDo.thePriority()),
              QString::number(toDo.thePriority().value_or(0)));

    if (toDo.theCompletedDate())
        m_statusPopup->setCurrentIndex(StatusCompleted);
    else if (const std::optional<QString>& status = toDo.theStatus())
        showValue(m_statusPopup, statusIndexFor(*status), *status);

    if (toDo.theDescription())
        m_notesField->setPlainText(withViewLineBreaks(*toDo.theDescription()));

    const std::optional<QDateTime> due = toDo.theDueDate() ? toDo.theDueDateAsDate() : std::nullopt;
    if (toDo.theDueDate()) {
        m_dueDateCheckbox->setChecked(true);
        m_dueDateDateField->setEnabled(true);
        m_dueDateDateField->setDate(due ? due->date() : platform::Clock::today());
    } else {
        m_dueDateDateField->setDate(platform::Clock::today());
        m_dueDateDateField->setEnabled(false);
    }

    if (toDo.theVAlarm()) {
        const int size = m_valarmFlag->height();
        m_valarmFlag->setPixmap(
            m_theWindow->style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(size));
        m_valarmFlag->setToolTip(QL_LocalizedString(QStringLiteral("VALARM_TOOLTIP")));
        m_valarmFlag->setVisible(true);
        m_statusField->setGeometry(40, 22, 131, 14);
    } else {
        m_valarmFlag->setVisible(false);
        m_statusField->setGeometry(20, 22, 131, 14);
    }

    // A to-do without a start date has no creation line to show.
    if (const std::optional<QDateTime> created = toDo.theCreationDateAsDate())
        m_statusField->setText(
            QStringLiteral("%1 %2").arg(QL_LocalizedString(QStringLiteral("CREATED_ON_LABEL")),
                                        QLocale().toString(created->date(), QLocale::ShortFormat)));
    else
        m_statusField->clear();

    if (toDo.theURL())
        m_urlField->setText(*toDo.theURL());

    m_shown = {m_summaryField->text(),        m_priorityPopup->currentIndex(),
               m_statusPopup->currentIndex(), m_dueDateCheckbox->isChecked(),
               m_dueDateDateField->date(),    m_urlField->text(),
               typedNotes(m_notesField)};

    m_calendarPopup->clear();
    const bool hideSubscribed = QL_Preferences::sharedPreferences().hideSubscribedCalendars();
    for (const auto& [title, calendar] : m_theCalendars) {
        const bool subscribed = calendar->type() == ql::subscribedCalendarType;
        if (subscribed && hideSubscribed)
            continue;
        m_calendarPopup->addItem(title);
        // A subscription is shown but cannot take a to-do.
        if (subscribed)
            setItemEnabled(m_calendarPopup, m_calendarPopup->count() - 1, false);
    }
    m_calendarPopup->setCurrentIndex(
        toDo.theCalendarName()
            ? m_calendarPopup->findText(*toDo.theCalendarName(),
                                        Qt::MatchExactly | Qt::MatchCaseSensitive)
            : -1);
    connect(m_calendarPopup, &QComboBox::currentIndexChanged, this,
            &QL_ToDoController::updateOKButton, Qt::UniqueConnection);
    updateOKButton();

    m_theWindow->adjustSize();
    if (const QScreen* screen =
            m_theWindow->screen() ? m_theWindow->screen() : QGuiApplication::primaryScreen())
        m_theWindow->move(screen->availableGeometry().center() - m_theWindow->rect().center());
    m_theWindow->show();
    m_theWindow->raise();
    m_theWindow->activateWindow();
}

std::shared_ptr<QL_Calendar> QL_ToDoController::selectedCalendar() const {
    if (m_calendarPopup->currentIndex() < 0)
        return nullptr;
    const auto it = m_theCalendars.find(m_calendarPopup->currentText());
    return it == m_theCalendars.end() ? nullptr : it->second;
}

// OK is offered only when it leads to a write: a calendar that can take a to-do is
// chosen, or an existing to-do stays in its own calendar.
void QL_ToDoController::updateOKButton() {
    const int index = m_calendarPopup->currentIndex();
    const bool ownCalendar = m_theToDo->theRawData() && index >= 0 &&
                             m_theToDo->theCalendarName() == m_calendarPopup->currentText();
    m_okButton->setEnabled(isItemEnabled(m_calendarPopup, index) || ownCalendar);
}

void QL_ToDoController::dueDateCheckBoxPressed() {
    m_dueDateDateField->setEnabled(m_dueDateCheckbox->isChecked());
}

void QL_ToDoController::openURLButtonPressed() {
    const QString text = m_urlField->text();
    if (text.isEmpty())
        return;
    // The address comes from the calendar file: only web and mail addresses go to the
    // desktop, as for the update feed's.
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!platform::isSafeToOpen(url, true)) {
        platform::NSLog(QStringLiteral("Quillo :: openURLButtonPressed :: refusing to open ") +
                        text.left(2048));
        return;
    }
    platform::Workspace::sharedWorkspace().openURL(url);
}

void QL_ToDoController::cancelButtonPressed() {
    m_theWindow->close();
}

void QL_ToDoController::OKButtonPressed() {
    if (!m_okButton->isEnabled())
        return;
    // The changes go into a copy: the record stays as it was until the file has them,
    // so a failed save can be tried again from the window as it stands.
    const std::shared_ptr<QL_ToDo> edited = m_theToDo->copyToDo();

    // An existing to-do changes only in what the user changed; a new one takes every
    // control as it stands.
    const bool isNew = !m_theToDo->theRawData();

    const QString summary = m_summaryField->text();
    if (isNew || summary != m_shown.summary)
        edited->setSummary(keptAsTyped(
            summary.isEmpty() ? QL_LocalizedString(QStringLiteral("NEW_TO_DO_LABEL")) : summary));

    if (isNew || m_priorityPopup->currentIndex() != m_shown.priority) {
        switch (m_priorityPopup->currentIndex()) {
        case PriorityNone:
            edited->setPriority(std::nullopt);
            break;
        case PriorityHigh:
            edited->setPriority(1);
            break;
        case PriorityMedium:
            edited->setPriority(5);
            break;
        case PriorityLow:
            edited->setPriority(9);
            break;
        default:
            break;
        }
    }

    if (isNew || m_statusPopup->currentIndex() != m_shown.status) {
        // The completed date changes only when the to-do becomes or stops being
        // completed.
        const bool wasCompleted = m_shown.status == StatusCompleted;
        switch (m_statusPopup->currentIndex()) {
        case StatusNone:
            edited->setStatus(std::nullopt);
            edited->setCompletedDate(std::nullopt);
            break;
        case StatusCompleted:
            edited->setStatus(completedStatus);
            if (!wasCompleted || !edited->theCompletedDate())
                edited->setCompletedDate(completionStamp());
            break;
        case StatusCancelled:
            edited->setStatus(QStringLiteral("CANCELLED"));
            edited->setCompletedDate(std::nullopt);
            break;
        case StatusInProcess:
            edited->setStatus(QStringLiteral("IN-PROCESS"));
            edited->setCompletedDate(std::nullopt);
            break;
        case StatusNeedsAction:
            edited->setStatus(QStringLiteral("NEEDS-ACTION"));
            edited->setCompletedDate(std::nullopt);
            break;
        default:
            break;
        }
    }

    const bool due = m_dueDateCheckbox->isChecked();
    if (isNew || due != m_shown.due || (due && m_dueDateDateField->date() != m_shown.dueDate)) {
        if (due)
            edited->setDueDate(movedDueDate(m_shown.due ? m_theToDo->theDueDate() : std::nullopt,
                                            m_dueDateDateField->date()));
        else
            edited->setDueDate(std::nullopt);
    }

    const QString url = m_urlField->text();
    if (isNew || url != m_shown.url) {
        // A URI is stored as typed: it has no escapes.
        if (url.isEmpty())
            edited->setURL(std::nullopt);
        else
            edited->setURL(trimmedOfSpacesAndTabs(url));
    }

    const QString notes = typedNotes(m_notesField);
    if (isNew || notes != m_shown.notes) {
        if (notes.isEmpty())
            edited->setDescription(std::nullopt);
        else
            edited->setDescription(keptAsTyped(notes));
    }

    double sequence = edited->theSequence().value_or(0.0);
    if (!std::isfinite(sequence) || std::fabs(sequence) > 1e15)
        sequence = 0.0;
    edited->setSequence(std::trunc(sequence) + 1.0);

    if (!save(*edited))
        return;
    *m_theToDo = *edited;
    m_theWindow->close();
}

bool QL_ToDoController::save(const QL_ToDo& edited) {
    const std::shared_ptr<QL_Calendar> target = selectedCalendar();
    if (edited.theRawData()) {
        if (m_calendarPopup->currentIndex() >= 0 &&
            edited.theCalendarName() == m_calendarPopup->currentText())
            return writeTo(edited, edited.theCalendarID(), QLWriteActionReplace);
        if (!target)
            return false;
        // A move adds first: should the add fail, the to-do is still where it was. A
        // failed removal leaves it in both calendars, which the writer reports.
        if (!writeTo(edited, target->sourceKey(), QLWriteActionAdd))
            return false;
        (void)writeTo(edited, edited.theCalendarID(), QLWriteActionRemove);
        return true;
    }
    if (!target)
        return false;
    return writeTo(edited, target->sourceKey(), QLWriteActionAdd);
}
