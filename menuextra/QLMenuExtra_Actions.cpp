// The actions of the menu's items: complete, reopen or remove a to-do, or edit it; a
// new to-do; the settings; the calendar application.
#include "menuextra/QLMenuExtra.h"

#include "menuextra/editor/QL_ToDoController.h"
#include "menuextra/quickadd/QL_QuickAddWindow.h"
#include "menuextra/recurrence/QL_Recurrence.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "platform/Alert.h"
#include "platform/Log.h"
#include "platform/Workspace.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"

namespace {

// The to-do written to its own calendar's data file; a key that would lead outside
// the store writes nothing.
void writeToOwnCalendar(const QL_ToDo& toDo, int action) {
    const std::optional<QString>& key = toDo.theCalendarID();
    if (!key || !ql::isSafeSourceKey(*key)) {
        platform::NSLog(
            QStringLiteral("Quillo :: toDoMenuItemSelected :: No calendar file to write to"));
        return;
    }
    (void)toDo.writeToCalendar(ql::toDoWritePath(toDo.theSourceFile(), *key), action);
}

// Completing one occurrence of a series moves the series on to its next occurrence:
// DUE and DTSTART advance, the status stays open and no COMPLETED is written, so every
// other program still sees the series. False (the to-do is then completed as a single
// one) without a rule, without a next occurrence, or for a rule this program does not
// advance (logged).
bool advanceSeries(QL_ToDo& toDo) {
    if (!toDo.theRawData() || !toDo.theDueDate())
        return false;
    const ql::QL_RecurrenceLines lines = ql::recurrenceLines(*toDo.theRawData());
    if (lines.rrule.isEmpty())
        return false;
    const QL_RecurrenceStep step =
        ql::nextOccurrence(lines.rrule, *toDo.theDueDate(), toDo.theCreationDate(), lines.exdates);
    if (step.kind == QL_RecurrenceStep::Kind::Unsupported)
        platform::NSLog(QStringLiteral("Quillo :: toggleToDo :: repeat rule not advanced, "
                                       "completing the whole series: ") +
                        lines.rrule.left(200));
    if (step.kind != QL_RecurrenceStep::Kind::Next)
        return false;
    toDo.setDueDate(step.due);
    if (step.start)
        toDo.setCreationDate(step.start);
    if (toDo.theStatus() && toDo.theStatus()->compare(u"IN-PROCESS", Qt::CaseInsensitive) == 0)
        toDo.setStatus(QStringLiteral("NEEDS-ACTION"));
    return true;
}

} // namespace

std::function<void(platform::NSMenuItem*)> QLMenuExtra::itemAction(const QString& selector) {
    if (selector == QLatin1String("toDoMenuItemSelected:"))
        return [this](platform::NSMenuItem* sender) { toDoMenuItemSelected(sender); };
    if (selector == QLatin1String("toggleToDoMenuItemSelected:"))
        return [this](platform::NSMenuItem* sender) { toggleToDoMenuItemSelected(sender); };
    if (selector == QLatin1String("editToDoMenuItemSelected:"))
        return [this](platform::NSMenuItem* sender) { editToDoMenuItemSelected(sender); };
    if (selector == QLatin1String("removeToDoMenuItemSelected:"))
        return [this](platform::NSMenuItem* sender) { removeToDoMenuItemSelected(sender); };
    if (selector == QLatin1String("newToDoMenuItemSelected:"))
        return [this](platform::NSMenuItem* sender) { newToDoMenuItemSelected(sender); };
    if (selector == QLatin1String("quickAddMenuItemSelected:"))
        return [this](platform::NSMenuItem* sender) { quickAddMenuItemSelected(sender); };
    if (selector == QLatin1String("settingsMenuItemSelected:"))
        return [this](platform::NSMenuItem* sender) { settingsMenuItemSelected(sender); };
    if (selector == QLatin1String("openiCal:"))
        return [this](platform::NSMenuItem* sender) { openiCal(sender); };
    return {};
}

void QLMenuExtra::toDoMenuItemSelected(platform::NSMenuItem* sender) {
    QL_Preferences& preferences = QL_Preferences::sharedPreferences();
    const int toggle = preferences.toggleStatusModifier();
    const int remove = preferences.removeToDoModifier();
    // An item of a menu that has been rebuilt since has no to-do any more.
    const std::shared_ptr<QL_ToDo> toDo = toDoForMenuItem(sender);
    if (!toDo)
        return;

    // Toggling is tested first, so a gesture named for both toggles.
    if (toggle != 0 && allKeysPressed(toggle)) {
        toggleToDo(*toDo);
        return;
    }
    if (remove != 0 && allKeysPressed(remove)) {
        removeToDo(*toDo);
        return;
    }
    QL_ToDoController::initWithToDo(toDo);
}

void QLMenuExtra::toggleToDoMenuItemSelected(platform::NSMenuItem* sender) {
    if (const std::shared_ptr<QL_ToDo> toDo = toDoForChoice(sender))
        toggleToDo(*toDo);
}

void QLMenuExtra::editToDoMenuItemSelected(platform::NSMenuItem* sender) {
    if (const std::shared_ptr<QL_ToDo> toDo = toDoForChoice(sender))
        QL_ToDoController::initWithToDo(toDo);
}

void QLMenuExtra::removeToDoMenuItemSelected(platform::NSMenuItem* sender) {
    if (const std::shared_ptr<QL_ToDo> toDo = toDoForChoice(sender))
        removeToDo(*toDo);
}

void QLMenuExtra::toggleToDo(const QL_ToDo& toDo) {
    // The record stays as read until the next rebuild reads the file again.
    const std::shared_ptr<QL_ToDo> changed = toDo.copyToDo();
    if (!changed->theCompletedDate() && advanceSeries(*changed)) {
        writeToOwnCalendar(*changed, QLWriteActionReplace);
        return;
    }
    if (!changed->theCompletedDate()) {
        changed->setStatus(QStringLiteral("COMPLETED"));
        changed->setCompletedDate(QL_ToDoController::completionStamp());
    } else {
        changed->setStatus(std::nullopt);
        changed->setCompletedDate(std::nullopt);
    }
    writeToOwnCalendar(*changed, QLWriteActionReplace);
}

void QLMenuExtra::removeToDo(const QL_ToDo& toDo) {
    if (QL_Preferences::sharedPreferences().warnWhenRemovingItems()) {
        platform::Alert alert;
        alert.title = localized(QStringLiteral("REMOVE_TO_DO_TITLE"));
        alert.message = localized(QStringLiteral("REMOVE_TO_DO_TEXT"));
        alert.buttons = {localized(QStringLiteral("REMOVE_BUTTON")),
                         localized(QStringLiteral("CANCEL_BUTTON"))};
        if (platform::runModalAlert(alert) != platform::AlertFirstButton)
            return;
    }
    writeToOwnCalendar(toDo, QLWriteActionRemove);
}

void QLMenuExtra::newToDoMenuItemSelected(platform::NSMenuItem*) {
    QL_ToDoController::initWithNewToDo();
}

void QLMenuExtra::quickAddMenuItemSelected(platform::NSMenuItem*) {
    QL_QuickAddWindow::present();
}

void QLMenuExtra::settingsMenuItemSelected(platform::NSMenuItem*) {
    if (const std::optional<QString> pane = pathToPreferencePane())
        platform::Workspace::sharedWorkspace().openFile(*pane);
}

void QLMenuExtra::openiCal(platform::NSMenuItem*) {
    platform::Workspace::sharedWorkspace().launchApplication(QStringLiteral("iCal"));
}
