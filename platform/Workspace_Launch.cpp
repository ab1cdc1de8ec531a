// Opening files and launching applications the way the desktop does: the default
// application of a type comes from the mimeapps.list files and the installed desktop
// entries (freedesktop.org rules), and is started from its entry's Exec line.
#include "platform/Workspace.h"

#include "platform/HandOver.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <optional>

namespace platform {
namespace {

const QString calendarType = QStringLiteral("text/calendar");
const QString settingsHost = QStringLiteral("preferences-host");

void logLine(const QString& operation, const QString& message) {
    NSLog(QStringLiteral("Quillo :: ") + operation + QStringLiteral(" :: ") + message);
}

QStringList pathList(const char* variable, const QString& fallback) {
    QString value = qEnvironmentVariable(variable);
    if (value.isEmpty())
        value = fallback;
    QStringList dirs;
    for (const QString& dir : value.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir))
            dirs.append(QDir::cleanPath(dir));
    return dirs;
}

QString homeDir() {
    return QDir::homePath();
}

QString configHome() {
    const QStringList dirs = pathList("XDG_CONFIG_HOME", homeDir() + QStringLiteral("/.config"));
    return dirs.value(0, homeDir() + QStringLiteral("/.config"));
}

QString dataHome() {
    const QStringList dirs = pathList("XDG_DATA_HOME", homeDir() + QStringLiteral("/.local/share"));
    return dirs.value(0, homeDir() + QStringLiteral("/.local/share"));
}

// The folders that hold desktop entries, most important first.
QStringList applicationDirs() {
    QStringList dirs{dataHome() + QStringLiteral("/applications")};
    for (const QString& dir :
         pathList("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share")))
        dirs.append(dir + QStringLiteral("/applications"));
    return dirs;
}

// The mimeapps.list files in the order in which they are consulted.
QStringList mimeAppsLists() {
    QStringList desktops;
    for (const QString& d :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        desktops.append(d.toLower());
    QStringList folders{configHome()};
    folders.append(pathList("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg")));
    QStringList files;
    auto addFolder = [&](const QString& folder) {
        for (const QString& desktop : desktops)
            files.append(folder + QLatin1Char('/') + desktop + QStringLiteral("-mimeapps.list"));
        files.append(folder + QStringLiteral("/mimeapps.list"));
    };
    for (const QString& folder : folders)
        addFolder(folder);
    for (const QString& folder : applicationDirs())
        addFolder(folder);
    return files;
}

// One group of a key file: key to raw value (escapes left in place).
using KeyGroup = QList<std::pair<QString, QString>>;

std::optional<KeyGroup> readGroup(const QString& path, QStringView group) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    KeyGroup entries;
    bool inGroup = false;
    bool found = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inGroup = QStringView(line).sliced(1, line.size() - 2) == group;
            found = found || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        entries.append({line.first(eq).trimmed(), line.sliced(eq + 1).trimmed()});
    }
    if (!found)
        return std::nullopt;
    return entries;
}

QString valueOf(const KeyGroup& group, QStringView key) {
    for (const auto& [k, v] : group)
        if (k == key)
            return v;
    return {};
}

// A key file's string value: \s \n \t \r \\ stand for their characters.
QString unescapeValue(QStringView value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            out.append(value[i]);
            continue;
        }
        switch (value[++i].unicode()) {
        case u's':
            out.append(u' ');
            break;
        case u'n':
            out.append(u'\n');
            break;
        case u't':
            out.append(u'\t');
            break;
        case u'r':
            out.append(u'\r');
            break;
        default:
            out.append(value[i]);
            break;
        }
    }
    return out;
}

// The desktop-file IDs listed under a type in a group of mimeapps.list files.
QStringList listedApplications(const QString& path, QStringView group, const QString& type) {
    const std::optional<KeyGroup> entries = readGroup(path, group);
    if (!entries)
        return {};
    return valueOf(*entries, type).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

struct DesktopEntry {
    QString path;
    KeyGroup group;
};

// The installed desktop entry of an ID; a "vendor-app.desktop" may also live in a
// sub-folder "vendor/app.desktop".
std::optional<DesktopEntry> findDesktopEntry(const QString& id) {
    if (id.isEmpty() || id.contains(QLatin1String("..")) || id.startsWith(QLatin1Char('/')))
        return std::nullopt;
    QStringList names{id};
    for (qsizetype dash = id.indexOf(QLatin1Char('-')); dash > 0;
         dash = id.indexOf(QLatin1Char('-'), dash + 1)) {
        QString nested = id;
        for (qsizetype i = 0; i <= dash; ++i)
            if (nested[i] == QLatin1Char('-'))
                nested[i] = QLatin1Char('/');
        names.append(nested);
    }
    for (const QString& dir : applicationDirs()) {
        for (const QString& name : names) {
            const QString path = dir + QLatin1Char('/') + name;
            if (!QFileInfo(path).isFile())
                continue;
            std::optional<KeyGroup> group = readGroup(path, u"Desktop Entry");
            // The first entry of an ID hides the others, even when it is unusable.
            if (!group || valueOf(*group, u"Hidden") == u"true" ||
                valueOf(*group, u"Type") != u"Application" || valueOf(*group, u"Exec").isEmpty())
                return std::nullopt;
            return DesktopEntry{path, std::move(*group)};
        }
    }
    return std::nullopt;
}

// The default application of a MIME type: the defaults of the mimeapps.list files,
// then the associations they add, then any installed entry that says it handles it.
std::optional<DesktopEntry> defaultApplicationFor(const QString& type) {
    const QStringList lists = mimeAppsLists();
    for (const QString& list : lists)
        for (const QString& id : listedApplications(list, u"Default Applications", type))
            if (std::optional<DesktopEntry> entry = findDesktopEntry(id))
                return entry;
    for (const QString& list : lists)
        for (const QString& id : listedApplications(list, u"Added Associations", type))
            if (std::optional<DesktopEntry> entry = findDesktopEntry(id))
                return entry;
    for (const QString& dir : applicationDirs())
        for (const QString& id :
             listedApplications(dir + QStringLiteral("/mimeinfo.cache"), u"MIME Cache", type))
            if (std::optional<DesktopEntry> entry = findDesktopEntry(id))
                return entry;
    return std::nullopt;
}

// Splits an Exec value into arguments: spaces separate, double quotes group, and inside
// them a backslash escapes ", `, $ and itself.
std::optional<QStringList> splitExec(QStringView exec) {
    QStringList args;
    QString current;
    bool inArg = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\' && i + 1 < exec.size()) {
                current.append(exec[++i]);
            } else {
                current.append(c);
            }
        } else if (c == u' ' || c == u'\t') {
            if (inArg)
                args.append(current);
            current.clear();
            inArg = false;
        } else if (c == u'"') {
            quoted = true;
            inArg = true;
        } else {
            current.append(c);
            inArg = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArg)
        args.append(current);
    return args;
}

// The command of a desktop entry with its field codes filled: the file (if any) for
// %f, %F, %u and %U, the entry's name for %c and its path for %k.
std::optional<QStringList> commandOf(const DesktopEntry& entry,
                                     const std::optional<QString>& file) {
    const std::optional<QStringList> raw = splitExec(unescapeValue(valueOf(entry.group, u"Exec")));
    if (!raw || raw->isEmpty())
        return std::nullopt;
    QStringList command;
    for (const QString& arg : *raw) {
        if (arg == u"%f" || arg == u"%F") {
            if (file)
                command.append(*file);
            continue;
        }
        if (arg == u"%u" || arg == u"%U") {
            if (file)
                command.append(QUrl::fromLocalFile(*file).toString(QUrl::FullyEncoded));
            continue;
        }
        if (arg == u"%i") {
            const QString icon = valueOf(entry.group, u"Icon");
            if (!icon.isEmpty())
                command.append({QStringLiteral("--icon"), icon});
            continue;
        }
        QString expanded;
        for (qsizetype i = 0; i < arg.size(); ++i) {
            if (arg[i] != u'%' || i + 1 == arg.size()) {
                expanded.append(arg[i]);
                continue;
            }
            const QChar code = arg[++i];
            if (code == u'%')
                expanded.append(u'%');
            else if (code == u'c')
                expanded.append(unescapeValue(valueOf(entry.group, u"Name")));
            else if (code == u'k')
                expanded.append(entry.path);
            // Other codes (%d, %n, %v, %m and unknown ones) stand for nothing.
        }
        command.append(expanded);
    }
    if (command.isEmpty() || command.first().isEmpty())
        return std::nullopt;
    return command;
}

bool startDetached(const QStringList& command) {
    return QProcess::startDetached(command.first(), command.mid(1));
}

// The settings host beside the running program, else on PATH.
QString findSettingsHost() {
    if (QCoreApplication::instance()) {
        const QString beside =
            QCoreApplication::applicationDirPath() + QLatin1Char('/') + settingsHost;
        const QFileInfo info(beside);
        if (info.isFile() && info.isExecutable())
            return beside;
    }
    return QStandardPaths::findExecutable(settingsHost);
}

// Takes a cleaned path (no trailing slash).
bool isPaneBundle(const QString& path) {
    return path.endsWith(QStringLiteral(".prefPane"));
}

} // namespace

bool Workspace::openFile(const QString& path) {
    if (record(QStringLiteral("openFile"), {path}))
        return true;
    if (path.isEmpty())
        return false;
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (isPaneBundle(absolute)) {
        const QString host = findSettingsHost();
        if (host.isEmpty()) {
            logLine(QStringLiteral("openFile"),
                    QStringLiteral("No %1 to open %2").arg(settingsHost, absolute));
            return false;
        }
        if (!startDetached({host, absolute})) {
            logLine(QStringLiteral("openFile"), QStringLiteral("Could not start %1").arg(host));
            return false;
        }
        return true;
    }
    const QString type = QMimeDatabase().mimeTypeForFile(absolute).name();
    if (const std::optional<DesktopEntry> entry = defaultApplicationFor(type)) {
        if (const std::optional<QStringList> command = commandOf(*entry, absolute))
            if (startDetached(*command))
                return true;
    }
    // No entry of our own finding: the toolkit may know another way (a portal).
    bool opened = false;
    runOnMainThreadAndWait(
        [&] { opened = QDesktopServices::openUrl(QUrl::fromLocalFile(absolute)); });
    if (opened)
        return true;
    logLine(QStringLiteral("openFile"),
            QStringLiteral("No application to open %1 (%2)").arg(absolute, type));
    return false;
}

bool Workspace::launchApplication(const QString& name) {
    if (record(QStringLiteral("launchApplication"), {name}))
        return true;
    // The calendar application is whichever application the desktop opens calendars with.
    if (name == u"iCal") {
        const std::optional<DesktopEntry> entry = defaultApplicationFor(calendarType);
        if (!entry) {
            logLine(QStringLiteral("launchApplication"),
                    QStringLiteral("No application for %1").arg(calendarType));
            return false;
        }
        const std::optional<QStringList> command = commandOf(*entry, std::nullopt);
        if (!command || !startDetached(*command)) {
            logLine(QStringLiteral("launchApplication"),
                    QStringLiteral("Could not start %1").arg(entry->path));
            return false;
        }
        return true;
    }
    const QString program =
        name.contains(QLatin1Char('/')) ? QString() : QStandardPaths::findExecutable(name);
    if (program.isEmpty() || !startDetached({program})) {
        logLine(QStringLiteral("launchApplication"), QStringLiteral("No application %1").arg(name));
        return false;
    }
    return true;
}

} // namespace platform
