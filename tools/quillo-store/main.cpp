// quillo-store: puts calendar files the user already has into Quillo's calendar store.
//   quillo-store add FILE.ics [--title TITLE] [--color #RRGGBB]
//   quillo-store list
//   quillo-store remove KEY-OR-TITLE
//   quillo-store discover [--adopt]
#include "tools/quillo-store/StoreTool.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

const char usage[] =
    "Usage:\n"
    "  quillo-store add FILE.ics [--title TITLE] [--color #RRGGBB]\n"
    "      Show the to-dos of FILE in Quillo; Quillo writes every change into FILE.\n"
    "      A FILE that does not exist yet is created as an empty calendar.\n"
    "  quillo-store list\n"
    "      The calendars of the store: title, key, file, to-dos, shown.\n"
    "  quillo-store remove KEY-OR-TITLE\n"
    "      Take a calendar out of the store (its file is left as it is).\n"
    "  quillo-store discover [--adopt]\n"
    "      Look for the tasks files of common calendar programs and print the command that\n"
    "      adds each one; with --adopt, add them.\n";

int wrongUse(QTextStream& err, const QString& message) {
    if (!message.isEmpty())
        err << "quillo-store: " << message << "\n";
    err << usage;
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    // The printed commands use the name this was called by.
    const QString program = QString::fromLocal8Bit(argv[0]).contains(QLatin1Char('/'))
                                ? QString::fromLocal8Bit(argv[0])
                                : QStringLiteral("quillo-store");
    const QString command = args.value(0);

    if (command == QLatin1String("add")) {
        storetool::AddOptions options;
        bool haveFile = false;
        for (qsizetype i = 1; i < args.size(); ++i) {
            const QString& arg = args.at(i);
            if (arg == QLatin1String("--title") || arg == QLatin1String("--color")) {
                if (i + 1 >= args.size())
                    return wrongUse(err, arg + QStringLiteral(" needs a value"));
                (arg == QLatin1String("--title") ? options.title : options.color) = args.at(++i);
            } else if (!haveFile && !arg.startsWith(QLatin1String("--"))) {
                options.file = arg;
                haveFile = true;
            } else {
                return wrongUse(err, QStringLiteral("unexpected argument \"%1\"").arg(arg));
            }
        }
        if (!haveFile || options.file.isEmpty())
            return wrongUse(err, QStringLiteral("add needs a FILE.ics"));
        return storetool::add(options, out, err);
    }
    if (command == QLatin1String("list") && args.size() == 1)
        return storetool::list(out, err);
    if (command == QLatin1String("remove") && args.size() == 2)
        return storetool::remove(args.at(1), out, err);
    if (command == QLatin1String("discover") &&
        (args.size() == 1 || (args.size() == 2 && args.at(1) == QLatin1String("--adopt"))))
        return storetool::discover(args.size() == 2, program, out, err);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        out << usage;
        return 0;
    }
    return wrongUse(err, command.isEmpty()
                             ? QString()
                             : QStringLiteral("unknown use \"%1\"").arg(args.join(' ')));
}
