// The menu's items: to-dos with their titles, colours, icons and tool tips; section
// labels and separators; the fixed items at the top and bottom.
#include "menuextra/QLMenuExtra.h"

#include "menuextra/recurrence/QL_Recurrence.h"
#include "platform/DateStyles.h"

using platform::NSMenuItem;
using platform::NSMenuItemPtr;

namespace {

// The RRULE of a to-do's component; empty for one that does not repeat.
QString repeatRule(const QL_ToDo& toDo) {
    const std::optional<QString>& raw = toDo.theRawData();
    if (!raw || !raw->contains(QLatin1String("RRULE"), Qt::CaseInsensitive))
        return {};
    return ql::recurrenceLines(*raw).rrule;
}

const QChar ellipsis(0x2026);
const QChar triangle(0x25B8);

enum class PriorityLevel { None, VeryImportant, Important, NotImportant };

PriorityLevel priorityLevel(const QL_ToDo& toDo) {
    const int p = toDo.thePriority().value_or(0);
    if (p >= 1 && p <= 4)
        return PriorityLevel::VeryImportant;
    if (p == 5)
        return PriorityLevel::Important;
    if (p >= 6 && p <= 9)
        return PriorityLevel::NotImportant;
    return PriorityLevel::None;
}

QString priorityKey(PriorityLevel level) {
    switch (level) {
    case PriorityLevel::VeryImportant:
        return QStringLiteral("VERY_IMPORTANT");
    case PriorityLevel::Important:
        return QStringLiteral("IMPORTANT");
    case PriorityLevel::NotImportant:
        return QStringLiteral("NOT_IMPORTANT");
    case PriorityLevel::None:
        break;
    }
    return QString();
}

// The tool-tip key of a status word; empty when the status gets no line.
QString statusToolTipKey(const QL_ToDoFacts& toDo) {
    const std::optional<QString>& status = (*toDo).theStatus();
    if (!status)
        return toDo.isExpired() ? QStringLiteral("OVERDUE_TOOLTIP") : QString();
    if (*status == QLatin1String("CANCELLED"))
        return QStringLiteral("CANCELLED_TOOLTIP");
    if (*status == QLatin1String("IN-PROCESS"))
        return QStringLiteral("IN_PROCESS_TOOLTIP");
    if (*status == QLatin1String("NEEDS-ACTION"))
        return QStringLiteral("NEEDS_ACTION_TOOLTIP");
    if (*status == QLatin1String("COMPLETED"))
        return QStringLiteral("COMPLETED_TOOLTIP");
    return QString();
}

} // namespace

QString QLMenuExtra::trimmedTitle(const QString& summary, bool trim, int length) {
    // Compared as unsigned numbers: a negative length trims nothing.
    if (!trim || static_cast<quint32>(summary.size()) <= static_cast<quint32>(length))
        return summary;
    qsizetype cut = length;
    // Never keep half of a surrogate pair.
    if (cut > 0 && summary.at(cut - 1).isHighSurrogate() && summary.at(cut).isLowSurrogate())
        --cut;
    return summary.left(cut) + ellipsis;
}

platform::NSAction QLMenuExtra::actionFor(const QString& selector) {
    platform::NSAction action;
    action.selector = selector;
    if (selector == QLatin1String("refreshMenu"))
        action.call = [this](NSMenuItem*) { refreshMenu(); };
    else
        action.call = itemAction(selector);
    return action;
}

QString QLMenuExtra::dateText(const QDateTime& date, int style) {
    // Kept only within a rebuild: the locale may change between two.
    if (!m_refreshSettings)
        return platform::stringFromDate(date, static_cast<platform::NSDateFormatterStyle>(style));
    const QPair<qint64, int> key(date.toMSecsSinceEpoch(), style);
    const auto known = m_dateTexts.constFind(key);
    if (known != m_dateTexts.constEnd())
        return *known;
    return *m_dateTexts.insert(
        key, platform::stringFromDate(date, static_cast<platform::NSDateFormatterStyle>(style)));
}

QString QLMenuExtra::toolTipFor(const QL_ToDoFacts& facts) {
    const QL_ToDo& toDo = *facts;
    QString tip;
    tip.reserve(160 + (toDo.theDescription() ? toDo.theDescription()->size() : 0));
    const auto line = [&](const QString& labelKey, const QString& value) {
        tip += localizedText(labelKey);
        tip += QLatin1String(": ");
        tip += value;
        tip += QLatin1Char('\r');
    };
    line(QStringLiteral("CALENDAR_TOOLTIP"), toDo.theCalendarName().value_or(QString()));
    const QString statusKey = statusToolTipKey(facts);
    if (!statusKey.isEmpty())
        line(QStringLiteral("STATUS_TOOLTIP"), localizedText(statusKey));
    const PriorityLevel level = priorityLevel(toDo);
    if (level != PriorityLevel::None)
        line(QStringLiteral("PRIORITY_TOOLTIP"), localizedText(priorityKey(level)));
    if (const std::optional<QDateTime>& due = facts.due())
        line(QStringLiteral("DUE_DATE_TOOLTIP"),
             dateText(*due, platform::NSDateFormatterLongStyle));
    // Without the table's texts the rule cannot be put in words.
    if (const QString rule = repeatRule(toDo);
        !rule.isEmpty() && !localizedText(QStringLiteral("REPEAT_TOOLTIP")).isEmpty())
        line(QStringLiteral("REPEAT_TOOLTIP"),
             ql::describeRule(
                 rule, [this](const QString& key) { return localizedText(key); }, QLocale()));
    if (toDo.theURL())
        line(QStringLiteral("URL_TOOLTIP"), *toDo.theURL());
    if (toDo.theDescription())
        line(QStringLiteral("DESCRIPTION_TOOLTIP"), *toDo.theDescription());
    return tip;
}

void QLMenuExtra::addToDoMenuItem(const std::shared_ptr<QL_ToDo>& toDo) {
    if (toDo)
        addToDoMenuItem(QL_ToDoFacts(toDo), settings());
}

void QLMenuExtra::addToDoMenuItem(const QL_ToDoFacts& facts, const MenuSettings& s) {
    const QL_ToDo& t = *facts;

    QString summary =
        trimmedTitle(t.theSummary().value_or(QString()), s.trimLongTitles, s.trimLongTitlesLength);
    // A series carries a repeat mark.
    if (!repeatRule(t).isEmpty())
        summary += QStringLiteral(" \u21BB");
    QString title = summary;
    // A due date that cannot be read is shown like none.
    if (s.showDueDates && t.theDueDate()) {
        if (const std::optional<QDateTime>& due = facts.due()) {
            const QString date = dateText(*due, platform::NSDateFormatterShortStyle);
            title = s.dueDateOnRight
                        ? summary + QLatin1Char(' ') + triangle + QLatin1Char(' ') + date
                        : date + QLatin1Char(' ') + triangle + QLatin1Char(' ') + summary;
        }
    }

    auto item = std::make_shared<NSMenuItem>(
        title, actionFor(QStringLiteral("toDoMenuItemSelected:")), QString());
    item->setEnabled(true);
    item->setTarget(this);
    QVariantMap attributes = titleAttributes();
    if (s.colorItemsByCalendarColor && t.theCalendarColor())
        attributes.insert(platform::NSForegroundColorAttributeName, *t.theCalendarColor());
    item->setAttributedTitle(platform::NSAttributedString(title, attributes));

    item->setTag(m_theToDoTagCounter);
    m_theToDoRepository.insert_or_assign(QString::number(m_theToDoTagCounter), facts.toDo());
    ++m_theToDoTagCounter;

    if (s.informationalIcons == 1) {
        if (s.highlightOverdueItems && facts.isExpired()) {
            item->setImage(m_imageExpiredToDo);
        } else {
            switch (priorityLevel(t)) {
            case PriorityLevel::VeryImportant:
                item->setImage(m_imagePriorityVeryImportant);
                break;
            case PriorityLevel::Important:
                item->setImage(m_imagePriorityImportant);
                break;
            case PriorityLevel::NotImportant:
                item->setImage(m_imagePriorityNotImportant);
                break;
            case PriorityLevel::None:
                item->setImage(m_imagePriorityNone);
                break;
            }
        }
    } else if (s.informationalIcons == 2) {
        item->setImage(facts.isExpired()      ? m_imageExpiredToDo
                       : t.theCompletedDate() ? m_imageCheckedToDo
                                              : m_imageUnCheckedToDo);
    }

    if (s.showTooltips && m_theBundle)
        item->setToolTip(toolTipFor(facts));
    item->setChoices(choicesForToDo(t));
    m_theMenu->addItem(std::move(item));
}

std::shared_ptr<platform::NSMenu> QLMenuExtra::choicesForToDo(const QL_ToDo& toDo) {
    auto choices = std::make_shared<platform::NSMenu>(QString());
    choices->setAutoenablesItems(false);
    const auto add = [&](const char* key, const char* selector) {
        auto choice =
            std::make_shared<NSMenuItem>(localized(QString::fromLatin1(key)),
                                         actionFor(QString::fromLatin1(selector)), QString());
        choice->setTarget(this);
        choices->addItem(std::move(choice));
    };
    add(toDo.theCompletedDate() ? "REOPEN_TO_DO" : "COMPLETE_TO_DO", "toggleToDoMenuItemSelected:");
    add("EDIT_TO_DO", "editToDoMenuItemSelected:");
    add("REMOVE_TO_DO", "removeToDoMenuItemSelected:");
    return choices;
}

void QLMenuExtra::addLabelWithCalendar(const QL_Calendar& calendar) {
    const QString title = calendar.title().value_or(QString());
    auto item = std::make_shared<NSMenuItem>(title, platform::NSAction{}, QString());
    item->setAttributedTitle(platform::NSAttributedString(title, titleAttributes()));
    item->setEnabled(false);
    item->setTarget(this);
    m_theMenu->addItem(std::move(item));
}

void QLMenuExtra::addLabelWithString(const QString& label) {
    if (label.isEmpty()) {
        m_theMenu->addItem(NSMenuItem::separatorItem());
        return;
    }
    auto item = std::make_shared<NSMenuItem>(label, platform::NSAction{}, QString());
    item->setAttributedTitle(platform::NSAttributedString(label, titleAttributes()));
    item->setEnabled(false);
    item->setTarget(this);
    m_theMenu->addItem(std::move(item));
}

void QLMenuExtra::addHeaderMenuItems() {
    const QVariantMap attributes = titleAttributes();

    const QString newToDo = localized(QStringLiteral("NEW_TO_DO"));
    auto primary = std::make_shared<NSMenuItem>(
        newToDo, actionFor(QStringLiteral("newToDoMenuItemSelected:")), QString());
    primary->setEnabled(true);
    primary->setTarget(this);
    primary->setAttributedTitle(platform::NSAttributedString(newToDo, attributes));
    m_theMenu->insertItem(std::move(primary), 0);

    const QString openCalendar = localized(QStringLiteral("OPEN_ICAL"));
    auto alternate = std::make_shared<NSMenuItem>(
        openCalendar, actionFor(QStringLiteral("openiCal:")), QString());
    alternate->setAlternate(true);
    alternate->setEnabled(true);
    alternate->setTarget(this);
    alternate->setKeyEquivalentModifierMask(platform::NSAlternateKeyMask);
    alternate->setAttributedTitle(platform::NSAttributedString(openCalendar, attributes));
    m_theMenu->insertItem(std::move(alternate), 1);

    const QString quickAdd = localized(QStringLiteral("QUICK_ADD"));
    auto quick = std::make_shared<NSMenuItem>(
        quickAdd, actionFor(QStringLiteral("quickAddMenuItemSelected:")), QString());
    quick->setEnabled(true);
    quick->setTarget(this);
    quick->setAttributedTitle(platform::NSAttributedString(quickAdd, attributes));
    m_theMenu->insertItem(std::move(quick), 2);

    m_theMenu->insertItem(NSMenuItem::separatorItem(), 3);
}

void QLMenuExtra::addFooterMenuItems() {
    const QString title = localized(QStringLiteral("QUILLO_SETTINGS"));
    auto item = std::make_shared<NSMenuItem>(
        title, actionFor(QStringLiteral("settingsMenuItemSelected:")), QString());
    item->setAttributedTitle(platform::NSAttributedString(title, titleAttributes()));
    item->setEnabled(true);
    item->setTarget(this);
    m_theMenu->addItem(std::move(item));
}

void QLMenuExtra::addErrorItem(const QString& key) {
    const QVariantMap attributes = titleAttributes();
    const QString text = localized(key);
    auto item = std::make_shared<NSMenuItem>(text, platform::NSAction{}, QString());
    item->setAttributedTitle(platform::NSAttributedString(text, attributes));
    item->setEnabled(false);
    item->setTarget(this);
    m_theMenu->addItem(std::move(item));

    const QString refresh = localized(QStringLiteral("REFRESH_MENU"));
    auto alternate =
        std::make_shared<NSMenuItem>(refresh, actionFor(QStringLiteral("refreshMenu")), QString());
    alternate->setAttributedTitle(platform::NSAttributedString(refresh, attributes));
    alternate->setEnabled(true);
    alternate->setTarget(this);
    alternate->setKeyEquivalentModifierMask(platform::NSAlternateKeyMask);
    alternate->setAlternate(true);
    m_theMenu->addItem(std::move(alternate));
}

std::shared_ptr<QL_ToDo> QLMenuExtra::toDoForMenuItem(const NSMenuItem* item) const {
    if (!item || item->action().selector != QLatin1String("toDoMenuItemSelected:"))
        return nullptr;
    bool inMenu = false;
    for (const NSMenuItemPtr& current : m_theMenu->itemArray())
        if (current.get() == item) {
            inMenu = true;
            break;
        }
    if (!inMenu)
        return nullptr;
    const auto it = m_theToDoRepository.find(QString::number(item->tag()));
    return it == m_theToDoRepository.end() ? nullptr : it->second;
}

std::shared_ptr<QL_ToDo> QLMenuExtra::toDoForChoice(const NSMenuItem* choice) const {
    if (!choice)
        return nullptr;
    for (const NSMenuItemPtr& item : m_theMenu->itemArray()) {
        if (!item->choices())
            continue;
        for (const NSMenuItemPtr& c : item->choices()->itemArray())
            if (c.get() == choice)
                return toDoForMenuItem(item.get());
    }
    return nullptr;
}
