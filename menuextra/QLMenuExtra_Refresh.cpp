// The rebuild of the menu: the error states, the five groupings with their filters and
// sections, and the sort orders.
#include "menuextra/QLMenuExtra.h"

#include "menuextra/reminders/QL_Reminders.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "platform/DateStyles.h"
#include "platform/Log.h"
#include "shared/QL_Preferences.h"

#include <algorithm>
#include <array>
#include <limits>

namespace {

// The context the tie-breaks pass on to titleSort.
const QString finalContext = QStringLiteral("Final");

int sign(qint64 value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

int compareSummaries(const QL_ToDo& first, const QL_ToDo& second) {
    // An absent summary sorts like the empty one.
    static const QString empty;
    const QString& a = first.theSummary() ? *first.theSummary() : empty;
    const QString& b = second.theSummary() ? *second.theSummary() : empty;
    return sign(QString::compare(a, b, Qt::CaseInsensitive));
}

// Sort keys; a smaller key goes first.
qint64 priorityKey(const QL_ToDo& toDo) {
    const int p = toDo.thePriority().value_or(0);
    return p == 0 ? 10 : p;
}

// Overdue, then open, then completed.
qint64 statusKeyOf(bool expired, const QL_ToDo& toDo) {
    if (expired)
        return -1;
    return toDo.theCompletedDate() ? 1 : 0;
}

qint64 statusKey(const QL_ToDo& toDo) {
    return statusKeyOf(toDo.isExpired(), toDo);
}

// The due date as an instant; no due date, or one that cannot be read, is the distant
// future.
qint64 dueDateKeyOf(const std::optional<QDateTime>& due) {
    return due ? due->toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
}

qint64 dueDateKey(const QL_ToDo& toDo) {
    return dueDateKeyOf(toDo.theDueDateAsDate());
}

int compareByKey(qint64 (*key)(const QL_ToDo&), const QL_ToDo& first, const QL_ToDo& second,
                 const void* context) {
    const qint64 a = key(first);
    const qint64 b = key(second);
    const int byKey = a < b ? -1 : (a > b ? 1 : 0);
    if (byKey != 0 || context)
        return byKey;
    return titleSort(first, second, &finalContext);
}

// The keys of the groupings' sorts, from what the menu has already asked of a to-do.
qint64 noFactsKey(const QL_ToDoFacts&) {
    return 0;
}
qint64 priorityFactsKey(const QL_ToDoFacts& toDo) {
    return priorityKey(*toDo);
}
qint64 statusFactsKey(const QL_ToDoFacts& toDo) {
    return statusKeyOf(toDo.isExpired(), *toDo);
}
qint64 dueDateFactsKey(const QL_ToDoFacts& toDo) {
    return dueDateKeyOf(toDo.due());
}

// The summary with each character case-folded as a case-insensitive comparison folds
// it (simple folding, per code point, surrogate pairs kept), so that comparing two of
// them code unit by code unit orders as QString::compare(a, b, Qt::CaseInsensitive)
// orders the summaries (no folding leaves its plane or changes a high surrogate, and
// text read from the store has no lone surrogates): the folding is done once per to-do
// instead of once per comparison.
QString foldedSummary(const QL_ToDo& toDo) {
    if (!toDo.theSummary())
        return QString();
    const QString& text = *toDo.theSummary();
    const qsizetype n = text.size();
    QString out(n, Qt::Uninitialized);
    const char16_t* src = reinterpret_cast<const char16_t*>(text.utf16());
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = src[i];
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(src[i + 1])) {
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(c, src[i + 1]));
            if (QChar::requiresSurrogates(folded)) {
                dst[i] = QChar::highSurrogate(folded);
                dst[i + 1] = QChar::lowSurrogate(folded);
            } else { // never in Unicode's tables; kept as it was
                dst[i] = c;
                dst[i + 1] = src[i + 1];
            }
            ++i;
            continue;
        }
        dst[i] = QChar(c).toCaseFolded().unicode();
    }
    return out;
}

// A stable sort of the list in the order of the key, ties by title: the order of the
// comparison functions, with each key and folded title computed once per to-do instead
// of once per comparison.
void sortToDos(std::vector<QL_ToDoFacts>& list, qint64 (*key)(const QL_ToDoFacts&)) {
    struct Keyed {
        qint64 key;
        std::size_t index;
        QString title;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i)
        keyed.push_back({key(list[i]), i, foldedSummary(*list[i])});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.key != b.key)
            return a.key < b.key;
        return QString::compare(a.title, b.title, Qt::CaseSensitive) < 0;
    });
    std::vector<QL_ToDoFacts> sorted;
    sorted.reserve(list.size());
    for (const Keyed& k : keyed)
        sorted.push_back(std::move(list[k.index]));
    list = std::move(sorted);
}

} // namespace

int titleSort(const QL_ToDo& first, const QL_ToDo& second, const void*) {
    return compareSummaries(first, second);
}

int prioritySort(const QL_ToDo& first, const QL_ToDo& second, const void* context) {
    return compareByKey(priorityKey, first, second, context);
}

int statusSort(const QL_ToDo& first, const QL_ToDo& second, const void* context) {
    return compareByKey(statusKey, first, second, context);
}

int dueDateSort(const QL_ToDo& first, const QL_ToDo& second, const void*) {
    // Ties go by title whatever the context.
    return compareByKey(dueDateKey, first, second, nullptr);
}

void QLMenuExtra::refreshMenu() {
    ++m_refreshCount;
    // One reading of the settings and of the texts for the whole rebuild.
    m_refreshSettings = MenuSettings::read();
    m_texts.clear();
    m_pane.reset();
    m_refreshTitleAttributes.reset();
    m_dateTexts.clear();

    m_theToDoRepository.clear();
    m_theToDoTagCounter = 0;
    m_theMenu->removeAllItems();

    if (!loadiCalCalendars()) {
        platform::NSLog(QStringLiteral("Quillo :: refreshMenu :: loadiCalCalendars failed"));
        platform::NSLog(QStringLiteral(
            "Possible reasons include iCal files are being written to or missing.\r"));
        recoverFromError(true);
        finishMenu(false);
    } else if (!m_theCalendars || m_theCalendars->empty()) {
        // No calendars of the store's own, or none of them shown.
        const bool noneAtAll = m_validCalendars == 0;
        addErrorItem(noneAtAll ? QStringLiteral("NO_ICAL_CALENDARS")
                               : QStringLiteral("NO_VISIBLE_CALENDARS"));
        finishMenu(!noneAtAll);
    } else {
        switch (m_refreshSettings->sortOrder) {
        case 0:
            refreshByCalendar();
            break;
        case 1:
            refreshByDueDate();
            break;
        case 2:
            refreshByPriority();
            break;
        case 3:
            refreshByStatus();
            break;
        case 4:
            refreshByTitle();
            break;
        default:
            break;
        }
        if (m_theToDoRepository.empty())
            recoverFromError(false);
        finishMenu(true);
    }
    m_refreshSettings.reset();
    m_refreshTitleAttributes.reset();
    // A store whose walk failed (caught while it is written) keeps the alarms armed from
    // the last reading.
    if (m_theCalendars || !QL_Preferences::sharedPreferences().showReminders())
        scheduleReminders();
    updateStatus();
    menuDidChange(m_theMenu.get());
}

void QLMenuExtra::scheduleReminders() {
    if (!QL_Preferences::sharedPreferences().showReminders()) {
        if (m_reminders)
            m_reminders->stop();
        return;
    }
    if (!m_reminders)
        m_reminders =
            std::make_unique<QL_Reminders>([this](const QString& key) { return localized(key); },
                                           [this](const QL_ToDo& toDo) { toggleToDo(toDo); });
    // The rebuild has just read every shown calendar; a hidden one is not among them.
    std::vector<std::shared_ptr<QL_ToDo>> toDos;
    if (m_theCalendars)
        for (const auto& [title, calendar] : *m_theCalendars)
            if (calendar->type() != ql::subscribedCalendarType)
                toDos.insert(toDos.end(), calendar->arrayOfToDos().begin(),
                             calendar->arrayOfToDos().end());
    m_reminders->schedule(toDos);
}

void QLMenuExtra::updateStatus() {
    const QL_Preferences& preferences = QL_Preferences::sharedPreferences();
    platform::NSMenuExtraStatus status;
    status.symbolicImage = preferences.symbolicMenuIcon();
    const bool count = preferences.showDueCountOnIcon();
    const bool tip = preferences.showNextDueInToolTip();
    if (count || tip) {
        // Open to-dos of the menu (the filters hold); the next due is the earliest.
        std::shared_ptr<QL_ToDo> next;
        qint64 nextDue = std::numeric_limits<qint64>::max();
        for (const auto& [tag, toDo] : m_theToDoRepository) {
            if (toDo->theCompletedDate())
                continue;
            const std::optional<QDateTime> due = toDo->theDueDateAsDate();
            if (!due)
                continue;
            const int days = toDo->daysDue();
            if (count && days <= 0)
                ++status.badgeCount;
            // Overdue by the rule of the menu's overdue section: the tray item asks for
            // attention, with the count that shows it.
            if (count && toDo->isExpired())
                status.needsAttention = true;
            if (due->toMSecsSinceEpoch() < nextDue) {
                nextDue = due->toMSecsSinceEpoch();
                next = toDo;
            }
        }
        if (tip && next)
            status.toolTip = localized(QStringLiteral("NEXT_DUE_TOOLTIP")) + QLatin1String(": ") +
                             next->theSummary().value_or(QString()) + QLatin1String(" (") +
                             platform::stringFromDate(*next->theDueDateAsDate(),
                                                      platform::NSDateFormatterShortStyle) +
                             QLatin1Char(')');
    }
    setStatus(status);
}

void QLMenuExtra::finishMenu(bool withHeader) {
    addLabelWithString(QString());
    if (withHeader)
        addHeaderMenuItems();
    addFooterMenuItems();
    setMenuIcon();
}

void QLMenuExtra::recoverFromError(bool storeUnreadable) {
    // The menu object stays the same one, emptied and set up as new: a host may still
    // be showing it.
    m_theMenu->removeAllItems();
    m_theMenu->setTitle(QString());
    m_theMenu->setAutoenablesItems(false);
    addErrorItem(storeUnreadable ? QStringLiteral("NO_ICAL_CALENDARS")
                                 : QStringLiteral("NO_TO_DO_ITEMS"));
    setMenuIcon();
    m_needsRefresh = true;
}

bool QLMenuExtra::passesFilters(const QL_ToDoFacts& toDo, const MenuSettings& s) const {
    if (s.hideToDoItemsAfterCompletion && (*toDo).daysComplete() >= s.numberOfDaysAfterCompletion)
        return false;
    if (s.showToDoItemsDue && toDo.daysDue() >= s.numberOfDaysBeforeDue)
        return false;
    return true;
}

std::vector<QL_ToDoFacts> QLMenuExtra::allToDos() {
    std::vector<QL_ToDoFacts> all;
    if (!m_theCalendars)
        return all;
    for (const auto& [title, calendar] : *m_theCalendars) {
        if (!calendar->parseForToDos()) {
            // One calendar that cannot be read must not hide the others' to-dos.
            platform::NSLog(QStringLiteral("Quillo :: refreshMenu :: calendar ") + title +
                            QStringLiteral(" could not be read, its to-dos are not shown"));
            continue;
        }
        for (const auto& toDo : calendar->arrayOfToDos())
            all.emplace_back(toDo);
    }
    return all;
}

void QLMenuExtra::refreshByCalendar() {
    if (!m_theCalendars)
        return;
    const MenuSettings s = settings();
    bool anyLabel = false;
    for (const auto& [title, calendar] : *m_theCalendars) {
        if (!calendar->parseForToDos()) {
            platform::NSLog(QStringLiteral("Quillo :: refreshMenu :: calendar ") + title +
                            QStringLiteral(" could not be read, its to-dos are not shown"));
            continue;
        }
        if (calendar->arrayOfToDos().empty())
            continue;
        std::vector<QL_ToDoFacts> toDos(calendar->arrayOfToDos().begin(),
                                        calendar->arrayOfToDos().end());
        sortToDos(toDos, noFactsKey);
        bool labelled = false;
        for (const auto& toDo : toDos) {
            if (!passesFilters(toDo, s))
                continue;
            if (s.showLabels && !labelled) {
                if (anyLabel)
                    addLabelWithString(QString());
                addLabelWithCalendar(*calendar);
                labelled = anyLabel = true;
            }
            addToDoMenuItem(toDo, s);
        }
    }
}

namespace {

// Section indexes of the groupings; -1 is a to-do without a section of its own.
const std::array<const char*, 6> dueDateSections = {"PAST_DUE_DATE", "TODAY",       "TOMORROW",
                                                    "THIS_WEEK",     "OVER_A_WEEK", "NO_DUE_DATE"};

int dueDateSection(const QL_ToDoFacts& toDo) {
    const int d = toDo.daysDue();
    if (d == -999999)
        return 5;
    if (d <= -2)
        return 0;
    if (d <= 0)
        return 1;
    if (d == 1)
        return 2;
    if (d <= 7)
        return 3;
    return 4;
}

const std::array<const char*, 4> prioritySections = {"VERY_IMPORTANT", "IMPORTANT", "NOT_IMPORTANT",
                                                     "NO_PRIORITY"};

int prioritySection(const QL_ToDoFacts& toDo) {
    const int p = (*toDo).thePriority().value_or(0);
    if (p == 0)
        return 3;
    if (p >= 1 && p <= 4)
        return 0;
    if (p == 5)
        return 1;
    if (p >= 6 && p <= 9)
        return 2;
    return -1;
}

const std::array<const char*, 3> statusSections = {"OVERDUE", "UNCOMPLETED", "COMPLETED"};

int statusSection(const QL_ToDoFacts& toDo) {
    if (toDo.isExpired())
        return 0;
    return (*toDo).theCompletedDate() ? 2 : 1;
}

} // namespace

template <std::size_t N>
void QLMenuExtra::addInSections(const std::vector<QL_ToDoFacts>& sorted,
                                int (*sectionOf)(const QL_ToDoFacts&),
                                const std::array<const char*, N>& labels) {
    const MenuSettings s = settings();
    std::array<bool, N> seen{};
    bool anyLabel = false;
    for (const auto& toDo : sorted) {
        if (!passesFilters(toDo, s))
            continue;
        if (s.showLabels && sectionOf) {
            const int section = sectionOf(toDo);
            if (section >= 0 && !seen[static_cast<std::size_t>(section)]) {
                if (anyLabel)
                    addLabelWithString(QString());
                addLabelWithString(
                    localized(QString::fromLatin1(labels[static_cast<std::size_t>(section)])));
                seen[static_cast<std::size_t>(section)] = true;
                anyLabel = true;
            }
        }
        addToDoMenuItem(toDo, s);
    }
}

void QLMenuExtra::refreshByDueDate() {
    std::vector<QL_ToDoFacts> toDos = allToDos();
    sortToDos(toDos, dueDateFactsKey);
    addInSections(toDos, dueDateSection, dueDateSections);
}

void QLMenuExtra::refreshByPriority() {
    std::vector<QL_ToDoFacts> toDos = allToDos();
    sortToDos(toDos, priorityFactsKey);
    addInSections(toDos, prioritySection, prioritySections);
}

void QLMenuExtra::refreshByStatus() {
    std::vector<QL_ToDoFacts> toDos = allToDos();
    sortToDos(toDos, statusFactsKey);
    addInSections(toDos, statusSection, statusSections);
}

void QLMenuExtra::refreshByTitle() {
    std::vector<QL_ToDoFacts> toDos = allToDos();
    sortToDos(toDos, noFactsKey);
    addInSections<1>(toDos, nullptr, {""});
}
