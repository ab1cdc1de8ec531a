// quillo-store: puts calendar files the user already has into Quillo's calendar store.
//   quillo-store add [--title TITLE] [--color #RRGGBB] [--extension .EXT] [--] FILE.ics|FOLDER
//   quillo-store list
//   quillo-store remove [--] KEY-OR-TITLE
//   quillo-store discover [--adopt]
#include "tools/quillo-store/StoreTool.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <optional>
#include <vector>

namespace {

const char usage[] =
    "Usage:\n"
    "  quillo-store add [--title TITLE] [--color #RRGGBB] [--] FILE.ics\n"
    "      Show the to-dos of FILE in Quillo; Quillo writes every change into FILE.\n"
    "      A FILE that does not exist yet is created as an empty calendar.\n"
    "  quillo-store add [--title TITLE] [--color #RRGGBB] [--extension .ics] [--] FOLDER\n"
    "      Show the to-dos of a folder of one-to-do files (as todoman, khal and vdirsyncer\n"
    "      keep calendars); a new to-do becomes a new file there.\n"
    "  quillo-store list\n"
    "      The calendars of the store: title, key, file, to-dos, shown.\n"
    "  quillo-store remove [--] KEY-OR-TITLE\n"
    "      Take a calendar out of the store (its file is left as it is).\n"
    "  quillo-store discover [--adopt]\n"
    "      Look for the tasks files of common calendar programs and print the command that\n"
    "      adds each one; with --adopt, add them.\n"
    "  -- ends the options: a FILE or a title that begins with - comes after it.\n";

int wrongUse(QTextStream& err, const QString& message) {
    if (!message.isEmpty())
        err << "quillo-store: " << storetool::printable(message) << "\n";
    err << usage;
    return 2;
}

// An argument as the system gave it. File names are bytes: one that does not decode
// and encode back to the same bytes would name another file.
struct Argument {
    QString text;
    QByteArray bytes;
    bool roundTrips = true;
};

QString escapedBytes(const QByteArray& bytes) {
    QString shown;
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        if (b < 0x20 || b >= 0x7F)
            shown += QStringLiteral("\\x") +
                     QString::number(b, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            shown += QLatin1Char(char(b));
    }
    return shown;
}

int refuseName(QTextStream& err, const Argument& name) {
    err << "quillo-store: the name \"" << escapedBytes(name.bytes)
        << "\" is not valid text in the system's encoding (UTF-8); rename it first; nothing "
           "was changed.\n";
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    std::vector<Argument> given;
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        Argument arg;
        arg.bytes = QByteArray(argv[i]);
        arg.text = QFile::decodeName(arg.bytes);
        arg.roundTrips = QFile::encodeName(arg.text) == arg.bytes;
        args << arg.text;
        given.push_back(arg);
    }
    // The printed commands use the name this was called by.
    const QString program = QString::fromLocal8Bit(argv[0]).contains(QLatin1Char('/'))
                                ? QString::fromLocal8Bit(argv[0])
                                : QStringLiteral("quillo-store");
    const QString command = args.value(0);

    if (command == QLatin1String("add")) {
        storetool::AddOptions options;
        std::optional<qsizetype> file;
        bool optionsEnded = false;
        for (qsizetype i = 1; i < args.size(); ++i) {
            const QString& arg = args.at(i);
            if (!optionsEnded && arg == QLatin1String("--")) {
                optionsEnded = true;
            } else if (!optionsEnded &&
                       (arg == QLatin1String("--title") || arg == QLatin1String("--color") ||
                        arg == QLatin1String("--extension"))) {
                if (i + 1 >= args.size())
                    return wrongUse(err, arg + QStringLiteral(" needs a value"));
                (arg == QLatin1String("--title")   ? options.title
                 : arg == QLatin1String("--color") ? options.color
                                                   : options.extension) = args.at(++i);
            } else if (!optionsEnded && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
                return wrongUse(err, QStringLiteral("unknown option \"%1\" (put -- before a file "
                                                    "name that begins with -)")
                                         .arg(arg));
            } else if (!file) {
                file = i;
            } else {
                return wrongUse(err, QStringLiteral("unexpected argument \"%1\"").arg(arg));
            }
        }
        if (!file || args.at(*file).isEmpty())
            return wrongUse(err, QStringLiteral("add needs a FILE.ics or a FOLDER"));
        if (!given[size_t(*file)].roundTrips)
            return refuseName(err, given[size_t(*file)]);
        options.file = args.at(*file);
        return storetool::add(options, out, err);
    }
    if (command == QLatin1String("list") && args.size() == 1)
        return storetool::list(out, err);
    if (command == QLatin1String("remove") &&
        (args.size() == 2 || (args.size() == 3 && args.at(1) == QLatin1String("--")))) {
        const Argument& name = given.back();
        if (args.size() == 2 && name.text.startsWith(QLatin1Char('-')))
            return wrongUse(err, QStringLiteral("unknown option \"%1\" (put -- before a title "
                                                "that begins with -)")
                                     .arg(name.text));
        if (!name.roundTrips)
            return refuseName(err, name);
        return storetool::remove(name.text, out, err);
    }
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
