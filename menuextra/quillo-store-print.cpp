// Prints the calendars and to-dos of the user's calendar store.
#include "menuextra/QLMenuExtra.h"
#include "menuextra/store/QL_CalendarStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    if (!QFileInfo::exists(ql::nodesPath())) {
        out << "No calendar store at " << ql::nodesPath() << ": nothing to show.\n";
        return 0;
    }
    QLMenuExtra menuExtra;
    if (!menuExtra.loadiCalCalendars()) {
        out << "The calendar store at " << ql::nodesPath() << " could not be read.\n";
        return 1;
    }
    const auto absent = [](const std::optional<QString>& text) {
        return text.value_or(QStringLiteral("-"));
    };
    out << menuExtra.theCalendars()->size() << " calendars, " << menuExtra.validCalendars()
        << " that can take new to-dos.\n";
    for (const auto& [title, calendar] : *menuExtra.theCalendars()) {
        const bool read = calendar->parseForToDos();
        out << "\n" << title << (read ? "" : "  (data file unreadable)") << "\n";
        for (const auto& toDo : calendar->arrayOfToDos()) {
            QString summary = absent(toDo->theSummary());
            summary.replace(QLatin1Char('\r'), QLatin1String(" / "));
            out << "  - " << summary << "\n      due " << absent(toDo->theDueDate())
                << ", priority "
                << (toDo->thePriority() ? QString::number(*toDo->thePriority()) : "-")
                << ", status " << absent(toDo->theStatus())
                << (toDo->isComplete() ? ", completed " + *toDo->theCompletedDate() : QString())
                << "\n";
        }
    }
    return 0;
}
