// The rebuild of the menu: the error states, the five groupings with their filters and
// sections, and the sort orders.
#include "menuextra/QLMenuExtra.h"

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

qint64 statusKey(const QL_ToDo& toDo) {
    if (toDo.isExpired())
        return -1;
    return toDo.theCompletedDate() ? 1 : 0;
}

// The due date as an instant; no due date, or one that cannot be read, is the distant
// future.
qint64 dueDateKey(const QL_ToDo& toDo) {
    const std::optional<QDateTime> due = toDo.theDueDateAsDate();
    return due ? due->toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
}

qint64 noKey(const QL_ToDo&) {
    return 0;
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

// A stable sort of the list in the order of the key, ties by title: the order of the
// comparison functions, with each key computed once per to-do instead of once per
// comparison.
void sortToDos(QL_Calendar::ToDoList& list, qint64 (*key)(const QL_ToDo&)) {
    struct Keyed {
        qint64 key;
        std::shared_ptr<QL_ToDo> toDo;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(list.size());
    for (auto& toDo : list)
        keyed.push_back({key(*toDo), std::move(toDo)});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.key != b.key)
            return a.key < b.key;
        return compareSummaries(*a.toDo, *b.toDo) < 0;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        list[i] = std::move(keyed[i].toDo);
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

bool QLMenuExtra::passesFilters(const QL_ToDo& toDo, const MenuSettings& s) const {
    if (s.hideToDoItemsAfterCompletion && toDo.daysComplete() >= s.numberOfDaysAfterCompletion)
        return false;
    if (s.showToDoItemsDue && toDo.daysDue() >= s.numberOfDaysBeforeDue)
        return false;
    return true;
}

QL_Calendar::ToDoList QLMenuExtra::allToDos() {
    QL_Calendar::ToDoList all;
    if (!m_theCalendars)
        return all;
    for (const auto& [title, calendar] : *m_theCalendars) {
        if (!calendar->parseForToDos()) {
            // One calendar that cannot be read must not hide the others' to-dos.
            platform::NSLog(QStringLiteral("Quillo :: refreshMenu :: calendar ") + title +
                            QStringLiteral(" could not be read, its to-dos are not shown"));
            continue;
        }
        const QL_Calendar::ToDoList& toDos = calendar->arrayOfToDos();
        all.insert(all.end(), toDos.begin(), toDos.end());
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
        QL_Calendar::ToDoList toDos = calendar->arrayOfToDos();
        if (toDos.empty())
            continue;
        sortToDos(toDos, noKey);
        bool labelled = false;
        for (const auto& toDo : toDos) {
            if (!passesFilters(*toDo, s))
                continue;
            if (s.showLabels && !labelled) {
                if (anyLabel)
                    addLabelWithString(QString());
                addLabelWithCalendar(*calendar);
                labelled = anyLabel = true;
            }
            addToDoMenuItem(toDo);
        }
    }
}

namespace {

// Section indexes of the groupings; -1 is a to-do without a section of its own.
const std::array<const char*, 6> dueDateSections = {"PAST_DUE_DATE", "TODAY",       "TOMORROW",
                                                    "THIS_WEEK",     "OVER_A_WEEK", "NO_DUE_DATE"};

int dueDateSection(const QL_ToDo& toDo) {
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

int prioritySection(const QL_ToDo& toDo) {
    const int p = toDo.thePriority().value_or(0);
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

int statusSection(const QL_ToDo& toDo) {
    if (toDo.isExpired())
        return 0;
    return toDo.theCompletedDate() ? 2 : 1;
}

} // namespace

template <std::size_t N>
void QLMenuExtra::addInSections(const QL_Calendar::ToDoList& sorted,
                                int (*sectionOf)(const QL_ToDo&),
                                const std::array<const char*, N>& labels) {
    const MenuSettings s = settings();
    std::array<bool, N> seen{};
    bool anyLabel = false;
    for (const auto& toDo : sorted) {
        if (!passesFilters(*toDo, s))
            continue;
        if (s.showLabels && sectionOf) {
            const int section = sectionOf(*toDo);
            if (section >= 0 && !seen[static_cast<std::size_t>(section)]) {
                if (anyLabel)
                    addLabelWithString(QString());
                addLabelWithString(
                    localized(QString::fromLatin1(labels[static_cast<std::size_t>(section)])));
                seen[static_cast<std::size_t>(section)] = true;
                anyLabel = true;
            }
        }
        addToDoMenuItem(toDo);
    }
}

void QLMenuExtra::refreshByDueDate() {
    QL_Calendar::ToDoList toDos = allToDos();
    sortToDos(toDos, dueDateKey);
    addInSections(toDos, dueDateSection, dueDateSections);
}

void QLMenuExtra::refreshByPriority() {
    QL_Calendar::ToDoList toDos = allToDos();
    sortToDos(toDos, priorityKey);
    addInSections(toDos, prioritySection, prioritySections);
}

void QLMenuExtra::refreshByStatus() {
    QL_Calendar::ToDoList toDos = allToDos();
    sortToDos(toDos, statusKey);
    addInSections(toDos, statusSection, statusSections);
}

void QLMenuExtra::refreshByTitle() {
    QL_Calendar::ToDoList toDos = allToDos();
    sortToDos(toDos, noKey);
    addInSections<1>(toDos, nullptr, {""});
}
