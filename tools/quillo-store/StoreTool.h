#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

// The operations of quillo-store on the user's calendar store
// (<application support>/iCal). Each writes what it did to out and why it refused to
// err, and gives the process's exit status: 0 done, 1 refused or failed (nothing
// changed), 2 wrong use.
namespace storetool {

struct AddOptions {
    QString file;
    std::optional<QString> title;
    std::optional<QString> color;     // "#RRGGBB"
    std::optional<QString> extension; // of a folder's item files, ".ics" unless given
};

// Adopts a calendar file: a new calendar of the store whose data file is a symbolic
// link to it. Creates the store when there is none and the file when it does not exist.
// A folder is adopted as a folder calendar: its one-object .ics files are its to-dos.
int add(const AddOptions& options, QTextStream& out, QTextStream& err);

// Every calendar of the store: title, key, file, number of to-dos, shown or hidden.
int list(QTextStream& out, QTextStream& err);

// Removes the calendar with this key (source key or "Key") or title, and its folder in
// the store; never the file a link points to.
int remove(const QString& keyOrTitle, QTextStream& out, QTextStream& err);

// Looks for the tasks files of common calendar programs under the user's home and
// prints, for each one not yet in the store, the command that adopts it; with adopt,
// adopts them. program is how the user calls this tool, for the printed commands.
int discover(bool adopt, const QString& program, QTextStream& out, QTextStream& err);

// The text with every control character written as an escape (\x1B, \u0085), so that
// nothing printed from a file acts on the terminal.
QString printable(const QString& text);

// The text quoted for a POSIX shell, when it needs quoting.
QString shellQuoted(const QString& text);

} // namespace storetool
